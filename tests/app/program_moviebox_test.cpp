// The MovieBox start-up step through the whole program with the virtual
// MovieBox: choosing it shows the instructions and the priming dialog modal
// to them only, the preview waits behind the dialog and comes back when it
// closes, and the step comes back only after a refresh or a lost device.

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>

#include "app/program_fixture.h"
#include "system/log.h"
#include "ui/moviebox_window.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

const QString kBox = QStringLiteral("Pinnacle Moviebox-B");
const QString kWebcam = QStringLiteral("Virtual Webcam");

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

} // namespace
} // namespace kad::test
