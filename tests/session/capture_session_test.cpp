// The capture session over the data module and the virtual DV camcorder,
// driven as the window drives it: no window, no panels.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <gst/gst.h>

#include <vector>

#include "graph/dm_cam.h"
#include "session/capture_session.h"
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
        cam.CheckOptionalFilters();
        GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
        g_object_set(display, "sync", FALSE, "async", FALSE, NULL);
        cam.SetVideoWindow(display);
        GstElement* camcorder = gst_element_factory_make("kadvirtualdvsrc", nullptr);
        ASSERT_NE(camcorder, nullptr);
        g_object_set(camcorder, "is-live", TRUE, NULL);
        ASSERT_TRUE(cam.ConnectSourceElement("Virtual", camcorder));
        // What the program's panels fill before each build.
        QObject::connect(&session, &TCaptureSession::graphOptionsWanted,
                         [this] { ++optionRequests; });
        QObject::connect(&session, &TCaptureSession::captureOptionsWanted, [this] {
            TCaptureChoices choices;
            choices.FormatName = QStringLiteral("DV type 1");
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
};

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
    ASSERT_TRUE(waitUntil([&] { return cam.CapturedFrames() >= 25; }, 20000));
    ASSERT_TRUE(session.FrameCounters().has_value());

    bool finishedSignal = false;
    QObject::connect(&cam, &TdmCam::CaptureFinished, [&](const QString&, bool complete) {
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
    EXPECT_FALSE(cam.Capturing());
    // Stopping with nothing to finish is the preview again at once.
    session.StopCapture();
    EXPECT_FALSE(session.Finishing());
    EXPECT_EQ(session.State(), CaptureState::csPreview);
}

} // namespace
} // namespace kad::test
