#include "apphandler.h"
#include "mailform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    InitApplication(app);
    // The creation handler runs inside the constructor; a close it requests
    // leaves the window hidden, and it is shown here all the same.
    TMailForm MailForm;
    MailForm.show();
    app.exec();
    return 0;
}
