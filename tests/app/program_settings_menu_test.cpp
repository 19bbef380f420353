// The device settings pop-up of the Sources panel through the real program:
// its entries for each kind of device, the video inputs and the picture
// controls page of the virtual webcam.

#include <QCheckBox>
#include <QComboBox>
#include <QImageReader>
#include <QMenu>
#include <QPushButton>
#include <QSlider>

#include <cmath>
#include <functional>

#include "app/device_controls_dialog.h"
#include "app/program_fixture.h"
#include "app/sources_panel.h"

namespace kad::test {
namespace {

class ProgramSettingsMenu : public ProgramTest {
protected:
    TSourcesFrame& panel() const { return *program->Parts().SourcesFrame; }

    void pickVideo(const QString& name)
    {
        const int index = panel().cboxvideo->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        panel().cboxvideo->setCurrentIndex(index);
        program->Sources().cboxVideoChange();
    }

    // Opens the pop-up as the settings button does and closes it again.
    QMenu* openMenu()
    {
        emit panel().videoSettingsRequested();
        QMenu* menu = form().SettingsMenu;
        menu->hide();
        return menu;
    }

    static QStringList captions(const QMenu* menu)
    {
        QStringList texts;
        for (const QAction* a : menu->actions())
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return texts;
    }

    QMenu* inputMenu(QMenu* menu) const
    {
        for (QAction* a : menu->actions())
            if (a->menu()) return a->menu();
        return nullptr;
    }

    QAction* entry(QMenu* menu, const QString& text) const
    {
        for (QAction* a : menu->actions())
            if (a->text() == text) return a;
        return nullptr;
    }

    guint webcamInput() const
    {
        guint input = 99;
        g_object_get(cam().VideoSource.Element(), "input", &input, nullptr);
        return input;
    }

    // The mean luma of the preview's latest frame, grabbed to a bitmap and
    // read back with Qt's decoder.
    std::optional<double> luma()
    {
        const QString file = program->Parts().NextImageFileName;
        if (!program->Grab()) return std::nullopt;
        const QImage image = QImageReader(file).read().convertToFormat(QImage::Format_Grayscale8);
        if (image.isNull()) return std::nullopt;
        double sum = 0;
        for (int y = 0; y < image.height(); ++y) {
            const uchar* row = image.constScanLine(y);
            for (int x = 0; x < image.width(); ++x)
                sum += row[x];
        }
        return sum / (image.width() * image.height());
    }

