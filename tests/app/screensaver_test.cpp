#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "platform/os/screensaver.h"

namespace kad::test {
namespace {

// Sets an environment variable for the life of the object.
class EnvVar {
public:
    EnvVar(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvVar()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

TEST(ScreenSaver, WithoutASessionBusNothingHappens)
{
    QTemporaryDir runtime;
    EnvVar bus("DBUS_SESSION_BUS_ADDRESS", QByteArray());
    EnvVar dir("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    EXPECT_FALSE(ScreenSaverInhibitor::SessionBusAvailable());
    ScreenSaverInhibitor inhibitor;
    EXPECT_FALSE(inhibitor.Inhibit("Kadrillo", "test"));
    EXPECT_FALSE(inhibitor.IsInhibited());
    inhibitor.UnInhibit();
    EXPECT_FALSE(inhibitor.IsInhibited());
}

} // namespace
} // namespace kad::test
