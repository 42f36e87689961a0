// Implemented features:
//  - the portal's Inhibit for suspend and idle, released by closing its request
//  - logind's "sleep:idle" block inhibitor, released by closing its descriptor
//  - each service asked with a bounded wait; any failure means none is held
#include "platform/linux/sleep_inhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>

namespace {

const QString PORTAL_SERVICE = QStringLiteral("org.freedesktop.portal.Desktop");
const QString LOGIND_SERVICE = QStringLiteral("org.freedesktop.login1");
const QString WHO = QStringLiteral("Quorvel");
const QString WHY = QStringLiteral("Recording a take");
// The portal's Inhibit flags: 4 suspend, 8 idle.
constexpr quint32 PORTAL_SUSPEND_AND_IDLE = 4 | 8;

// The first argument of the reply, or nothing when the call failed.
QVariant call(QDBusConnection bus, const QDBusMessage& message) {
    if (!bus.isConnected()) return {};
    const QDBusMessage reply = bus.call(message, QDBus::Block, SleepInhibitor::INHIBIT_TIMEOUT_MS);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().constFirst();
}

}  // namespace

SleepInhibitor::SleepInhibitor() {
    if (!askPortal()) askLogind();
}

SleepInhibitor::~SleepInhibitor() {
    if (portalRequest_.isEmpty()) return;
    QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
        PORTAL_SERVICE, portalRequest_, QStringLiteral("org.freedesktop.portal.Request"),
        QStringLiteral("Close")));
}

bool SleepInhibitor::askPortal() {
    QDBusMessage message = QDBusMessage::createMethodCall(
        PORTAL_SERVICE, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    // No parent window: the inhibition is the program's, not a window's.
    message << QString() << PORTAL_SUSPEND_AND_IDLE << QVariantMap{{QStringLiteral("reason"), WHY}};
    portalRequest_ = call(QDBusConnection::sessionBus(), message).value<QDBusObjectPath>().path();
    return !portalRequest_.isEmpty();
}

bool SleepInhibitor::askLogind() {
    QDBusMessage message = QDBusMessage::createMethodCall(
        LOGIND_SERVICE, QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    message << QStringLiteral("sleep:idle") << WHO << WHY << QStringLiteral("block");
    logindInhibitor_ = call(QDBusConnection::systemBus(), message).value<QDBusUnixFileDescriptor>();
    return logindInhibitor_.isValid();
}
