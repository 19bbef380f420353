// The capture session over the data module and the virtual DV camcorder,
// driven as the window drives it: no window, no panels.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <gst/gst.h>
#include <sys/mount.h>

#include <algorithm>
#include <vector>

#include "graph/dm_cam.h"
#include "session/capture_session.h"
#include "settings/naming.h"
#include "support/fake_dialogs.h"
#include "support/probe.h"
#include "support/wait.h"

namespace kad::test {
namespace {

using kadtest::waitUntil;

class CaptureSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        cam.FilterGraph().CheckOptionalFilters();
        GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
        g_object_set(display, "sync", FALSE, "async", FALSE, NULL);
        cam.FilterGraph().SetVideoWindow(display);
        GstElement* camcorder = gst_element_factory_make("kadvirtualdvsrc", nullptr);
        ASSERT_NE(camcorder, nullptr);
        g_object_set(camcorder, "is-live", TRUE, NULL);
        ASSERT_TRUE(cam.Source().ConnectSourceElement("Virtual", camcorder));
        // What the program's panels fill before each build.
        QObject::connect(&session, &TCaptureSession::graphOptionsWanted,
                         [this] { ++optionRequests; });
        QObject::connect(&session, &TCaptureSession::captureOptionsWanted, [this] {
            TCaptureChoices choices;
            choices.FormatName = QStringLiteral("DV type 1");
            choices.SplitAtRecording = splitAtRecording;
            session.SetChoices(choices);
        });
    }

    // The preview, as the window enters it at start.
    bool previewing()
    {
        if (!session.StartPreview()) return false;
        session.SetState(CaptureState::csPreview);
        return session.State() == CaptureState::csPreview;
    }

    FakeDialogs dialogs;
    QTemporaryDir dir;
    TdmCam cam;
    TCaptureSession session{cam};
    int optionRequests = 0;
    bool splitAtRecording = false;
};

// Numbered names in the test's folder, without the run's date, for as long
// as it lives.
struct VideosNamedIn {
    explicit VideosNamedIn(const QString& folder) : saved(Naming())
    {
        NamingState n;
        n.videoDirectory = folder;
        n.videoDate = false;
        Naming() = n;
    }
    ~VideosNamedIn() { Naming() = saved; }
    VideosNamedIn(const VideosNamedIn&) = delete;
    VideosNamedIn& operator=(const VideosNamedIn&) = delete;
    NamingState saved;
};

// The numbers of the numbered videos in folder, in order.
std::vector<int> videoNumbers(const QString& folder)
{
    std::vector<int> numbers;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("Video_*.avi")}, QDir::Files))
        numbers.push_back(name.mid(6, name.size() - 10).toInt());
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// The virtual camcorder's tape holds one recording a second; each capture
// into Video_<n>.avi splits into the next numbers, and the names that follow a
// stop must come after every file written, even though the last of them is
// known only once the writer has finished. The stop never waits for that.
TEST_F(CaptureSessionTest, ASplitCaptureStopsAtOnceAndItsNextNameFollowsItsLastFile)
{
    const VideosNamedIn named(dir.path());
    splitAtRecording = true;
    ASSERT_TRUE(previewing());
    g_object_set(cam.FilterGraph().VideoSource.Element(), "scene-length", 1u, NULL);
    QStringList names;
    QObject::connect(&session, &TCaptureSession::nameAfterCapture,
                     [&](const QString& name) { names << name; });
    int finishedSignals = 0;
    QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFinished, [&] { ++finishedSignals; });

    // Stopped by the user, then stopped as the schedule's end stops it (the
    // stop, then its own advance of the name while the last file is not
    // known yet).
    QString next = NextVideoName();
    for (const bool scheduled : {false, true}) {
        SCOPED_TRACE(scheduled ? "the schedule's end" : "the user's stop");
        names.clear();
        const int finishedBefore = finishedSignals;
        ASSERT_TRUE(session.StartCapture(next));
        const QString first = session.CurrentFile();
        const QString stem = QFileInfo(first).completeBaseName();
        const int firstNumber = stem.mid(stem.lastIndexOf(u'_') + 1).toInt();
        ASSERT_TRUE(waitUntil(
            [&] { return cam.Capture().CapturedFrames() >= 70 && session.CurrentFile() != first; },
            20000));

        session.StopCapture();
        EXPECT_TRUE(session.Finishing());
        EXPECT_EQ(session.State(), CaptureState::csCapturing);
        EXPECT_EQ(finishedSignals, finishedBefore);
        if (scheduled) {
            EXPECT_TRUE(session.AdvanceNameAfterFinish());
        }
        ASSERT_TRUE(waitUntil([&] { return !session.Finishing(); }, 15000));
        EXPECT_EQ(session.State(), CaptureState::csPreview);
        EXPECT_FALSE(session.AdvanceNameAfterFinish());

        const std::vector<int> numbers = videoNumbers(dir.path());
        ASSERT_GE(numbers.size(), 2u);
        // No number is missing between the files.
        EXPECT_EQ(numbers.back() - numbers.front() + 1, int(numbers.size()));
        ASSERT_EQ(names.size(), 1);
        // The stop's name is the one after the last file; the schedule then
        // takes one more, as it does for a capture that never splits.
        const int expected = numbers.back() + (scheduled ? 2 : 1);
        EXPECT_EQ(QFileInfo(names[0]).fileName(), QStringLiteral("Video_%1.avi").arg(expected));
        EXPECT_FALSE(QFile::exists(names[0]));
        qint64 frames = 0;
        for (const int k : numbers) {
            if (k < firstNumber) continue;
            const QString file = dir.filePath(QStringLiteral("Video_%1.avi").arg(k));
            const kadtest::Probe p = kadtest::ffprobe(file.toStdString(), true);
            ASSERT_TRUE(p.ok) << file.toStdString() << ": " << p.error;
            ASSERT_NE(p.first("video"), nullptr);
            frames += p.first("video")->frames;
        }
        EXPECT_EQ(frames, qint64(cam.Capture().CapturedFrames()));
        // The next capture takes the name offered.
        next = names[0];
    }
    EXPECT_TRUE(dialogs.shown.empty());
}

