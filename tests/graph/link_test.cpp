// Slots, the link helper and the Smart Tee.

#include "graph/filter_slot.h"
#include "graph/render_stream.h"
#include "graph_fixture.h"
#include "support/pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace kad {
namespace {

using test::makeBin;
using test::makeDvSource;

struct Graph {
    ElementRef pipeline = ElementRef::sink(gst_pipeline_new(nullptr));
    GstBin* bin() const { return GST_BIN(pipeline.get()); }
    ~Graph() { gst_element_set_state(pipeline.get(), GST_STATE_NULL); }
};

TfilterSlot::Maker factory(const char* name)
{
    return [name]() { return gst_element_factory_make(name, nullptr); };
}

int childCount(GstBin* bin)
{
    return static_cast<int>(bin->numchildren);
}

std::atomic<int>* countBuffers(GstElement* element, const char* padName)
{
    auto* count = std::make_unique<std::atomic<int>>(0).release();
    PadRef pad(gst_element_get_static_pad(element, padName));
    gst_pad_add_probe(
        pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer c) {
            ++*static_cast<std::atomic<int>*>(c);
            return GST_PAD_PROBE_OK;
        },
        count, &kadtest::freeHandedOver<std::atomic<int>>);
    return count;
}

bool runToEos(GstElement* pipeline)
{
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    BusRef bus(gst_element_get_bus(pipeline));
    MessageRef msg(gst_bus_timed_pop_filtered(bus.get(), 20 * GST_SECOND,
                                              GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    return msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS;
}

TEST(FilterSlot, UnboundSlotPlacesNothingAndCannotBeLinked)
{
    Graph g;
    TfilterSlot unbound("Deinterlacer");
    TfilterSlot sink("NullRenderer");
    sink.Bind("fakesink", factory("fakesink"));
    EXPECT_TRUE(unbound.Place(g.bin()));
    EXPECT_FALSE(unbound.InGraph());
    EXPECT_EQ(childCount(g.bin()), 0);
    ASSERT_TRUE(sink.Place(g.bin()));
    EXPECT_EQ(RenderStream(g.bin(), unbound.Element(), nullptr, sink.Element()),
              LinkResult::MissingElement);
    unbound.Remove(); // removing a slot that is not placed does nothing
}

TEST(FilterSlot, PlacesUnderItsNameAndRemovesWithItsTeeBranch)
{
    Graph g;
    TfilterSlot tee("Infinite2"), sink("sg");
    tee.Bind("tee", factory("tee"));
    sink.Bind("fakesink", factory("fakesink"));
    ASSERT_TRUE(tee.Place(g.bin()));
    ASSERT_TRUE(sink.Place(g.bin()));
    EXPECT_STREQ(GST_OBJECT_NAME(tee.Element()), "Infinite2");
    EXPECT_EQ(TfilterSlot::OfElement(tee.Element()), &tee);
    tee.Place(g.bin()); // already placed: nothing new
    EXPECT_EQ(childCount(g.bin()), 2);

    // A tee branch gets its own queue.
    ASSERT_EQ(RenderStream(g.bin(), tee.Element(), nullptr, sink.Element()), LinkResult::Linked);
    EXPECT_EQ(childCount(g.bin()), 3);
    EXPECT_EQ(tee.Element()->numsrcpads, 1);

    // Removing the queue's end gives the tee's request pad back.
    GstElement* queue = nullptr;
    for (GList* l = g.bin()->children; l; l = l->next)
        if (IsLinkHelperElement(GST_ELEMENT(l->data))) queue = GST_ELEMENT(l->data);
    ASSERT_NE(queue, nullptr);
    UnlinkAllPads(queue);
    EXPECT_EQ(tee.Element()->numsrcpads, 0);

    sink.Remove();
    EXPECT_FALSE(sink.InGraph());
    EXPECT_EQ(childCount(g.bin()), 2);
}

// Whatever reference a maker hands over, floating (a factory's) or owned
// (a device's element bound before), goes with the element: nothing is
// left open once the slot lets it go.
TEST(FilterSlot, ARemovedElementIsFreedWhateverItsMakerHandedOver)
{
    Graph g;
    for (const bool owned : {false, true}) {
        TfilterSlot slot("VideoSource");
        slot.Bind("fakesrc", [owned]() -> GstElement* {
            GstElement* e = gst_element_factory_make("fakesrc", nullptr);
            if (owned) gst_object_ref_sink(e);
            return e;
        });
        ASSERT_TRUE(slot.Place(g.bin()));
        bool freed = false;
        g_object_weak_ref(
            G_OBJECT(slot.Element()),
            [](gpointer flag, GObject*) { *static_cast<bool*>(flag) = true; }, &freed);
        slot.Remove();
        EXPECT_TRUE(freed) << (owned ? "owned" : "floating");
    }
}

TEST(RenderStream, TeeGivesANewBranchEachTimeAndRefusesAFullSink)
{
    Graph g;
    TfilterSlot tee("Infinite2"), a("a"), b("b");
    tee.Bind("tee", factory("tee"));
    a.Bind("fakesink", factory("fakesink"));
    b.Bind("fakesink", factory("fakesink"));
    for (TfilterSlot* s : {&tee, &a, &b})
        ASSERT_TRUE(s->Place(g.bin()));
    EXPECT_EQ(RenderStream(g.bin(), tee.Element(), nullptr, a.Element()), LinkResult::Linked);
    EXPECT_EQ(RenderStream(g.bin(), tee.Element(), nullptr, b.Element()), LinkResult::Linked);
    EXPECT_EQ(tee.Element()->numsrcpads, 2);
    // Linking to a sink that is already fed fails and leaves nothing behind.
    const int before = childCount(g.bin());
    EXPECT_EQ(RenderStream(g.bin(), tee.Element(), nullptr, a.Element()),
              LinkResult::NoFreeSinkPad);
    EXPECT_EQ(childCount(g.bin()), before);
    EXPECT_EQ(tee.Element()->numsrcpads, 2);
}

TEST(RenderStream, InsertsConvertersAndDecodersByCaps)
{
    Graph g;
    GstElement* src = makeBin("videotestsrc num-buffers=5 ! capsfilter "
                              "caps=\"video/x-raw,format=I420,width=64,height=48\"");
    GstElement* rgb = gst_element_factory_make("capsfilter", nullptr);
    CapsRef caps(gst_caps_from_string("video/x-raw,format=RGB"));
    g_object_set(rgb, "caps", caps.get(), NULL);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    gst_bin_add_many(g.bin(), src, rgb, sink, NULL);
    ASSERT_EQ(RenderStream(g.bin(), src, rgb, sink), LinkResult::Linked);
    EXPECT_EQ(childCount(g.bin()), 5); // videoconvert and videoscale inserted
    EXPECT_TRUE(runToEos(g.pipeline.get()));
}

TEST(RenderStream, DefersUntilTheDemuxerMakesItsPadsAndRelinksAfterAStop)
{
    Graph g;
    GstElement* src = makeDvSource(true, false, 10);
    GstElement* demux = gst_element_factory_make("dvdemux", nullptr);
    // Each output behind a queue, as a demultiplexer's outputs must be.
    GstElement* sink = makeBin("queue ! capsfilter caps=video/x-raw ! fakesink");
    GstElement* audio = makeBin("queue ! fakesink");
    gst_bin_add_many(g.bin(), src, demux, sink, audio, NULL);
    ASSERT_EQ(RenderStream(g.bin(), src, nullptr, demux), LinkResult::Linked);
    // Video first: the decoder is inserted when the pad appears.
    EXPECT_EQ(RenderStream(g.bin(), demux, nullptr, sink), LinkResult::Deferred);
    EXPECT_EQ(RenderStream(g.bin(), demux, nullptr, audio, MediaHint::Audio), LinkResult::Deferred);
    std::atomic<int>* video = countBuffers(sink, "sink");
    std::atomic<int>* sound = countBuffers(audio, "sink");
    ASSERT_TRUE(runToEos(g.pipeline.get()));
    EXPECT_EQ(video->load(), 10);
    EXPECT_GT(sound->load(), 0);
    PadRef in(gst_element_get_static_pad(sink, "sink"));
    CapsRef negotiated(gst_pad_get_current_caps(in.get()));
    ASSERT_TRUE(negotiated);
    EXPECT_STREQ(gst_structure_get_name(gst_caps_get_structure(negotiated.get(), 0)),
                 "video/x-raw");

    // A second run makes the pads again: the links come back by themselves.
    gst_element_set_state(g.pipeline.get(), GST_STATE_NULL);
    video->store(0);
    ASSERT_TRUE(runToEos(g.pipeline.get()));
    EXPECT_EQ(video->load(), 10);

    ForgetDeferredLinks(demux);
}

// Runs 60 frames through a Smart Tee whose preview is slow; returns the
// frames (captured, previewed).
std::pair<int, int> throughSmartTee(bool live)
{
    Graph g;
    GstElement* src =
        makeBin(std::string("videotestsrc num-buffers=60") + (live ? " is-live=true" : "") +
                " ! capsfilter caps=\"video/x-raw,width=32,height=24,"
                "framerate=100/1\"");
    GstElement* tee = gst_element_factory_make("kadsmarttee", nullptr);
    EXPECT_NE(tee, nullptr);
    GstElement* capture = gst_element_factory_make("fakesink", "capture");
    GstElement* preview = gst_element_factory_make("fakesink", "preview");
    g_object_set(capture, "sync", FALSE, NULL);
    g_object_set(preview, "sync", FALSE, "async", FALSE, NULL);
    gst_bin_add_many(g.bin(), src, tee, capture, preview, NULL);
    EXPECT_EQ(RenderStream(g.bin(), src, tee, capture), LinkResult::Linked);
    EXPECT_EQ(RenderStream(g.bin(), tee, nullptr, preview), LinkResult::Linked);
    PadRef captureIn(gst_element_get_static_pad(capture, "sink"));
    PadRef peer(gst_pad_get_peer(captureIn.get()));
    EXPECT_STREQ(GST_PAD_NAME(peer.get()), "capture");

    std::atomic<int>* captured = countBuffers(capture, "sink");
    std::atomic<int>* previewed = countBuffers(preview, "sink");
    // A preview that takes 50 ms a frame, against 10 ms between frames.
    PadRef previewIn(gst_element_get_static_pad(preview, "sink"));
    gst_pad_add_probe(
        previewIn.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer) {
            g_usleep(50000);
            return GST_PAD_PROBE_OK;
        },
        nullptr, nullptr);
    EXPECT_TRUE(runToEos(g.pipeline.get()));
    return {captured->load(), previewed->load()};
}

TEST(SmartTee, CaptureFirstAndOnlyThePreviewOfALiveSourceDrops)
{
    const auto [liveCaptured, livePreviewed] = throughSmartTee(true);
    EXPECT_EQ(liveCaptured, 60);
    EXPECT_LT(livePreviewed, 60);
    // As fast as possible, nothing is late: the preview keeps every frame.
    const auto [captured, previewed] = throughSmartTee(false);
    EXPECT_EQ(captured, 60);
    EXPECT_EQ(previewed, 60);
}

} // namespace
} // namespace kad
