#include <QApplication>
#include <QDBusConnection>
#include <QMessageBox>

#include <gst/gst.h>

#include "app/app_identity.h"
#include "app/program.h"
#include "app/remote_control.h"
#include "elements/plugin.h"
#include "platform/media/media_platform.h"
#include "system/startup_check.h"

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    kad::registerElements();
    // --capture, --stop, ... talk to a program that runs already and never
    // open a window of their own.
    if (const auto status = kad::RunRemoteCommandLine(argc, argv)) return *status;

    QApplication app(argc, argv);
    // No window exists yet, so the question cannot go through the window's dialogs.
    const bool goOn = kad::ConfirmMediaPlatform(
        kad::MediaPlatformMajor(), kad::MediaPlatformMinor(), kad::MediaPlatformVersion(),
        [](const QString& text) {
            return QMessageBox::warning(nullptr, QStringLiteral("Kadrillo"), text,
                                        QMessageBox::Yes | QMessageBox::No,
                                        QMessageBox::No) == QMessageBox::Yes
                       ? kad::DialogAnswer::Yes
                       : kad::DialogAnswer::No;
        });
    if (!goOn) return 0;
    kad::NameApplication();

    kad::TProgram program;
    program.Show();
    kad::TRemoteControl remote(program, QDBusConnection::sessionBus());
    remote.Register();
    return QApplication::exec();
}
