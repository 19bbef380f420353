// The MovieBox start-up step through the whole program with the virtual
// MovieBox: choosing it shows the instructions and the priming dialog modal
// to them only, the preview waits behind the dialog and comes back when it
// closes, and the step comes back only after a refresh or a lost device.
// Its graph, made anew at every stop, reconnects without holding the window.

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "app/program_fixture.h"
#include "system/log.h"
#include "ui/moviebox_window.h"
#include "ui/sources_panel.h"
#include "virtual/virtual_src.h"

namespace kad::test {
namespace {

const QString kBox = QStringLiteral("Pinnacle Moviebox-B");
const QString kWebcam = QStringLiteral("Virtual Webcam");
constexpr const char* kBoxPath = "/virtual/kadrillo/moviebox/0";

class ProgramMovieBox : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        // A live box, as the real one: a non-live program stream floods the
        // muxer, which then trips over its own end of stream when the graph
        // is taken down.
        env.push_back(std::make_unique<ScopedEnv>("KADRILLO_VIRTUAL_LIVE", "1"));
    }

    void TearDown() override
    {
        StopLog();
        ProgramTest::TearDown();
        setVirtualDeviceOpening(kBoxPath, 0, false);
    }

    TamorcerForm& instructions() const { return *program->Parts().amorcerForm; }
    QDialog* dialog() const { return instructions().PrimingDialog(); }

    int launchLines() const
    {
        QFile file(LogFileName());
        if (!file.open(QIODevice::ReadOnly)) return -1;
        return QString::fromUtf8(file.readAll()).count(QStringLiteral("Launching the MovieBox"));
    }

    // The dialog is up, window-modal over the instructions, naming the box.
    void expectPriming()
    {
        ASSERT_TRUE(waitUntil([&] { return dialog() && dialog()->isVisible(); }, 5000));
        EXPECT_TRUE(instructions().isVisible());
        EXPECT_EQ(dialog()->windowModality(), Qt::WindowModal);
        EXPECT_EQ(dialog()->parentWidget()->window(), &instructions());
        EXPECT_EQ(dialog()->windowTitle(),
                  QStringLiteral("the MovieBox USB for  Kadrillo 3.3c En"));
        auto* name = dialog()->findChild<QLabel*>(QStringLiteral("sourceName"));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->text(), kBox);
        EXPECT_FALSE(program->Parts().MovieBox.Launched());
    }

    // Closes the dialog by its button or as a window closes, and waits
    // until the step has finished.
    void closePriming(bool byButton)
    {
        ASSERT_NE(dialog(), nullptr);
        if (byButton) {
            auto* box = dialog()->findChild<QDialogButtonBox*>();
            ASSERT_NE(box, nullptr);
            ASSERT_FALSE(box->buttons().isEmpty());
            box->buttons().front()->click();
        } else {
            dialog()->reject();
        }
        ASSERT_TRUE(waitUntil([&] { return !dialog() && instructions().isHidden(); }, 5000));
        EXPECT_TRUE(program->Parts().MovieBox.Launched());
    }
};

TEST_F(ProgramMovieBox, PrimedOnFirstChoiceAndAgainOnlyAfterARefreshOrALostDevice)
{
    useDevices("webcam,moviebox,mic");
    start();
    ASSERT_TRUE(StartLog(true));
    ASSERT_NE(cam().Source().Kind(), SourceKind::skMovieBoxB);
    EXPECT_TRUE(instructions().isHidden());
    EXPECT_EQ(launchLines(), 0);

    pickVideo(kBox);
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skMovieBoxB);
    expectPriming();
    EXPECT_EQ(launchLines(), 1);
    // The instructions come with a picture, not an empty square.
    const QImage picture = instructions().Image1->pixmap().toImage();
    ASSERT_FALSE(picture.isNull());
    EXPECT_NE(picture.pixel(picture.width() / 2, picture.height() / 2), picture.pixel(0, 0));
    closePriming(true);

    // Chosen again in the same run: connected directly.
    pickVideo(kWebcam);
    pickVideo(kBox);
    EXPECT_EQ(dialog(), nullptr);
    EXPECT_TRUE(instructions().isHidden());
    EXPECT_EQ(launchLines(), 1);

    // A refresh with the box chosen primes it again.
    program->Sources().ActualiserVideoBtnClick();
    ASSERT_TRUE(waitConnected());
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skMovieBoxB);
    expectPriming();
    EXPECT_EQ(launchLines(), 2);
    closePriming(false);

    // So does a lost device.
    form().GraphDeviceLost();
    ASSERT_TRUE(waitConnected());
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skMovieBoxB);
    expectPriming();
    EXPECT_EQ(launchLines(), 3);
    // The source is connected; only its picture waits behind the dialog.
    const quint64 held = form().vwEcran->FramesReceived();
    pump(500);
    EXPECT_EQ(form().vwEcran->FramesReceived(), held);
    closePriming(true);
    EXPECT_TRUE(waitForPicture());
}

