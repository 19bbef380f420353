#include <gtest/gtest.h>

#include <gst/gst.h>

#include <vector>

#include "elements/horodex.h"
#include "platform/media/gst_ptr.h"

using kad::ElementRef;

namespace {

constexpr GstClockTime kMs = GST_MSECOND;

// Drives one element by hand: our own source pad feeds its sink pad, our own
// sink pad collects what it sends, all on the test's thread.
class Harness {
public:
    explicit Harness(const char* factory)
        : element_(ElementRef::sink(gst_element_factory_make(factory, nullptr)))
    {
        src_ = kad::PadRef::sink(gst_pad_new("testsrc", GST_PAD_SRC));
        sink_ = kad::PadRef::sink(gst_pad_new("testsink", GST_PAD_SINK));
        g_object_set_data(G_OBJECT(sink_.get()), "harness", this);
        gst_pad_set_chain_function(sink_.get(), chain);
        gst_pad_set_event_function(sink_.get(), event);
        kad::PadRef elementSink(gst_element_get_static_pad(element_.get(), "sink"));
        kad::PadRef elementSrc(gst_element_get_static_pad(element_.get(), "src"));
        gst_pad_link(src_.get(), elementSink.get());
        gst_pad_link(elementSrc.get(), sink_.get());
        gst_pad_set_active(src_.get(), TRUE);
        gst_pad_set_active(sink_.get(), TRUE);
        gst_element_set_state(element_.get(), GST_STATE_PLAYING);
        gst_pad_push_event(src_.get(), gst_event_new_stream_start("horodex-test"));
        kad::CapsRef caps(gst_caps_new_empty_simple("application/x-test"));
        gst_pad_push_event(src_.get(), gst_event_new_caps(caps.get()));
    }
    ~Harness()
    {
        gst_element_set_state(element_.get(), GST_STATE_NULL);
        gst_pad_set_active(src_.get(), FALSE);
        gst_pad_set_active(sink_.get(), FALSE);
    }

    GstElement* element() const { return element_.get(); }

    void segment(GstClockTime start, GstClockTime stop)
    {
        GstSegment seg;
        gst_segment_init(&seg, GST_FORMAT_TIME);
        seg.start = start;
        seg.stop = stop;
        seg.time = start;
        gst_pad_push_event(src_.get(), gst_event_new_segment(&seg));
    }

    GstFlowReturn push(GstClockTime pts, GstClockTime duration,
                       GstClockTime dts = GST_CLOCK_TIME_NONE)
    {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 16, nullptr);
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DTS(buffer) = dts;
        GST_BUFFER_DURATION(buffer) = duration;
        return gst_pad_push(src_.get(), buffer);
    }

    void gap(GstClockTime timestamp, GstClockTime duration)
    {
        gst_pad_push_event(src_.get(), gst_event_new_gap(timestamp, duration));
    }

    std::vector<kad::BufferRef> buffers;
    std::vector<GstSegment> segments;
    std::vector<GstClockTime> gaps;
    // The order of what arrived: 'b' buffer, 's' segment, 'g' gap.
    std::string order;

private:
    static Harness* self(GstPad* pad)
    {
        return static_cast<Harness*>(g_object_get_data(G_OBJECT(pad), "harness"));
    }
    static GstFlowReturn chain(GstPad* pad, GstObject*, GstBuffer* buffer)
    {
        self(pad)->buffers.emplace_back(buffer);
        self(pad)->order += 'b';
        return GST_FLOW_OK;
    }
    static gboolean event(GstPad* pad, GstObject*, GstEvent* event)
    {
        Harness* h = self(pad);
        if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            const GstSegment* seg = nullptr;
            gst_event_parse_segment(event, &seg);
            h->segments.push_back(*seg);
            h->order += 's';
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_GAP) {
            GstClockTime ts = 0;
            gst_event_parse_gap(event, &ts, nullptr);
            h->gaps.push_back(ts);
            h->order += 'g';
        }
        gst_event_unref(event);
        return TRUE;
    }

    ElementRef element_;
    kad::PadRef src_;
    kad::PadRef sink_;
};

