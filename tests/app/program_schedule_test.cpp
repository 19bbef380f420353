// The schedule panel and the intervalometer through the whole program with
// the virtual PAL camcorder: a capture armed a few seconds ahead starts and
// ends by itself (the file read back with ffprobe), the arming refusals, and
// the intervalometer storing images (read back with Qt's image reader) while
// the window's texts follow.

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>

#include "app/program_fixture.h"
#include "app/schedule_binding.h"
#include "session/schedule.h"
#include "session/stills.h"
#include "ui/grab_panel.h"
#include "ui/options_panel.h"
#include "ui/schedule_panel.h"
#include "ui/status_bar.h"

namespace kad::test {
namespace {

class ProgramSchedule : public ProgramTest {
protected:
    void startDv(bool live)
    {
        // Timing matters for a schedule: the camcorder runs at its own pace.
        if (live) env.push_back(std::make_unique<ScopedEnv>("KADRILLO_VIRTUAL_LIVE", "1"));
        useDevices("dv-pal-vcr");
        presetFolders();
        start();
        ASSERT_EQ(form().State(), CaptureState::csPreview);
        ASSERT_TRUE(waitForPicture());
    }

    TProgrammerFrame& panel() { return *program->Parts().ProgrammerFrame1; }
    TExtraireFrame& grab() { return *program->Parts().ExtraireFrame1; }

    void setStart(const QDateTime& m)
    {
        panel().DateEdit1->setDate(m.date());
        panel().RxSpinEdit1->setValue(m.time().hour());
        panel().RxSpinEdit2->setValue(m.time().minute());
        panel().RxSpinEdit3->setValue(m.time().second());
    }
    void setEnd(const QDateTime& m)
    {
        panel().DateEdit2->setDate(m.date());
        panel().RxSpinEdit4->setValue(m.time().hour());
        panel().RxSpinEdit5->setValue(m.time().minute());
        panel().RxSpinEdit6->setValue(m.time().second());
    }

