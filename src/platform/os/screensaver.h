#pragma once

// Keeps the screen saver away while Kadrillo runs, through the desktop's
// org.freedesktop.ScreenSaver service on the session bus. Without a session
// bus, or without the service, nothing happens and nothing waits.

#include <QString>

namespace kad {

class ScreenSaverInhibitor {
public:
    ScreenSaverInhibitor() = default;
    ~ScreenSaverInhibitor();
    ScreenSaverInhibitor(const ScreenSaverInhibitor&) = delete;
    ScreenSaverInhibitor& operator=(const ScreenSaverInhibitor&) = delete;

    // Asks the service to hold the screen saver off; true when it agreed.
    // Calling it again while inhibited does nothing and returns true.
    bool Inhibit(const QString& application, const QString& reason);
    // Gives the screen saver back; does nothing unless Inhibit succeeded.
    void UnInhibit();
    bool IsInhibited() const { return cookie_ != 0; }

    // True when a session bus address is known (so that a call cannot start
    // a bus of its own or wait for one).
    static bool SessionBusAvailable();

private:
    quint32 cookie_ = 0;
};

} // namespace kad
