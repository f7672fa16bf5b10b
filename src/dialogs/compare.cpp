#include "dialogs/compare.h"

#include "app/application.h"
#include "app/mainform.h"
#include "components/ColMemo/colmemo.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"
#include "text/escape.h"
#include "writers/events.h"
#include "ui_compare.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <unordered_set>

TCompareForm* CompareForm = nullptr;

namespace {

constexpr char kHotBegin = '\x1E';
constexpr char kHotEnd = '\x1F';

// The colour of a line by the level it starts with.
TColor LevelColor(QStringView line) {
    if (line.startsWith(u"breaking ")) return clRed;
    if (line.startsWith(u"compatible ")) return clGreen;
    if (line.startsWith(u"info ")) return clGray;
    return clWindowText;
}

}  // namespace

TCompareForm::TCompareForm(TMainForm* mainForm)
    : QWidget(mainForm, Qt::Tool), ui(std::make_unique<Ui::TCompareForm>()), FMainForm(mainForm) {
    ui->setupUi(this);
    lblSummary = ui->lblSummary;
    chkInfo = ui->chkInfo;
    btnCopy = ui->btnCopy;
    btnSave = ui->btnSave;
    btnClose = ui->btnClose;
    memChanges = new TColorMemo(ui->pnlMemo);
    memChanges->setObjectName(QStringLiteral("memChanges"));
    memChanges->setReadOnly(true);
    memChanges->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont fixed(QStringLiteral("DejaVu Sans Mono"));
    fixed.setStyleHint(QFont::Monospace);
    fixed.setPointSize(9);
    memChanges->setFont(fixed);
    memChanges->setTabStopDistance(QFontMetricsF(fixed).horizontalAdvance(QLatin1Char(' ')) * 12);
    ui->layMemo->addWidget(memChanges);

    // Whole lines coloured by their level.
    memChanges->SetColorLimMax(512);
    TColorRule* levels = memChanges->ColorRules().Add();
    levels->KeyDrawingType = dtEventDraw;
    levels->ZOrder = 1;
    memChanges->OnDraw = [](TColorRule*, QStringView text, std::span<TKeyDescr> segments, int& count) {
        count = 0;
        qsizetype start = 0;
        while (start < text.size() && std::size_t(count) < segments.size()) {
            qsizetype end = text.indexOf(u'\r', start);
            if (end < 0) end = text.size();
            const TColor color = LevelColor(text.mid(start, end - start));
            if (color != clWindowText && end > start) {
                TKeyDescr& s = segments[std::size_t(count++)];
                s.BegPos = std::int32_t(start);
                s.EndPos = std::int32_t(end - 1);
                s.Color = color;
            }
            start = end + 2;  // past CR LF
        }
    };

    THotSpot hotSpot;
    hotSpot.Active = true;
    memChanges->SetHotSpot(hotSpot);
    memChanges->OnHotSpotClick = [this](TColorMemo*, const QString& phrase) { HotSpotClick(phrase); };

    connect(chkInfo, &QCheckBox::toggled, this, [this] { RunGuarded([this] { chkInfoClick(); }); });
    connect(btnCopy, &QPushButton::clicked, this, &TCompareForm::btnCopyClick);
    connect(btnSave, &QPushButton::clicked, this, &TCompareForm::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &QWidget::hide);
    CompareForm = this;
}

TCompareForm::~TCompareForm() {
    if (CompareForm == this) CompareForm = nullptr;
}

void TCompareForm::Compare(ITypeLib* Old, const QString& NewPath) {
    ComPtr<ITypeLib> now;
    const HRESULT hr = LoadTypeLib(HostPathToUtf16(NewPath.toStdString()).c_str(), now.Put());
    if (FAILED(hr) || !now)
        throw EBrowserError(QStringLiteral("Cannot compare with %1: %2").arg(NewPath, LoadErrorText(FAILED(hr) ? hr : E_POINTER)));
    {
        THourglass hourglass;
        FResult = DiffTypeLibs(Old, now.Get());
    }
    FNewPath = NewPath;
    Refresh();
}