gint64 int64Property(GstElement* e, const char* name)
{
    gint64 v = 0;
    g_object_get(e, name, &v, nullptr);
    return v;
}

} // namespace

TEST(Horodex, IsFoundByItsLongNameAndPassesTimestampsUnchangedByDefault)
{
    GstElementFactory* factory = gst_element_factory_find("kadhorodex");
    ASSERT_NE(factory, nullptr);
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME),
                 "Tavrel Horodex");
    gst_object_unref(factory);

    Harness h("kadhorodex");
    h.segment(0, GST_CLOCK_TIME_NONE);
    ASSERT_EQ(h.push(40 * kMs, 40 * kMs, 40 * kMs), GST_FLOW_OK);
    ASSERT_EQ(h.buffers.size(), 1u);
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[0].get()), 40 * kMs);
    EXPECT_EQ(GST_BUFFER_DTS(h.buffers[0].get()), 40 * kMs);
    EXPECT_EQ(GST_BUFFER_DURATION(h.buffers[0].get()), 40 * kMs);
}

TEST(Horodex, StoredOffsetTakesEffectOnlyOnApplyAndPrepareResetsIt)
{
    Harness h("kadhorodex");
    h.segment(0, GST_CLOCK_TIME_NONE);

    // 100-ns units: 250000 is 25 ms.
    kad_horodex_set_offset(h.element(), 250000);
    EXPECT_EQ(int64Property(h.element(), "offset"), 250000);
    EXPECT_EQ(int64Property(h.element(), "active-offset"), 0);
    h.push(0, 40 * kMs);
    kad_horodex_apply(h.element());
    EXPECT_EQ(int64Property(h.element(), "active-offset"), 250000);
    h.push(40 * kMs, 40 * kMs, 40 * kMs);

    // The same through the action signals and the property.
    g_signal_emit_by_name(h.element(), "prepare");
    EXPECT_EQ(int64Property(h.element(), "offset"), 0);
    EXPECT_EQ(int64Property(h.element(), "active-offset"), 0);
    h.push(80 * kMs, 40 * kMs);
    g_signal_emit_by_name(h.element(), "set-offset", G_GINT64_CONSTANT(400000));
    g_signal_emit_by_name(h.element(), "apply");
    h.push(120 * kMs, 40 * kMs);
    g_object_set(h.element(), "offset", G_GINT64_CONSTANT(-100000), nullptr);
    kad_horodex_apply(h.element());
    h.push(160 * kMs, 40 * kMs);

    ASSERT_EQ(h.buffers.size(), 5u);
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[0].get()), 0u);
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[1].get()), 65 * kMs);
    EXPECT_EQ(GST_BUFFER_DTS(h.buffers[1].get()), 65 * kMs);
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[2].get()), 80 * kMs);
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[3].get()), 160 * kMs);
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[4].get()), 150 * kMs);
    // Each change of offset is a discontinuity downstream.
    EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(h.buffers[1].get(), GST_BUFFER_FLAG_DISCONT));
    EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(h.buffers[4].get(), GST_BUFFER_FLAG_DISCONT));
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
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[0].get()), 0u);
    EXPECT_EQ(GST_BUFFER_DURATION(h.buffers[0].get()), 20 * kMs);
    EXPECT_FALSE(GST_CLOCK_TIME_IS_VALID(GST_BUFFER_DTS(h.buffers[0].get())));
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[1].get()), 20 * kMs);

    // Gaps move too; one wholly before zero disappears.
    h.gap(30 * kMs, 10 * kMs);
    h.gap(100 * kMs, 10 * kMs);
    ASSERT_EQ(h.gaps.size(), 1u);
    EXPECT_EQ(h.gaps[0], 40 * kMs);
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
    EXPECT_EQ(h.segments[1].start, 0u);
    EXPECT_EQ(h.segments[1].stop, 1050 * kMs);
    // The updated segment arrives before the first shifted buffer.
    EXPECT_EQ(h.order, "sbsb");
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
    const gint64 clamped = int64Property(h.element(), "active-offset");
    EXPECT_LT(clamped, 0);
    EXPECT_GT(clamped, G_MININT64 / 100);
    h.push(GST_SECOND, 40 * kMs);
    EXPECT_TRUE(h.buffers.empty());

    kad_horodex_set_offset(h.element(), G_MAXINT64);
    kad_horodex_apply(h.element());
    h.push(GST_SECOND, 40 * kMs);
    ASSERT_EQ(h.buffers.size(), 1u);
    EXPECT_TRUE(GST_CLOCK_TIME_IS_VALID(GST_BUFFER_PTS(h.buffers[0].get())));
    EXPECT_GT(GST_BUFFER_PTS(h.buffers[0].get()), GST_SECOND);
}

