// The date and time inlay through the whole program: the start-up rules, the
// inlay panel's rules, allowing and forbidding inlays, and the inlaid text as
// the preview's sample grabber sees it on the virtual PAL camcorder.

#include <QCheckBox>
#include <QFontDialog>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <gst/gst.h>

#include <cstdlib>
#include <vector>

#include "app/inlay_binding.h"
#include "app/program_fixture.h"
#include "elements/sample_grabber.h"
#include "platform/media/gst_ptr.h"
#include "session/inlay.h"
#include "ui/inlay_panel.h"
#include "ui/options_panel.h"
#include "ui/panel_controls_widget.h"

namespace kad::test {
namespace {

// The latest frame of the preview's grabber, taken once `frames` more
// frames have passed since the call (so a change made before is in it).
QImage grabAfter(TdmCam& cam, int frames = 6)
{
    GstElement* sg = cam.FilterGraph().sg.Element();
    if (!sg) return {};
    const guint64 from = kad_sample_grabber_frame_count(sg);
    if (!waitUntil([&] { return kad_sample_grabber_frame_count(sg) >= from + frames; }, 15000))
        return {};
    KadGrabbedFrameInfo info{};
    if (!kad_sample_grabber_peek(sg, &info)) return {};
    std::vector<guint8> bytes(info.size + 4096);
    if (!kad_sample_grabber_copy_frame(sg, bytes.data(), bytes.size(), &info)) return {};
    QImage image(info.width, info.height, QImage::Format_RGB888);
    for (int y = 0; y < info.height; ++y)
        std::copy_n(bytes.data() + std::size_t(y) * std::size_t(info.stride), info.width * 3,
                    image.scanLine(y));
    return image;
}

// Takes the grabber's latest frame until one satisfies ok, for at most ten
// seconds; the last frame taken is left in frame.
bool latestFrameSoon(TdmCam& cam, QImage& frame, const std::function<bool(const QImage&)>& ok)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        frame = grabAfter(cam, 2);
        if (!frame.isNull() && ok(frame)) return true;
    }
    return false;
}

// Pixels of rect whose colour differs by more than 96 in some channel.
int changedPixels(const QImage& a, const QImage& b, const QRect& rect)
{
    int changed = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor p = a.pixelColor(x, y);
            const QColor q = b.pixelColor(x, y);
            if (std::abs(p.red() - q.red()) > 96 || std::abs(p.green() - q.green()) > 96 ||
                std::abs(p.blue() - q.blue()) > 96)
                ++changed;
        }
    }
    return changed;
}

class ProgramInlay : public ProgramTest {
protected:
    TIncrusterFrame& panel() const { return *program->Parts().IncrusterFrame1; }
    TOptionsFrame& options() const { return *program->Parts().OptionsFrame; }
    TInlay& inlay() const { return program->InlayBinding().Inlay(); }
    Preferences& prefs() const { return program->Prefs(); }

    void presetPrefs(const std::function<void(Preferences&)>& change)
    {
        auto prefs = CreatePreferences(QSize(700, 459), hive);
        prefs->VideoDirectory.Value = videos + QLatin1Char('/');
        prefs->ImageDirectory.Value = images + QLatin1Char('/');
        change(*prefs);
        ASSERT_TRUE(SavePreferences(*prefs));
    }

    bool overlayEnabled() const
    {
        GstElement* overlay = cam().FilterGraph().Lumatex.Element();
        if (!overlay) return false;
        gint enabled = 0;
        g_object_get(overlay, "enabled", &enabled, nullptr);
        return enabled != 0;
    }
};

