// Still images grabbed from the preview of the virtual PAL camcorder, read
// back with Qt's own image reader.

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/program_fixture.h"
#include "session/stills.h"
#include "ui/grab_panel.h"
#include "ui/options_panel.h"

namespace kad::test {
namespace {

class ProgramGrab : public ProgramTest {
protected:
    // The grabbed images reach the disk on the still writer's thread.
    bool stored(const QString& path)
    {
        return kadtest::waitUntil(
            [&] { return program->Stills().Pending() == 0 && QFileInfo::exists(path); }, 10000);
    }
};

TEST_F(ProgramGrab, APalFrameIsStoredAt43OrAtItsOwnSize)
{
    ASSERT_TRUE(startPreviewing("dv-pal-vcr"));
    ASSERT_TRUE(showActive());

    // The 4:3 picture is the default view.
    ASSERT_TRUE(act(ActionId::acVMRKeepratio)->isChecked());
    const QString first = program->Parts().NextImageFileName;
    ASSERT_TRUE(first.startsWith(images)) << first.toStdString();
    QTest::keyClick(&form(), Qt::Key_F5);
    EXPECT_EQ(form().ActivePanel(), 3);
    ASSERT_TRUE(stored(first));
    QImageReader reader43(first);
    EXPECT_EQ(reader43.format(), QByteArray("bmp"));
    EXPECT_EQ(reader43.size(), QSize(720, 540));
    EXPECT_FALSE(program->Parts().ExtraireFrame1->Bevel3->isVisible());

    // The source's own size, as a JPEG this time.
    act(ActionId::acVMRKeepratio)->trigger();
    ASSERT_FALSE(act(ActionId::acVMRKeepratio)->isChecked());
    act(ActionId::acJpgOption)->trigger();
    const QString second = program->Parts().NextImageFileName;
    ASSERT_NE(second, first);
    EXPECT_TRUE(second.endsWith(QLatin1String(".jpg"))) << second.toStdString();
    QTest::keyClick(&form(), Qt::Key_G, Qt::ControlModifier);
    ASSERT_TRUE(stored(second));
    QImageReader reader(second);
    EXPECT_EQ(reader.format(), QByteArray("jpeg"));
    const QImage image = reader.read();
    EXPECT_EQ(image.size(), QSize(720, 576));
    EXPECT_NE(program->Parts().NextImageFileName, second);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramGrab, ASlowDiskNeitherHoldsTheWindowNorLosesTheImage)
{
    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    ASSERT_EQ(form().State(), CaptureState::csPreview);
    ASSERT_TRUE(waitForPicture());

    // The disk answers only when the test lets it, within a deadline.
    auto release = std::make_shared<std::atomic<bool>>(false);
    program->Stills().SetWriteFunction(
        [release](const StillJob& job, QString* reason, QImage* thumbnail) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!*release && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return StoreStill(job, reason, thumbnail);
        });
    const QString first = program->Parts().NextImageFileName;
    ASSERT_TRUE(program->Grab());
    const QString second = program->Parts().NextImageFileName;
    EXPECT_NE(second, first) << "the next grab, due before the write ends, takes the next name";

    bool fired = false;
    QTimer::singleShot(20, &form(), [&] { fired = true; });
    EXPECT_TRUE(kadtest::waitUntil([&] { return fired; }, 5000));
    EXPECT_EQ(program->Stills().Pending(), 1);
    EXPECT_FALSE(QFileInfo::exists(first));

    *release = true;
    ASSERT_TRUE(stored(first));
    EXPECT_TRUE(kadtest::waitUntil(
        [&] { return !program->Parts().ExtraireFrame1->Image->pixmap().isNull(); }, 5000))
        << "the thumbnail follows the written image";
    QImageReader reader(first);
    EXPECT_EQ(reader.format(), QByteArray("bmp"));
    const QImage image = reader.read();
    EXPECT_EQ(image.size(), QSize(720, 540)) << reader.errorString().toStdString();
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramGrab, AFailedWriteIsToldAndTheNameIsTriedAgain)
{
    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    ASSERT_EQ(form().State(), CaptureState::csPreview);
    ASSERT_TRUE(waitForPicture());

    // The folder vanishes behind the program's back.
    ASSERT_TRUE(QDir(images).removeRecursively());
    const QString failing = program->Parts().NextImageFileName;
    ASSERT_TRUE(program->Grab());
    ASSERT_TRUE(kadtest::waitUntil([&] { return !dialogs.shown.empty(); }, 10000));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "error");
    EXPECT_TRUE(dialogs.shown[0].text.contains(QFileInfo(failing).fileName()));
    EXPECT_TRUE(dialogs.shown[0].text.contains(images)) << dialogs.shown[0].text.toStdString();
    EXPECT_EQ(program->Parts().NextImageFileName, failing);

    ASSERT_TRUE(QDir().mkpath(images));
    ASSERT_TRUE(program->Grab());
    ASSERT_TRUE(stored(failing));
    EXPECT_FALSE(QImageReader(failing).read().isNull());
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(ProgramGrab, AGrabWithoutPreviewIsIgnored)
{
    SetDeviceEnumerator([](DeviceCategory) { return std::optional(std::vector<TdeviceEntry>{}); });
    presetFolders();
    start();
    const QString next = program->Parts().NextImageFileName;
    EXPECT_FALSE(program->Grab());
    EXPECT_EQ(program->Parts().NextImageFileName, next);
    EXPECT_FALSE(QFileInfo::exists(next));
}

} // namespace
} // namespace kad::test
