// Still images grabbed from the preview of the virtual PAL camcorder, read
// back with Qt's own image reader.

#include <QImage>
#include <QImageReader>

#include "app/program_fixture.h"
#include "features/grab_panel.h"
#include "settings/options_panel.h"

namespace kad::test {
namespace {

using ProgramGrab = ProgramTest;

TEST_F(ProgramGrab, APalFrameIsStoredAt43OrAtItsOwnSize)
{
    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    ASSERT_EQ(form().State(), CaptureState::csPreview);
    ASSERT_TRUE(waitForPicture());
    ASSERT_TRUE(showActive());

    // The 4:3 picture is the default view.
    ASSERT_TRUE(act(ActionId::acVMRKeepratio)->isChecked());
    const QString first = program->Parts().NextImageFileName;
    ASSERT_TRUE(first.startsWith(images)) << first.toStdString();
    QTest::keyClick(&form(), Qt::Key_F5);
    EXPECT_EQ(form().ActivePanel(), 3);
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
    QImageReader reader(second);
    EXPECT_EQ(reader.format(), QByteArray("jpeg"));
    const QImage image = reader.read();
    EXPECT_EQ(image.size(), QSize(720, 576));
    EXPECT_NE(program->Parts().NextImageFileName, second);
    EXPECT_TRUE(dialogs.shown.empty());
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
