// The yardstick for the mail window's start-up: the same widgets (pages,
// edits, buttons, labels, status bars, up-down, views, pictures, font) as
// plain Qt classes, from the window's own description with our classes
// swapped for Qt's (plainui.cmake). No network, no settings, no controls.
#include "ui_plainwindow.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The font the mail window asks for.
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
    QFont font(QStringLiteral("Tahoma"));
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans")});
    font.setPointSize(8);
    app.setFont(font);

    QWidget window;
    Ui::PlainWindow ui;
    ui.setupUi(&window);
    // The controls' places stay empty, as the controls are hidden.
    ui.SMTP1->hide();
    ui.POP1->hide();
    window.show();
    return app.exec();
}
