// Devices plugged in and pulled out while the program runs: the lists follow
// them without the refresh button, the device in use going away runs the
// loss path, and its return takes it back only while nothing is recorded and
// the user has not chosen another source.

#include <QDir>
#include <QFile>

#include <set>

#include "app/program_fixture.h"
#include "system/log.h"
#include "ui/sources_panel.h"
#include "virtual/virtual_device_provider.h"

namespace kad::test {
namespace {

const QString kDv = QStringLiteral("Virtual DV Camcorder (PAL)");
const QString kWebcam = QStringLiteral("Virtual Webcam");
const QString kMpeg = QStringLiteral("Virtual MPEG-2 Encoder");
const QString kNtsc = QStringLiteral("Virtual DV Camcorder (NTSC)");
const std::string kDvPath = "/virtual/kadrillo/dv-pal-vcr/0";
const std::string kWebcamPath = "/virtual/kadrillo/webcam/0";

class ProgramHotplug : public ProgramTest {
protected:
    void TearDown() override
    {
        if (LogOpen()) StopLog();
        ProgramTest::TearDown();
        // The unplugged set lives as long as the process: the next test
        // finds every device in place.
        for (const std::string& path : pulled)
            replugVirtualDevice(path);
    }

    void SetUp() override
    {
        ProgramTest::SetUp();
        // Other tests of the process may have left a device unplugged.
        for (const char* kind : {"dv-pal-vcr", "webcam", "mic"})
            for (int n = 0; n < 2; ++n)
                replugVirtualDevice("/virtual/kadrillo/" + std::string(kind) + "/" +
                                    std::to_string(n));
    }

    void startWith(const char* devices)
    {
        useDevices(devices);
        presetFolders();
        start();
        ASSERT_TRUE(program->Sources().FollowingDevices());
        ASSERT_TRUE(StartLog(true));
    }

    TSourcesFrame& panel() const { return *program->Parts().SourcesFrame; }
    QString current() const { return panel().cboxvideo->currentText(); }
    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i < panel().cboxvideo->count(); ++i)
            names << panel().cboxvideo->itemText(i);
        return names;
    }

    void unplug(const std::string& path)
    {
        pulled.insert(path);
        unplugVirtualDevice(path);
    }
    void replug(const std::string& path) { replugVirtualDevice(path); }

    // Pulls the plug of the device in use as it happens with a real one:
    // its stream fails and the device leaves the bus.
    void pullCurrentSource(const std::string& path)
    {
        pulled.insert(path);
        GstElement* source = cam().FilterGraph().VideoSource.Element();
        ASSERT_NE(source, nullptr);
        g_object_set(source, "unplug", TRUE, NULL);
    }

    // The user picks a device in the combo.
    void choose(const QString& name)
    {
        const int index = panel().cboxvideo->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        panel().cboxvideo->setCurrentIndex(index);
        emit panel().cboxvideo->activated(index);
        ASSERT_TRUE(waitConnected());
    }

    QString logText() const
    {
        QFile file(LogFileName());
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll());
    }

    std::set<std::string> pulled;
};

TEST_F(ProgramHotplug, APluggedInDeviceIsListedWithoutRefreshAndDisturbsNothing)
{
    unplug(kWebcamPath);
    startWith("dv-pal-vcr,webcam");
    ASSERT_EQ(listed(), QStringList{kDv});
    ASSERT_EQ(form().State(), CaptureState::csPreview);
    ASSERT_TRUE(waitForPicture());
    GstElement* source = cam().FilterGraph().VideoSource.Element();

    replug(kWebcamPath);
    ASSERT_TRUE(waitUntil([&] { return listed().size() == 2; }, 10000))
        << listed().join(", ").toStdString();
    EXPECT_TRUE(listed().contains(kWebcam));
    EXPECT_EQ(current(), kDv);
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skDV);
    // The running graph is the same one, still showing pictures.
    EXPECT_EQ(cam().FilterGraph().VideoSource.Element(), source);
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_TRUE(waitForPicture());
    EXPECT_TRUE(logText().contains(QStringLiteral("Video source plugged in: ") + kWebcam));

    // The new device is usable at once.
    choose(kWebcam);
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skAnalog);
    EXPECT_TRUE(waitForPicture());
}

TEST_F(ProgramHotplug, AnotherDeviceLeavingTheListLeavesTheCurrentOneAlone)
{
    startWith("dv-pal-vcr,webcam,mpeg2");
    ASSERT_EQ(current(), kDv);
    ASSERT_TRUE(waitForPicture());
    GstElement* source = cam().FilterGraph().VideoSource.Element();

    unplug(kWebcamPath);
    ASSERT_TRUE(waitUntil([&] { return !listed().contains(kWebcam); }, 10000));
    EXPECT_EQ(listed(), (QStringList{kDv, kMpeg})) << listed().join(", ").toStdString();
    EXPECT_EQ(current(), kDv);
    EXPECT_EQ(cam().FilterGraph().VideoSource.Element(), source);
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_TRUE(program->Sources().LostVideoSource().isEmpty());
    EXPECT_TRUE(waitForPicture());
    EXPECT_TRUE(logText().contains(QStringLiteral("Video source unplugged: ") + kWebcam));

    // Coming back, it does not take the place of the source in use.
    replug(kWebcamPath);
    ASSERT_TRUE(waitUntil([&] { return listed().contains(kWebcam); }, 10000));
    EXPECT_EQ(current(), kDv);
    EXPECT_EQ(cam().FilterGraph().VideoSource.Element(), source);
}

