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
    if (line.startsWith(u"breaking\t")) return clRed;
    if (line.startsWith(u"compatible\t")) return clGreen;
    if (line.startsWith(u"info\t")) return clGray;
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
    std::unordered_set<std::string> removedOrAdded;
    for (const TDiffChange& c : FResult.Changes)
        if (c.Rule == "type-added") removedOrAdded.insert(c.Type);
    FText.clear();
    std::string marked;
    int shown = 0, breaking = 0, problems = int(FResult.Problems.size());
    for (const TDiffChange& c : FResult.Changes) {
        if (!DiffShown(c, all)) continue;
        ++shown;
        if (c.Level == TDiffLevel::Breaking) ++breaking;
        const std::string line = DiffLine(FResult, c);
        FText += line + "\n";
        const std::string type = OneLineText(c.Type);
        const std::size_t at = line.find('\t', line.find('\t') + 1) + 1;
        if (!c.Type.empty() && !removedOrAdded.count(c.Type) && line.compare(at, type.size(), type) == 0)
            marked += line.substr(0, at) + kHotBegin + type + kHotEnd + line.substr(at + type.size()) + "\n";
        else
            marked += line + "\n";
    }
    for (const TDiffProblem& p : FResult.Problems) {
        const std::string line = "cannot compare " + OneLineText(DiffProblemText(p));
        FText += line + "\n";
        marked += line + "\n";
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
    if (!marked.empty() && marked.back() == '\n') marked.pop_back();
    memChanges->setPlainText(QString::fromStdString(marked));
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