TEST_F(ProgramInlay, WithTheFiltersInlaysAreOfferedAndForbiddingTakesThemAway)
{
    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    ASSERT_TRUE(cam().FilterGraph().Presence().InlayFiltersAvailable);
    ASSERT_EQ(form().State(), CaptureState::csPreview);

    // Start-up: the actions are there, inlays allowed, the overlay placed.
    EXPECT_TRUE(act(ActionId::acIncruster)->isVisible());
    EXPECT_TRUE(act(ActionId::acIncruster)->isEnabled());
    EXPECT_FALSE(act(ActionId::acIncruster)->isChecked());
    EXPECT_TRUE(act(ActionId::acFlip)->isVisible());
    EXPECT_TRUE(act(ActionId::acFlip)->isEnabled());
    EXPECT_TRUE(options().cbAllowIncrust->isEnabled());
    EXPECT_TRUE(options().cbAllowIncrust->isChecked());
    EXPECT_TRUE(panel().cbAllowIncrust->isEnabled());
    EXPECT_TRUE(panel().cbAllowIncrust->isChecked());
    EXPECT_FALSE(form().Shape1->isHidden());
    EXPECT_TRUE(form().Xslider->isHidden());
    EXPECT_TRUE(cam().FilterGraph().Lumatex.InGraph());
    EXPECT_TRUE(cam().FilterGraph().Chronix.InGraph());
    EXPECT_TRUE(form().StatusText(1).startsWith("Preview INC"))
        << form().StatusText(1).toStdString();

    // The panel: a DV source offers the datecode; the duration shows in
    // Auto mode, the hour offset with the datecode.
    EXPECT_TRUE(panel().Memo1->isHidden());
    EXPECT_EQ(panel().rgChoix->count(), 2);
    EXPECT_TRUE(panel().gbDuree->isHidden());
    EXPECT_TRUE(panel().gbDecalage->isHidden());
    panel().rgMode->button(1)->click();
    EXPECT_FALSE(panel().gbDuree->isHidden());
    panel().rgChoix->button(1)->click();
    EXPECT_FALSE(panel().gbDecalage->isHidden());
    panel().rgMode->button(0)->click();
    panel().rgChoix->button(0)->click();
    EXPECT_TRUE(panel().gbDuree->isHidden());
    EXPECT_TRUE(panel().gbDecalage->isHidden());

    // An inlay runs; then inlays are forbidden from the options panel.
    act(ActionId::acIncruster)->trigger();
    EXPECT_TRUE(act(ActionId::acIncruster)->isChecked());
    EXPECT_EQ(act(ActionId::acIncruster)->text(), "Stop inlay");
    EXPECT_EQ(panel().IncrusterBtn->text(), "Stop inlay");
    EXPECT_TRUE(prefs().IncrustationOn.Value);
    EXPECT_TRUE(overlayEnabled());

    options().cbAllowIncrust->click();
    EXPECT_FALSE(prefs().PermettreIncruster.Value);
    EXPECT_FALSE(panel().cbAllowIncrust->isChecked());
    EXPECT_FALSE(act(ActionId::acIncruster)->isEnabled());
    EXPECT_FALSE(act(ActionId::acIncruster)->isChecked());
    EXPECT_EQ(act(ActionId::acIncruster)->text(), "Inlay");
    EXPECT_FALSE(prefs().IncrustationOn.Value);
    EXPECT_FALSE(act(ActionId::acFlip)->isEnabled());
    EXPECT_FALSE(panel().rgMode->isEnabled());
    EXPECT_FALSE(panel().rgChoix->isEnabled());
    EXPECT_TRUE(form().Shape1->isHidden());
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_FALSE(cam().FilterGraph().Lumatex.InGraph())
        << "the preview is rebuilt without the overlay";
    EXPECT_FALSE(form().StatusText(1).contains("INC"));

    // Allowed again from the inlay panel: the overlay is back, the inlay
    // stays off as its button says.
    panel().cbAllowIncrust->click();
    EXPECT_TRUE(prefs().PermettreIncruster.Value);
    EXPECT_TRUE(options().cbAllowIncrust->isChecked());
    EXPECT_TRUE(act(ActionId::acIncruster)->isEnabled());
    EXPECT_FALSE(act(ActionId::acIncruster)->isChecked());
    EXPECT_TRUE(cam().FilterGraph().Lumatex.InGraph());
    EXPECT_FALSE(overlayEnabled());
    EXPECT_FALSE(prefs().IncrustationOn.Value);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramInlay, ANonDVSourceOffersOnlyTheClock)
{
    useDevices("webcam");
    presetPrefs([](Preferences& p) {
        p.ChoixIncruster.Value = 1;
        p.ModeIncruster.Value = 1;
    });
    start();
    ASSERT_TRUE(cam().FilterGraph().Presence().InlayFiltersAvailable);
    EXPECT_EQ(panel().rgChoix->count(), 1);
    EXPECT_EQ(panel().rgChoix->itemIndex(), 0);
    EXPECT_TRUE(panel().gbDecalage->isHidden());
    // Auto mode came back with its click handler: the duration shows.
    EXPECT_EQ(panel().rgMode->itemIndex(), 1);
    EXPECT_FALSE(panel().gbDuree->isHidden());
}

