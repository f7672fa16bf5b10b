// The application object: its title, font, hourglass guard and central error handler.
#pragma once

#include <QApplication>
#include <QString>

#include <functional>
#include <stdexcept>

inline constexpr const char* ApplicationTitle = "Quibrel Type Library Browser";

// An error meant for the user; the central handler shows its message.
class EBrowserError : public std::runtime_error {
public:
    explicit EBrowserError(const QString& message)
        : std::runtime_error(message.toStdString()), FMessage(message) {}
    const QString& Message() const { return FMessage; }

private:
    QString FMessage;
};

// Catches what event handlers throw and shows it; the program goes on.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The central error handler: a critical message box captioned with the application title,
// the text followed by "." by the usual rule.
void ShowException(const std::exception& e);
// Runs a command, handing anything it throws to the central handler.
void RunGuarded(const std::function<void()>& command);
// Where ShowException sends the box text instead of a message box (tests set it).
std::function<void(const QString& text)>& ErrorSink();

// The window font: Tahoma at 11 pixels, or a sans font that fits the same layout.
void SetUpApplicationFont();

// Shows the hourglass until the end of the scope, on every path.
class THourglass {
public:
    THourglass();
    ~THourglass();
    THourglass(const THourglass&) = delete;
    THourglass& operator=(const THourglass&) = delete;
};
