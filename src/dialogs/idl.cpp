#include "dialogs/idl.h"

#include "writers/events.h"
#include "app/application.h"
#include "app/mainform.h"
#include "app/placement.h"
#include "components/ColMemo/colmemo.h"
#include "platform/oleauto/comptr.h"
#include "ui_idl.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBlock>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSet>
#include <QTextDocument>
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
    : QWidget(mainForm, Qt::Window), ui(std::make_unique<Ui::TIdlForm>()), FMainForm(mainForm) {
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

    // Links are drawn over the text and found by position, so the view holds no markers.
    memIdl->viewport()->installEventFilter(this);
    memIdl->viewport()->setMouseTracking(true);

    connect(btnCopy, &QPushButton::clicked, this, &TIdlForm::btnCopyClick);
    connect(btnSave, &QPushButton::clicked, this, &TIdlForm::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &QWidget::hide);
    // Beside the main window, where it was last left; it does not stay above the main window.
    new TWindowPlacer(this, mainForm, QStringLiteral("IDL"));
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
    FLinks.clear();
    FHighlight = -1;
    QString title = QStringLiteral("IDL");
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
            // The library's own type names become links, where the main window lists that
            // class (a pure vtable interface is not listed: its name stays plain text).
            std::vector<TIdlTypeRef> refs = writer.TypeRefs();
            std::sort(refs.begin(), refs.end(), [](const TIdlTypeRef& a, const TIdlTypeRef& b) {
                return a.Line != b.Line ? a.Line < b.Line : a.Column < b.Column;
            });
            QSet<QString> listed;
            if (FMainForm && !refs.empty())
                for (int i = 0, n = FMainForm->lvClasses->topLevelItemCount(); i < n; ++i)
                    listed.insert(FMainForm->lvClasses->topLevelItem(i)->text(0));
            std::vector<std::size_t> lineStarts{0};
            for (std::size_t i = 0; i < FText.size(); ++i)
                if (FText[i] == '\n') lineStarts.push_back(i + 1);
            for (const TIdlTypeRef& r : refs) {
                if (r.Line < 0 || std::size_t(r.Line) >= lineStarts.size() || r.Column < 0 || r.Length <= 0) continue;
                const std::size_t start = lineStarts[std::size_t(r.Line)];
                if (start + std::size_t(r.Column) + std::size_t(r.Length) > FText.size()) continue;
                const QString target = QString::fromUtf8(FText.data() + start + r.Column, r.Length);
                if (!listed.contains(target)) continue;
                // Columns count characters of the line as the view holds it.
                const int column = int(QString::fromUtf8(FText.data() + start, r.Column).size());
                FLinks.push_back({r.Line, column, int(target.size()), target});
            }
        }
    }
    setWindowTitle(title);
    memIdl->setPlainText(QString::fromStdString(FText));
    Highlight();
}

void TIdlForm::Highlight() {
    FHighlight = -1;
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
            FHighlightMark = mark;
            QTextCursor at(first);
            memIdl->setTextCursor(at);
            memIdl->centerCursor();
        }
    }
    ShowMarks();
}

void TIdlForm::ShowMarks() {
    QList<QTextEdit::ExtraSelection> marks;
    if (FHighlight >= 0) marks << FHighlightMark;
    QTextDocument* doc = memIdl->document();
    for (const TLink& link : FLinks) {
        const QTextBlock block = doc->findBlockByNumber(link.Line);
        if (!block.isValid()) continue;
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(doc);
        mark.cursor.setPosition(block.position() + link.Column);
        mark.cursor.setPosition(block.position() + link.Column + link.Length, QTextCursor::KeepAnchor);
        mark.format.setForeground(ColorToQColor(THotSpot().Color, memIdl->palette()));
        mark.format.setFontUnderline(true);
        marks << mark;
    }
    memIdl->setExtraSelections(marks);
}

const TIdlForm::TLink* TIdlForm::LinkAt(const QPoint& viewportPos) const {
    const QTextCursor at = memIdl->cursorForPosition(viewportPos);
    const QTextBlock block = at.block();
    const int line = block.blockNumber();
    const int column = at.position() - block.position();
    for (const TLink& link : FLinks) {
        if (link.Line != line || column < link.Column || column > link.Column + link.Length) continue;
        // The point must be on the name itself, not beside it or past the line's end.
        QTextCursor from(block), to(block);
        from.setPosition(block.position() + link.Column);
        to.setPosition(block.position() + link.Column + link.Length);
        const QRect a = memIdl->cursorRect(from), b = memIdl->cursorRect(to);
        if (viewportPos.x() >= a.left() && viewportPos.x() < b.left() && viewportPos.y() >= a.top() &&
            viewportPos.y() <= a.bottom())
            return &link;
    }
    return nullptr;
}

void TIdlForm::FollowLink(const TLink& link) { HotSpotClick(link.Target); }

bool TIdlForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == memIdl->viewport()) {
        switch (event->type()) {
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            memIdl->viewport()->setCursor(LinkAt(mouse->position().toPoint()) ? Qt::PointingHandCursor : Qt::IBeamCursor);
            break;
        }
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            FPressedAt = mouse->button() == Qt::LeftButton ? mouse->position().toPoint() : QPoint(-1, -1);
            break;
        }
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            // A click, not the end of a selection drag.
            if (mouse->button() == Qt::LeftButton && !memIdl->textCursor().hasSelection() &&
                (mouse->position().toPoint() - FPressedAt).manhattanLength() <= QApplication::startDragDistance()) {
                if (const TLink* link = LinkAt(mouse->position().toPoint())) {
                    const TLink copy = *link;  // following refreshes the links
                    RunGuarded([&] { FollowLink(copy); });
                }
            }
            break;
        }
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
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

void TIdlForm::keyPressEvent(QKeyEvent* event) {
    // Esc closes the window, as it closes dialogs.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
