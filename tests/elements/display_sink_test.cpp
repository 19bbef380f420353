#include <gtest/gtest.h>

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "elements/display_sink.h"
#include "platform/media/gst_ptr.h"
#include "support/pipeline.h"

using kad::ElementRef;
using kadtest::launch;
using kadtest::playToEnd;

namespace {

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
    ASSERT_TRUE(playToEnd(pipeline.get()));
    ASSERT_TRUE(settle(sink.get()));

    gint width = 0, height = 0, parN = 0, parD = 0;
    ASSERT_TRUE(kad_display_sink_get_aspect(sink.get(), &width, &height, &parN, &parD));
    EXPECT_EQ(std::tie(width, height, parN, parD), std::make_tuple(176, 144, 16, 15));
    {
        std::lock_guard lock(seen.lock);
        EXPECT_GE(seen.calls, 1);
        EXPECT_EQ(static_cast<guint64>(seen.calls), counter(sink.get(), "frames-delivered"));
        EXPECT_EQ(std::tie(seen.width, seen.height, seen.parN, seen.parD),
                  std::make_tuple(176, 144, 16, 15));
        EXPECT_GE(seen.stride, 176 * 4);
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
    ASSERT_TRUE(playToEnd(pipeline.get()));
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
    ASSERT_TRUE(playToEnd(pipeline.get()));
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

namespace {

// Every picture handed over, kept by reference, with a copy of its pixels
// taken during the call.
struct Kept {
    std::mutex lock;
    std::vector<kad::BufferRef> buffers;
    std::vector<gsize> offsets;
    std::vector<std::vector<guint8>> pixels;
    int width = 0, height = 0, stride = 0;
};

void keepEvery(const KadDisplayFrame* frame, gpointer data)
{
    auto* kept = static_cast<Kept*>(data);
    std::lock_guard lock(kept->lock);
    kept->width = frame->width;
    kept->height = frame->height;
    kept->stride = frame->stride;
    std::vector<guint8> pixels;
    for (int y = 0; y < frame->height; ++y)
        pixels.insert(pixels.end(), frame->data + y * frame->stride,
                      frame->data + y * frame->stride + 4 * frame->width);
    kept->pixels.push_back(std::move(pixels));
    kept->buffers.push_back(kad::BufferRef::ref(frame->buffer));
    kept->offsets.push_back(frame->offset);
}

} // namespace

// A consumer may keep the pictures it is handed: the sink neither draws over
// them nor runs out of pictures when it scales the source's frames (shown as
// they come, ConsumerKeepingPicturesNeverHoldsTheSourcesBuffers).
TEST(DisplaySink, PicturesKeptByTheConsumerStayAsTheyWere)
{
    // Snow: every frame differs from the one before.
    ElementRef pipeline = launch("videotestsrc is-live=true num-buffers=24 pattern=snow ! "
                                 "video/x-raw,framerate=25/1,format=I420,width=352,height=288 ! "
                                 "kaddisplaysink name=ds sync=false display-width=176 "
                                 "display-height=144");
    ASSERT_TRUE(pipeline);
    ElementRef sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "ds"));
    Kept kept;
    kad_display_sink_set_callback(sink.get(), keepEvery, &kept, nullptr);
    ASSERT_TRUE(playToEnd(pipeline.get()));
    ASSERT_TRUE(settle(sink.get()));
    kad_display_sink_set_callback(sink.get(), nullptr, nullptr, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);

    std::lock_guard lock(kept.lock);
    // Nearly all frames reach the consumer at this pace (slow enough for a
    // loaded machine); holding every one of them never made the sink wait
    // for a free picture.
    EXPECT_GE(kept.buffers.size(), 12u);
    EXPECT_EQ(kept.buffers.size(), counter(sink.get(), "frames-delivered"));
    EXPECT_EQ(std::tie(kept.width, kept.height), std::make_tuple(176, 144));
    int differing = 0;
    for (size_t i = 0; i < kept.buffers.size(); ++i) {
        kad::BufferMap map(kept.buffers[i].get(), GST_MAP_READ);
        ASSERT_TRUE(map);
        ASSERT_LE(kept.offsets[i] + gsize(kept.stride) * (kept.height - 1) + 4 * kept.width,
                  map.size());
        bool same = true;
        for (int y = 0; y < kept.height && same; ++y)
            same = std::memcmp(map.data() + kept.offsets[i] + y * kept.stride,
                               kept.pixels[i].data() + y * 4 * kept.width, 4 * kept.width) == 0;
        EXPECT_TRUE(same) << "picture " << i << " was drawn over";
        if (i > 0 && kept.pixels[i] != kept.pixels[i - 1]) ++differing;
    }
    // Otherwise the check above could not tell (the first frame may come
    // twice: shown before the stream runs, then in its turn).
    EXPECT_GE(differing, 10);
}

