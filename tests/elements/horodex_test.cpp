#include <gtest/gtest.h>

#include <gst/gst.h>

#include <tuple>
#include <utility>
#include <vector>

#include "elements/horodex.h"
#include "platform/media/gst_ptr.h"
#include "support/pad_harness.h"
#include "support/pipeline.h"

using kad::ElementRef;

namespace {

constexpr GstClockTime kMs = GST_MSECOND;

// kadhorodex driven by hand, with buffers that carry only their times.
class Harness : public kadtest::PadHarness {
public:
    explicit Harness(const char* factory) : PadHarness(factory, "application/x-test", false) {}

    GstFlowReturn push(GstClockTime pts, GstClockTime duration,
                       GstClockTime dts = GST_CLOCK_TIME_NONE)
    {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 16, nullptr);
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DTS(buffer) = dts;
        GST_BUFFER_DURATION(buffer) = duration;
        return PadHarness::push(buffer);
    }

    void gap(GstClockTime timestamp, GstClockTime duration)
    {
        sendEvent(gst_event_new_gap(timestamp, duration));
    }
};

} // namespace

// Stored, an offset moves nothing until it is applied; prepare forgets it,
// so an apply after prepare moves nothing either.
TEST(Horodex, StoredOffsetTakesEffectOnlyOnApplyAndPrepareResetsIt)
{
    Harness h("kadhorodex");
    h.segment(0, GST_CLOCK_TIME_NONE);

    // 100-ns units: 250000 is 25 ms.
    kad_horodex_set_offset(h.element(), 250000);
    h.push(0, 40 * kMs, 0);
    kad_horodex_apply(h.element());
    h.push(40 * kMs, 40 * kMs, 40 * kMs);

    // The same through the action signals and the property.
    g_signal_emit_by_name(h.element(), "prepare");
    h.push(80 * kMs, 40 * kMs);
    g_signal_emit_by_name(h.element(), "apply");
    h.push(120 * kMs, 40 * kMs);
    g_signal_emit_by_name(h.element(), "set-offset", G_GINT64_CONSTANT(400000));
    g_signal_emit_by_name(h.element(), "apply");
    h.push(160 * kMs, 40 * kMs);
    g_object_set(h.element(), "offset", G_GINT64_CONSTANT(-100000), nullptr);
    kad_horodex_apply(h.element());
    h.push(200 * kMs, 40 * kMs);

    ASSERT_EQ(h.buffers.size(), 6u);
    std::vector<GstClockTime> pts;
    for (const auto& b : h.buffers)
        pts.push_back(GST_BUFFER_PTS(b.get()));
    EXPECT_EQ(pts,
              (std::vector<GstClockTime>{0, 65 * kMs, 80 * kMs, 120 * kMs, 200 * kMs, 190 * kMs}));
    EXPECT_EQ(GST_BUFFER_DTS(h.buffers[0].get()), 0u);
    EXPECT_EQ(GST_BUFFER_DURATION(h.buffers[0].get()), 40 * kMs);
    EXPECT_EQ(GST_BUFFER_DTS(h.buffers[1].get()), 65 * kMs);
    // Each change of offset is a discontinuity downstream.
    EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(h.buffers[1].get(), GST_BUFFER_FLAG_DISCONT));
    EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(h.buffers[5].get(), GST_BUFFER_FLAG_DISCONT));
}

TEST(Horodex, NegativeOffsetNeverMakesNegativeTimestamps)
{
    Harness h("kadhorodex");
    kad_horodex_set_offset(h.element(), -600000); // -60 ms
    kad_horodex_apply(h.element());
    h.segment(0, GST_CLOCK_TIME_NONE);

    EXPECT_EQ(h.push(0, 40 * kMs, 0), GST_FLOW_OK);               // wholly before zero: dropped
    EXPECT_EQ(h.push(40 * kMs, 40 * kMs, 40 * kMs), GST_FLOW_OK); // straddles zero
    EXPECT_EQ(h.push(80 * kMs, 40 * kMs), GST_FLOW_OK);
    EXPECT_EQ(h.push(10 * kMs, GST_CLOCK_TIME_NONE), GST_FLOW_OK); // no duration, before zero

    ASSERT_EQ(h.buffers.size(), 2u);
    GstBuffer* straddling = h.buffers[0].get();
    EXPECT_EQ(std::make_tuple(GST_BUFFER_PTS(straddling), GST_BUFFER_DURATION(straddling)),
              std::make_tuple(GstClockTime(0), 20 * kMs));
    EXPECT_FALSE(GST_CLOCK_TIME_IS_VALID(GST_BUFFER_DTS(straddling)));
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[1].get()), 20 * kMs);

    // Gaps move too; one wholly before zero disappears.
    h.gap(30 * kMs, 10 * kMs);
    h.gap(100 * kMs, 10 * kMs);
    EXPECT_EQ(h.gaps, std::vector<GstClockTime>{40 * kMs});
}

