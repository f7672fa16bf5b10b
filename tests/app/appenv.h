// What the main window tests share: the application object, a registry of their own, the
// test libraries, and the text a person reads in the window.
#pragma once

#include "app/mainform.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Creates the application once; points the registry at a temporary folder for the whole run.
void EnsureTestApp();

// Paths of the test libraries.
QString Fixture(const char* name);     // built from tests/idl (QuibrelTest.tlb, ...)
QString AppFixture(const char* name);  // built from tests/app (AppCases.tlb)

// Writes a string value under HKEY_CLASSES_ROOT, creating the key.
void WriteClassesValue(const std::string& key, const std::string& value);

// The window, its messages captured instead of shown in a box.
struct TWindow {
    explicit TWindow(const QStringList& arguments = QStringList());
    ~TWindow();
    TMainForm* operator->() { return form.get(); }

    QStringList messages;
    std::unique_ptr<TMainForm> form;
};

// Captions of the rows of a list, in order.
QStringList Captions(QTreeWidget* list);
// Selects the row with this caption (exactly); false when there is none.
bool Select(QTreeWidget* list, const QString& caption);
// The documentation pane's text, lines joined by "\n".
QString Pane(TMainForm* form);
