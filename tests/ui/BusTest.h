#pragma once

#include "GuiTest.h"
#include "SessionBus.h"

#include <QDBusConnection>

// What the tests against a session bus share: a private bus started before the application,
// and a second connection to it on which the tests play the desktop's services.
namespace BusTest {

inline QDBusConnection desktopSide(const SessionBus &bus) {
    return QDBusConnection::connectToBus(QString::fromUtf8(bus.address()), u"desktop"_qs);
}

} // namespace BusTest

// Like TOVIK_GUI_TEST_MAIN, with a private session bus that the test object is given.
#define TOVIK_BUS_TEST_MAIN(TestObject)                                                            \
    int main(int argc, char *argv[]) {                                                             \
        GuiTest::PrivateHome home;                                                                 \
        SessionBus bus;                                                                            \
        QApplication app(argc, argv);                                                              \
        QApplication::setOrganizationName(u"Tovik"_qs);                                            \
        QApplication::setApplicationName(u"Tovik"_qs);                                             \
        TestObject test(bus);                                                                      \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
