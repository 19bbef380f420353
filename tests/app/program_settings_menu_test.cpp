// The device settings pop-up of the Sources panel through the real program:
// its entries for each kind of device, the video inputs, the picture
// controls, capture format and crossbar pages of the virtual webcam, and the
// volume and format pages of the virtual microphone.

#include <QCheckBox>
#include <QComboBox>
#include <QImageReader>
#include <QMenu>
#include <QPushButton>
#include <QSlider>

#include <cmath>
#include <functional>

#include "app/program_fixture.h"
#include "ui/choice_dialog.h"
#include "ui/device_controls_dialog.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

class ProgramSettingsMenu : public ProgramTest {
protected:
    TSourcesFrame& panel() const { return sourcesPanel(); }

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

    // Opens the page of a menu entry and gives the page it opened.
    template <typename Page> Page* openPage(const QString& text)
    {
        QAction* page = entry(openMenu(), text);
        if (!page) return nullptr;
        const auto before = form().findChildren<Page*>();
        page->trigger();
        for (Page* p : form().findChildren<Page*>())
            if (!before.contains(p)) return p;
        return nullptr;
    }

    guint webcamInput() const
    {
        guint input = 99;
        g_object_get(cam().FilterGraph().VideoSource.Element(), "input", &input, nullptr);
        return input;
    }

    // The mean luma of the preview's latest frame, grabbed to a bitmap and
    // read back with Qt's decoder.
    std::optional<double> luma()
    {
        const QString file = program->Parts().NextImageFileName;
        if (!program->Grab()) return std::nullopt;
        if (!waitUntil([&] { return QFileInfo::exists(file); }, 10000)) return std::nullopt;
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
    ASSERT_NE(cam().FilterGraph().VideoSource.Element(), nullptr);

    // Whatever input the device is on, the menu shows it and leaves it.
    g_object_set(cam().FilterGraph().VideoSource.Element(), "input", 2u, nullptr);
    for (int round = 0; round < 2; ++round) {
        QMenu* menu = openMenu();
        EXPECT_EQ(captions(menu),
                  (QStringList{QStringLiteral("Video Capture Filter..."),
                               QStringLiteral("Video Capture Pin..."),
                               QStringLiteral("Video Crossbar..."), QStringLiteral("-"),
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
    if (cam().FilterGraph().VideoSource.Element())
        GTEST_SKIP() << "a real video device is connected";
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
    g_object_get(cam().FilterGraph().VideoSource.Element(), "brightness", &applied, nullptr);
    EXPECT_EQ(applied, 255);
    const auto brighter = lumaOnceItIs([&](double l) { return l > *before + 40; });
    ASSERT_TRUE(brighter.has_value());
    EXPECT_GT(*brighter, *before + 40);

    monochrome->setChecked(true);
    gboolean grey = FALSE;
    g_object_get(cam().FilterGraph().VideoSource.Element(), "monochrome", &grey, nullptr);
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

TEST_F(ProgramSettingsMenu, ACaptureFormatRebuildsThePreviewAndIsWhatTheCaptureRecords)
{
    useDevices("webcam");
    presetFolders();
    start();
    program->Parts().SourcesFrame->rgFormat->setItemIndex(0);
    program->Sources().rgFormatClick();
    ASSERT_TRUE(waitForPicture());
    auto* page = openPage<TChoiceDialog>(QStringLiteral("Video Capture Pin..."));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->windowTitle(), QStringLiteral("Video Capture Pin"));
    // Both pixel formats at both sizes and both rates.
    const QStringList items = page->Items();
    EXPECT_EQ(items.size(), 8);
    for (const char* wanted : {"YUY2 640 x 480, 30 fps", "I420 320 x 240, 15 fps"})
        EXPECT_TRUE(items.contains(QString::fromLatin1(wanted))) << wanted;

    // The page checks the format the preview runs in, which the source's
    // first caps tell the window through the bus.
    ASSERT_TRUE(waitUntil([&] { return cam().Preview().Format().VideoWidth > 0; }));
    const int width = cam().Preview().Format().VideoWidth;
    ASSERT_TRUE(width == 320 || width == 640) << width;
    ASSERT_TRUE(page->Checked().has_value());
    EXPECT_TRUE(items[*page->Checked()].contains(QStringLiteral(" %1 x ").arg(width)));

    const int newWidth = width == 640 ? 320 : 640;
    const int newHeight = newWidth * 3 / 4;
    const int chosen = static_cast<int>(
        items.indexOf(QStringLiteral("I420 %1 x %2, 15 fps").arg(newWidth).arg(newHeight)));
    ASSERT_GE(chosen, 0);
    ASSERT_TRUE(page->Choose(chosen));
    EXPECT_EQ(page->Checked(), chosen);
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    ASSERT_TRUE(waitUntil([&] { return cam().Preview().Format().VideoWidth == newWidth; }, 10000))
        << cam().Preview().Format().VideoWidth;
    EXPECT_EQ(cam().Preview().Format().VideoHeight, newHeight);
    EXPECT_EQ(cam().Preview().Format().FrameDuration, 666667);
    ASSERT_TRUE(waitForPicture());
    // The preview's frames are the new size: a still of them, read back.
    const QString still = program->Parts().NextImageFileName;
    ASSERT_TRUE(program->Grab());
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(still); }, 10000));
    EXPECT_EQ(QImageReader(still).size(), QSize(newWidth, newHeight));

    // During a capture the format stays: said, and the capture goes on.
    const QString file = form().CurrentVideoFileName();
    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_EQ(form().State(), CaptureState::csCapturing);
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 10; }));
    EXPECT_FALSE(
        page->Choose(static_cast<int>(items.indexOf(QStringLiteral("YUY2 640 x 480, 30 fps")))));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("capture")));
    EXPECT_EQ(page->Checked(), chosen);
    EXPECT_EQ(form().State(), CaptureState::csCapturing);
    const guint64 atRefusal = cam().Capture().CapturedFrames();
    EXPECT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= atRefusal + 10; }));
    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_TRUE(waitStopped());
    ASSERT_EQ(form().State(), CaptureState::csPreview);

    const kadtest::Probe probe = kadtest::ffprobe(file.toStdString(), true);
    ASSERT_TRUE(probe.ok) << probe.error;
    const kadtest::ProbeStream* video = probe.first("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->width, newWidth);
    EXPECT_EQ(video->height, newHeight);
    EXPECT_EQ(video->frameRate, "15/1");
    EXPECT_GE(video->frames, static_cast<long long>(atRefusal + 10));
}

