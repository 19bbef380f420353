// The virtual microphone's format choice, judged on the samples it sends.

#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/media/gst_ptr.h"
#include "support/pipeline.h"

namespace {

struct Heard {
    int rate = 0;
    int channels = 0;
    int peak = 0;
    guint64 samples = 0;
    bool offsetsFollow = true; // each buffer starts where the last one ended
};

// Runs the microphone non-live into an app sink that asks for `wanted`.
Heard listen(const char* wanted)
{
    Heard heard;
    kad::ElementRef pipeline =
        kadtest::launch(std::string("kadvirtualmicsrc is-live=false num-buffers=25 ! ") + wanted +
                        " ! appsink name=out sync=false");
    if (!pipeline) return heard;
    kad::ElementRef sink = kadtest::byName(pipeline.get(), "out");
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    guint64 next = 0;
    while (kad::SampleRef sample{
        gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 5 * GST_SECOND)}) {
        const GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample.get()), 0);
        gst_structure_get_int(s, "rate", &heard.rate);
        gst_structure_get_int(s, "channels", &heard.channels);
        GstBuffer* buffer = gst_sample_get_buffer(sample.get());
        kad::BufferMap map(buffer, GST_MAP_READ);
        const auto* pcm = reinterpret_cast<const gint16*>(map.data());
        const gsize count = map.size() / sizeof(gint16);
        for (gsize i = 0; i < count; ++i)
            heard.peak = std::max(heard.peak, std::abs(int(pcm[i])));
        if (GST_BUFFER_OFFSET_IS_VALID(buffer) && GST_BUFFER_OFFSET(buffer) != next)
            heard.offsetsFollow = false;
        next = GST_BUFFER_OFFSET(buffer) + count / std::max(heard.channels, 1);
        heard.samples += count / std::max(heard.channels, 1);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return heard;
}

} // namespace

TEST(VirtualMicrophone, DeliversTheFormatAskedForAndOtherwiseItsOwn)
{
    const Heard own = listen("audioconvert");
    EXPECT_EQ(own.rate, 48000);
    EXPECT_EQ(own.channels, 2);
    // 25 buffers of 20 ms.
    EXPECT_EQ(own.samples, 25u * 960u);
    EXPECT_TRUE(own.offsetsFollow);

    const Heard asked = listen("capsfilter caps=audio/x-raw,rate=32000,channels=1");
    EXPECT_EQ(asked.rate, 32000);
    EXPECT_EQ(asked.channels, 1);
    // The same half second, at the rate asked for.
    EXPECT_NEAR(double(asked.samples), 25 * 640.0, 64.0);
    EXPECT_TRUE(asked.offsetsFollow);
    EXPECT_NEAR(asked.peak, own.peak, own.peak / 10);
}
