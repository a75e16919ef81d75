#include "Icons.h"
#include "TovikApp.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(u"Tovik"_qs);
    QApplication::setApplicationName(u"Tovik"_qs);
    QApplication::setApplicationVersion(QStringLiteral(TOVIK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(TOVIK_APP_ID));
    QApplication::setWindowIcon(Icons::appIcon());

    TovikApp tovik;
    tovik.window().show();
    return QApplication::exec();
}
