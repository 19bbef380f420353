#include <gtest/gtest.h>

#include <gst/gst.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/probe.h"
#include "virtual/virtual_ps_rewrite.h"
#include "virtual_devices_support.h"

namespace {

// Stream ids of every PES packet start code in a program stream.
std::map<int, int> pesIds(const std::vector<std::uint8_t>& ps)
{
    std::map<int, int> ids;
    for (std::size_t i = 0; i + 4 <= ps.size(); ++i)
        if (ps[i] == 0 && ps[i + 1] == 0 && ps[i + 2] == 1 && ps[i + 3] >= 0xC0 &&
            ps[i + 3] <= 0xEF)
            ++ids[ps[i + 3]];
    return ids;
}

std::vector<std::uint8_t> readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(VirtualMpeg, EncoderUsesE0C0AndMovieBoxE1C1)
{
    for (const char* id : {"mpeg2", "moviebox"}) {
        SCOPED_TRACE(id);
        const bool moviebox = std::string(id) == "moviebox";
        kad::ElementRef source = vtest::makeDevice(id, 25);
        const vtest::Run run = vtest::runDevice(source.get());
        ASSERT_TRUE(run.eos) << run.error;
        const std::vector<std::uint8_t> ps = run.bytes();
        const std::string file = vtest::tempPath(std::string(id) + ".mpg");
        ASSERT_TRUE(vtest::writeFile(file, ps));
        const kadtest::Probe probe = kadtest::ffprobe(file, true);
        const kadtest::ProbeStream* v = probe.first("video");
        const kadtest::ProbeStream* a = probe.first("audio");
        ASSERT_TRUE(v && a) << probe.error;
        EXPECT_EQ(std::tie(v->codec, v->width, v->height, v->frames),
                  std::make_tuple("mpeg2video", 720, 576, 25));
        EXPECT_EQ(std::tie(a->codec, a->sampleRate), std::make_tuple("mp2", 48000));
        // The stream ids as ffprobe reads them from the pack headers: one
        // pair, the kind's own.
        EXPECT_EQ(probe.count("video") + probe.count("audio"), 2);
        const std::string read =
            kadtest::runTool("ffprobe", {"-v", "error", "-show_entries", "stream=id", "-of",
                                         "default=nw=1", QString::fromStdString(file)})
                .toStdString();
        EXPECT_NE(read.find(moviebox ? "id=0x1e1" : "id=0x1e0"), std::string::npos) << read;
        EXPECT_NE(read.find(moviebox ? "id=0x1c1" : "id=0x1c0"), std::string::npos) << read;
    }
}

// Not live, a second run sends the same bytes again, and the sent file
// holds exactly what went downstream.
TEST(VirtualMpeg, SentLocationHoldsExactlyWhatWentDownstreamRunAfterRun)
{
    for (const char* id : {"moviebox", "dv-pal-vcr", "mic"}) {
        SCOPED_TRACE(id);
        const std::string sent = vtest::tempPath("sent.bin");
        kad::ElementRef source = vtest::makeDevice(id, 30);
        g_object_set(source.get(), "sent-location", sent.c_str(), nullptr);
        const vtest::Run run = vtest::runDevice(source.get());
        ASSERT_TRUE(run.eos) << run.error;
        const auto downstream = run.bytes();
        EXPECT_FALSE(downstream.empty());
        EXPECT_EQ(readAll(sent), downstream);
        if (std::string(id) == "moviebox") {
            const vtest::Run again = vtest::runDevice(source.get());
            ASSERT_TRUE(again.eos) << again.error;
            EXPECT_EQ(again.bytes(), downstream);
        }
    }
}

TEST(VirtualMpeg, DroppedFramesLeaveTimeStampGaps)
{
    kad::ElementRef source = vtest::makeDevice("mpeg2", 20);
    g_object_set(source.get(), "drop-frames", 4u, nullptr);
    const vtest::Run run = vtest::runDevice(source.get());
    ASSERT_TRUE(run.eos) << run.error;
    const std::string file = vtest::tempPath("drop.mpg");
    ASSERT_TRUE(vtest::writeFile(file, run.bytes()));
    const kadtest::Probe probe = kadtest::ffprobe(file, true);
    ASSERT_NE(probe.first("video"), nullptr) << probe.error;
    EXPECT_EQ(probe.first("video")->frames, 15);
}

TEST(StreamIdRewriter, SameResultWhateverTheBufferBoundaries)
{
    kad::ElementRef source = vtest::makeDevice("mpeg2", 5);
    const vtest::Run run = vtest::runDevice(source.get());
    ASSERT_TRUE(run.eos) << run.error;
    const auto ps = run.bytes();
    const std::map<std::uint8_t, std::uint8_t> ids{{0xE0, 0xE1}, {0xC0, 0xC1}};

    std::vector<std::uint8_t> whole;
    kad::StreamIdRewriter a(ids);
    a.push(ps.data(), ps.size(), whole);
    a.finish(whole);
    EXPECT_EQ(whole.size(), ps.size());
    EXPECT_EQ(pesIds(whole).count(0xE0), 0u);

    for (std::size_t chunk : {1u, 7u, 1000u}) {
        std::vector<std::uint8_t> pieces;
        kad::StreamIdRewriter b(ids);
        for (std::size_t i = 0; i < ps.size(); i += chunk)
            b.push(ps.data() + i, std::min(chunk, ps.size() - i), pieces);
        b.finish(pieces);
        EXPECT_EQ(pieces, whole) << chunk;
    }
}

TEST(StreamIdRewriter, MpegCrcOfAKnownInput)
{
    const std::uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(kad::mpegCrc32(text, sizeof text), 0x0376E6E7u);
}

// A preview of the encoder is stopped at any moment: while the muxer is
// mid-buffer, while the audio branch is at its end, or before the first
// buffer. Every stop must leave GStreamer quiet (criticals are fatal in
// tests) and the element ready to run again.
TEST(VirtualMpeg, StoppingAtAnyMomentIsClean)
{
    for (const bool live : {false, true}) {
        SCOPED_TRACE(live ? "live" : "not live");
        kad::ElementRef source = vtest::makeDevice("mpeg2", -1);
        ASSERT_TRUE(source);
        g_object_set(source.get(), "is-live", live, nullptr);
        kad::ElementRef pipeline = kad::ElementRef::sink(gst_pipeline_new("stops"));
        GstElement* sink = gst_element_factory_make("fakesink", "sink");
        g_object_set(sink, "sync", live, "async", FALSE, nullptr);
        gst_bin_add_many(GST_BIN(pipeline.get()), source.get(), sink, nullptr);
        ASSERT_TRUE(gst_element_link(source.get(), sink));
        kad::BusRef bus(gst_element_get_bus(pipeline.get()));
        for (int i = 0; i < 200; ++i) {
            ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING),
                      GST_STATE_CHANGE_FAILURE)
                << "run " << i;
            // Spread the stops over the first frames of a run.
            g_usleep(static_cast<gulong>((i % 8) * 3000));
            ASSERT_EQ(gst_element_set_state(pipeline.get(), GST_STATE_NULL),
                      GST_STATE_CHANGE_SUCCESS)
                << "run " << i;
            kad::MessageRef error(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
            ASSERT_FALSE(error) << "run " << i;
        }
        gst_bin_remove(GST_BIN(pipeline.get()), source.get());
    }
}

// Downstream refusing the stream (here: nothing linked) fails the muxer's
// push while both branches still feed it; their end of stream that follows
// must not upset it.
TEST(VirtualMpeg, DownstreamRefusingTheStreamIsClean)
{
    for (int i = 0; i < 60; ++i) {
        kad::ElementRef source = vtest::makeDevice(i % 2 ? "moviebox" : "mpeg2", 12);
        ASSERT_TRUE(source);
        kad::ElementRef pipeline = kad::ElementRef::sink(gst_pipeline_new("refused"));
        gst_bin_add(GST_BIN(pipeline.get()), source.get());
        kad::BusRef bus(gst_element_get_bus(pipeline.get()));
        ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING),
                  GST_STATE_CHANGE_FAILURE);
        kad::MessageRef error(
            gst_bus_timed_pop_filtered(bus.get(), 5 * GST_SECOND, GST_MESSAGE_ERROR));
        EXPECT_TRUE(error) << "run " << i;
        // Let both branches run into their end before stopping.
        g_usleep(20000);
        EXPECT_EQ(gst_element_set_state(pipeline.get(), GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
        gst_bin_remove(GST_BIN(pipeline.get()), source.get());
    }
}
