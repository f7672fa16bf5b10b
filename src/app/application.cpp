// Application title, font, hourglass and central error handler.
#include "app/application.h"
#include "app/notice.h"

#include "text/typetext.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(ApplicationTitle));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e);
    }
    return false;
}

std::function<void(const QString&)>& ErrorSink() {
    static std::function<void(const QString&)> sink;
    return sink;
}

void ShowException(const std::exception& e) {
    QString message;
    if (auto* b = dynamic_cast<const EBrowserError*>(&e))
        message = b->Message();
    else
        message = QString::fromUtf8(e.what());
    const QString text = ErrorBoxText(message);
    if (ErrorSink()) {
        ErrorSink()(text);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QString::fromLatin1(ApplicationTitle), text);
}

std::function<void(const QString&)>& NoticeSink() {
    static std::function<void(const QString&)> sink;
    return sink;
}

void ShowNotice(const QString& text, QWidget* parent) {
    if (NoticeSink()) {
        NoticeSink()(text);
        return;
    }
    // Without a screen (offscreen tests and tools) there is no one to show a box to.
    if (QGuiApplication::platformName() == QLatin1String("offscreen") ||
        QGuiApplication::platformName() == QLatin1String("minimal")) {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromLatin1(ApplicationTitle), text,
                                QMessageBox::Ok, parent ? parent : QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    QTimer::singleShot(0, box, [box] {
        box->show();
        box->raise();
    });
}

namespace {
QtMessageHandler g_previousHandler = nullptr;

void SkipRuntimeDirWarning(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    if (g_previousHandler) g_previousHandler(type, context, message);
    else std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}
}  // namespace

void QuietMissingRuntimeDir() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
    QtMessageHandler previous = qInstallMessageHandler(SkipRuntimeDirWarning);
    if (previous != SkipRuntimeDirWarning) g_previousHandler = previous;
}

void RunGuarded(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        ShowException(e);
    }
}

void SetUpApplicationFont() {
    static const char* const candidates[] = {"/usr/share/wine/fonts/tahoma.ttf",
                                             "/usr/share/fonts/truetype/wine/tahoma.ttf"};
    QString family;
    for (const char* path : candidates) {
        if (!QFile::exists(QString::fromLatin1(path))) continue;
        int id = QFontDatabase::addApplicationFont(QString::fromLatin1(path));
        if (id >= 0 && !QFontDatabase::applicationFontFamilies(id).isEmpty()) {
            family = QFontDatabase::applicationFontFamilies(id).first();
            break;
        }
    }
    QFont font;
    if (!family.isEmpty()) {
        font = QFont(family);
        font.setPixelSize(11);
    } else {
        // DejaVu Sans is wider than Tahoma: one pixel smaller keeps the captions inside.
        font = QFont(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(10);
    }
    font.setHintingPreference(QFont::PreferFullHinting);
    QApplication::setFont(font);
}

THourglass::THourglass() { QApplication::setOverrideCursor(Qt::WaitCursor); }
THourglass::~THourglass() { QApplication::restoreOverrideCursor(); }