// A disk that fills up ends the capture by itself: the message is shown once,
// the files are finished in the background while the state stays the
// capture's, then the preview comes back with a file every reader takes.
TEST_F(CaptureSessionTest, AFullDiskEndsInThePreviewWithAReadableFile)
{
    const QString disk = dir.filePath(QStringLiteral("disk"));
    QDir().mkpath(disk);
    if (mount("tmpfs", disk.toUtf8().constData(), "tmpfs", 0, "size=24m") != 0)
        GTEST_SKIP() << "cannot mount a small disk here";
    struct Unmount {
        QString path;
        TCaptureSession& session;
        ~Unmount()
        {
            session.StopGraph();
            umount2(path.toUtf8().constData(), MNT_DETACH);
        }
    } unmount{disk, session};
    cam.Capture().SetDiskReserveBytes(12 * 1024 * 1024);
    ASSERT_TRUE(previewing());

    // As the window does: a capture that ended by itself is stopped as if by
    // hand.
    bool finishingAtStop = false;
    CaptureState stateAtStop = CaptureState::csIdle;
    int endedByItself = 0;
    QObject::connect(&session, &TCaptureSession::captureEndedByItself, [&] {
        ++endedByItself;
        session.StopCapture();
        finishingAtStop = session.Finishing();
        stateAtStop = session.State();
    });
    bool complete = false;
    QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFinished,
                     [&](const QString&, bool whole) { complete = whole; });
    const QString file = disk + QStringLiteral("/full.avi");
    // What ffprobe read of the file when the preview came back.
    kadtest::Probe atPreview;
    bool finishingAtPreview = true;
    QObject::connect(&session, &TCaptureSession::stateChanged, [&](CaptureState s) {
        if (s != CaptureState::csPreview) return;
        finishingAtPreview = cam.Capture().CaptureFinishing();
        atPreview = kadtest::ffprobe(file.toStdString(), true);
    });

    ASSERT_TRUE(session.StartCapture(file));
    ASSERT_TRUE(waitUntil([&] { return endedByItself > 0; }, 20000));
    EXPECT_TRUE(finishingAtStop);
    EXPECT_EQ(stateAtStop, CaptureState::csCapturing);
    ASSERT_TRUE(waitUntil([&] { return session.State() == CaptureState::csPreview; }, 15000));
    EXPECT_FALSE(session.Finishing());
    EXPECT_FALSE(finishingAtPreview);
    EXPECT_TRUE(complete);
    EXPECT_TRUE(session.PreviewBuilt());
    EXPECT_EQ(endedByItself, 1);

    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "error");
    EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("full")))
        << dialogs.shown[0].text.toStdString();
    ASSERT_TRUE(atPreview.ok) << atPreview.error;
    const kadtest::ProbeStream* video = atPreview.first("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->codec, "dvvideo");
    EXPECT_GT(video->frames, 25);
    EXPECT_EQ(video->frames, qint64(cam.Capture().CapturedFrames()));
}