TEST_F(ProgramInlay, WithoutTheFiltersTheControlsGiveWayToTheInstallNote)
{
    // The two elements leave the registry for this start, and come back
    // whatever happens.
    struct Hidden {
        GstRegistry* registry = gst_registry_get();
        std::vector<GRef<GstPluginFeature>> features;
        ~Hidden()
        {
            for (auto& f : features)
                gst_registry_add_feature(registry, f.get());
        }
    } hidden;
    for (const char* name : {"kadlumatex3", "kadchronix2"}) {
        GstPluginFeature* f = gst_registry_lookup_feature(hidden.registry, name);
        ASSERT_NE(f, nullptr) << name;
        hidden.features.emplace_back(f);
        gst_registry_remove_feature(hidden.registry, f);
    }
    useDevices("dv-pal-vcr");
    presetPrefs([](Preferences& p) { p.PermettreIncruster.Value = true; });
    start();

    EXPECT_FALSE(cam().FilterGraph().Presence().InlayFiltersAvailable);
    EXPECT_FALSE(prefs().PermettreIncruster.Value);
    EXPECT_FALSE(act(ActionId::acIncruster)->isVisible());
    EXPECT_FALSE(act(ActionId::acFlip)->isVisible());
    EXPECT_FALSE(options().cbAllowIncrust->isEnabled());
    EXPECT_TRUE(form().Shape1->isHidden());
    EXPECT_FALSE(panel().Memo1->isHidden());
    EXPECT_TRUE(panel().Memo1->toPlainText().contains("Kadrillo"));
    EXPECT_FALSE(panel().LnkUrlLabel1->isHidden());
    EXPECT_TRUE(panel().rgMode->isHidden());
    EXPECT_TRUE(panel().IncrusterBtn->isHidden());
    EXPECT_TRUE(panel().cbAllowIncrust->isHidden());

    // Flip without the overlay unchecks itself.
    act(ActionId::acFlip)->setEnabled(true);
    act(ActionId::acFlip)->trigger();
    EXPECT_FALSE(act(ActionId::acFlip)->isChecked());
    EXPECT_FALSE(prefs().FlipOn.Value);
    EXPECT_EQ(form().State(), CaptureState::csPreview) << "the preview runs without them";
}

TEST_F(ProgramInlay, TheInlayShowsInItsCornerOfThePreviewAndFlipTurnsThePicture)
{
    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    ASSERT_EQ(form().State(), CaptureState::csPreview);
    ASSERT_TRUE(cam().FilterGraph().Lumatex.InGraph());

    const QImage plain = grabAfter(cam());
    ASSERT_FALSE(plain.isNull());
    const int w = plain.width();
    const int h = plain.height();
    // The top third of the tape's picture holds still; the window's
    // default preferences put the date at its top right.
    EXPECT_EQ(form().Xslider->value(), 930);
    EXPECT_EQ(form().Yslider->value(), 70);
    const QRect corner(w / 2, 0, w / 2, h / 3);
    const QRect left(0, 0, w / 2, h / 3);

    // A short text, so that it stays in its half of the picture. Frames
    // already on their way when the switch changed still come first.
    panel().edFormat->setText(QStringLiteral("hh:nn:ss"));
    act(ActionId::acIncruster)->trigger();
    QImage inlaid;
    EXPECT_TRUE(latestFrameSoon(cam(), inlaid, [&](const QImage& f) {
        return changedPixels(plain, f, corner) > 200;
    })) << "no text in the corner";
    EXPECT_LT(changedPixels(plain, inlaid, left), 20);

    act(ActionId::acIncruster)->trigger();
    QImage after;
    EXPECT_TRUE(latestFrameSoon(cam(), after, [&](const QImage& f) {
        return changedPixels(plain, f, corner) < 20;
    })) << "the text stays";

    // Upside down: the frame counter of the bottom rows comes to the top,
    // where the first bar is white and the counter's first cell black.
    ASSERT_GT(qGray(plain.pixel(w / 64, 4)), 180);
    act(ActionId::acFlip)->trigger();
    EXPECT_TRUE(act(ActionId::acFlip)->isChecked());
    EXPECT_TRUE(prefs().FlipOn.Value);
    QImage flipped;
    EXPECT_TRUE(latestFrameSoon(cam(), flipped, [&](const QImage& f) {
        return qGray(f.pixel(w / 64, 4)) < 80;
    })) << "the picture is not upside down";
    act(ActionId::acFlip)->trigger();
    EXPECT_FALSE(prefs().FlipOn.Value);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramInlay, AnInlayRunningAtExitRunsAgainAndATimedOneEndsByItself)
{
    useDevices("dv-pal-vcr");
    presetPrefs([](Preferences& p) {
        p.IncrustationOn.Value = true;
        p.ModeIncruster.Value = 0;
        p.DureeIncruster.Value = 1;
    });
    start();
    ASSERT_EQ(form().State(), CaptureState::csPreview);
    // Restarted after the first build.
    EXPECT_TRUE(act(ActionId::acIncruster)->isChecked());
    EXPECT_EQ(act(ActionId::acIncruster)->text(), "Stop inlay");
    EXPECT_TRUE(overlayEnabled());
    EXPECT_FALSE(form().TimerLumatex->isActive()) << "a manual inlay has no end";

    // Auto with the clock: the inlay ends by itself after its duration.
    act(ActionId::acIncruster)->trigger();
    ASSERT_FALSE(overlayEnabled());
    panel().rgMode->button(1)->click();
    act(ActionId::acIncruster)->trigger();
    EXPECT_TRUE(overlayEnabled());
    EXPECT_TRUE(form().TimerLumatex->isActive());
    EXPECT_TRUE(waitUntil([&] { return !act(ActionId::acIncruster)->isChecked(); }, 10000));
    EXPECT_EQ(act(ActionId::acIncruster)->text(), "Inlay");
    EXPECT_FALSE(overlayEnabled());
    EXPECT_FALSE(prefs().IncrustationOn.Value);
}

