// What the program tells the user that is no error, and keeping Qt's start quiet.
#pragma once

#include <QString>

class QWidget;

#include <functional>

// Something the user should know that is no error (an import of the opened library that was
// not found): an information box that does not wait for an answer, or, where it is set, the sink.
// The box belongs to parent and shows once the event loop runs, above the window it is about.
void ShowNotice(const QString& text, QWidget* parent = nullptr);
std::function<void(const QString& text)>& NoticeSink();

// Keeps Qt from warning that XDG_RUNTIME_DIR is not set (cron, ssh, su): Qt then uses a folder
// of its own, which is all we need. Every other message passes as before. Call before the
// application object is made.
void QuietMissingRuntimeDir();
