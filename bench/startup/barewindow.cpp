// The yardstick for start-up: an empty Qt window the size of the mail window,
// with nothing of ours loaded.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(418, 405);
    window.show();
    return app.exec();
}
