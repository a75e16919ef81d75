#include "SingleInstance.h"

#include "TovikApp.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {

const QString name = QStringLiteral(TOVIK_APP_ID);
const QString path = u"/org/tovik/Tovik"_qs;
const QString interface = u"org.freedesktop.Application"_qs;
const char *const activationToken = "XDG_ACTIVATION_TOKEN";

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
    // A Wayland compositor lets a window come to the front only with the token it gave the
    // start that asks for it; the first start passes it on.
    QVariantMap platformData;
    if (const QString token = qEnvironmentVariable(activationToken); !token.isEmpty())
        platformData.insert(u"activation-token"_qs, token);
    call << platformData;
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

void SingleInstance::Activate(const QVariantMap &platformData) {
    Open({}, platformData);
}

void SingleInstance::Open(const QStringList &uris, const QVariantMap &platformData) {
    // Qt's Wayland window takes the token from the environment when it asks to be activated.
    if (const QString token = platformData.value(u"activation-token"_qs).toString();
        !token.isEmpty())
        qputenv(activationToken, token.toUtf8());
    Q_EMIT opened(uris);
}
