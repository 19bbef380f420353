#pragma once

// The whole program in a test: its own registry hive and XDG folders, the
// virtual devices of the test's choice, videos and images in a folder of
// the test, and helpers to wait on the event loop and read files back with
// ffprobe.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/program.h"
#include "app/source_selection.h"
#include "graph/dm_cam.h"
#include "session/capture_session.h"
#include "settings/naming.h"
#include "settings/preferences.h"
#include "support/fake_dialogs.h"
#include "support/probe.h"
#include "support/wait.h"
#include "system/devices/video_sources.h"
#include "ui/capture_form.h"
#include "ui/sources_panel.h"
#include "ui/video_widget.h"

namespace kad::test {

// Sets an environment variable for one scope (nullptr unsets it).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            setenv(name_.c_str(), old_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

using kadtest::pump;
using kadtest::waitUntil;

// ffprobe's view of a file: the codec of its first video stream and the
// number of video frames it counts, or nothing when it cannot read it.
struct ProbeResult {
    QString videoCodec;
    int frames = 0;
};
inline std::optional<ProbeResult> probeVideo(const QString& path)
{
    const kadtest::Probe read = kadtest::ffprobe(path.toStdString(), true);
    const kadtest::ProbeStream* video = read.first("video");
    if (!read.ok || !video || video->codec.empty()) return std::nullopt;
    return ProbeResult{QString::fromStdString(video->codec),
                       static_cast<int>(std::max(video->frames, 0LL))};
}

// One run of the program in a fresh home. The devices are the virtual ones
// named in `devices` (a KADRILLO_VIRTUAL_DEVICES value), non-live.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        hive = home.filePath(QStringLiteral("registry.reg"));
        videos = home.filePath(QStringLiteral("videos"));
        images = home.filePath(QStringLiteral("images"));
        QDir().mkpath(videos);
        QDir().mkpath(images);
        const auto set = [this](const char* name, const QString& value) {
            env.push_back(std::make_unique<ScopedEnv>(name, value.toUtf8().constData()));
        };
        set("KADRILLO_REGISTRY", hive);
        set("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")));
        set("XDG_STATE_HOME", home.filePath(QStringLiteral("state")));
        set("XDG_DATA_HOME", home.filePath(QStringLiteral("data")));
        set("KADRILLO_VIRTUAL_LIVE", QStringLiteral("0"));
        Naming() = NamingState();
    }

    void TearDown() override
    {
        program.reset();
        SetDeviceEnumerator({});
        Naming() = NamingState();
    }

    // The virtual devices for the next start.
    void useDevices(const char* devices)
    {
        env.push_back(std::make_unique<ScopedEnv>("KADRILLO_VIRTUAL_DEVICES", devices));
    }

    // Writes the test's folders into the hive before a start, so captures
    // and grabs land in the test's home.
    void presetFolders()
    {
        auto prefs = CreatePreferences(QSize(700, 459), hive);
        prefs->VideoDirectory.Value = videos + QLatin1Char('/');
        prefs->ImageDirectory.Value = images + QLatin1Char('/');
        ASSERT_TRUE(SavePreferences(*prefs));
    }

    // Creates the program and runs its first showing.
    void start()
    {
        program = std::make_unique<TProgram>();
        // The window installs its own message boxes; the test answers them.
        setDialogs(&dialogs);
        program->Show();
        QCoreApplication::processEvents();
        // The first showing ends once the video source has opened.
        EXPECT_TRUE(waitConnected()) << "the start-up's connection did not end";
        // The window's last steps (taking the keyboard back) are queued.
        pump(50);
    }

    // The video source's connection (the device opens off the GUI thread)
    // has ended and what follows it has run.
    bool waitConnected(int ms = 15000)
    {
        return waitUntil([&] { return !program->Sources().Connecting(); }, ms);
    }

    // Counts the turns of a 10 ms timer the event loop makes while a video
    // source connects: the GUI thread kept running if it grows.
    struct TicksWhileConnecting {
        int count = 0;
        QTimer timer;
    };
    std::unique_ptr<TicksWhileConnecting> countTicksWhileConnecting()
    {
        auto ticks = std::make_unique<TicksWhileConnecting>();
        QObject::connect(&ticks->timer, &QTimer::timeout, [this, t = ticks.get()] {
            if (program->Sources().Connecting()) ++t->count;
        });
        ticks->timer.start(10);
        return ticks;
    }

    bool showActive()
    {
        form().activateWindow();
        return QTest::qWaitForWindowActive(&form());
    }

    // Starts the program on `devices` with the test's folders and waits for
    // the preview's pictures.
    ::testing::AssertionResult startPreviewing(const char* devices)
    {
        useDevices(devices);
        presetFolders();
        if (HasFatalFailure()) return ::testing::AssertionFailure() << "the folders were not set";
        start();
        if (form().State() != CaptureState::csPreview)
            return ::testing::AssertionFailure() << "no preview after the start";
        if (!waitForPicture()) return ::testing::AssertionFailure() << "the preview shows nothing";
        return ::testing::AssertionSuccess();
    }

    TCaptureForm& form() const { return program->Form(); }
    TdmCam& cam() const { return program->Cam(); }
    QAction* act(ActionId id) const { return form().Action(id); }

    TSourcesFrame& sourcesPanel() const { return *program->Parts().SourcesFrame; }

    // Picks the video device of this name in the Sources panel as the user
    // does.
    void pickVideo(const QString& name)
    {
        const int index = sourcesPanel().cboxvideo->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        sourcesPanel().cboxvideo->setCurrentIndex(index);
        program->Sources().cboxVideoChange();
        EXPECT_TRUE(waitConnected()) << name.toStdString();
    }

    void pickFormat(int index)
    {
        sourcesPanel().rgFormat->setItemIndex(index);
        program->Sources().rgFormatClick();
        // The MovieBox's graph is made anew with its source opened again.
        EXPECT_TRUE(waitConnected());
    }

    // A stop is over once the capture's files are finished and the window
    // has left the capture for the preview (or the idle state).
    bool waitStopped(int ms = 15000)
    {
        return waitUntil(
            [&] {
                const CaptureState s = form().State();
                return !program->Capture().Finishing() && s != CaptureState::csCapturing &&
                       s != CaptureState::csScheduledCapture;
            },
            ms);
    }

    // The preview shows pictures.
    bool waitForPicture(int ms = 15000)
    {
        const quint64 before = form().vwEcran->FramesReceived();
        return waitUntil([&] { return form().vwEcran->FramesReceived() > before + 2; }, ms);
    }

    QTemporaryDir home;
    QString hive;
    QString videos;
    QString images;
    std::vector<std::unique_ptr<ScopedEnv>> env;
    FakeDialogs dialogs;
    std::unique_ptr<TProgram> program;
};

} // namespace kad::test
