#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private D-Bus session bus for one test program: a dbus-daemon of its own on a socket in a
// temporary folder, with no services to start on demand, so nothing of the desktop answers on
// it. Start it before the application, so that Qt's session bus is this one. The daemon ends
// with this object, and with the test process should that die first.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();

    bool isRunning() const { return !m_address.isEmpty(); }
    // Why the bus is not running.
    QString error() const { return m_error; }
    QByteArray address() const { return m_address; }

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QByteArray m_address;
    QString m_error;
};
