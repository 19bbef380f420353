// The settings pop-up of an analog TV card, over a card of the test's
// making behind the V4L2 ioctl layer: which pages it offers, the sound
// modes, the standard and frequency, and the capture formats; refusals of
// the card are said and change nothing.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QMenu>
#include <QSlider>
#include <QWidget>

#include "graph/crossbar.h"
#include "graph/dm_cam.h"
#include "support/fake_dialogs.h"
#include "support/fake_tv_card.h"
#include "ui/choice_dialog.h"
#include "ui/device_controls_dialog.h"
#include "ui/settings_menu.h"
#include "ui/tuner_dialog.h"

namespace kad::test {
namespace {

constexpr const char* kNode = "/dev/kadrillo-test-tv-card";

// The card's inputs, tuner and composite; the composite one cannot be chosen.
class RefusingInputs final : public ICrossbar {
public:
    bool PinCounts(int& outputs, int& inputs) override
    {
        outputs = 1;
        inputs = 2;
        return true;
    }
    bool PinInfo(bool isInput, int index, int& related, long& type) override
    {
        related = -1;
        type = !isInput     ? PhysConn_Video_VideoDecoder
               : index == 0 ? PhysConn_Video_Tuner
                            : PhysConn_Video_Composite;
        return true;
    }
    bool CanRoute(int output, int input) override { return output == 0 && input < 2; }
    bool Route(int, int input) override
    {
        if (input != 0) return false;
        routed = input;
        return true;
    }
    CrossbarUpstream InputUpstream(int) override { return {}; }
    std::optional<int> RoutedInput(int) override { return routed; }
    int routed = 0;
};

class TvCardSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetV4l2PortOpener([this](const std::string& path) -> std::unique_ptr<V4l2Ioctl> {
            return path == kNode ? card.Port() : nullptr;
        });
        // Out of the graph and never started: only its device node matters.
        cam.FilterGraph().VideoSource.Bind("Test TV card", [] {
            GstElement* source = gst_element_factory_make("v4l2src", nullptr);
            if (source) g_object_set(source, "device", kNode, nullptr);
            return source;
        });
        ASSERT_TRUE(cam.FilterGraph().VideoSource.Place(GST_BIN(holder.get())));
        ASSERT_NE(cam.FilterGraph().VideoSource.Element(), nullptr);
    }

    void TearDown() override
    {
        cam.FilterGraph().VideoSource.Remove();
        SetV4l2PortOpener({});
    }

    QStringList captions()
    {
        QStringList texts;
        if (!settings.BuildSettingsMenu(&menu)) return texts;
        for (const QAction* a : menu.actions())
            texts << a->text();
        return texts;
    }

    template <typename Page> Page* open(const QString& text)
    {
        captions();
        for (QAction* a : menu.actions())
            if (a->text() == text) {
                const auto before = window.findChildren<Page*>();
                a->trigger();
                for (Page* p : window.findChildren<Page*>())
                    if (!before.contains(p)) return p;
            }
        return nullptr;
    }

    QString lastWarning() const
    {
        return dialogs.shown.empty() ? QString() : dialogs.shown.back().text;
    }

    FakeDialogs dialogs;
    kadtest::FakeTvCard card;
    ElementRef holder = ElementRef::sink(gst_bin_new("holder"));
    TdmCam cam;
    QWidget window;
    QMenu menu;
    TSettingsMenu settings{cam, &window};
};

TEST_F(TvCardSettings, TheTunerPagesFollowWhatTheCardHas)
{
    EXPECT_EQ(captions(),
              (QStringList{QStringLiteral("Video Capture Filter..."),
                           QStringLiteral("Video Capture Pin..."), QStringLiteral("TV Audio..."),
                           QStringLiteral("TV Tuner...")}));
    // A tuner with mono sound only has nothing for the sound page.
    card.Capability = V4L2_TUNER_CAP_NORM;
    EXPECT_FALSE(captions().contains(QStringLiteral("TV Audio...")));
    EXPECT_TRUE(captions().contains(QStringLiteral("TV Tuner...")));
    card.HasTuner = false;
    EXPECT_FALSE(captions().contains(QStringLiteral("TV Tuner...")));
    EXPECT_FALSE(captions().contains(QStringLiteral("Second Crossbar...")));
}

TEST_F(TvCardSettings, ThePictureControlsAreTheNodesOwn)
{
    auto* page = open<TDeviceControlsDialog>(QStringLiteral("Video Capture Filter..."));
    ASSERT_NE(page, nullptr);
    auto* brightness = page->findChild<QSlider*>(QStringLiteral("Brightness"));
    ASSERT_NE(brightness, nullptr);
    brightness->setValue(200);
    EXPECT_EQ(card.Brightness, 200);
    card.RefuseNext = EBUSY;
    brightness->setValue(10);
    EXPECT_EQ(card.Brightness, 200);
    EXPECT_EQ(brightness->value(), 200);
    EXPECT_TRUE(page->Refusal().contains(QStringLiteral("busy")));
}

