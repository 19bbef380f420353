#include <gtest/gtest.h>

#include <gst/gst.h>

#include <string>
#include <tuple>
#include <vector>

#include "elements/kad_transport.h"
#include "media/dv/dv_packs.h"
#include "support/pipeline.h"
#include "support/probe.h"
#include "virtual_devices_support.h"

namespace {

struct Frame {
    KadTimecode timecode{};
    kad::dv::RecordingDateTime video;
    kad::dv::RecordingDateTime audio;
    bool ok = false;
};

std::vector<Frame> readFrames(const vtest::Run& run)
{
    std::vector<Frame> frames;
    for (const auto& b : run.buffers) {
        kad::BufferMap map(b.get(), GST_MAP_READ);
        Frame f;
        auto tc = kad::dv::readTimecode(map.data(), map.size());
        auto video = kad::dv::readRecordingDateTime(map.data(), map.size());
        auto audio = kad::dv::readRecordingDateTime(map.data(), map.size(), true);
        f.ok = tc && video && audio;
        if (f.ok) {
            f.timecode = *tc;
            f.video = *video;
            f.audio = *audio;
        }
        frames.push_back(f);
    }
    return frames;
}

guint tcFrames(const KadTimecode& tc, guint fps = 25)
{
    return ((tc.hours * 60 + tc.minutes) * 60 + tc.seconds) * fps + tc.frames;
}

// One ffprobe entry list of the file, as "key=value" lines.
std::string ffprobe(const std::string& file, const QStringList& what)
{
    return kadtest::runTool("ffprobe",
                            QStringList{"-v", "error"} + what +
                                QStringList{"-of", "default=nw=1", QString::fromStdString(file)})
        .toStdString();
}

} // namespace

TEST(VirtualDv, PalFramesDecodeWithAudioInside)
{
    kad::ElementRef source = vtest::makeDevice("dv-pal-vcr", 50);
    const vtest::Run run = vtest::runDevice(source.get());
    ASSERT_TRUE(run.eos) << run.error;
    ASSERT_EQ(run.buffers.size(), 50u);
    for (const auto& b : run.buffers)
        ASSERT_EQ(gst_buffer_get_size(b.get()), kad::dv::kFrameSizePal);
    gboolean system = FALSE;
    gst_structure_get_boolean(gst_caps_get_structure(run.caps.get(), 0), "systemstream", &system);
    EXPECT_TRUE(system);
    EXPECT_EQ(GST_BUFFER_PTS(run.buffers[1].get()) - GST_BUFFER_PTS(run.buffers[0].get()),
              GST_SECOND / 25);

    const std::string file = vtest::tempPath("pal.dv");
    ASSERT_TRUE(vtest::writeFile(file, run.bytes()));
    const kadtest::Probe probe = kadtest::ffprobe(file, true);
    const kadtest::ProbeStream* v = probe.first("video");
    const kadtest::ProbeStream* a = probe.first("audio");
    ASSERT_TRUE(v && a) << probe.error;
    EXPECT_EQ(std::tie(v->codec, v->width, v->height, v->frameRate, v->frames),
              std::make_tuple("dvvideo", 720, 576, "25/1", 50));
    EXPECT_EQ(std::tie(a->codec, a->sampleRate, a->channels),
              std::make_tuple("pcm_s16le", 48000, 2));
    // ffprobe reads the subcode timecode of the first frame.
    const std::string tc = ffprobe(file, {"-show_entries", "format_tags=timecode"});
    EXPECT_NE(tc.find("00:00:00:00"), std::string::npos) << tc;
}

