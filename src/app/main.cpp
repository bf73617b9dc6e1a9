// Program entry: the main window runs the Qt event loop until the user exits.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("[:: kavaroXP beta 3 ::]");
    window.setFixedSize(543, 298);
    window.show();
    return app.exec();
}