TEST_F(CaptureSessionTest, StopFinishesTheFileBeforeThePreviewComesBack)
{
    ASSERT_TRUE(previewing());
    EXPECT_GE(optionRequests, 1);
    const QString file = dir.filePath(QStringLiteral("clip_0.avi"));

    std::vector<CaptureState> states;
    std::vector<bool> finishing;
    QStringList names;
    QObject::connect(&session, &TCaptureSession::nameAfterCapture,
                     [&](const QString& name) { names << name; });
    // What ffprobe read of the file when the state left the capture.
    kadtest::Probe atPreview;
    QObject::connect(&session, &TCaptureSession::stateChanged, [&](CaptureState s) {
        states.push_back(s);
        if (s != CaptureState::csPreview) return;
        // The next capture's name is known before the preview is shown.
        EXPECT_EQ(names.size(), 1u);
        atPreview = kadtest::ffprobe(file.toStdString(), true);
    });
    QObject::connect(&session, &TCaptureSession::finishingChanged,
                     [&](bool on) { finishing.push_back(on); });

    ASSERT_TRUE(session.StartCapture(file));
    EXPECT_EQ(states, std::vector<CaptureState>{CaptureState::csCapturing});
    EXPECT_EQ(session.CurrentFile(), file);
    ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= 25; }, 20000));
    ASSERT_TRUE(session.FrameCounters().has_value());

    bool finishedSignal = false;
    QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFinished,
                     [&](const QString&, bool complete) {
                         EXPECT_TRUE(complete);
                         finishedSignal = true;
                     });

    session.StopCapture();
    // Until the files are complete the state stays the capture's and nothing
    // else may start or cut.
    EXPECT_TRUE(session.Finishing());
    EXPECT_EQ(session.State(), CaptureState::csCapturing);
    EXPECT_EQ(finishing, std::vector<bool>{true});
    EXPECT_FALSE(session.Cut());
    EXPECT_FALSE(session.StartCapture(dir.filePath(QStringLiteral("clip_1.avi"))));
    EXPECT_FALSE(finishedSignal);

    ASSERT_TRUE(waitUntil([&] { return !session.Finishing(); }, 15000));
    EXPECT_TRUE(finishedSignal);
    EXPECT_EQ(finishing, (std::vector<bool>{true, false}));
    EXPECT_EQ(states,
              (std::vector<CaptureState>{CaptureState::csCapturing, CaptureState::csPreview}));
    EXPECT_EQ(session.State(), CaptureState::csPreview);
    EXPECT_TRUE(session.PreviewBuilt());
    EXPECT_FALSE(session.FrameCounters().has_value());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("clip_1.avi"))));
    ASSERT_EQ(names.size(), 1u);
    EXPECT_NE(names[0], file);

    // The file was whole by the time the preview came back.
    ASSERT_TRUE(atPreview.ok) << atPreview.error;
    const kadtest::ProbeStream* video = atPreview.first("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->codec, "dvvideo");
    EXPECT_GE(video->frames, 25);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(CaptureSessionTest, TargetChecksAskBeforeTheGraphIsTouched)
{
    ASSERT_TRUE(previewing());
    // A file of that name: the user is asked and declines.
    const QString taken = dir.filePath(QStringLiteral("taken.avi"));
    {
        QFile f(taken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    dialogs.answer(DialogAnswer::No);
    EXPECT_FALSE(session.StartCapture(taken));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, ExistingFileQuestion(taken));
    EXPECT_EQ(QFileInfo(taken).size(), 7);

    // A folder that is not there.
    const QString lost = dir.filePath(QStringLiteral("nowhere/clip.avi"));
    EXPECT_FALSE(session.StartCapture(lost));
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].kind, "error");
    EXPECT_EQ(dialogs.shown[1].text, MissingFolderError(lost));

    EXPECT_EQ(session.State(), CaptureState::csPreview);
    EXPECT_FALSE(cam.Capture().Capturing());
    // Stopping with nothing to finish is the preview again at once.
    session.StopCapture();
    EXPECT_FALSE(session.Finishing());
    EXPECT_EQ(session.State(), CaptureState::csPreview);
}

} // namespace
} // namespace kad::test