TEST_F(ProgramMovieBox, OtherSourcesAreNotHeldBehindAnOpenDialog)
{
    useDevices("webcam,moviebox,mic");
    start();
    pickVideo(kBox);
    expectPriming();

    // The user turns to the webcam with the dialog still open: its picture
    // shows at once.
    pickVideo(kWebcam);
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skAnalog);
    EXPECT_TRUE(waitForPicture());
    closePriming(true);
    EXPECT_TRUE(waitForPicture());
}

TEST_F(ProgramMovieBox, EndingTheProgramWithTheDialogOpenIsClean)
{
    useDevices("moviebox,webcam");
    start();
    if (cam().Source().Kind() != SourceKind::skMovieBoxB) pickVideo(kBox);
    expectPriming();
    program.reset();
    SUCCEED();
}

// The box's graph is made anew at every stop and its device reopened; a box
// slow to open must neither hold the window nor lose what was asked
// meanwhile: a capture asked for while it reconnects (as the schedule or the
// remote control ask) and one whose own start reconnects it both record.
TEST_F(ProgramMovieBox, ASlowReconnectionHoldsNeitherTheWindowNorTheCapturesAskedFor)
{
    useDevices("moviebox");
    presetFolders();
    start();
    if (cam().Source().Kind() != SourceKind::skMovieBoxB) pickVideo(kBox);
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skMovieBoxB);
    expectPriming();
    closePriming(true);
    ASSERT_TRUE(waitForPicture());

    setVirtualDeviceOpening(kBoxPath, 600, false);
    const auto ticks = countTicksWhileConnecting();

    // Records and stops, by the toggle or as the remote control does.
    const auto recordAndStop = [&](const QString& name, bool byToggle) {
        ASSERT_EQ(form().State(), CaptureState::csCapturing) << name.toStdString();
        ASSERT_TRUE(waitConnected()) << name.toStdString();
        ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 15; }))
            << name.toStdString();
        ASSERT_EQ(form().State(), CaptureState::csCapturing) << name.toStdString();
        if (byToggle) {
            ASSERT_TRUE(act(ActionId::acCapturerBascule)->isEnabled());
            act(ActionId::acCapturerBascule)->trigger();
        } else {
            program->Capture().StopCapture();
        }
        ASSERT_TRUE(waitStopped()) << name.toStdString();
        ASSERT_TRUE(waitConnected()) << name.toStdString();
        EXPECT_EQ(form().State(), CaptureState::csPreview) << name.toStdString();
    };

    QStringList made;
    // The preview started again reconnects the box; a capture is asked for
    // before the box is back.
    ASSERT_TRUE(form().StartPreview());
    ASSERT_TRUE(program->Sources().Connecting());
    made << form().CurrentVideoFileName();
    ASSERT_TRUE(program->Capture().StartCapture(made.back()));
    ASSERT_NO_FATAL_FAILURE(recordAndStop(made.back(), false));
    EXPECT_GT(ticks->count, 0);

    // The capture toggle's own start reconnects it.
    ticks->count = 0;
    ASSERT_TRUE(waitForPicture());
    made << form().CurrentVideoFileName();
    ASSERT_NE(made[0], made[1]);
    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_TRUE(program->Sources().Connecting());
    ASSERT_NO_FATAL_FAILURE(recordAndStop(made.back(), true));
    EXPECT_GT(ticks->count, 0);
    EXPECT_TRUE(waitForPicture());
    EXPECT_TRUE(dialogs.shown.empty());

    program.reset();
    for (const QString& name : made) {
        const auto read = probeVideo(name);
        ASSERT_TRUE(read.has_value()) << name.toStdString();
        EXPECT_GT(read->frames, 0) << name.toStdString();
    }
}

} // namespace
} // namespace kad::test
