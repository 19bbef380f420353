#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#ifdef KADRILLO_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#ifdef KADRILLO_TEST_MEDIA
#include <gst/gst.h>

#include "elements/plugin.h"
#include "virtual/virtual_plugin.h"
#endif

namespace {

// Ends the process, naming the test, when one test runs longer than
// KADRILLO_TEST_DEADLINE seconds (default 240, under CTest's own 300): a
// wait that forgot its deadline, or a deadlock inside GStreamer, then fails
// in minutes and says where instead of holding the whole suite.
class Watchdog : public ::testing::EmptyTestEventListener {
public:
    explicit Watchdog(std::chrono::seconds limit) : limit_(limit)
    {
        thread_ = std::thread([this] { watch(); });
    }
    ~Watchdog() override
    {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void OnTestStart(const ::testing::TestInfo& test) override
    {
        {
            std::lock_guard lock(mutex_);
            name_ = std::string(test.test_suite_name()) + "." + test.name();
            deadline_ = std::chrono::steady_clock::now() + limit_;
            running_ = true;
        }
        changed_.notify_all();
    }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        changed_.notify_all();
    }

private:
    void watch()
    {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (!running_) {
                changed_.wait(lock);
                continue;
            }
            const auto deadline = deadline_;
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && running_ &&
                deadline_ == deadline) {
                std::fprintf(stderr, "\n%s did not finish within %lld s: stopped\n", name_.c_str(),
                             static_cast<long long>(limit_.count()));
                std::fflush(stderr);
                std::abort();
            }
        }
    }

    const std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string name_;
    std::chrono::steady_clock::time_point deadline_;
    bool running_ = false;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv)
{
    // Tests never read or write the user's own settings, state or log, nor
    // another test's: CTest runs them side by side, each in its own process,
    // and a log named after the second it began would be shared.
    QTemporaryDir home;
    if (!home.isValid()) return 2;
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"}) {
        const QString dir = home.filePath(QString::fromLatin1(var).toLower());
        QDir().mkpath(dir);
        qputenv(var, QFile::encodeName(dir));
    }
    qputenv("KADRILLO_REGISTRY", QFile::encodeName(home.filePath("registry.reg")));
#ifdef KADRILLO_TEST_GUI
    // CTest lists the tests by running the program without the tests'
    // environment; without a display that must not abort.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    ::testing::InitGoogleTest(&argc, argv);
    const int limit = qEnvironmentVariableIsSet("KADRILLO_TEST_DEADLINE")
                          ? qEnvironmentVariableIntValue("KADRILLO_TEST_DEADLINE")
                          : 240;
    std::optional<Watchdog> watchdog;
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    if (limit > 0) listeners.Append(&watchdog.emplace(std::chrono::seconds(limit)));
#ifdef KADRILLO_TEST_MEDIA
    gst_init(&argc, &argv);
    kad::registerElements();
    kad::registerVirtualDevices();
#endif
    TestApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    if (watchdog) listeners.Release(&*watchdog);
    return result;
}