TEST_F(TvCardSettings, TheSoundModeIsSetAndARefusalKeepsTheModeInForce)
{
    auto* page = open<TChoiceDialog>(QStringLiteral("TV Audio..."));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(
        page->Items(),
        (QStringList{QStringLiteral("Mono"), QStringLiteral("Stereo"), QStringLiteral("Language 1"),
                     QStringLiteral("Language 2"), QStringLiteral("Language 1 and 2")}));
    EXPECT_EQ(page->Checked(), 1);

    ASSERT_TRUE(page->Choose(3));
    EXPECT_EQ(card.AudioMode, uint32_t(V4L2_TUNER_MODE_LANG2));
    EXPECT_EQ(page->Checked(), 3);
    EXPECT_TRUE(dialogs.shown.empty());

    card.RefuseNext = EBUSY;
    EXPECT_FALSE(page->Choose(0));
    EXPECT_EQ(card.AudioMode, uint32_t(V4L2_TUNER_MODE_LANG2));
    EXPECT_EQ(page->Checked(), 3);
    EXPECT_TRUE(lastWarning().contains(QStringLiteral("busy"))) << lastWarning().toStdString();

    // A second click brings the same page forward.
    EXPECT_EQ(open<TChoiceDialog>(QStringLiteral("TV Audio...")), nullptr);
    EXPECT_EQ(window.findChildren<TChoiceDialog*>().size(), 1);
}

TEST_F(TvCardSettings, StandardAndFrequencyAreSetWithinTheTunersRange)
{
    auto* page = open<TTvTunerDialog>(QStringLiteral("TV Tuner..."));
    ASSERT_NE(page, nullptr);
    auto* standard = page->findChild<QComboBox*>(QStringLiteral("Standard"));
    auto* frequency = page->findChild<QDoubleSpinBox*>(QStringLiteral("Frequency"));
    ASSERT_NE(standard, nullptr);
    ASSERT_NE(frequency, nullptr);
    EXPECT_EQ(standard->count(), 3);
    EXPECT_EQ(standard->currentText(), QStringLiteral("PAL-BG"));

    ASSERT_TRUE(page->ChooseStandard(1));
    EXPECT_EQ(card.Standard, V4L2_STD_NTSC_M);
    EXPECT_EQ(standard->currentText(), QStringLiteral("NTSC-M"));
    card.RefuseNext = EINVAL;
    EXPECT_FALSE(page->ChooseStandard(2));
    EXPECT_EQ(card.Standard, V4L2_STD_NTSC_M);
    EXPECT_EQ(standard->currentText(), QStringLiteral("NTSC-M"));
    EXPECT_TRUE(lastWarning().contains(QStringLiteral("SECAM-L"))) << lastWarning().toStdString();

    // 503.25 MHz is 8052 steps of 62.5 kHz.
    ASSERT_TRUE(page->Tune(503.25));
    EXPECT_EQ(card.Frequency, 8052u);
    EXPECT_DOUBLE_EQ(frequency->value(), 503.25);
    const int calls = card.SetCalls;
    EXPECT_FALSE(page->Tune(2000));
    EXPECT_EQ(card.SetCalls, calls);
    EXPECT_TRUE(lastWarning().contains(QStringLiteral("range"))) << lastWarning().toStdString();
    card.RefuseNext = EBUSY;
    EXPECT_FALSE(page->Tune(600));
    EXPECT_EQ(card.Frequency, 8052u);
    EXPECT_DOUBLE_EQ(frequency->value(), 503.25);
    EXPECT_TRUE(lastWarning().contains(QStringLiteral("busy"))) << lastWarning().toStdString();
}

TEST_F(TvCardSettings, ARefusedInputIsSaidAndTheInputInUseStaysChecked)
{
    cam.Source().SetVideoCrossbar(std::make_unique<TCrossbar>(CrossbarUpstream::OutputOf(
                                      std::make_shared<RefusingInputs>(), 0)),
                                  2);
    auto* page = open<TChoiceDialog>(QStringLiteral("Video Crossbar..."));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->Checked(), 0);
    EXPECT_FALSE(page->Choose(1));
    EXPECT_EQ(page->Checked(), 0);
    EXPECT_TRUE(lastWarning().contains(QStringLiteral("Video Composite")))
        << lastWarning().toStdString();
    // The connection goes away with the page open: nothing is left to route.
    cam.Source().SetVideoCrossbar(nullptr, 0);
    EXPECT_FALSE(page->Choose(0));
    EXPECT_EQ(page->Checked(), std::nullopt);
}

TEST_F(TvCardSettings, TheCaptureFormatsAreTheCardsOwnListAndAChoiceHoldsOnTheSource)
{
    auto* page = open<TChoiceDialog>(QStringLiteral("Video Capture Pin..."));
    ASSERT_NE(page, nullptr);
    // The tiled format no raw video stands for is left out.
    ASSERT_EQ(page->Items(), (QStringList{QStringLiteral("YUY2 720 x 576, 25 fps"),
                                          QStringLiteral("YUY2 360 x 288, 25 fps")}));
    ASSERT_TRUE(page->Choose(1));
    EXPECT_EQ(page->Checked(), 1);
    CapsRef held = SourceFormatRestriction(cam.FilterGraph().VideoSource.Element());
    ASSERT_TRUE(held);
    gint width = 0;
    gst_structure_get_int(gst_caps_get_structure(held.get(), 0), "width", &width);
    EXPECT_EQ(width, 360);
    EXPECT_TRUE(dialogs.shown.empty());
}

} // namespace
} // namespace kad::test
