#include "app/WidgetPorts.h"
#include "app/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Culvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Culvane"));
    installWidgetPorts();

    frmMain page;
    page.Form_Load();
    page.show();
    return QApplication::exec();
}
