// Capture formats read from a source's caps and held on its output pads:
// what is offered, what the source then negotiates, and lifting it again.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "graph/device_controls.h"
#include "platform/media/gst_ptr.h"

using namespace kad;

namespace {

// source ! fakesink, run to PAUSED; the caps its pad negotiated.
CapsRef negotiate(GstElement* source)
{
    ElementRef pipeline = ElementRef::sink(gst_pipeline_new(nullptr));
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), GST_ELEMENT(gst_object_ref(source)), sink, nullptr);
    if (!gst_element_link(source, sink)) return {};
    gst_element_set_state(pipeline.get(), GST_STATE_PAUSED);
    gst_element_get_state(pipeline.get(), nullptr, nullptr, 5 * GST_SECOND);
    PadRef pad(gst_element_get_static_pad(source, "src"));
    CapsRef caps(gst_pad_get_current_caps(pad.get()));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline.get()), source);
    return caps;
}

int intField(const CapsRef& caps, const char* name)
{
    gint value = 0;
    if (caps) gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), name, &value);
    return value;
}

bool offers(const std::vector<FormatChoice>& choices, const std::string& label)
{
    return std::any_of(choices.begin(), choices.end(),
                       [&](const FormatChoice& c) { return c.Label == label; });
}

} // namespace

TEST(SourceFormats, AChosenFormatHoldsAcrossRunsAndTheChoicesStayWhole)
{
    ElementRef webcam = ElementRef::sink(gst_element_factory_make("kadvirtualwebcamsrc", nullptr));
    ASSERT_TRUE(webcam);
    g_object_set(webcam.get(), "is-live", FALSE, "num-buffers", 2, nullptr);
    const auto choices = VideoFormatsOf(webcam.get());
    EXPECT_EQ(choices.size(), 8u);
    EXPECT_TRUE(offers(choices, "I420 320 x 240, 15 fps"));
    EXPECT_FALSE(HasSeparatePreviewOutput(webcam.get()));

    const CapsRef first = negotiate(webcam.get());
    ASSERT_TRUE(first);
    EXPECT_EQ(intField(first, "width"), 640);

    const auto small = std::find_if(choices.begin(), choices.end(), [](const FormatChoice& c) {
        return c.Label == "I420 320 x 240, 15 fps";
    });
    ASSERT_NE(small, choices.end());
    RestrictSourceFormat(webcam.get(), small->Caps.get());
    for (int run = 0; run < 2; ++run) {
        const CapsRef held = negotiate(webcam.get());
        ASSERT_TRUE(held);
        EXPECT_EQ(intField(held, "width"), 320);
        gint num = 0, den = 0;
        gst_structure_get_fraction(gst_caps_get_structure(held.get(), 0), "framerate", &num, &den);
        EXPECT_EQ(num, 15);
        EXPECT_EQ(den, 1);
        EXPECT_STREQ(gst_structure_get_string(gst_caps_get_structure(held.get(), 0), "format"),
                     "I420");
    }
    // The list is read past the restriction, which is told as it is.
    EXPECT_EQ(VideoFormatsOf(webcam.get()).size(), 8u);
    ASSERT_TRUE(SourceFormatRestriction(webcam.get()));
    EXPECT_TRUE(gst_caps_is_equal(SourceFormatRestriction(webcam.get()).get(), small->Caps.get()));

    RestrictSourceFormat(webcam.get(), nullptr);
    EXPECT_FALSE(SourceFormatRestriction(webcam.get()));
    EXPECT_EQ(intField(negotiate(webcam.get()), "width"), 640);
}

TEST(SourceFormats, ASoundRangeIsOfferedAtTheUsualRatesAndVolumeIsAControl)
{
    ElementRef tone = ElementRef::sink(gst_element_factory_make("audiotestsrc", nullptr));
    ASSERT_TRUE(tone);
    const auto choices = AudioFormatsOf(tone.get());
    EXPECT_TRUE(offers(choices, "48000 Hz, stereo"));
    EXPECT_TRUE(offers(choices, "8000 Hz, mono"));
    EXPECT_EQ(choices.size(), 16u);
    EXPECT_TRUE(VideoFormatsOf(tone.get()).empty());

    // audiotestsrc has a volume but no mute.
    auto memory = std::make_shared<SoundSettings>();
    auto controls = AudioControlsOf(tone.get(), memory);
    ASSERT_NE(controls, nullptr);
    const auto list = controls->Controls();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(controls->SetValue(list[0], 30), std::nullopt);
    gdouble volume = 0;
    g_object_get(tone.get(), "volume", &volume, nullptr);
    EXPECT_DOUBLE_EQ(volume, 0.3);
    EXPECT_TRUE(controls->SetValue(list[0], 130).has_value());
    EXPECT_EQ(controls->Value(list[0].Id), 30);

    // What was set comes back on another element of the same device.
    ElementRef again = ElementRef::sink(gst_element_factory_make("audiotestsrc", nullptr));
    ApplySoundSettings(again.get(), *memory);
    g_object_get(again.get(), "volume", &volume, nullptr);
    EXPECT_DOUBLE_EQ(volume, 0.3);

    // A source with neither offers no page.
    ElementRef silent = ElementRef::sink(gst_element_factory_make("fakesrc", nullptr));
    EXPECT_EQ(AudioControlsOf(silent.get()), nullptr);
}
