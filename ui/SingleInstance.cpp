#include "SingleInstance.h"

#include "TovikApp.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {

const QString name = QStringLiteral(TOVIK_APP_ID);
const QString path = u"/org/tovik/Tovik"_qs;
const QString interface = u"org.freedesktop.Application"_qs;

} // namespace

SingleInstance::SingleInstance() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // The object is there before the name, so a later start that sees the name can call it.
    if (!bus.registerObject(path, this, QDBusConnection::ExportScriptableSlots))
        return;
    if (bus.registerService(name)) {
        m_role = Role::first;
        return;
    }
    bus.unregisterObject(path);
    m_role = Role::later;
}

SingleInstance::~SingleInstance() {
    if (m_role != Role::first)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(name);
    bus.unregisterObject(path);
}

bool SingleInstance::handOver(const QStringList &links) const {
    QDBusMessage call = links.isEmpty()
                            ? QDBusMessage::createMethodCall(name, path, interface, u"Activate"_qs)
                            : QDBusMessage::createMethodCall(name, path, interface, u"Open"_qs);
    if (!links.isEmpty())
        call << links;
    call << QVariantMap();
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, handOverTimeout);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::deliverTo(TovikApp &tovik) {
    connect(this, &SingleInstance::opened, &tovik.window(), [&tovik](const QStringList &links) {
        tovik.open(links);
        tovik.raise();
    });
}

void SingleInstance::Activate(const QVariantMap &) {
    Q_EMIT opened({});
}

void SingleInstance::Open(const QStringList &uris, const QVariantMap &) {
    Q_EMIT opened(uris);
}