TEST(Horodex, SegmentEndFollowsTheOffsetEvenWhenAppliedMidStream)
{
    Harness h("kadhorodex");
    h.segment(0, 1000 * kMs);
    h.push(0, 40 * kMs);
    kad_horodex_set_offset(h.element(), 500000); // 50 ms
    kad_horodex_apply(h.element());
    h.push(40 * kMs, 40 * kMs);

    ASSERT_EQ(h.segments.size(), 2u);
    EXPECT_EQ(h.segments[0].stop, 1000 * kMs);
    EXPECT_EQ(std::make_tuple(h.segments[1].start, h.segments[1].stop),
              std::make_tuple(guint64(0), 1050 * kMs));
    // The updated segment arrives before the first shifted buffer.
    EXPECT_EQ(h.order, "Scsbsb");
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[1].get()), 90 * kMs);

    // A new segment upstream is shifted with the offset in use.
    h.segment(0, 200 * kMs);
    ASSERT_EQ(h.segments.size(), 3u);
    EXPECT_EQ(h.segments[2].stop, 250 * kMs);
}

TEST(Horodex, HugeOffsetsAreClampedInsteadOfOverflowing)
{
    Harness h("kadhorodex");
    h.segment(0, GST_CLOCK_TIME_NONE);
    kad_horodex_set_offset(h.element(), G_MININT64);
    kad_horodex_apply(h.element());
    h.push(GST_SECOND, 40 * kMs);
    EXPECT_TRUE(h.buffers.empty());

    kad_horodex_set_offset(h.element(), G_MAXINT64);
    kad_horodex_apply(h.element());
    h.push(GST_SECOND, 40 * kMs);
    ASSERT_EQ(h.buffers.size(), 1u);
    EXPECT_TRUE(GST_CLOCK_TIME_IS_VALID(GST_BUFFER_PTS(h.buffers[0].get())));
    EXPECT_GT(GST_BUFFER_PTS(h.buffers[0].get()), GST_SECOND);
}

// Sound moved partly before zero keeps only its samples after zero, so the
// rest of the sound does not start late by the part cut away; buffers wholly
// before zero are dropped, the rest moved back, to the end of the stream.
TEST(Horodex, SoundStraddlingZeroLosesItsSamplesBeforeZero)
{
    ElementRef p = kadtest::launch(
        "audiotestsrc num-buffers=3 samplesperbuffer=960 ! "
        "audio/x-raw,format=S16LE,rate=48000,channels=2 ! kadhorodex name=h ! fakesink name=out");
    ASSERT_TRUE(p);
    ElementRef h = kadtest::byName(p.get(), "h");
    kad_horodex_set_offset(h.get(), -250000); // -25 ms: 5 ms into the second buffer
    kad_horodex_apply(h.get());
    ElementRef out = kadtest::byName(p.get(), "out");
    kad::PadRef pad(gst_element_get_static_pad(out.get(), "sink"));
    std::vector<std::pair<GstClockTime, gsize>> seen;
    gst_pad_add_probe(
        pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
            static_cast<std::vector<std::pair<GstClockTime, gsize>>*>(data)->emplace_back(
                GST_BUFFER_PTS(b), gst_buffer_get_size(b));
            return GST_PAD_PROBE_OK;
        },
        &seen, nullptr);
    std::string why;
    const bool ended = kadtest::playToEnd(p.get(), &why);
    gst_element_set_state(p.get(), GST_STATE_NULL);
    ASSERT_TRUE(ended) << why;
    // 15 ms left of the second 20 ms buffer, then the third whole.
    EXPECT_EQ(seen,
              (std::vector<std::pair<GstClockTime, gsize>>{{0, 720 * 4}, {15 * kMs, 960 * 4}}));
}