// A source's frame shown as it comes is not kept from its pool: a capture
// device has only a few buffers and stops when they are all held. Here the
// source has three, and the consumer keeps every picture it is handed.
TEST(DisplaySink, ConsumerKeepingPicturesNeverHoldsTheSourcesBuffers)
{
    constexpr int kWidth = 64, kHeight = 48, kFrames = 10;
    ElementRef pipeline = launch("appsrc name=src format=time "
                                 "caps=video/x-raw,format=RGBx,width=64,height=48,"
                                 "framerate=25/1 ! kaddisplaysink name=ds sync=false "
                                 "show-preroll-frame=false");
    ASSERT_TRUE(pipeline);
    ElementRef source(gst_bin_get_by_name(GST_BIN(pipeline.get()), "src"));
    ElementRef sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "ds"));
    Kept kept;
    kad_display_sink_set_callback(sink.get(), keepEvery, &kept, nullptr);
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

    kad::GRef<GstBufferPool> pool(gst_buffer_pool_new());
    GstStructure* config = gst_buffer_pool_get_config(pool.get());
    gst_buffer_pool_config_set_params(config, nullptr, kWidth * kHeight * 4, 3, 3);
    ASSERT_TRUE(gst_buffer_pool_set_config(pool.get(), config));
    ASSERT_TRUE(gst_buffer_pool_set_active(pool.get(), TRUE));
    GstBufferPoolAcquireParams dontWait{};
    dontWait.flags = GST_BUFFER_POOL_ACQUIRE_FLAG_DONTWAIT;
    for (int i = 0; i < kFrames; ++i) {
        GstBuffer* buffer = nullptr;
        // The sink gives each one back once it has shown it.
        for (int tries = 0; tries < 300 && !buffer; ++tries)
            if (gst_buffer_pool_acquire_buffer(pool.get(), &buffer, &dontWait) != GST_FLOW_OK)
                g_usleep(10000);
        ASSERT_TRUE(buffer) << "the source has had none of its buffers back after frame " << i;
        {
            kad::BufferMap map(buffer, GST_MAP_WRITE);
            ASSERT_TRUE(map);
            for (gsize b = 0; b < map.size(); ++b)
                map.data()[b] = static_cast<guint8>(i * 37 + b);
        }
        GST_BUFFER_PTS(buffer) = i * GST_SECOND / 25;
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer), GST_FLOW_OK);
        // One frame at a time, so that every one is handed over.
        for (int tries = 0; tries < 300 && counter(sink.get(), "frames-delivered") <= guint64(i);
             ++tries)
            g_usleep(10000);
        ASSERT_EQ(counter(sink.get(), "frames-delivered"), guint64(i + 1));
    }
    kad_display_sink_set_callback(sink.get(), nullptr, nullptr, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);

    std::lock_guard lock(kept.lock);
    ASSERT_EQ(kept.buffers.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        kad::BufferMap map(kept.buffers[i].get(), GST_MAP_READ);
        ASSERT_TRUE(map);
        bool same = true;
        for (int y = 0; y < kHeight && same; ++y)
            same = std::memcmp(map.data() + kept.offsets[i] + y * kept.stride,
                               kept.pixels[i].data() + y * 4 * kWidth, 4 * kWidth) == 0;
        EXPECT_TRUE(same) << "picture " << i << " was drawn over";
        // What the source sent, byte for byte.
        EXPECT_EQ(kept.pixels[i][5], static_cast<guint8>(i * 37 + 5));
    }
    kept.buffers.clear();
    gst_buffer_pool_set_active(pool.get(), FALSE);
}