TEST_F(ProgramHotplug, TheCurrentDeviceLeavingRunsTheLossPathAndItsReturnPreviewsItAgain)
{
    startWith("dv-pal-vcr,webcam");
    ASSERT_EQ(current(), kDv);
    ASSERT_TRUE(waitForPicture());

    // Only the bus says it: the stream itself has not failed yet.
    unplug(kDvPath);
    ASSERT_TRUE(waitUntil(
        [&] { return current() == kWebcam && cam().Source().Kind() == SourceKind::skAnalog; },
        10000))
        << current().toStdString();
    EXPECT_EQ(listed(), QStringList{kWebcam});
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_EQ(program->Sources().LostVideoSource(), kDv);
    EXPECT_TRUE(waitForPicture());

    replug(kDvPath);
    ASSERT_TRUE(waitUntil(
        [&] { return current() == kDv && cam().Source().Kind() == SourceKind::skDV; }, 10000))
        << current().toStdString();
    EXPECT_EQ(listed().size(), 2);
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_TRUE(program->Sources().LostVideoSource().isEmpty());
    EXPECT_TRUE(waitForPicture());
    const QString log = logText();
    EXPECT_TRUE(log.contains(QStringLiteral("Video source unplugged: ") + kDv));
    EXPECT_TRUE(log.contains(QStringLiteral("Video source back: ") + kDv)) << log.toStdString();
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramHotplug, TheOnlyDevicePulledOutLeavesTheWindowIdleUntilItComesBack)
{
    startWith("dv-pal-vcr");
    ASSERT_TRUE(waitForPicture());

    pullCurrentSource(kDvPath);
    ASSERT_TRUE(waitUntil([&] { return form().State() == CaptureState::csIdle; }, 10000));
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skNoVideo);
    EXPECT_EQ(program->Sources().LostVideoSource(), kDv);

    replug(kDvPath);
    ASSERT_TRUE(waitUntil([&] { return form().State() == CaptureState::csPreview; }, 10000));
    EXPECT_EQ(current(), kDv);
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skDV);
    EXPECT_TRUE(waitForPicture());
}

TEST_F(ProgramHotplug, AReturnAfterTheUserChoseAnotherSourceChangesNothing)
{
    startWith("dv-pal-vcr,webcam,dv-ntsc-camera");
    ASSERT_TRUE(waitForPicture());
    pullCurrentSource(kDvPath);
    ASSERT_TRUE(waitUntil([&] { return current() == kWebcam; }, 10000))
        << listed().join(", ").toStdString();
    ASSERT_EQ(program->Sources().LostVideoSource(), kDv);

    choose(kNtsc);
    ASSERT_EQ(current(), kNtsc);
    EXPECT_TRUE(program->Sources().LostVideoSource().isEmpty());
    ASSERT_TRUE(waitForPicture());
    GstElement* source = cam().FilterGraph().VideoSource.Element();

    replug(kDvPath);
    ASSERT_TRUE(waitUntil([&] { return listed().contains(kDv); }, 10000));
    // Leave the program time to act wrongly.
    pump(300);
    EXPECT_EQ(current(), kNtsc);
    EXPECT_EQ(cam().FilterGraph().VideoSource.Element(), source);
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_FALSE(logText().contains(QStringLiteral("Video source back: ")));
}

TEST_F(ProgramHotplug, AReturnDuringACaptureRestartsNothing)
{
    startWith("dv-pal-vcr,webcam");
    ASSERT_TRUE(waitForPicture());
    unplug(kDvPath);
    ASSERT_TRUE(waitUntil([&] { return cam().Source().Kind() == SourceKind::skAnalog; }, 10000));
    ASSERT_TRUE(waitForPicture());

    const QString file = form().CurrentVideoFileName();
    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_EQ(form().State(), CaptureState::csCapturing);
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 10; }, 15000));
    GstElement* source = cam().FilterGraph().VideoSource.Element();
    const guint64 before = cam().Capture().CapturedFrames();

    replug(kDvPath);
    ASSERT_TRUE(waitUntil([&] { return listed().contains(kDv); }, 10000));
    // The capture goes on from the same device.
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= before + 10; }, 15000));
    EXPECT_EQ(form().State(), CaptureState::csCapturing);
    EXPECT_EQ(current(), kWebcam);
    EXPECT_EQ(cam().FilterGraph().VideoSource.Element(), source);
    EXPECT_TRUE(logText().contains(QStringLiteral("Video source back: ") + kDv));

    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_TRUE(waitStopped());
    ASSERT_EQ(form().State(), CaptureState::csPreview);
    // Once the capture is over the return is not acted on later either.
    pump(300);
    EXPECT_EQ(current(), kWebcam);
    EXPECT_TRUE(program->Sources().LostVideoSource().isEmpty());
    const auto probe = probeVideo(file);
    ASSERT_TRUE(probe.has_value()) << file.toStdString();
    EXPECT_GE(probe->frames, 20);
}

TEST_F(ProgramHotplug, TheAudioListFollowsAMicrophoneAndKeepsItsChoice)
{
    const std::string micPath = "/virtual/kadrillo/mic/1";
    startWith("dv-pal-vcr,mic,mic");
    QComboBox* audio = panel().cboxAudio;
    ASSERT_EQ(audio->count(), 2);
    audio->setCurrentIndex(0);
    const QString chosen = audio->currentText();

    unplug(micPath);
    ASSERT_TRUE(waitUntil([&] { return audio->count() == 1; }, 10000));
    EXPECT_EQ(audio->currentText(), chosen);
    replug(micPath);
    ASSERT_TRUE(waitUntil([&] { return audio->count() == 2; }, 10000));
    EXPECT_EQ(audio->currentText(), chosen);
    EXPECT_EQ(current(), kDv);
    EXPECT_TRUE(logText().contains(QStringLiteral("Audio source unplugged: ")));
}

} // namespace
} // namespace kad::test