    QStringList storedImages() const
    {
        return QDir(images).entryList({QStringLiteral("*.bmp"), QStringLiteral("*.jpg")},
                                      QDir::Files, QDir::Name);
    }
};

QString hms(const QDateTime& m)
{
    return m.time().toString(QStringLiteral("HH:mm:ss"));
}

TEST_F(ProgramSchedule, ACaptureArmedAFewSecondsAheadStartsAndEndsByItself)
{
    startDv(true);
    act(ActionId::acProgrammerFrame)->trigger();
    ASSERT_EQ(form().ActivePanel(), piProgrammer);

    // Whole seconds, with room for the start not to fall into the past
    // while the fields are being set.
    QDateTime now = QDateTime::currentDateTime();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    const QDateTime startAt = now.addSecs(3);
    const QDateTime endAt = startAt.addSecs(3);
    setStart(startAt);
    setEnd(endAt);
    const QString file = form().CurrentVideoFileName();

    panel().ProgBtn->click();
    ASSERT_EQ(form().State(), CaptureState::csScheduled) << dialogs.shown.size();
    EXPECT_EQ(form().FrameColour(), kScheduledColour);
    EXPECT_EQ(form().StatusText(1), QStringLiteral("Schedule"));
    EXPECT_EQ(form().StatusText(3), QStringLiteral("Start at ") + hms(startAt));
    EXPECT_FALSE(act(ActionId::acProgrammer)->isVisible());
    EXPECT_TRUE(act(ActionId::acStopProg)->isVisible());
    EXPECT_TRUE(panel().StopprogBtn->isVisibleTo(&panel()));
    EXPECT_FALSE(panel().ProgBtn->isVisibleTo(&panel()));
    EXPECT_FALSE(QFileInfo::exists(file));

    ASSERT_TRUE(
        waitUntil([&] { return form().State() == CaptureState::csScheduledCapture; }, 15000));
    EXPECT_EQ(form().FrameColour(), kScheduledCaptureColour);
    EXPECT_EQ(form().StatusText(1), QStringLiteral("Capture until ") + hms(endAt));
    EXPECT_EQ(act(ActionId::acCapturerBascule)->text(), QStringLiteral("Stop Capture"));
    EXPECT_TRUE(act(ActionId::acCouper)->isEnabled());
    EXPECT_FALSE(panel().gbDebut->isVisibleTo(&panel()));
    EXPECT_FALSE(panel().NowBtn->isVisibleTo(&panel()));
    EXPECT_GE(QDateTime::currentDateTime(), startAt);

    ASSERT_TRUE(waitUntil([&] { return form().State() == CaptureState::csPreview; }, 15000));
    EXPECT_GE(QDateTime::currentDateTime(), endAt);
    EXPECT_EQ(act(ActionId::acCapturerBascule)->text(), QStringLiteral("Capture"));
    EXPECT_FALSE(act(ActionId::acCapturerBascule)->isChecked());
    EXPECT_TRUE(act(ActionId::acProgrammer)->isVisible());
    EXPECT_FALSE(act(ActionId::acStopProg)->isVisible());
    EXPECT_FALSE(act(ActionId::acCouper)->isEnabled());
    EXPECT_TRUE(panel().gbDebut->isVisibleTo(&panel()));
    EXPECT_TRUE(panel().NowBtn->isVisibleTo(&panel()));
    EXPECT_NE(form().CurrentVideoFileName(), file);
    EXPECT_FALSE(program->Schedule().Schedule().Alarm().Enabled());

    // About three seconds of 25 frames a second.
    const auto probe = probeVideo(file);
    ASSERT_TRUE(probe.has_value()) << file.toStdString();
    EXPECT_EQ(probe->videoCodec, QStringLiteral("dvvideo"));
    EXPECT_GE(probe->frames, 25);
    EXPECT_LE(probe->frames, 200);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(waitForPicture());
}

// A scheduled capture of a tape with one recording a second, split at each
// recording: its files take the numbers in order, and the name left for the
// next capture comes after the last of them, known only once the files are
// finished. As for a capture in one file, the stop names the next file and
// the schedule's end then takes one more.
TEST_F(ProgramSchedule, ASplitCaptureEndedByTheScheduleLeavesANameAfterItsLastFile)
{
    startDv(true);
    program->Parts().OptionsFrame->cbSplitRecordings->click();
    g_object_set(cam().FilterGraph().VideoSource.Element(), "scene-length", 1u, NULL);
    act(ActionId::acProgrammerFrame)->trigger();
    QDateTime now = QDateTime::currentDateTime();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    const QDateTime startAt = now.addSecs(2);
    setStart(startAt);
    setEnd(startAt.addSecs(3));
    const QString first = form().CurrentVideoFileName();
    ASSERT_TRUE(first.endsWith(QLatin1String("_0.avi"))) << first.toStdString();
    const QString stem = first.left(first.size() - 5);

    panel().ProgBtn->click();
    ASSERT_TRUE(
        waitUntil([&] { return form().State() == CaptureState::csScheduledCapture; }, 15000));
    ASSERT_TRUE(waitUntil([&] { return form().State() == CaptureState::csPreview; }, 15000));
    EXPECT_FALSE(program->Capture().Finishing());

    const QStringList files =
        QDir(videos).entryList({QStringLiteral("*.avi")}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 2) << files.join(u',').toStdString();
    for (int k = 0; k < files.size(); ++k) {
        const QString path = QDir(videos).filePath(files[k]);
        EXPECT_EQ(path, stem + QString("%1.avi").arg(k));
        const auto probe = probeVideo(path);
        ASSERT_TRUE(probe.has_value()) << files[k].toStdString();
        EXPECT_GT(probe->frames, 0);
    }
    EXPECT_EQ(form().CurrentVideoFileName(), stem + QString("%1.avi").arg(files.size() + 1));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramSchedule, ArmingRefusalsAndDisarmingLeaveThePreview)
{
    startDv(false);
    act(ActionId::acProgrammerFrame)->trigger();
    const QDateTime now = QDateTime::currentDateTime();

    setStart(now.addSecs(-120));
    setEnd(now.addSecs(3600));
    act(ActionId::acProgrammer)->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "error");
    EXPECT_EQ(dialogs.shown[0].text, StartInPastMessage());
    EXPECT_EQ(form().State(), CaptureState::csPreview);

    setStart(now.addSecs(3600));
    setEnd(now.addSecs(1800));
    act(ActionId::acProgrammer)->trigger();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, EndNotAfterStartMessage());
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_TRUE(act(ActionId::acProgrammer)->isVisible());

    // NowBtn copies the start into the end.
    panel().NowBtn->click();
    EXPECT_EQ(panel().EndMoment(), panel().StartMoment());

