// Captures from the keyboard: start and stop with the space bar, a cut with
// F7 into a second file (into an existing name only once allowed) and the
// questions before a capture. Files are read back with ffprobe.

#include <QDir>
#include <QFile>

#include "app/capture_control.h"
#include "app/program_fixture.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

class ProgramCapture : public ProgramTest {
protected:
    void startDv(const char* devices = "dv-pal-vcr")
    {
        useDevices(devices);
        presetFolders();
        start();
        ASSERT_EQ(form().State(), CaptureState::csPreview);
        ASSERT_EQ(cam().Source().Kind(), SourceKind::skDV);
        ASSERT_TRUE(waitForPicture());
        ASSERT_TRUE(showActive());
    }

    void key(Qt::Key k) { QTest::keyClick(&form(), k); }

    bool capturingFor(int frames)
    {
        return waitUntil(
            [&] { return cam().Capture().CapturedFrames() >= static_cast<guint64>(frames); });
    }
};

TEST_F(ProgramCapture, SpaceStartsACaptureAndSpaceAgainStopsAndAdvancesTheName)
{
    startDv();
    const QString first = form().CurrentVideoFileName();
    ASSERT_TRUE(first.startsWith(videos)) << first.toStdString();
    ASSERT_TRUE(first.endsWith(QLatin1String("_0.avi")));

    key(Qt::Key_Space);
    ASSERT_EQ(form().State(), CaptureState::csCapturing);
    EXPECT_EQ(form().FrameColour(), kCaptureColour);
    EXPECT_EQ(act(ActionId::acCapturerBascule)->text(), QStringLiteral("Stop Capture"));
    EXPECT_TRUE(act(ActionId::acCouper)->isEnabled());
    EXPECT_TRUE(form().StatusText(1).startsWith(QStringLiteral("Capture: DV type 1 ")));
    ASSERT_TRUE(capturingFor(25));
    // The 50 ms counters.
    EXPECT_TRUE(waitUntil([&] {
        return form().StatusText(2).endsWith(QLatin1String(" captured frames")) &&
               form().StatusText(3).endsWith(QLatin1String(" lost frames"));
    }));

    key(Qt::Key_Space);
    ASSERT_TRUE(waitStopped());
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_EQ(act(ActionId::acCapturerBascule)->text(), QStringLiteral("Capture"));
    EXPECT_FALSE(act(ActionId::acCouper)->isEnabled());
    EXPECT_TRUE(form().CurrentVideoFileName().endsWith(QLatin1String("_1.avi")));

    const auto probe = probeVideo(first);
    ASSERT_TRUE(probe.has_value()) << first.toStdString();
    EXPECT_EQ(probe->videoCodec, QStringLiteral("dvvideo"));
    EXPECT_GE(probe->frames, 25);
    EXPECT_TRUE(waitForPicture());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramCapture, ACutIntoAnExistingFileAsksFirst)
{
    startDv();
    // DV type 2 goes through the muxer's lossless switch.
    program->Parts().SourcesFrame->rgFormat->setItemIndex(1);
    program->Sources().rgFormatClick();
    const QString first = form().CurrentVideoFileName();
    QString next = first;
    next.replace(QLatin1String("_0.avi"), QLatin1String("_1.avi"));
    {
        QFile f(next);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("older clip");
    }
    key(Qt::Key_Space);
    ASSERT_EQ(form().State(), CaptureState::csCapturing);
    ASSERT_TRUE(capturingFor(10));

    dialogs.answer(DialogAnswer::No);
    key(Qt::Key_F7);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, ExistingFileQuestion(next));
    EXPECT_EQ(form().CurrentVideoFileName(), first);
    EXPECT_EQ(form().State(), CaptureState::csCapturing);

    // Asked again, Yes: the cut goes into that name.
    dialogs.answer(DialogAnswer::Yes);
    key(Qt::Key_F7);
    EXPECT_TRUE(waitUntil([&] { return form().CurrentVideoFileName() == next; }));
    ASSERT_TRUE(waitUntil([&] { return !cam().Capture().CaptureSwitchBusy(); }));
    const guint64 atCut = cam().Capture().CapturedFrames();
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= atCut + 10; }));
    key(Qt::Key_Space);
    ASSERT_TRUE(waitStopped());
    EXPECT_TRUE(form().CurrentVideoFileName().endsWith(QLatin1String("_2.avi")));
    for (const QString& file : {first, next}) {
        const auto probe = probeVideo(file);
        ASSERT_TRUE(probe.has_value()) << file.toStdString();
        EXPECT_EQ(probe->videoCodec, QStringLiteral("dvvideo"));
        EXPECT_GT(probe->frames, 5) << file.toStdString();
    }
}

TEST_F(ProgramCapture, AnExistingFileAnsweredNoLeavesThePreviewRunning)
{
    startDv();
    const QString name = form().CurrentVideoFileName();
    {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    dialogs.answer(DialogAnswer::No);
    key(Qt::Key_Space);

    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warningYesNo"));
    EXPECT_EQ(dialogs.shown[0].text, ExistingFileQuestion(name));
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_TRUE(cam().FilterGraph().IsRunning());
    EXPECT_TRUE(waitForPicture());
    QFile kept(name);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("keep me"));
    // The toggle follows the wish whatever the outcome.
    EXPECT_EQ(act(ActionId::acCapturerBascule)->text(), QStringLiteral("Stop Capture"));
}

TEST_F(ProgramCapture, AMissingFolderIsReportedAndNothingIsCaptured)
{
    startDv();
    const QString missing = home.filePath(QStringLiteral("nowhere/deeper"));
    program->Capture().SetVideoFileName(missing + QStringLiteral("/clip.avi"));
    key(Qt::Key_Space);

    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("error"));
    EXPECT_EQ(dialogs.shown[0].text, MissingFolderError(missing + QStringLiteral("/clip.avi")));
    EXPECT_TRUE(dialogs.shown[0].text.contains(missing));
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_FALSE(QDir(missing).exists());
}

} // namespace
} // namespace kad::test
