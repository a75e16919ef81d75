#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>

class TovikApp;

// One Tovik per desktop session. The first start owns Tovik's name on the session bus and
// answers org.freedesktop.Application there: Open hands it links, Activate only asks for the
// window. A later start finds the name taken, hands its links over and ends. Without a session
// bus every start is on its own.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    enum class Role { first, later, alone };

    // Claims the name; calls that come in wait for the event loop.
    SingleInstance();
    ~SingleInstance() override;

    Role role() const { return m_role; }
    // From a later start: gives the link texts to the first and asks it to come to the front.
    // False when it did not answer within a few seconds; then this start goes on by itself.
    bool handOver(const QStringList &links) const;

    static constexpr int handOverTimeout = 5000; // ms

    // From now on, links from later starts are queued in this Tovik and bring its window to
    // the front.
    void deliverTo(TovikApp &tovik);

public Q_SLOTS:
    Q_SCRIPTABLE void Activate(const QVariantMap &platformData);
    Q_SCRIPTABLE void Open(const QStringList &uris, const QVariantMap &platformData);

Q_SIGNALS:
    // Another start asked for the window, with these link texts (maybe none).
    void opened(const QStringList &links);

private:
    Role m_role = Role::alone;
};