TEST(Horodex, ShiftedAudioPlaysThroughARealPipelineToItsEnd)
{
    // 10 buffers of 1024 samples at 48 kHz (21.33 ms each); a -50 ms offset
    // drops the first two, cuts the third and moves the rest back.
    GError* error = nullptr;
    ElementRef pipeline = ElementRef::sink(gst_parse_launch(
        "audiotestsrc num-buffers=10 samplesperbuffer=1024 ! audio/x-raw,rate=48000 ! "
        "kadhorodex name=hd ! appsink name=out sync=false emit-signals=false",
        &error));
    ASSERT_EQ(error, nullptr);
    ElementRef hd(gst_bin_get_by_name(GST_BIN(pipeline.get()), "hd"));
    ElementRef out(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    kad_horodex_prepare(hd.get());
    kad_horodex_set_offset(hd.get(), -500000);
    kad_horodex_apply(hd.get());

    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    std::vector<GstClockTime> pts;
    for (;;) {
        GstSample* sample = nullptr;
        g_signal_emit_by_name(out.get(), "pull-sample", &sample);
        if (!sample) break;
        pts.push_back(GST_BUFFER_PTS(gst_sample_get_buffer(sample)));
        gst_sample_unref(sample);
    }
    gboolean eos = FALSE;
    g_object_get(out.get(), "eos", &eos, nullptr);
    EXPECT_TRUE(eos);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);

    ASSERT_EQ(pts.size(), 8u);
    EXPECT_EQ(pts[0], 0u);
    EXPECT_EQ(pts[1], gst_util_uint64_scale(3 * 1024, GST_SECOND, 48000) - 50 * kMs);
    for (size_t i = 1; i < pts.size(); ++i)
        EXPECT_GT(pts[i], pts[i - 1]);
}

// Sound moved partly before zero keeps only its samples after zero, so the
// rest of the sound does not start late by the part cut away.
TEST(Horodex, SoundStraddlingZeroLosesItsSamplesBeforeZero)
{
    ElementRef p = ElementRef::sink(gst_parse_launch(
        "audiotestsrc num-buffers=3 samplesperbuffer=960 ! "
        "audio/x-raw,format=S16LE,rate=48000,channels=2 ! kadhorodex name=h ! fakesink name=out",
        nullptr));
    ASSERT_TRUE(p);
    ElementRef h(gst_bin_get_by_name(GST_BIN(p.get()), "h"));
    kad_horodex_set_offset(h.get(), -250000); // -25 ms: 5 ms into the second buffer
    kad_horodex_apply(h.get());
    ElementRef out(gst_bin_get_by_name(GST_BIN(p.get()), "out"));
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
    kad::BusRef bus(gst_element_get_bus(p.get()));
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    kad::MessageRef msg(gst_bus_timed_pop_filtered(
        bus.get(), 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_element_set_state(p.get(), GST_STATE_NULL);
    ASSERT_TRUE(msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, 0u);
    EXPECT_EQ(seen[0].second, gsize(720 * 4)); // 15 ms left of 20 ms
    EXPECT_EQ(seen[1].first, 15 * kMs);
    EXPECT_EQ(seen[1].second, gsize(960 * 4));
}
