#include "appenv.h"

#include "app/application.h"
#include "app/docpane.h"
#include "platform/registry/registry.h"

#include <QApplication>
#include <QTreeWidget>

#include <cstdlib>

void EnsureTestApp() {
    static QTemporaryDir* dir = nullptr;
    if (!dir) {
        dir = new QTemporaryDir;
        setenv("QUIBREL_REGISTRY_DIR", (dir->path() + "/own").toUtf8().constData(), 1);
        setenv("WINEPREFIX", (dir->path() + "/prefix").toUtf8().constData(), 1);
        setenv("XDG_CONFIG_HOME", (dir->path() + "/config").toUtf8().constData(), 1);
        setenv("XDG_DATA_HOME", (dir->path() + "/data").toUtf8().constData(), 1);
    }
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

QString Fixture(const char* name) { return QStringLiteral(QUIBREL_FIXTURE_DIR "/") + QLatin1String(name); }
QString AppFixture(const char* name) { return QStringLiteral(APP_FIXTURE_DIR "/") + QLatin1String(name); }

void WriteClassesValue(const std::string& key, const std::string& value) {
    ScopedHKEY k;
    if (RegCreateKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.Put(), nullptr) ==
        ERROR_SUCCESS)
        RegWriteString(k.Get(), "", value);
}

TWindow::TWindow(const QStringList& arguments) {
    EnsureTestApp();
    ErrorSink() = [this](const QString& text) { messages << text; };
    form = std::make_unique<TMainForm>(arguments);
}

TWindow::~TWindow() {
    form.reset();
    ErrorSink() = nullptr;
}

QStringList Captions(QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(0);
    return out;
}

bool Select(QTreeWidget* list, const QString& caption) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(0) == caption) {
            list->setCurrentItem(list->topLevelItem(i), 0, QItemSelectionModel::ClearAndSelect);
            return true;
        }
    }
    return false;
}

QString Pane(TMainForm* form) { return form->txtDoc->Text(); }
