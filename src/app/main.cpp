// quibrel-browser: the type library browser.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quibrel Type Library Browser");
    QMainWindow w;
    w.setWindowTitle("Quibrel Type Library Browser");
    w.menuBar()->addMenu("&File");
    w.menuBar()->addMenu("&Edit");
    w.menuBar()->addMenu("&View");
    w.show();
    return app.exec();
}
