#include <gtest/gtest.h>

#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "elements/display_sink.h"
#include "platform/media/gst_ptr.h"

using kad::ElementRef;

namespace {

ElementRef launch(const std::string& description)
{
    GError* error = nullptr;
    ElementRef p = ElementRef::sink(gst_parse_launch(description.c_str(), &error));
    if (error) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
    }
    return p;
}

bool waitForEos(GstElement* pipeline)
{
    kad::BusRef bus(gst_element_get_bus(pipeline));
    kad::MessageRef msg(gst_bus_timed_pop_filtered(
        bus.get(), 30 * GST_SECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    return msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS;
}

guint64 counter(GstElement* sink, const char* name)
{
    guint64 v = 0;
    g_object_get(sink, name, &v, nullptr);
    return v;
}

// Waits until every frame that reached the sink was either handed over or
// replaced by a newer one (the delivery thread runs on its own).
bool settle(GstElement* sink)
{
    for (int i = 0; i < 3000; ++i) {
        if (counter(sink, "frames-delivered") + counter(sink, "frames-dropped") ==
            counter(sink, "frames-rendered"))
            return true;
        g_usleep(10000);
    }
    return false;
}

struct Seen {
    std::mutex lock;
    std::condition_variable released;
    bool hold = false;
    int calls = 0;
    int width = 0, height = 0, stride = 0, parN = 0, parD = 0;
    bool rightColour = true;
    bool destroyed = false;
};

void onFrame(const KadDisplayFrame* frame, gpointer data)
{
    auto* seen = static_cast<Seen*>(data);
    std::unique_lock lock(seen->lock);
    ++seen->calls;
    seen->width = frame->width;
    seen->height = frame->height;
    seen->stride = frame->stride;
    seen->parN = frame->par_n;
    seen->parD = frame->par_d;
    // Solid 0x336699: R G B x in memory.
    for (int y = 0; y < frame->height; ++y) {
        const guint8* row = frame->data + y * frame->stride;
        for (int x = 0; x < frame->width; ++x)
            seen->rightColour = seen->rightColour && row[4 * x] == 0x33 && row[4 * x + 1] == 0x66 &&
                                row[4 * x + 2] == 0x99;
    }
    seen->released.notify_all();
    if (!seen->released.wait_for(lock, std::chrono::seconds(20), [seen] { return !seen->hold; }))
        ADD_FAILURE() << "the test never let the consumer go";
}

void onDestroy(gpointer data)
{
    static_cast<Seen*>(data)->destroyed = true;
}

const char* kSource = "videotestsrc num-buffers=30 pattern=solid-color foreground-color=0xff336699 "
                      "! video/x-raw,format=RGBx,width=176,height=144,pixel-aspect-ratio=16/15 ";

} // namespace

TEST(DisplaySink, HandsEveryFrameWithItsSizeAndAspectToTheCallback)
{
    ElementRef pipeline = launch(std::string(kSource) + "! kaddisplaysink name=ds sync=false");
    ASSERT_TRUE(pipeline);
    ElementRef sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "ds"));
    EXPECT_FALSE(kad_display_sink_get_aspect(sink.get(), nullptr, nullptr, nullptr, nullptr));

    Seen seen;
    kad_display_sink_set_callback(sink.get(), onFrame, &seen, onDestroy);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    ASSERT_TRUE(waitForEos(pipeline.get()));
    ASSERT_TRUE(settle(sink.get()));

    gint width = 0, height = 0, parN = 0, parD = 0;
    ASSERT_TRUE(kad_display_sink_get_aspect(sink.get(), &width, &height, &parN, &parD));
    EXPECT_EQ(width, 176);
    EXPECT_EQ(height, 144);
    EXPECT_EQ(parN, 16);
    EXPECT_EQ(parD, 15);
    {
        std::lock_guard lock(seen.lock);
        EXPECT_GE(seen.calls, 1);
        EXPECT_EQ(static_cast<guint64>(seen.calls), counter(sink.get(), "frames-delivered"));
        EXPECT_EQ(seen.width, 176);
        EXPECT_EQ(seen.height, 144);
        EXPECT_GE(seen.stride, 176 * 4);
        EXPECT_EQ(seen.parN, 16);
        EXPECT_EQ(seen.parD, 15);
        EXPECT_TRUE(seen.rightColour);
    }
    EXPECT_GE(counter(sink.get(), "frames-rendered"), 30u);

    kad_display_sink_set_callback(sink.get(), nullptr, nullptr, nullptr);
    EXPECT_TRUE(seen.destroyed);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

TEST(DisplaySink, SlowConsumerCostsFramesNotTheStream)
{
    ElementRef pipeline = launch(std::string(kSource) + "! kaddisplaysink name=ds sync=false");
    ASSERT_TRUE(pipeline);
    ElementRef sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "ds"));

    // The consumer takes the first frame and then stalls until released: the
    // stream still runs to its end, the frames in between are dropped.
    Seen seen;
    seen.hold = true;
    kad_display_sink_set_callback(sink.get(), onFrame, &seen, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    ASSERT_TRUE(waitForEos(pipeline.get()));
    const guint64 rendered = counter(sink.get(), "frames-rendered");
    EXPECT_GE(rendered, 30u);
    {
        std::lock_guard lock(seen.lock);
        seen.hold = false;
    }
    seen.released.notify_all();
    ASSERT_TRUE(settle(sink.get()));

    // The held frame, then only the newest one waiting when it was released
    // (none when the burst was over before the consumer took its first).
    const guint64 delivered = counter(sink.get(), "frames-delivered");
    EXPECT_GE(delivered, 1u);
    EXPECT_LE(delivered, 2u);
    EXPECT_EQ(counter(sink.get(), "frames-dropped"), rendered - delivered);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

TEST(DisplaySink, StopsCleanlyWhileTheConsumerIsBusy)
{
    ElementRef pipeline = launch(std::string(kSource) + "! kaddisplaysink name=ds sync=false");
    ASSERT_TRUE(pipeline);
    ElementRef sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "ds"));
    Seen seen;
    seen.hold = true;
    kad_display_sink_set_callback(sink.get(), onFrame, &seen, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    ASSERT_TRUE(waitForEos(pipeline.get()));
    {
        // The consumer is busy with a frame before the stop begins.
        std::unique_lock lock(seen.lock);
        ASSERT_TRUE(seen.released.wait_for(lock, std::chrono::seconds(10),
                                           [&] { return seen.calls >= 1; }));
    }
    // Release from another thread only after the stop has begun waiting.
    GThread* releaser = g_thread_new(
        "release",
        [](gpointer data) -> gpointer {
            auto* s = static_cast<Seen*>(data);
            g_usleep(50000);
            {
                std::lock_guard lock(s->lock);
                s->hold = false;
            }
            s->released.notify_all();
            return nullptr;
        },
        &seen);
    EXPECT_EQ(gst_element_set_state(pipeline.get(), GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    g_thread_join(releaser);
    // The held frame, and at most the one waiting when it was released.
    EXPECT_GE(counter(sink.get(), "frames-delivered"), 1u);
    EXPECT_LE(counter(sink.get(), "frames-delivered"), 2u);
}
