#include <QApplication>

#include "app/dialog.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    int code = 0;
    {
        Dialog window;
        window.show();
        code = app.exec();
    }
    return code;
}