TEST(VirtualDv, NtscCameraSendsLockedAudioAndTheCurrentDate)
{
    kad::ElementRef source = vtest::makeDevice("dv-ntsc-camera", 30);
    KadTransport* transport = kad_transport_find(G_OBJECT(source.get()));
    ASSERT_TRUE(transport);
    // A camera has no tape to move.
    EXPECT_FALSE(kad_transport_set_mode(transport, KAD_TRANSPORT_PLAY));

    GDateTime* before = g_date_time_new_now_local();
    const vtest::Run run = vtest::runDevice(source.get());
    GDateTime* after = g_date_time_new_now_local();
    ASSERT_TRUE(run.eos) << run.error;
    ASSERT_EQ(run.buffers.size(), 30u);
    EXPECT_EQ(gst_buffer_get_size(run.buffers[0].get()), kad::dv::kFrameSizeNtsc);
    const auto frames = readFrames(run);
    ASSERT_TRUE(frames[0].ok);
    // Whole instants, so a run across midnight or the new year still holds.
    auto instant = [](const kad::dv::RecordingDateTime& r) {
        GDateTime* d = g_date_time_new_local(r.year, r.month, r.day, r.hour, r.minute, r.second);
        const gint64 t = d ? g_date_time_to_unix(d) : 0;
        if (d) g_date_time_unref(d);
        return t;
    };
    EXPECT_GE(instant(frames[0].video), g_date_time_to_unix(before) - 1);
    EXPECT_LE(instant(frames.back().video), g_date_time_to_unix(after) + 1);
    g_date_time_unref(before);
    g_date_time_unref(after);

    const std::string file = vtest::tempPath("ntsc.dv");
    ASSERT_TRUE(vtest::writeFile(file, run.bytes()));
    const kadtest::Probe probe = kadtest::ffprobe(file);
    const kadtest::ProbeStream* v = probe.first("video");
    ASSERT_NE(v, nullptr) << probe.error;
    EXPECT_EQ(std::tie(v->width, v->height, v->frameRate), std::make_tuple(720, 480, "30000/1001"));
    // Locked 48 kHz audio: 1600 or 1602 samples per frame, never the same
    // count throughout.
    const std::string sizes =
        ffprobe(file, {"-select_streams", "a:0", "-show_entries", "packet=size"});
    EXPECT_NE(sizes.find("size=6400"), std::string::npos) << sizes;
    EXPECT_NE(sizes.find("size=6408"), std::string::npos);
}

TEST(VirtualDv, TimecodeRunsAndTheRecordingDateJumpsAtEachScene)
{
    kad::ElementRef source = vtest::makeDevice("dv-pal-vcr", 250);
    g_object_set(source.get(), "scene-length", 4u, nullptr);
    const vtest::Run run = vtest::runDevice(source.get());
    ASSERT_TRUE(run.eos) << run.error;
    const auto frames = readFrames(run);
    ASSERT_EQ(frames.size(), 250u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_TRUE(frames[i].ok) << i;
        EXPECT_EQ(tcFrames(frames[i].timecode), i);
        EXPECT_EQ(frames[i].video, frames[i].audio) << i;
    }
    // Inside a scene the recording clock runs with the tape (one second per
    // 25 frames); between scenes it jumps by far more.
    auto seconds = [](const kad::dv::RecordingDateTime& d) {
        GDateTime* dt = g_date_time_new_utc(d.year, d.month, d.day, d.hour, d.minute, d.second);
        const gint64 s = g_date_time_to_unix(dt);
        g_date_time_unref(dt);
        return s;
    };
    EXPECT_EQ(seconds(frames[99].video) - seconds(frames[0].video), 3);
    EXPECT_EQ(frames[25].video.second, (frames[0].video.second + 1) % 60);
    EXPECT_GT(seconds(frames[100].video) - seconds(frames[99].video), 3600);
    EXPECT_NE(frames[100].video.day, frames[99].video.day);
    EXPECT_GT(seconds(frames[200].video) - seconds(frames[199].video), 3600);
    EXPECT_GE(frames[0].video.year, 2000);

    // The same date read straight from the first frame's VAUX at its standard
    // place (sequence 0, VAUX block 3, packs 11 and 12) in BCD.
    kad::BufferMap map(run.buffers[0].get(), GST_MAP_READ);
    const std::uint8_t* date = map.data() + 5 * 80 + 3 + 11 * 5;
    ASSERT_EQ(date[0], 0x62);
    EXPECT_EQ((date[2] & 0x3F) >> 4, frames[0].video.day / 10);
    EXPECT_EQ(date[2] & 0x0F, frames[0].video.day % 10);
    EXPECT_EQ(date[3] & 0x0F, frames[0].video.month % 10);
    EXPECT_EQ(date[5], 0x63);
}

