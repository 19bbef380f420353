// The Smart Tee's capture output against a preview that holds on to what it
// is given: a preview sink that never answers an allocation query, one that
// is paused (it prerolls and then sits on its frame), one that keeps frames
// from a pool. The source's queries (allocation, drain) travel in the stream
// with the frames; whatever the preview does with them, every frame must
// still reach the capture side, in order, within seconds.

#include <gtest/gtest.h>

#include <gst/gst.h>
#include <gst/video/video.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/media/gst_ptr.h"
#include "support/pipeline.h"
#include "support/wait.h"

using kad::ElementRef;
using kad::PadRef;

namespace {

constexpr int kFrames = 60;
// Long enough for 60 frames at 100 per second on a loaded machine, short
// enough that a held capture fails the test quickly.
constexpr int kDeadlineMs = 10000;

// A live source at 100 frames a second through a Smart Tee; the capture
// output ends in a sink slowed down a little (a writer that falls behind),
// the preview output in a sink the test can pause or make hold a query.
class TeeRig {
public:
    enum class Allocation { Meta, SmallPool };
    struct Options {
        bool previewPaused = false;          // locked in PAUSED: prerolls, then sits
        bool previewHoldsAllocation = false; // never answers an allocation query
        // How the capture side answers an allocation query: a writer that
        // reads frames with their layout, or one with a pool of two buffers.
        Allocation captureAllocation = Allocation::Meta;
        bool captureRefusesDrain = false;
        // The source sends a query of this type after this many frames.
        GstQueryType query = GST_QUERY_UNKNOWN;
        int queryAfter = 0;
    };

    explicit TeeRig(Options o) : options_(o)
    {
        pipeline_ = kadtest::launch(
            "videotestsrc is-live=true num-buffers=" + std::to_string(kFrames) +
            " ! capsfilter name=caps caps=video/x-raw,format=I420,width=32,height=24,"
            "framerate=100/1 ! kadsmarttee name=tee "
            "tee.capture ! identity sleep-time=15000 ! fakesink name=capture sync=false "
            "tee.preview ! fakesink name=preview sync=false async=false");
        if (!pipeline_) return;
        capture_.reset(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "capture"));
        preview_.reset(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "preview"));
        ElementRef caps(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "caps"));

        const auto both = static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM);
        PadRef captureIn(gst_element_get_static_pad(capture_.get(), "sink"));
        gst_pad_add_probe(captureIn.get(), both, &TeeRig::atCapture, this, nullptr);
        PadRef previewIn(gst_element_get_static_pad(preview_.get(), "sink"));
        gst_pad_add_probe(previewIn.get(), both, &TeeRig::atPreview, this, nullptr);
        PadRef sourceOut(gst_element_get_static_pad(caps.get(), "src"));
        gst_pad_add_probe(sourceOut.get(), GST_PAD_PROBE_TYPE_BUFFER, &TeeRig::atSource, this,
                          nullptr);

        if (options_.previewPaused) {
            gst_element_set_locked_state(preview_.get(), TRUE);
            gst_element_set_state(preview_.get(), GST_STATE_PAUSED);
        }
    }

    ~TeeRig()
    {
        release();
        if (!pipeline_) return;
        if (options_.previewPaused) {
            gst_element_set_locked_state(preview_.get(), FALSE);
            gst_element_set_state(preview_.get(), GST_STATE_NULL);
        }
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    }

    bool play()
    {
        return pipeline_ && gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) !=
                                GST_STATE_CHANGE_FAILURE;
    }

    // Lets a held allocation query go (the test is over).
    void release()
    {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        wake_.notify_all();
    }

    bool capturedAll() const
    {
        return kadtest::waitUntil([this] { return captured == kFrames; }, kDeadlineMs);
    }

    std::atomic<int> captured{0};
    std::atomic<int> previewed{0};
    std::atomic<int> captureAllocationQueries{0};
    std::atomic<int> previewSerializedQueries{0};
    // Frames the capture sink had taken when the source's query reached it,
    // and when the query came back to the source; -1 until then.
    std::atomic<int> capturedWhenQueryArrived{-1};
    std::atomic<int> capturedWhenQueryReturned{-1};
    std::atomic<bool> queryAnswered{false};