    // Armed an hour ahead, then disarmed: back to the preview.
    setEnd(now.addSecs(7200));
    act(ActionId::acProgrammer)->trigger();
    ASSERT_EQ(form().State(), CaptureState::csScheduled);
    act(ActionId::acStopProg)->trigger();
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_TRUE(act(ActionId::acProgrammer)->isVisible());
    EXPECT_FALSE(act(ActionId::acStopProg)->isVisible());
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_TRUE(waitForPicture());
}

TEST_F(ProgramSchedule, TheIntervalometerStoresImagesAndTheWindowFollows)
{
    startDv(false);
    const int panelBefore = form().ActivePanel();
    TExtraireFrame& g = grab();
    const QString idle = form().StatusText(0);
    EXPECT_EQ(idle, QStringLiteral("Intervalometer Off"));

    // A value of 0 starts nothing.
    g.RxSpinEdit7->setValue(0);
    g.RxSwitch1->click();
    EXPECT_EQ(form().StatusText(0), idle);
    EXPECT_FALSE(g.chronoLab->isVisibleTo(&g));
    g.RxSwitch1->click();
    ASSERT_FALSE(g.RxSwitch1->isChecked());

    // Longer than a timer can count: refused with a message.
    g.RxSpinEdit7->setValue(597);
    g.cbUnites->setCurrentIndex(int(IntervalUnit::Hours));
    g.RxSwitch1->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "error");
    EXPECT_FALSE(g.RxSwitch1->isChecked());
    EXPECT_EQ(form().StatusText(0), idle);
    EXPECT_FALSE(program->Schedule().Intervalometer().Running());

    // Five frames of the PAL camcorder: an image every 200 ms, beeps on.
    g.RxSpinEdit7->setValue(5);
    g.cbUnites->setCurrentIndex(int(IntervalUnit::Frames));
    g.cbBeeps->setChecked(true);
    const QColor normal = form().StatusBar1->palette().color(QPalette::Window);
    g.RxSwitch1->click();
    ASSERT_TRUE(program->Schedule().Intervalometer().Running());
    EXPECT_EQ(program->Schedule().Intervalometer().PeriodMs(), 200);
    EXPECT_EQ(form().StatusText(0), QStringLiteral("1 image every 5 frames"));
    EXPECT_EQ(form().StatusBar1->palette().color(QPalette::Window), QColor(0, 255, 0));
    EXPECT_TRUE(g.chronoLab->isVisibleTo(&g));
    EXPECT_FALSE(g.RxSpinEdit7->isEnabled());
    EXPECT_FALSE(g.cbUnites->isEnabled());

    ASSERT_TRUE(waitUntil([&] { return storedImages().size() >= 3; }, 15000));
    EXPECT_EQ(g.chronoLab->text(), QStringLiteral("0"));
    g.RxSwitch1->click();
    EXPECT_FALSE(program->Schedule().Intervalometer().Running());
    EXPECT_EQ(form().StatusText(0), idle);
    EXPECT_EQ(form().StatusBar1->palette().color(QPalette::Window), normal);
    EXPECT_FALSE(g.chronoLab->isVisibleTo(&g));
    EXPECT_TRUE(g.RxSpinEdit7->isEnabled());
    EXPECT_TRUE(g.cbUnites->isEnabled());
    // The intervalometer's grabs leave the active panel alone.
    EXPECT_EQ(form().ActivePanel(), panelBefore);

    ASSERT_TRUE(waitUntil([&] { return program->Stills().Pending() == 0; }, 10000));
    const QStringList stored = storedImages();
    pump(600);
    EXPECT_EQ(storedImages(), stored);
    for (const QString& name : stored) {
        QImageReader reader(QDir(images).filePath(name));
        EXPECT_EQ(reader.format(), QByteArray("bmp")) << name.toStdString();
        const QImage image = reader.read();
        EXPECT_FALSE(image.isNull()) << name.toStdString();
        EXPECT_EQ(image.size(), QSize(720, 540)) << name.toStdString();
    }
    EXPECT_EQ(program->Schedule().SnapshotsWritten(), stored.size());
    // The next grab goes on from the last stored name.
    EXPECT_FALSE(QFileInfo::exists(program->Parts().NextImageFileName));
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

} // namespace
} // namespace kad::test