TEST(VirtualDv, TransportModesMoveTheTape)
{
    kad::ElementRef source = vtest::makeDevice("dv-pal-vcr", 120);
    KadTransport* transport = kad_transport_find(G_OBJECT(source.get()));
    ASSERT_TRUE(transport);
    gint mode = 0;
    ASSERT_TRUE(kad_transport_get_mode(transport, &mode));
    EXPECT_EQ(mode, KAD_TRANSPORT_PLAY);
    EXPECT_FALSE(kad_transport_set_mode(transport, 0x1234));

    // Play, then freeze, then fast reverse play, then fast forward play.
    const vtest::Run run = vtest::runDevice(source.get(), [transport](std::size_t i) {
        if (i == 20) kad_transport_set_mode(transport, KAD_TRANSPORT_FREEZE);
        if (i == 50) kad_transport_set_mode(transport, KAD_TRANSPORT_PLAY_FASTEST_REVERSE);
        if (i == 80) kad_transport_set_mode(transport, KAD_TRANSPORT_PLAY_FASTEST_FORWARD);
    });
    ASSERT_TRUE(run.eos) << run.error;
    const auto frames = readFrames(run);
    ASSERT_EQ(frames.size(), 120u);
    std::vector<int> steps;
    for (std::size_t i = 1; i < frames.size(); ++i)
        steps.push_back(static_cast<int>(tcFrames(frames[i].timecode)) -
                        static_cast<int>(tcFrames(frames[i - 1].timecode)));
    auto countOf = [&](int step) { return std::count(steps.begin(), steps.end(), step); };
    EXPECT_GE(countOf(1), 15);  // play
    EXPECT_GE(countOf(0), 20);  // frozen frame and timecode
    EXPECT_GE(countOf(10), 20); // fastest forward play
    // Reverse play from about frame 20 reaches the tape's start and stops.
    EXPECT_GE(countOf(-10), 1);
    const auto first = std::find(steps.begin(), steps.end(), -10);
    EXPECT_TRUE(std::find(steps.begin(), first, 10) == first);
    ASSERT_TRUE(kad_transport_get_mode(transport, &mode));
    EXPECT_EQ(mode, KAD_TRANSPORT_PLAY_FASTEST_FORWARD);
    KadTimecode tc{};
    ASSERT_TRUE(kad_transport_get_timecode(transport, &tc));
    EXPECT_GE(tcFrames(tc), tcFrames(frames.back().timecode));

    // Rewinding at the start of the tape stops it by itself; a stopped tape
    // keeps sending frames with a standing timecode.
    kad::ElementRef again = vtest::makeDevice("dv-pal-vcr", 10);
    KadTransport* t2 = kad_transport_find(G_OBJECT(again.get()));
    g_object_set(again.get(), "transport-mode", KAD_TRANSPORT_REWIND, nullptr);
    const vtest::Run stopped = vtest::runDevice(again.get());
    ASSERT_EQ(stopped.buffers.size(), 10u) << stopped.error;
    ASSERT_TRUE(kad_transport_get_mode(t2, &mode));
    EXPECT_EQ(mode, KAD_TRANSPORT_STOP);
    const auto still = readFrames(stopped);
    EXPECT_EQ(tcFrames(still.front().timecode), 0u);
    EXPECT_EQ(tcFrames(still.back().timecode), 0u);
}

TEST(VirtualDv, SlowPlayMovesTheTapeAFifthOfAFramePerFrame)
{
    kad::ElementRef source = vtest::makeDevice("dv-pal-vcr", 26);
    g_object_set(source.get(), "transport-mode", KAD_TRANSPORT_PLAY_SLOWEST_FORWARD, nullptr);
    const vtest::Run run = vtest::runDevice(source.get());
    ASSERT_TRUE(run.eos) << run.error;
    const auto frames = readFrames(run);
    ASSERT_EQ(frames.size(), 26u);
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(tcFrames(frames[i].timecode), i / 5) << i;
}

TEST(DvPacks, RejectsBuffersThatAreNoDvFrame)
{
    std::vector<std::uint8_t> junk(1000, 0xFF);
    EXPECT_FALSE(kad::dv::writeTimecode(junk.data(), junk.size(), KadTimecode{}));
    EXPECT_FALSE(kad::dv::readTimecode(junk.data(), junk.size()));
    std::vector<std::uint8_t> blank(kad::dv::kFrameSizePal, 0xFF);
    EXPECT_FALSE(kad::dv::readRecordingDateTime(blank.data(), blank.size()));
}

TEST(VirtualDv, RunsAgainAfterReadyAndTheTapeStaysWhereItWas)
{
    kad::ElementRef source = vtest::makeDevice("dv-pal-vcr", 5);
    kad::ElementRef pipeline = kad::ElementRef::sink(gst_pipeline_new("restart"));
    GstElement* sink = gst_element_factory_make("fakesink", "sink");
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source.get(), sink, nullptr);
    ASSERT_TRUE(gst_element_link(source.get(), sink));
    std::vector<guint> timecodes;
    kad::PadRef pad(gst_element_get_static_pad(source.get(), "src"));
    gst_pad_add_probe(
        pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            kad::BufferMap map(GST_PAD_PROBE_INFO_BUFFER(info), GST_MAP_READ);
            if (auto tc = kad::dv::readTimecode(map.data(), map.size()))
                static_cast<std::vector<guint>*>(data)->push_back(tcFrames(*tc));
            return GST_PAD_PROBE_OK;
        },
        &timecodes, nullptr);
    for (int run = 0; run < 2; ++run) {
        std::string why;
        ASSERT_TRUE(kadtest::playToEnd(pipeline.get(), &why)) << run << ": " << why;
        gst_element_set_state(pipeline.get(), GST_STATE_READY);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    const std::vector<guint> expected{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(timecodes, expected);
}
