#include "platform/os/screensaver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>

namespace kad {

namespace {

constexpr const char* kService = "org.freedesktop.ScreenSaver";
constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kInterface = "org.freedesktop.ScreenSaver";
// A desktop that does not answer within this time is taken as absent.
constexpr int kCallTimeoutMs = 2000;

QDBusMessage callSaver(const QString& method, const QList<QVariant>& args)
{
    QDBusMessage msg =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kInterface), method);
    msg.setArguments(args);
    return QDBusConnection::sessionBus().call(msg, QDBus::Block, kCallTimeoutMs);
}

} // namespace

ScreenSaverInhibitor::~ScreenSaverInhibitor()
{
    UnInhibit();
}

bool ScreenSaverInhibitor::SessionBusAvailable()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

bool ScreenSaverInhibitor::Inhibit(const QString& application, const QString& reason)
{
    if (cookie_ != 0) return true;
    if (!SessionBusAvailable()) return false;
    if (!QDBusConnection::sessionBus().isConnected()) return false;
    const QDBusMessage reply = callSaver(QStringLiteral("Inhibit"), {application, reason});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    cookie_ = reply.arguments().constFirst().toUInt();
    return cookie_ != 0;
}

void ScreenSaverInhibitor::UnInhibit()
{
    if (cookie_ == 0) return;
    const quint32 cookie = cookie_;
    cookie_ = 0;
    if (!QDBusConnection::sessionBus().isConnected()) return;
    callSaver(QStringLiteral("UnInhibit"), {cookie});
}

} // namespace kad
