// A cut asked for while no frame comes from the source (a stopped tape)
// through the whole program: it never holds the window, it is given up with
// a word to the user, the window never names a file that is not made, and
// the run's numbering skips nothing.

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>

#include "app/capture_control.h"
#include "app/program_fixture.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

class ProgramCutStall : public ProgramTest {
protected:
    void TearDown() override
    {
        flow();
        ProgramTest::TearDown();
    }

    // No frame leaves the source from now on, as when the tape stops.
    void stall()
    {
        GstElement* source = cam().FilterGraph().VideoSource.Element();
        ASSERT_NE(source, nullptr);
        sourcePad_.reset(gst_element_get_static_pad(source, "src"));
        ASSERT_TRUE(sourcePad_);
        stallProbe_ = gst_pad_add_probe(
            sourcePad_.get(), GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_DROP; }, nullptr,
            nullptr);
    }

    void flow()
    {
        if (sourcePad_ && stallProbe_) gst_pad_remove_probe(sourcePad_.get(), stallProbe_);
        stallProbe_ = 0;
        sourcePad_.reset();
    }

    QString shownName() const { return program->Parts().SourcesFrame->LabelVideo->text(); }

    PadRef sourcePad_;
    gulong stallProbe_ = 0;
};

TEST_F(ProgramCutStall, ACutWithoutFramesIsGivenUpAndTheNextOneWorks)
{
    // A live camcorder, as a tape is: the frames after the stop come in
    // time, not all at once.
    env.push_back(std::make_unique<ScopedEnv>("KADRILLO_VIRTUAL_LIVE", "1"));
    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skDV);
    ASSERT_TRUE(waitForPicture());
    TSourcesFrame& panel = *program->Parts().SourcesFrame;
    std::vector<int> formats{0, 1};
    if (cam().FilterGraph().Presence().WmvAvailable) formats.push_back(3);
    for (int format : formats) {
        SCOPED_TRACE("format " + std::to_string(format));
        panel.rgFormat->setItemIndex(format);
        program->Sources().rgFormatClick();
        ASSERT_TRUE(waitForPicture());
        const QString first = form().CurrentVideoFileName();
        act(ActionId::acCapturerBascule)->trigger();
        ASSERT_EQ(form().State(), CaptureState::csCapturing);
        ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 15; }));

        ASSERT_NO_FATAL_FAILURE(stall());
        pump(200);
        QElapsedTimer held;
        held.start();
        act(ActionId::acCouper)->trigger();
        EXPECT_LT(held.elapsed(), 1000) << "the cut held the window";
        const QString asked = program->Capture().PendingCut();
        ASSERT_FALSE(asked.isEmpty());
        EXPECT_EQ(form().CurrentVideoFileName(), first);
        EXPECT_EQ(shownName(), QFileInfo(first).fileName());

        // Given up in its own time, said in the status bar; the window keeps
        // the file it writes.
        ASSERT_TRUE(waitUntil([&] { return program->Capture().PendingCut().isEmpty(); },
                              TCaptureSession::kCutWaitMs + 5000));
        EXPECT_TRUE(form().StatusText(1).contains(QStringLiteral("was given up")))
            << form().StatusText(1).toStdString();
        EXPECT_EQ(form().CurrentVideoFileName(), first);
        EXPECT_EQ(shownName(), QFileInfo(first).fileName());
        EXPECT_FALSE(cam().Capture().CaptureSwitchBusy());

        // Frames again: nothing lands in the given-up name by itself, and
        // the next cut takes that very name.
        flow();
        const guint64 before = cam().Capture().CapturedFrames();
        ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= before + 10; }));
        EXPECT_FALSE(QFileInfo::exists(asked)) << asked.toStdString();
        act(ActionId::acCouper)->trigger();
        EXPECT_EQ(program->Capture().PendingCut(), asked);
        ASSERT_TRUE(waitUntil([&] { return form().CurrentVideoFileName() == asked; }));
        EXPECT_EQ(shownName(), QFileInfo(asked).fileName());
        const guint64 atCut = cam().Capture().CapturedFrames();
        ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= atCut + 10; }));

        // A cut still waiting when the capture stops is not made either:
        // its name is the next capture's.
        ASSERT_NO_FATAL_FAILURE(stall());
        pump(200);
        act(ActionId::acCouper)->trigger();
        const QString dropped = program->Capture().PendingCut();
        ASSERT_FALSE(dropped.isEmpty());
        act(ActionId::acCapturerBascule)->trigger();
        flow();
        ASSERT_TRUE(waitStopped());
        EXPECT_EQ(form().State(), CaptureState::csPreview);
        EXPECT_EQ(form().CurrentVideoFileName(), dropped);
        EXPECT_EQ(shownName(), QFileInfo(dropped).fileName());
        pump(300);
        EXPECT_FALSE(QFileInfo::exists(dropped)) << dropped.toStdString();

        for (const QString& made : {first, asked}) {
            const auto read = probeVideo(made);
            ASSERT_TRUE(read.has_value()) << made.toStdString();
            EXPECT_GT(read->frames, 5) << made.toStdString();
        }
    }
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text.toStdString();
}

} // namespace
} // namespace kad::test