void TCompareForm::Refresh() {
    const bool all = chkInfo->isChecked();
    // Types of the open library become hot spots; the others cannot be selected there.
    std::unordered_set<std::string> addedTypes;
    for (const TDiffChange& c : FResult.Changes)
        if (c.Rule == "type-added") addedTypes.insert(c.Type);
    FText.clear();
    // Shown in columns padded with spaces (the memo paints tabs unevenly); Copy and Save give
    // the lines with their tabs, as the command prints them.
    struct Row {
        QString level, rule, where, detail;
        bool hot;
        qsizetype typeLength;
    };
    std::vector<Row> rows;
    qsizetype whereWidth = 0;
    int shown = 0, breaking = 0;
    const int problems = int(FResult.Problems.size());
    for (const TDiffChange& c : FResult.Changes) {
        if (!DiffShown(c, all)) continue;
        ++shown;
        if (c.Level == TDiffLevel::Breaking) ++breaking;
        FText += DiffLine(FResult, c) + "\n";
        Row row{QString::fromLatin1(DiffLevelName(c.Level)), QString::fromStdString(c.Rule),
                QString::fromStdString(OneLineText(DiffWhere(FResult, c))), QString::fromStdString(OneLineText(DiffDetail(c))),
                !c.Type.empty() && !addedTypes.count(c.Type), QString::fromStdString(OneLineText(c.Type)).size()};
        whereWidth = std::max(whereWidth, std::min<qsizetype>(row.where.size(), 48));
        rows.push_back(std::move(row));
    }
    QString marked;
    for (const Row& row : rows) {
        QString where = row.where;
        qsizetype width = whereWidth;
        if (row.hot) {
            // The type name is the hot spot; the markers take a column each.
            where = QChar(kHotBegin) + where.left(row.typeLength) + QChar(kHotEnd) + where.mid(row.typeLength);
            width += 2;
        }
        marked += row.level.leftJustified(12) + row.rule.leftJustified(27) + where.leftJustified(width + 2) + row.detail +
                  QLatin1Char('\n');
    }
    for (const TDiffProblem& p : FResult.Problems) {
        const std::string line = "cannot compare " + OneLineText(DiffProblemText(p));
        FText += line + "\n";
        marked += QString::fromStdString(line) + QLatin1Char('\n');
    }
    setWindowTitle(QStringLiteral("Compare - %1 with %2")
                       .arg(QString::fromStdString(OneLineText(FResult.Old.Name)), QString::fromStdString(OneLineText(FResult.New.Name))));
    // One pass of arg(): a library's name cannot take the place of a number.
    const QString oldName = QString::fromStdString(OneLineText(FResult.Old.Name));
    QString summary = shown == 0 && problems == 0
                          ? QStringLiteral("No changes from %1 to %2.").arg(oldName, FNewPath)
                          : QStringLiteral("Changes from %1 to %2: %3 shown, %4 breaking.")
                                .arg(oldName, FNewPath, QString::number(shown), QString::number(breaking));
    if (problems) summary += QStringLiteral(" %1 item(s) could not be compared.").arg(problems);
    lblSummary->setText(summary);
    if (marked.endsWith(QLatin1Char('\n'))) marked.chop(1);
    memChanges->setPlainText(marked);
}

void TCompareForm::chkInfoClick() { Refresh(); }

void TCompareForm::HotSpotClick(const QString& phrase) {
    // By name only: a name with a dot in it must not open another library.
    if (!FMainForm) return;
    FMainForm->RecordHistory();
    FMainForm->SelectByNames(phrase, QString());
}

void TCompareForm::btnCopyClick() {
    QString text = QString::fromStdString(FText);
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    QApplication::clipboard()->setText(text);
}

bool TCompareForm::SaveTo(const QString& FileName) {
    try {
        WriteClassFile(FileName, QByteArray(FText.data(), qsizetype(FText.size())));
    } catch (const EClassFileError& e) {
        QMessageBox::critical(this, QStringLiteral("Compare"), QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TCompareForm::btnSaveClick() {
    QFileDialog dialog(this, QStringLiteral("Save Changes"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    SaveTo(dialog.selectedFiles().first());
}