private:
    static GstPadProbeReturn atCapture(GstPad*, GstPadProbeInfo* info, gpointer data)
    {
        auto* rig = static_cast<TeeRig*>(data);
        if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
            ++rig->captured;
            return GST_PAD_PROBE_OK;
        }
        GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
        const Options& o = rig->options_;
        if (GST_QUERY_TYPE(query) == o.query && rig->captured > 0)
            rig->capturedWhenQueryArrived = rig->captured.load();
        if (GST_QUERY_TYPE(query) == GST_QUERY_DRAIN && o.captureRefusesDrain)
            return GST_PAD_PROBE_DROP;
        if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION) return GST_PAD_PROBE_OK;
        ++rig->captureAllocationQueries;
        gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
        GstCaps* caps = nullptr;
        gst_query_parse_allocation(query, &caps, nullptr);
        GstVideoInfo vinfo;
        if (o.captureAllocation == Allocation::SmallPool && caps &&
            gst_video_info_from_caps(&vinfo, caps)) {
            // Far fewer buffers than the preview may keep.
            GstBufferPool* pool = gst_buffer_pool_new();
            gst_query_add_allocation_pool(query, pool, GST_VIDEO_INFO_SIZE(&vinfo), 1, 2);
            gst_object_unref(pool);
        }
        return GST_PAD_PROBE_HANDLED;
    }

    static GstPadProbeReturn atPreview(GstPad*, GstPadProbeInfo* info, gpointer data)
    {
        auto* rig = static_cast<TeeRig*>(data);
        if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
            ++rig->previewed;
            return GST_PAD_PROBE_OK;
        }
        GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
        if (!GST_QUERY_IS_SERIALIZED(query)) return GST_PAD_PROBE_OK;
        ++rig->previewSerializedQueries;
        if (GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION && rig->options_.previewHoldsAllocation) {
            // A sink stuck in its allocation proposal: it answers only when
            // the test ends (or after half a minute, so nothing hangs).
            std::unique_lock lock(rig->mutex_);
            rig->wake_.wait_for(lock, std::chrono::seconds(30), [rig] { return rig->released_; });
        }
        return GST_PAD_PROBE_OK;
    }

    // On the source's streaming thread, in the stream: the query goes out
    // after `queryAfter` frames and before the next one.
    static GstPadProbeReturn atSource(GstPad* pad, GstPadProbeInfo*, gpointer data)
    {
        auto* rig = static_cast<TeeRig*>(data);
        const Options& o = rig->options_;
        if (o.query == GST_QUERY_UNKNOWN || rig->pushed_++ != o.queryAfter) return GST_PAD_PROBE_OK;
        GstQuery* query = nullptr;
        if (o.query == GST_QUERY_DRAIN) {
            query = gst_query_new_drain();
        } else {
            kad::CapsRef caps(gst_pad_get_current_caps(pad));
            query = gst_query_new_allocation(caps.get(), TRUE);
        }
        const bool answered = gst_pad_peer_query(pad, query);
        gst_query_unref(query);
        rig->queryAnswered = answered;
        rig->capturedWhenQueryReturned = rig->captured.load();
        return GST_PAD_PROBE_OK;
    }

    Options options_;
    ElementRef pipeline_, capture_, preview_;
    int pushed_ = 0; // source thread only
    std::mutex mutex_;
    std::condition_variable wake_;
    bool released_ = false;
};

TEST(SmartTeeQueries, ThePreviewNeverHoldsTheCaptureBack)
{
    {
        SCOPED_TRACE("a preview sink that never answers the allocation query");
        TeeRig rig({.previewHoldsAllocation = true});
        ASSERT_TRUE(rig.play());
        EXPECT_TRUE(rig.capturedAll()) << "captured " << rig.captured << " of " << kFrames;
        // The capture side was asked, the preview was not, and it still shows
        // the picture.
        EXPECT_GE(rig.captureAllocationQueries, 1);
        EXPECT_EQ(rig.previewSerializedQueries, 0);
        EXPECT_TRUE(kadtest::waitUntil([&] { return rig.previewed > 0; }, kDeadlineMs));
    }
    {
        SCOPED_TRACE("a paused preview, the source asking for buffers again mid-stream");
        constexpr int after = 20;
        TeeRig rig({.previewPaused = true, .query = GST_QUERY_ALLOCATION, .queryAfter = after});
        ASSERT_TRUE(rig.play());
        EXPECT_TRUE(rig.capturedAll()) << "captured " << rig.captured << " of " << kFrames;
        ASSERT_TRUE(
            kadtest::waitUntil([&] { return rig.capturedWhenQueryReturned >= 0; }, kDeadlineMs))
            << "the allocation query never returned";
        EXPECT_TRUE(rig.queryAnswered);
        EXPECT_EQ(rig.capturedWhenQueryArrived, after)
            << "returned at " << rig.capturedWhenQueryReturned;
        // Paused, the preview took its one frame and no more.
        EXPECT_LE(rig.previewed, 1);
    }
    {
        SCOPED_TRACE("a paused preview and a pool of two buffers offered by the capture side");
        TeeRig rig({.previewPaused = true, .captureAllocation = TeeRig::Allocation::SmallPool});
        ASSERT_TRUE(rig.play());
        EXPECT_TRUE(rig.capturedAll()) << "captured " << rig.captured << " of " << kFrames;
        EXPECT_GE(rig.captureAllocationQueries, 1);
    }
}

TEST(SmartTeeQueries, ADrainWaitsForTheCaptureAloneAndInOrder)
{
    constexpr int after = 20;
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "the capture side refuses the drain" : "the capture side drains");
        TeeRig rig({.previewPaused = true,
                    .captureRefusesDrain = refused,
                    .query = GST_QUERY_DRAIN,
                    .queryAfter = after});
        ASSERT_TRUE(rig.play());
        EXPECT_TRUE(rig.capturedAll()) << "captured " << rig.captured << " of " << kFrames;
        ASSERT_TRUE(
            kadtest::waitUntil([&] { return rig.capturedWhenQueryReturned >= 0; }, kDeadlineMs))
            << "the drain query never returned";
        EXPECT_EQ(rig.queryAnswered, !refused);
        // The drain reached the capture sink behind exactly the frames sent
        // before it, and returned only once they had all been taken.
        EXPECT_EQ(rig.capturedWhenQueryArrived, after);
        EXPECT_GE(rig.capturedWhenQueryReturned, after);
    }
}

} // namespace
