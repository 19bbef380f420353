#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/program_fixture.h"
#include "platform/os/screensaver.h"

namespace kad::test {
namespace {

TEST(ScreenSaver, WithoutASessionBusNothingHappens)
{
    QTemporaryDir runtime;
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
    ScopedEnv dir("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData());
    EXPECT_FALSE(ScreenSaverInhibitor::SessionBusAvailable());
    ScreenSaverInhibitor inhibitor;
    EXPECT_FALSE(inhibitor.Inhibit("Kadrillo", "test"));
    EXPECT_FALSE(inhibitor.IsInhibited());
    inhibitor.UnInhibit();
    EXPECT_FALSE(inhibitor.IsInhibited());
}

} // namespace
} // namespace kad::test
