// TIdlForm: the "IDL" tool window. It shows the IDL of the class selected in the main window
// and follows the selection; a selected member is scrolled to and highlighted. Keywords,
// attributes, comments and strings are coloured by colour rules; the names of the library's
// own types that the main window lists are links that select that class there (the text
// shown is exactly the text copied and saved: links are drawn over it, not marked in it). Copy puts the IDL on the
// clipboard, Save writes it to a .idl file. Created once with the main window; closing it only
// hides it.
#pragma once

#include <QPoint>
#include <QTextEdit>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "writers/idl.h"

struct ITypeInfo;
class QKeyEvent;
class QPushButton;
class TColorMemo;
class TMainForm;

namespace Ui {
class TIdlForm;
}

class TIdlForm : public QWidget {
    Q_OBJECT

public:
    explicit TIdlForm(TMainForm* mainForm);
    ~TIdlForm() override;

    TColorMemo* memIdl;
    QPushButton *btnCopy, *btnSave, *btnClose;

    // The main window's selection: a class (null: none), then a member of it by caption and
    // invoke kind (0: any).
    void ClassChanged(ITypeInfo* typeInfo);
    void MemberChanged(const QString& caption, int invokeKind);

    // The IDL shown, without hot-spot markers.
    const std::string& IdlText() const { return FText; }
    // The line of the highlighted member, or -1.
    int HighlightedLine() const { return FHighlight; }

    // A link of the view: where it is (line, and column and length in characters of that
    // line) and the class it selects.
    struct TLink {
        int Line = 0;
        int Column = 0;
        int Length = 0;
        QString Target;
    };
    const std::vector<TLink>& Links() const { return FLinks; }
    // The link under a point of the memo's viewport, or null.
    const TLink* LinkAt(const QPoint& viewportPos) const;
    // Follows a link: selects its class in the main window.
    void FollowLink(const TLink& link);

    void btnCopyClick();
    void btnSaveClick();
    // Writes the IDL shown to FileName; false (with a message box) when it cannot.
    bool SaveTo(const QString& FileName);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Refresh();
    void Highlight();
    void HotSpotClick(const QString& phrase);
    void ShowMarks();

    std::unique_ptr<Ui::TIdlForm> ui;
    TMainForm* FMainForm;
    ITypeInfo* FTypeInfo = nullptr;   // the class followed (a counted reference)
    bool FStale = true;                // selection changed while hidden
    bool FFollowing = false;           // told of a selection at least once
    std::string FText;
    std::vector<TIdlTypeSpan> FSpans;
    std::vector<TLink> FLinks;
    QPoint FPressedAt{-1, -1};
    QTextEdit::ExtraSelection FHighlightMark;
    QString FMember;
    int FInvokeKind = 0;
    int FHighlight = -1;
};

// The IDL window, once it exists.
extern TIdlForm* IdlForm;
