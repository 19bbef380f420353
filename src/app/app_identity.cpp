#include "app/app_identity.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace kad {

void NameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Kadrillo"));
    // Lets the desktop match our windows to the installed launcher and its
    // icon; unlike a display name it adds nothing to the window titles.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tavrel.Kadrillo"));
}

} // namespace kad
