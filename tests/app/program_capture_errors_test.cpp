// Failures during a capture, seen from the window: a failing encoder brings
// the preview back, says which element failed, keeps the file readable and
// moves on to the next name; a failing sound card leaves the capture going
// and the status bar says so.

#include "app/program_fixture.h"
#include "app/source_selection.h"
#include "support/encoder_fault.h"
#include "ui/sources_panel.h"

#include <QComboBox>
#include <QRadioButton>

#include <atomic>
#include <utility>
#include <vector>

namespace kad::test {
namespace {

class ProgramCaptureErrors : public ProgramTest {
protected:
    std::atomic<bool> failed{false};
};

TEST_F(ProgramCaptureErrors, AFailingEncoderReturnsToThePreviewNamingItAndMovesToTheNextName)
{
    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    ASSERT_EQ(form().State(), CaptureState::csPreview);
    ASSERT_TRUE(waitForPicture());
    // DV recompressed: the picture goes through an encoder.
    program->Parts().SourcesFrame->rgFormat->button(2)->click();
    const QString first = form().CurrentVideoFileName();
    // The files end in the background, as after a stop by hand: the window
    // keeps the capture's state until they are complete.
    std::vector<std::pair<bool, CaptureState>> finishing;
    QObject::connect(&program->Capture(), &TCaptureSession::finishingChanged,
                     [&](bool on) { finishing.emplace_back(on, program->Capture().State()); });

    QTest::keyClick(&form(), Qt::Key_Space);
    ASSERT_EQ(form().State(), CaptureState::csCapturing);
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 20; }));
    const ElementRef encoder = findVideoEncoder(cam().FilterGraph().Graph());
    ASSERT_TRUE(encoder) << "no encoder in the capture";
    const QString encoderName = QString::fromUtf8(GST_OBJECT_NAME(encoder.get()));
    PadRef in(gst_element_get_static_pad(encoder.get(), "sink"));
    ASSERT_TRUE(in);
    gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_BUFFER, failEncoding, &failed, nullptr);

    ASSERT_TRUE(waitUntil([&] { return form().State() == CaptureState::csPreview; }))
        << "the window still shows a capture whose encoder failed";
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const QString told = dialogs.shown.back().text;
    EXPECT_EQ(finishing, (std::vector<std::pair<bool, CaptureState>>{
                             {true, CaptureState::csCapturing}, {false, CaptureState::csPreview}}));
    EXPECT_TRUE(told.contains(encoderName)) << told.toStdString();
    EXPECT_TRUE(told.contains("Could not encode the frame")) << told.toStdString();
    EXPECT_NE(form().CurrentVideoFileName(), first);
    EXPECT_TRUE(form().CurrentVideoFileName().endsWith(QLatin1String("_1.avi")))
        << form().CurrentVideoFileName().toStdString();

    const auto probe = probeVideo(first);
    ASSERT_TRUE(probe.has_value()) << first.toStdString();
    EXPECT_EQ(probe->videoCodec, QStringLiteral("dvvideo"));
    EXPECT_GE(probe->frames, 15);
    EXPECT_TRUE(waitForPicture());
}

TEST_F(ProgramCaptureErrors, AFailingSoundCardKeepsTheCaptureGoingAndTheStatusBarSaysSo)
{
    useDevices("webcam,mic");
    presetFolders();
    start();
    TProgramParts& parts = program->Parts();
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skAnalog);
    parts.SourcesFrame->rgFormat->setItemIndex(0);
    program->Sources().rgFormatClick();
    parts.SourcesFrame->cboxAudioType->setCurrentIndex(parts.SourcesFrame->cboxAudioType->findText(
        QStringLiteral("Add an Audio Source (soundcard)")));
    program->Sources().SourcesFramergaudioChange();
    ASSERT_TRUE(waitForPicture());
    const QString first = form().CurrentVideoFileName();

    QTest::keyClick(&form(), Qt::Key_Space);
    ASSERT_EQ(form().State(), CaptureState::csCapturing);
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 10; }));
    GstElement* mic = cam().FilterGraph().AudioSource.Element();
    ASSERT_NE(mic, nullptr);
    g_object_set(mic, "unplug", TRUE, NULL);

    ASSERT_TRUE(waitUntil([&] { return form().StatusText(1).contains("sound was lost"); }, 10000))
        << form().StatusText(1).toStdString();
    const guint64 atLoss = cam().Capture().CapturedFrames();
    EXPECT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= atLoss + 30; }, 10000))
        << "the picture stopped with the sound";
    EXPECT_EQ(form().State(), CaptureState::csCapturing);
    EXPECT_TRUE(dialogs.shown.empty());

    QTest::keyClick(&form(), Qt::Key_Space);
    ASSERT_TRUE(waitStopped());
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    const auto probe = probeVideo(first);
    ASSERT_TRUE(probe.has_value()) << first.toStdString();
    EXPECT_GE(probe->frames, int(atLoss + 30));
}

} // namespace
} // namespace kad::test