TEST_F(ProgramSettingsMenu, TheCrossbarPageRoutesTheInputsAsTheSubMenuDoes)
{
    useDevices("webcam");
    start();
    ASSERT_NE(cam().FilterGraph().VideoSource.Element(), nullptr);
    auto* page = openPage<TChoiceDialog>(QStringLiteral("Video Crossbar..."));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->Items(),
              (QStringList{QStringLiteral("Video Tuner"), QStringLiteral("Video Composite"),
                           QStringLiteral("Video SVideo")}));
    EXPECT_EQ(page->Checked(), static_cast<int>(webcamInput()));
    ASSERT_TRUE(page->Choose(2));
    EXPECT_EQ(webcamInput(), 2u);
    EXPECT_EQ(page->Checked(), 2);
    EXPECT_TRUE(entry(inputMenu(openMenu()), QStringLiteral("Video SVideo"))->isChecked());
    // Routed from the sub-menu, the page follows when it is opened again.
    entry(inputMenu(openMenu()), QStringLiteral("Video Tuner"))->trigger();
    // A second click brings the open page forward rather than a second one.
    EXPECT_EQ(openPage<TChoiceDialog>(QStringLiteral("Video Crossbar...")), nullptr);
    page->close();
    QCoreApplication::processEvents();
    auto* again = openPage<TChoiceDialog>(QStringLiteral("Video Crossbar..."));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Checked(), 0);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramSettingsMenu, TheSoundSourceKeepsItsVolumeMuteAndFormatAcrossRebuilds)
{
    useDevices("webcam,mic");
    presetFolders();
    start();
    TSourcesFrame& sources = panel();
    sources.cboxAudioType->setCurrentIndex(
        sources.cboxAudioType->findText(QStringLiteral("Add an Audio Source (soundcard)")));
    program->Sources().SourcesFramergaudioChange();
    ASSERT_TRUE(waitForPicture());
    GstElement* mic = cam().FilterGraph().AudioSource.Element();
    ASSERT_NE(mic, nullptr);
    EXPECT_EQ(captions(openMenu()),
              (QStringList{
                  QStringLiteral("Video Capture Filter..."), QStringLiteral("Video Capture Pin..."),
                  QStringLiteral("Video Crossbar..."), QStringLiteral("Audio Capture Filter..."),
                  QStringLiteral("Audio Capture Pin..."), QStringLiteral("-"),
                  QStringLiteral("Video Input")}));

    auto* mixer = openPage<TDeviceControlsDialog>(QStringLiteral("Audio Capture Filter..."));
    ASSERT_NE(mixer, nullptr);
    auto* volume = mixer->findChild<QSlider*>(QStringLiteral("Volume"));
    auto* mute = mixer->findChild<QCheckBox*>(QStringLiteral("Mute"));
    ASSERT_NE(volume, nullptr);
    ASSERT_NE(mute, nullptr);
    EXPECT_EQ(volume->value(), 100);
    volume->setValue(40);
    mute->setChecked(true);
    gdouble level = 0;
    gboolean muted = FALSE;
    g_object_get(mic, "volume", &level, "mute", &muted, nullptr);
    EXPECT_DOUBLE_EQ(level, 0.4);
    EXPECT_TRUE(muted);

    auto* format = openPage<TChoiceDialog>(QStringLiteral("Audio Capture Pin..."));
    ASSERT_NE(format, nullptr);
    const QStringList items = format->Items();
    ASSERT_TRUE(format->Checked().has_value());
    EXPECT_EQ(items[*format->Checked()], QStringLiteral("48000 Hz, stereo"));
    const int mono = static_cast<int>(items.indexOf(QStringLiteral("44100 Hz, mono")));
    ASSERT_GE(mono, 0);
    ASSERT_TRUE(format->Choose(mono));

    // The preview's new sound source delivers the format and keeps the level.
    GstElement* rebuilt = cam().FilterGraph().AudioSource.Element();
    ASSERT_NE(rebuilt, nullptr);
    ASSERT_TRUE(waitForPicture());
    gint rate = 0, channels = 0;
    ASSERT_TRUE(waitUntil([&] {
        GstPad* pad = gst_element_get_static_pad(rebuilt, "src");
        CapsRef caps(pad ? gst_pad_get_current_caps(pad) : nullptr);
        if (pad) gst_object_unref(pad);
        if (!caps) return false;
        const GstStructure* s = gst_caps_get_structure(caps.get(), 0);
        return gst_structure_get_int(s, "rate", &rate) &&
               gst_structure_get_int(s, "channels", &channels);
    }));
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(channels, 1);
    g_object_get(rebuilt, "volume", &level, "mute", &muted, nullptr);
    EXPECT_DOUBLE_EQ(level, 0.4);
    EXPECT_TRUE(muted);
    EXPECT_EQ(format->Checked(), mono);
    EXPECT_TRUE(dialogs.shown.empty());
}

