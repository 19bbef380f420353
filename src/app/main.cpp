#include <QApplication>
#include <QDBusConnection>
#include <QMessageBox>

#include <glib-unix.h>
#include <gst/gst.h>

#include <csignal>

#include "app/app_identity.h"
#include "app/program.h"
#include "app/remote_control.h"
#include "elements/plugin.h"
#include "platform/media/media_platform.h"
#include "system/startup_check.h"
#include "virtual/virtual_plugin.h"

namespace {

// A logout, `kill` or Ctrl+C in a terminal ends the program the way closing
// its window does: a capture in progress is finished (index and headers
// written) before the program quits, so the file reads whole. The handler
// runs on the GUI thread from the GLib main context that Qt's event loop
// drives, never inside the signal itself.
gboolean onTerminateSignal(gpointer)
{
    QApplication::closeAllWindows();
    QApplication::quit();
    return G_SOURCE_CONTINUE;
}

void endOnTerminateSignals()
{
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        g_unix_signal_add(signal, onTerminateSignal, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    kad::registerElements();
    // The simulated devices stand in for hardware in demonstrations and in the
    // tests that start the whole program; without the variable they would
    // list nothing, so they stay out of the registry.
    if (g_getenv("KADRILLO_VIRTUAL_DEVICES")) kad::registerVirtualDevices();
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
    endOnTerminateSignals();
    return QApplication::exec();
}
