#include "dialogs/idl.h"

#include "writers/events.h"
#include "app/mainform.h"
#include "components/ColMemo/colmemo.h"
#include "platform/oleauto/comptr.h"
#include "ui_idl.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBlock>
#include <QTreeWidget>

#include <algorithm>

TIdlForm* IdlForm = nullptr;

namespace {

// Words of the IDL the writer writes, coloured as keywords.
const char* const kKeywords[] = {
    "library", "importlib", "interface", "dispinterface", "coclass", "module", "typedef", "struct", "union",
    "enum", "const", "properties", "methods", "void", "char", "short", "long", "int", "hyper", "unsigned",
    "float", "double", "SAFEARRAY"};

}  // namespace

TIdlForm::TIdlForm(TMainForm* mainForm)
    : QWidget(mainForm, Qt::Tool), ui(std::make_unique<Ui::TIdlForm>()), FMainForm(mainForm) {
    ui->setupUi(this);
    btnCopy = ui->btnCopy;
    btnSave = ui->btnSave;
    btnClose = ui->btnClose;
    memIdl = new TColorMemo(ui->pnlMemo);
    memIdl->setObjectName(QStringLiteral("memIdl"));
    memIdl->setReadOnly(true);
    memIdl->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont fixed(QStringLiteral("DejaVu Sans Mono"));
    fixed.setStyleHint(QFont::Monospace);
    fixed.setPointSize(9);
    memIdl->setFont(fixed);
    ui->layMemo->addWidget(memIdl);

    // Keywords; attributes in brackets; strings; comments over everything else.
    TDrawRules& rules = memIdl->ColorRules();
    TColorRule* words = rules.Add();
    words->KeyDrawingType = dtKeyShow;
    words->KeyCase = true;
    words->ZOrder = 1;
    QStringList list;
    for (const char* k : kKeywords) list << QString::fromLatin1(k) + QStringLiteral(";navy");
    words->SetKeywords(list);
    TColorRule* spans = rules.Add();
    spans->KeyDrawingType = dtBeginEnd;
    spans->ZOrder = 2;
    spans->SetKeyBegEndLst({QStringLiteral("[;];teal"), QStringLiteral("\";\";maroon"), QStringLiteral("/*;*/;green")});
    TColorRule* comments = rules.Add();
    comments->KeyDrawingType = dtBeginLineEnd;
    comments->ZOrder = 3;
    comments->SetKeyLineEndLst({QStringLiteral("//;green")});

    THotSpot hotSpot;
    hotSpot.Active = true;
    memIdl->SetHotSpot(hotSpot);
    memIdl->OnHotSpotClick = [this](TColorMemo*, const QString& phrase) { HotSpotClick(phrase); };

    connect(btnCopy, &QPushButton::clicked, this, &TIdlForm::btnCopyClick);
    connect(btnSave, &QPushButton::clicked, this, &TIdlForm::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &QWidget::hide);
    IdlForm = this;
}

TIdlForm::~TIdlForm() {
    if (FTypeInfo) FTypeInfo->Release();
    if (IdlForm == this) IdlForm = nullptr;
}

void TIdlForm::ClassChanged(ITypeInfo* typeInfo) {
    FFollowing = true;
    if (typeInfo) typeInfo->AddRef();
    if (FTypeInfo) FTypeInfo->Release();
    FTypeInfo = typeInfo;
    FMember.clear();
    FInvokeKind = 0;
    FStale = true;
    if (isVisible()) Refresh();
}

void TIdlForm::MemberChanged(const QString& caption, int invokeKind) {
    FMember = caption;
    FInvokeKind = invokeKind;
    if (isVisible() && !FStale) Highlight();
}

void TIdlForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!FFollowing && FMainForm) {
        // The selection made before the window existed.
        FFollowing = true;
        if (TClassRow* row = FMainForm->SelectedClassRow()) ClassChanged(row->TypeInfo.Get());
        QTreeWidgetItem* item = FMainForm->lvMembers->currentItem();
        if (item && item->isSelected()) {
            auto* member = static_cast<TMemberRow*>(item);
            MemberChanged(member->Caption(), member->Flags & mfGet ? INVOKE_PROPERTYGET
                                             : member->Flags & mfPutRef ? INVOKE_PROPERTYPUTREF
                                             : member->Flags & mfPut ? INVOKE_PROPERTYPUT : 0);
        }
    }
    if (FStale) Refresh();
}