TEST_F(ProgramInlay, TheCornerMarkerShowsTheSlidersAndStartsTheInlay)
{
    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    ASSERT_TRUE(cam().FilterGraph().Lumatex.InGraph());
    ASSERT_TRUE(showActive());
    QTest::mousePress(form().Shape1, Qt::LeftButton);
    EXPECT_FALSE(form().Xslider->isHidden());
    EXPECT_FALSE(form().Yslider->isHidden());
    EXPECT_TRUE(act(ActionId::acIncruster)->isChecked());
    EXPECT_TRUE(overlayEnabled());

    // The vertical slider's handle sits beside the text: at the top for
    // the default position, which is high up in the picture.
    GstElement* overlay = cam().FilterGraph().Lumatex.Element();
    gint x = -1, y = -1;
    g_object_get(overlay, "position-x", &x, "position-y", &y, nullptr);
    EXPECT_EQ(x, 930);
    EXPECT_EQ(y, 860);
    // Moving the handle from 0 to the default changes the slider's picture
    // in its top quarter only.
    form().Yslider->setValue(0);
    const QImage atTop = form().Yslider->grab().toImage();
    form().Yslider->setValue(70);
    const QImage atDefault = form().Yslider->grab().toImage();
    ASSERT_EQ(atTop.size(), atDefault.size());
    int lastRow = -1;
    for (int row = 0; row < atTop.height(); ++row)
        for (int col = 0; col < atTop.width(); ++col)
            if (atTop.pixel(col, row) != atDefault.pixel(col, row)) lastRow = row;
    ASSERT_GE(lastRow, 0) << "the handle did not move";
    EXPECT_LT(lastRow, atTop.height() / 4) << "the handle is not at the top, beside the text";

    // The sliders move the text: the vertical one's bottom is the
    // picture's bottom.
    form().Xslider->setValue(0);
    form().Yslider->setValue(930);
    g_object_get(overlay, "position-x", &x, "position-y", &y, nullptr);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);

    QTest::mousePress(form().Shape1, Qt::LeftButton);
    EXPECT_TRUE(form().Xslider->isHidden());
    EXPECT_TRUE(act(ActionId::acIncruster)->isChecked()) << "hiding leaves the inlay on";
}

TEST_F(ProgramInlay, TheFontDialogLeavesTheWindowRunningAndTheOverlayTakesTheChoice)
{
    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    ASSERT_TRUE(cam().FilterGraph().Lumatex.InGraph());
    panel().SpeedButton4->click();
    // The dialog does not hold the window in an event loop of its own.
    auto* dialog = form().findChild<QFontDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    QFont chosen(QStringLiteral("DejaVu Serif"), 33);
    chosen.setItalic(true);
    dialog->setCurrentFont(chosen);
    dialog->accept();
    EXPECT_EQ(prefs().IncrustFont.Font.Font.pointSize(), 33);
    EXPECT_TRUE(prefs().IncrustFont.Font.Font.italic());

    GstElement* overlay = cam().FilterGraph().Lumatex.Element();
    gint size = 0;
    gboolean italic = FALSE;
    gchar* face = nullptr;
    g_object_get(overlay, "font-size", &size, "font-italic", &italic, "font-name", &face, nullptr);
    const GCharPtr faceOwned(face);
    EXPECT_EQ(size, 33);
    EXPECT_TRUE(italic);
    EXPECT_EQ(QString::fromUtf8(face), prefs().IncrustFont.Font.Font.family());

    // Cancelled: the stored font is sent again, unchanged.
    panel().SpeedButton4->click();
    g_object_set(overlay, "font-size", 10, nullptr);
    int open = 0;
    for (QFontDialog* d : form().findChildren<QFontDialog*>()) {
        if (!d->isVisible()) continue;
        ++open;
        d->reject();
    }
    EXPECT_EQ(open, 1);
    g_object_get(overlay, "font-size", &size, nullptr);
    EXPECT_EQ(size, 33);
}

} // namespace
} // namespace kad::test