    // Frames already queued between the source and the grabber still show
    // the old picture: grabs until one satisfies `wanted` (at most 10 s).
    std::optional<double> lumaOnceItIs(const std::function<bool(double)>& wanted)
    {
        std::optional<double> last;
        waitUntil(
            [&] {
                last = luma();
                return last && wanted(*last);
            },
            10000);
        return last;
    }
};

TEST_F(ProgramSettingsMenu, EachDeviceOffersItsOwnPagesAndOpeningNeverReroutes)
{
    useDevices("dv-pal-vcr,webcam");
    start();
    pickVideo(QStringLiteral("Virtual Webcam"));
    ASSERT_NE(cam().VideoSource.Element(), nullptr);

    // Whatever input the device is on, the menu shows it and leaves it.
    g_object_set(cam().VideoSource.Element(), "input", 2u, nullptr);
    for (int round = 0; round < 2; ++round) {
        QMenu* menu = openMenu();
        EXPECT_EQ(captions(menu),
                  (QStringList{QStringLiteral("Video Capture Filter..."), QStringLiteral("-"),
                               QStringLiteral("Video Input")}));
        QMenu* inputs = inputMenu(menu);
        ASSERT_NE(inputs, nullptr);
        ASSERT_EQ(inputs->actions().size(), 3);
        int checked = 0;
        for (QAction* a : inputs->actions())
            checked += a->isChecked() ? 1 : 0;
        EXPECT_EQ(checked, 1);
        EXPECT_TRUE(entry(inputs, QStringLiteral("Video SVideo"))->isChecked());
        EXPECT_EQ(webcamInput(), 2u);
    }

    // Choosing an input routes the device and the next menu checks it.
    QAction* tuner = entry(inputMenu(openMenu()), QStringLiteral("Video Tuner"));
    ASSERT_NE(tuner, nullptr);
    tuner->trigger();
    EXPECT_EQ(webcamInput(), 0u);
    EXPECT_TRUE(entry(inputMenu(openMenu()), QStringLiteral("Video Tuner"))->isChecked());
    EXPECT_TRUE(dialogs.shown.empty());

    // A DV camcorder has no page here.
    pickVideo(QStringLiteral("Virtual DV Camcorder (PAL)"));
    QMenu* dv = openMenu();
    ASSERT_EQ(captions(dv), QStringList{QStringLiteral("[No settings]")});
    EXPECT_FALSE(dv->actions().first()->isEnabled());
    EXPECT_EQ(inputMenu(dv), nullptr);
}

TEST_F(ProgramSettingsMenu, WithoutAVideoDeviceThereIsNothingToSet)
{
    useDevices("mic");
    start();
    if (cam().VideoSource.Element()) GTEST_SKIP() << "a real video device is connected";
    QMenu* menu = openMenu();
    ASSERT_EQ(captions(menu), QStringList{QStringLiteral("[No settings]")});
    EXPECT_FALSE(menu->actions().first()->isEnabled());
}

TEST_F(ProgramSettingsMenu, APictureControlChangesTheWebcamPictureAndResets)
{
    useDevices("webcam");
    presetFolders();
    start();
    ASSERT_TRUE(waitForPicture());
    QAction* page = entry(openMenu(), QStringLiteral("Video Capture Filter..."));
    ASSERT_NE(page, nullptr);
    page->trigger();
    auto* dialog = form().findChild<TDeviceControlsDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    // A second click brings the same page forward.
    entry(openMenu(), QStringLiteral("Video Capture Filter..."))->trigger();
    EXPECT_EQ(form().findChildren<TDeviceControlsDialog*>().size(), 1);

    auto* brightness = dialog->findChild<QSlider*>(QStringLiteral("Brightness"));
    auto* monochrome = dialog->findChild<QCheckBox*>(QStringLiteral("Monochrome"));
    auto* mains = dialog->findChild<QComboBox*>(QStringLiteral("Power Line Frequency"));
    ASSERT_NE(brightness, nullptr);
    ASSERT_NE(monochrome, nullptr);
    ASSERT_NE(mains, nullptr);
    EXPECT_EQ(mains->count(), 3);

    ASSERT_TRUE(showActive());
    const auto before = luma();
    ASSERT_TRUE(before.has_value());
    brightness->setValue(brightness->maximum());
    gint applied = 0;
    g_object_get(cam().VideoSource.Element(), "brightness", &applied, nullptr);
    EXPECT_EQ(applied, 255);
    const auto brighter = lumaOnceItIs([&](double l) { return l > *before + 40; });
    ASSERT_TRUE(brighter.has_value());
    EXPECT_GT(*brighter, *before + 40);

    monochrome->setChecked(true);
    gboolean grey = FALSE;
    g_object_get(cam().VideoSource.Element(), "monochrome", &grey, nullptr);
    EXPECT_TRUE(grey);

    dialog->findChild<QPushButton*>(QStringLiteral("ResetToDefaults"))->click();
    EXPECT_EQ(brightness->value(), 128);
    EXPECT_FALSE(monochrome->isChecked());
    EXPECT_TRUE(dialog->Refusal().isEmpty());
    const auto reset = lumaOnceItIs([&](double l) { return std::abs(l - *before) < 8; });
    ASSERT_TRUE(reset.has_value());
    EXPECT_NEAR(*reset, *before, 8);
    EXPECT_TRUE(dialogs.shown.empty());
}

} // namespace
} // namespace kad::test