void TIdlForm::Refresh() {
    FStale = false;
    FText.clear();
    FSpans.clear();
    FHighlight = -1;
    QString title = QStringLiteral("IDL");
    std::string marked;
    if (FTypeInfo) {
        ComPtr<ITypeLib> lib;
        UINT index = 0;
        if (SUCCEEDED(FTypeInfo->GetContainingTypeLib(lib.Put(), &index)) && lib) {
            TIdlWriter writer(lib.Get());
            writer.WriteTypes({int(index)});
            FText = writer.Text();
            FSpans = writer.TypeSpans();
            BStr name;
            FTypeInfo->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
            title = QStringLiteral("IDL - ") + QString::fromStdString(name.Utf8());
            // The library's own type names become hot spots.
            std::vector<TIdlTypeRef> refs = writer.TypeRefs();
            std::sort(refs.begin(), refs.end(), [](const TIdlTypeRef& a, const TIdlTypeRef& b) {
                return a.Line != b.Line ? a.Line < b.Line : a.Column < b.Column;
            });
            marked.reserve(FText.size() + refs.size() * 2);
            std::size_t r = 0;
            int line = 0;
            std::size_t lineStart = 0;
            for (std::size_t i = 0; i <= FText.size(); ++i) {
                while (r < refs.size() && refs[r].Line < line) ++r;
                std::size_t col = i - lineStart;
                if (r < refs.size() && refs[r].Line == line && std::size_t(refs[r].Column) == col) marked += '\x1E';
                if (r < refs.size() && refs[r].Line == line && std::size_t(refs[r].Column + refs[r].Length) == col) {
                    marked += '\x1F';
                    ++r;
                    if (r < refs.size() && refs[r].Line == line && std::size_t(refs[r].Column) == col) marked += '\x1E';
                }
                if (i == FText.size()) break;
                marked += FText[i];
                if (FText[i] == '\n') {
                    ++line;
                    lineStart = i + 1;
                }
            }
        }
    }
    setWindowTitle(title);
    memIdl->setPlainText(QString::fromStdString(marked));
    Highlight();
}

void TIdlForm::Highlight() {
    FHighlight = -1;
    QList<QTextEdit::ExtraSelection> marks;
    if (!FMember.isEmpty() && !FSpans.empty()) {
        const TIdlMemberSpan* found = nullptr;
        for (const TIdlMemberSpan& m : FSpans.front().Members) {
            if (QString::fromStdString(m.Name).compare(FMember, Qt::CaseInsensitive) != 0) continue;
            if (!found || (FInvokeKind && m.InvokeKind == FInvokeKind && found->InvokeKind != FInvokeKind)) found = &m;
        }
        if (found) {
            FHighlight = found->FirstLine;
            QTextBlock first = memIdl->document()->findBlockByNumber(found->FirstLine);
            QTextBlock last = memIdl->document()->findBlockByNumber(found->LastLine);
            QTextCursor c(first);
            c.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
            QTextEdit::ExtraSelection mark;
            mark.cursor = c;
            mark.format.setBackground(QColor(255, 255, 160));
            mark.format.setProperty(QTextFormat::FullWidthSelection, true);
            marks << mark;
            QTextCursor at(first);
            memIdl->setTextCursor(at);
            memIdl->centerCursor();
        }
    }
    memIdl->setExtraSelections(marks);
}

void TIdlForm::HotSpotClick(const QString& phrase) {
    if (FMainForm) FMainForm->txtDocHotSpotClick(phrase);
}

void TIdlForm::btnCopyClick() {
    QApplication::clipboard()->setText(QString::fromStdString(FText));
}

bool TIdlForm::SaveTo(const QString& FileName) {
    try {
        WriteClassFile(FileName, QByteArray(FText.data(), qsizetype(FText.size())));
    } catch (const EClassFileError& e) {
        QMessageBox::critical(this, QStringLiteral("IDL"), QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TIdlForm::btnSaveClick() {
    QFileDialog dialog(this, QStringLiteral("Save IDL"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("IDL files (*.idl)"), QStringLiteral("All files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("idl"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    SaveTo(dialog.selectedFiles().first());
}