// "Set the Audio" and the Sources panel's sound button open the sound
// source's two pages once each, while the preview runs on; with no sound
// card in the graph they say why instead of doing nothing.
TEST_F(ProgramSettingsMenu, SetTheAudioOpensTheSoundSourcePagesOrSaysWhyNot)
{
    useDevices("webcam,mic");
    presetFolders();
    start();
    ASSERT_TRUE(waitForPicture());
    ASSERT_FALSE(cam().FilterGraph().AudioSource.InGraph());
    QAction* setAudio = act(ActionId::acFixerAudio);
    ASSERT_TRUE(setAudio->isEnabled());
    setAudio->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(form().findChildren<TDeviceControlsDialog*>().isEmpty());

    TSourcesFrame& sources = panel();
    sources.cboxAudioType->setCurrentIndex(
        sources.cboxAudioType->findText(QStringLiteral("Add an Audio Source (soundcard)")));
    program->Sources().SourcesFramergaudioChange();
    ASSERT_TRUE(waitForPicture());
    ASSERT_TRUE(cam().FilterGraph().AudioSource.InGraph());
    for (int round = 0; round < 2; ++round) {
        if (round == 0)
            setAudio->trigger();
        else
            emit sources.audioSettingsRequested();
        const auto mixers = form().findChildren<TDeviceControlsDialog*>();
        const auto formats = form().findChildren<TChoiceDialog*>();
        ASSERT_EQ(mixers.size(), 1);
        ASSERT_EQ(formats.size(), 1);
        EXPECT_TRUE(mixers.first()->isVisible());
        EXPECT_TRUE(formats.first()->isVisible());
        EXPECT_NE(mixers.first()->findChild<QSlider*>(QStringLiteral("Volume")), nullptr);
    }
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(waitForPicture());
}

} // namespace
} // namespace kad::test
