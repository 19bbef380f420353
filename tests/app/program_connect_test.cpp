// Connecting a video source that takes its time to open: the window keeps
// running meanwhile, what needs a source waits for it, a later choice wins
// over one still opening, and a device that cannot open gives way to the
// next one.

#include <QPushButton>
#include <QTimer>

#include "app/program_fixture.h"
#include "system/texts.h"
#include "virtual/virtual_src.h"

namespace kad::test {
namespace {

const QString kDv = QStringLiteral("Virtual DV Camcorder (PAL)");
const QString kWebcam = QStringLiteral("Virtual Webcam");
constexpr const char* kDvPath = "/virtual/kadrillo/dv-pal-vcr/0";
constexpr const char* kWebcamPath = "/virtual/kadrillo/webcam/0";

class ProgramConnect : public ProgramTest {
protected:
    void TearDown() override
    {
        ProgramTest::TearDown();
        setVirtualDeviceOpening(kDvPath, 0, false);
        setVirtualDeviceOpening(kWebcamPath, 0, false);
    }

    // Chooses a source in the Sources panel without waiting for it.
    void chooseVideo(const QString& name)
    {
        const int index = sourcesPanel().cboxvideo->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        sourcesPanel().cboxvideo->setCurrentIndex(index);
        program->Sources().cboxVideoChange();
    }
};

TEST_F(ProgramConnect, ASlowSourceOpensWhileTheWindowRunsAndWaitsToBeUsed)
{
    ASSERT_TRUE(startPreviewing("dv-pal-vcr,webcam"));
    QAction* capture = act(ActionId::acCapturerBascule);
    QAction* grab = act(ActionId::acGrab);
    ASSERT_TRUE(capture->isEnabled());
    const QString captureHint = capture->toolTip();
    const QString grabHint = grab->toolTip();

    setVirtualDeviceOpening(kWebcamPath, 700, false);
    const auto ticks = countTicksWhileConnecting();
    chooseVideo(kWebcam);

    // Half connected: nothing may preview, capture or grab from it, and the
    // hint says why.
    ASSERT_TRUE(program->Sources().Connecting());
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skNoVideo);
    EXPECT_FALSE(cam().FilterGraph().VideoSource.InGraph());
    for (QAction* a : {capture, grab, act(ActionId::acCapturer)}) {
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
        EXPECT_EQ(a->toolTip(), Text(TextId::ConnectingToSource)) << a->objectName().toStdString();
    }
    EXPECT_FALSE(form().grabBtn->isEnabled());
    // The user can still choose: the window follows its own events.
    capture->trigger();
    EXPECT_NE(form().State(), CaptureState::csCapturing);

    ASSERT_TRUE(waitConnected());
    EXPECT_GT(ticks->count, 3) << "the GUI thread stood still while the device opened";
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skAnalog);
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_TRUE(capture->isEnabled());
    EXPECT_TRUE(grab->isEnabled());
    EXPECT_EQ(capture->toolTip(), captureHint);
    EXPECT_EQ(grab->toolTip(), grabHint);
    EXPECT_TRUE(waitForPicture()) << "the webcam's preview shows nothing";
}

TEST_F(ProgramConnect, ALaterChoiceWinsOverASourceStillOpening)
{
    ASSERT_TRUE(startPreviewing("dv-pal-vcr,webcam"));
    const std::size_t shown = dialogs.shown.size();
    setVirtualDeviceOpening(kWebcamPath, 600, false);
    chooseVideo(kWebcam);
    ASSERT_TRUE(program->Sources().Connecting());
    chooseVideo(kDv);
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skDV);
    GstElement* source = cam().FilterGraph().VideoSource.Element();
    ASSERT_NE(source, nullptr);

    // The webcam's opening ends after the DV's: it must change nothing.
    pump(900);
    EXPECT_FALSE(program->Sources().Connecting());
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skDV);
    EXPECT_EQ(cam().FilterGraph().VideoSource.Element(), source);
    EXPECT_EQ(sourcesPanel().cboxvideo->currentText(), kDv);
    EXPECT_TRUE(form().windowTitle().endsWith(kDv)) << form().windowTitle().toStdString();
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_TRUE(waitForPicture()) << "the DV preview shows nothing";
    EXPECT_EQ(dialogs.shown.size(), shown);
}

TEST_F(ProgramConnect, ADeviceThatCannotOpenLeavesTheListAndTheNextIsConnected)
{
    // At the start: the first device fails to open, the second previews.
    setVirtualDeviceOpening(kDvPath, 200, true);
    ASSERT_TRUE(startPreviewing("dv-pal-vcr,webcam"));
    EXPECT_EQ(sourcesPanel().cboxvideo->findText(kDv), -1);
    EXPECT_EQ(sourcesPanel().cboxvideo->currentText(), kWebcam);
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skAnalog);
    EXPECT_TRUE(act(ActionId::acCapturerBascule)->isEnabled());

    // Chosen later: the same, back to the first of the list.
    setVirtualDeviceOpening(kDvPath, 0, false);
    program->Sources().ActualiserVideoBtnClick();
    ASSERT_TRUE(waitConnected());
    ASSERT_GE(sourcesPanel().cboxvideo->findText(kDv), 0) << "a refresh lists the device again";
    setVirtualDeviceOpening(kWebcamPath, 200, true);
    chooseVideo(kWebcam);
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(sourcesPanel().cboxvideo->findText(kWebcam), -1);
    EXPECT_EQ(sourcesPanel().cboxvideo->currentText(), kDv);
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skDV);
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_TRUE(waitForPicture()) << "the next device's preview shows nothing";
}

} // namespace
} // namespace kad::test
