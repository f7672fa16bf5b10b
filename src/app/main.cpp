// quibrel-browser: the type library browser.
#include "app/application.h"
#include "app/mainform.h"
#include "dialogs/history.h"
#include "dialogs/idl.h"
#include "dialogs/legend.h"
#include "dialogs/search.h"

#include <QScreen>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    SetUpApplicationFont();
    TMainForm mainForm(QApplication::arguments().mid(1));
    // The tool windows, hidden until asked for; they belong to the main window.
    new THistoryForm(&mainForm);
    new TSearchForm(&mainForm);
    new TLegendForm(&mainForm);
    new TIdlForm(&mainForm);
    // Centred on the screen when it first shows.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = mainForm.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        mainForm.move(frame.topLeft());
    }
    mainForm.show();
    return app.exec();
}
