#include <gtest/gtest.h>

#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dv_test_frames.h"
#include "elements/chronix2.h"
#include "media/dv/dv_packs.h"
#include "media/dv/recording_watch.h"
#include "platform/media/gst_ptr.h"
#include "support/pad_harness.h"
#include "virtual_devices_support.h"

using kad::dv::RecordingDateTime;

namespace {

using namespace dvtest;

constexpr GstClockTime kFrame = 40 * GST_MSECOND;

// Noise over every pack area (VAUX blocks, the packs of the audio blocks).
void scramblePacks(std::vector<std::uint8_t>& frame, unsigned seed)
{
    std::mt19937 noise(seed);
    for (std::size_t s = 0; s < 12; ++s) {
        std::uint8_t* seq = frame.data() + s * kSequence;
        for (std::size_t i = 3 * kBlock; i < 6 * kBlock; ++i)
            seq[i] = static_cast<std::uint8_t>(noise());
        for (std::size_t block = 0; block < 9; ++block) {
            for (std::size_t i = 0; i < 8; ++i)
                seq[(6 + 16 * block) * kBlock + i] = static_cast<std::uint8_t>(noise());
        }
    }
}

// kadchronix2 driven by hand: each DV frame pushed gives its text.
class Harness : public kadtest::PadHarness {
public:
    explicit Harness(const char* dvCaps = "video/x-dv, systemstream=(boolean)false")
        : PadHarness("kadchronix2", dvCaps, true)
    {
    }

    // Pushes bytes as the next frame and returns the text it gave.
    std::string push(const std::vector<std::uint8_t>& bytes)
    {
        GstBuffer* buffer =
            bytes.empty() ? gst_buffer_new() : gst_buffer_new_memdup(bytes.data(), bytes.size());
        GST_BUFFER_PTS(buffer) = pts_;
        GST_BUFFER_DURATION(buffer) = kFrame;
        pts_ += kFrame;
        const std::size_t before = buffers.size();
        lastFlow = PadHarness::push(buffer);
        if (buffers.size() != before + 1)
            return "<" + std::to_string(buffers.size() - before) + ">";
        return text(buffers.back().get());
    }

    static std::string text(GstBuffer* buffer)
    {
        kad::BufferMap map(buffer, GST_MAP_READ);
        return std::string(reinterpret_cast<const char*>(map.data()), map.size());
    }

    GstFlowReturn lastFlow = GST_FLOW_OK;

private:
    GstClockTime pts_ = 0;
};

// The frames of one recording: count frames from start, the clock ticking
// once every 25 frames.
std::vector<std::vector<std::uint8_t>> recording(const RecordingDateTime& start, int count)
{
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(palFrame(kad::dv::fromSeconds(kad::dv::secondsOf(start) + i / 25)));
    return frames;
}

// "yes" for a frame that showed a text, "-" for one that did not.
std::string shownPattern(const std::vector<std::string>& texts)
{
    std::string out;
    for (const std::string& t : texts)
        out += t.empty() ? '-' : 'y';
    return out;
}

} // namespace

TEST(Chronix2, ReadsTheRecordingDateOfEachFrameAsTimedText)
{
    Harness h;
    ASSERT_TRUE(h.ready());
    EXPECT_EQ(h.push(palFrame(at(2005, 10, 26, 13, 48, 5))),
              "Wednesday, October 26, 2005 13:48:05");
    EXPECT_EQ(h.push(palFrame(at(2005, 10, 26, 13, 48, 6))),
              "Wednesday, October 26, 2005 13:48:06");
    ASSERT_EQ(h.buffers.size(), 2u);
    EXPECT_EQ(GST_BUFFER_PTS(h.buffers[1].get()), kFrame);
    EXPECT_EQ(GST_BUFFER_DURATION(h.buffers[1].get()), kFrame);
    EXPECT_EQ(h.order, "Scsbb");

    // The audio copies stand in when the video auxiliary data is missing.
    auto audioOnly = palFrame(at(1999, 12, 31, 23, 59, 59));
    wipeVaux(audioOnly);
    ASSERT_FALSE(kad::dv::readRecordingDateTime(audioOnly.data(), audioOnly.size()));
    EXPECT_EQ(h.push(audioOnly), "Friday, December 31, 1999 23:59:59");
    // Gaps and the end of the stream pass in their place.
    EXPECT_TRUE(h.sendEvent(gst_event_new_gap(3 * kFrame, kFrame)));
    h.push(palFrame(std::nullopt));
    EXPECT_TRUE(h.sendEvent(gst_event_new_eos()));
    EXPECT_EQ(h.order, "Scsbbbgbe");

    // An NTSC frame from a stream that carries whole DIF frames.
    Harness system("video/x-dv, systemstream=(boolean)true");
    ASSERT_TRUE(system.ready());
    std::vector<std::uint8_t> ntsc(kad::dv::kFrameSizeNtsc, 0);
    kad::dv::writeRecordingDateTime(ntsc.data(), ntsc.size(), at(2010, 7, 4, 9, 0, 0));
    g_object_set(system.element(), "format", "yyyy-mm-dd hh:nn:ss", nullptr);
    EXPECT_EQ(system.push(ntsc), "2010-07-04 09:00:00");
}

TEST(Chronix2, HourOffsetMovesTheDateAcrossMidnightAndMonthEnds)
{
    Harness h;
    ASSERT_TRUE(h.ready());
    g_signal_emit_by_name(h.element(), "set-format", "dddddd hh:nn:ss");
    g_signal_emit_by_name(h.element(), "set-hour-offset", 1);
    EXPECT_EQ(h.push(palFrame(at(2005, 12, 31, 23, 30, 0))), "Sunday, January 1, 2006 00:30:00");
    g_signal_emit_by_name(h.element(), "set-hour-offset", -2);
    EXPECT_EQ(h.push(palFrame(at(2004, 3, 1, 1, 0, 0))), "Sunday, February 29, 2004 23:00:00");
    g_signal_emit_by_name(h.element(), "set-hour-offset", -23);
    EXPECT_EQ(h.push(palFrame(at(2001, 3, 1, 0, 0, 0))), "Wednesday, February 28, 2001 01:00:00");
    g_signal_emit_by_name(h.element(), "set-hour-offset", 23);
    EXPECT_EQ(h.push(palFrame(at(2001, 2, 28, 1, 0, 0))), "Thursday, March 1, 2001 00:00:00");

    // Out of range: held at the nearest end.
    kad_chronix2_set_hour_offset(h.element(), 40);
    gint offset = 0;
    g_object_get(h.element(), "hour-offset", &offset, nullptr);
    EXPECT_EQ(offset, 23);
    kad_chronix2_set_hour_offset(h.element(), -99);
    g_object_get(h.element(), "hour-offset", &offset, nullptr);
    EXPECT_EQ(offset, -23);
}

TEST(Chronix2, AutomaticModeShowsEachNewRecordingForItsInlayFrames)
{
    Harness h;
    ASSERT_TRUE(h.ready());
    g_signal_emit_by_name(h.element(), "set-inlay-frames", 3);
    g_signal_emit_by_name(h.element(), "set-automatic", TRUE);

    std::vector<std::string> texts;
    // One recording of three seconds: shown at its start only, although its
    // clock ticks on.
    for (const auto& frame : recording(at(2005, 10, 26, 13, 48, 5), 80))
        texts.push_back(h.push(frame));
    EXPECT_EQ(shownPattern(texts), "yyy" + std::string(77, '-'));
    EXPECT_EQ(texts[0], "Wednesday, October 26, 2005 13:48:05");

    // The recording time jumps a day ahead: a new recording.
    texts.clear();
    for (const auto& frame : recording(at(2005, 10, 27, 8, 0, 0), 10))
        texts.push_back(h.push(frame));
    EXPECT_EQ(shownPattern(texts), "yyy-------");
    EXPECT_EQ(texts[0], "Thursday, October 27, 2005 08:00:00");

    // Same clock, but the camcorder flags the start of a recording.
    texts.clear();
    auto frames = recording(at(2005, 10, 27, 8, 0, 0), 8);
    markRecordingStart(frames[2]);
    markRecordingStart(frames[3]);
    for (const auto& frame : frames)
        texts.push_back(h.push(frame));
    EXPECT_EQ(shownPattern(texts), "--yyy---");

    // The audio source-control pack alone says so as well.
    texts.clear();
    frames = recording(at(2005, 10, 27, 8, 0, 0), 5);
    markRecordingStart(frames[1], true);
    for (const auto& frame : frames)
        texts.push_back(h.push(frame));
    EXPECT_EQ(shownPattern(texts), "-yyy-");

    // Leaving automatic mode shows every frame again.
    g_signal_emit_by_name(h.element(), "set-automatic", FALSE);
    EXPECT_EQ(h.push(palFrame(at(2005, 10, 27, 8, 0, 0))), "Thursday, October 27, 2005 08:00:00");
}

TEST(Chronix2, DamagedFramesShowTheLastGoodDateOfTheSameRecording)
{
    Harness h;
    ASSERT_TRUE(h.ready());
    g_object_set(h.element(), "format", "dd/mm/yyyy hh:nn:ss", nullptr);

    // Nothing before the first good frame.
    EXPECT_EQ(h.push(palFrame(std::nullopt)), "");
    EXPECT_EQ(h.push({}), "");

    const std::string good = "26/10/2005 13:48:05";
    EXPECT_EQ(h.push(palFrame(at(2005, 10, 26, 13, 48, 5))), good);

    auto scrambled = palFrame(at(1990, 1, 1, 0, 0, 0));
    scramblePacks(scrambled, 7);
    auto tooShortForPal = palFrame(at(1990, 1, 1, 0, 0, 0));
    tooShortForPal.resize(kad::dv::kFrameSizePal - 1);
    auto badBcd = palFrame(at(2005, 10, 26, 13, 48, 5));
    // Month 15 and day 0 in every copy, video and audio.
    for (std::size_t i = 0; i + 4 < badBcd.size(); ++i) {
        if ((badBcd[i] == 0x62 || badBcd[i] == 0x52) && badBcd[i + 1] == 0xFF) {
            badBcd[i + 2] = 0xC0;
            badBcd[i + 3] = 0xF5;
        }
    }
    for (const auto& frame :
         {scrambled, tooShortForPal, badBcd, std::vector<std::uint8_t>(100, 0x62),
          std::vector<std::uint8_t>(kad::dv::kFrameSizePal, 0xFF)}) {
        EXPECT_EQ(h.push(frame), good);
        EXPECT_EQ(h.lastFlow, GST_FLOW_OK);
    }
    // Noise may by chance spell a date or a recording start; whatever it
    // spells, every frame still gives one text and the stream goes on.
    for (unsigned seed = 1; seed < 40; ++seed) {
        auto noisy = palFrame(at(2005, 10, 26, 13, 48, 5));
        scramblePacks(noisy, seed);
        const std::size_t before = h.buffers.size();
        const std::string text = h.push(noisy);
        EXPECT_EQ(h.buffers.size(), before + 1);
        EXPECT_EQ(h.lastFlow, GST_FLOW_OK);
        EXPECT_TRUE(g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr));
    }

    // A new recording flagged on a frame whose date cannot be read: the
    // previous recording's date would be wrong.
    Harness fresh;
    ASSERT_TRUE(fresh.ready());
    EXPECT_FALSE(fresh.push(palFrame(at(2005, 10, 26, 13, 48, 5))).empty());
    auto startWithoutDate = palFrame(std::nullopt);
    markRecordingStart(startWithoutDate);
    EXPECT_EQ(fresh.push(startWithoutDate), "");
    EXPECT_EQ(fresh.push(palFrame(std::nullopt)), "");
    EXPECT_EQ(fresh.push(palFrame(at(2006, 1, 2, 3, 4, 5))), "Monday, January 2, 2006 03:04:05");

    // A flush starts over: the date before it belongs to another position.
    EXPECT_TRUE(fresh.sendEvent(gst_event_new_flush_start()));
    EXPECT_TRUE(fresh.sendEvent(gst_event_new_flush_stop(TRUE)));
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    EXPECT_TRUE(fresh.sendEvent(gst_event_new_segment(&segment)));
    EXPECT_EQ(fresh.push(palFrame(std::nullopt)), "");
}

TEST(Chronix2, FormatsKeepUnknownLettersAndFallBackToTheDefault)
{
    Harness h;
    ASSERT_TRUE(h.ready());
    const auto frame = palFrame(at(2005, 10, 26, 13, 48, 5));

    kad_chronix2_set_format(h.element(), "Tape #4 - d/m/yy, h:nn am/pm");
    EXPECT_EQ(h.push(frame), "Tape #4 - 26/10/05, 1:48 pm");
    kad_chronix2_set_format(h.element(), "'Recorded' dddd x");
    EXPECT_EQ(h.push(frame), "Recorded Wednesday x");

    for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
        kad_chronix2_set_format(h.element(), empty);
        EXPECT_EQ(h.push(frame), "Wednesday, October 26, 2005 13:48:05");
    }
    // Bytes that are no UTF-8 never reach the text stream.
    kad_chronix2_set_format(h.element(), "\xE9t\xE9 yyyy");
    const std::string text = h.push(frame);
    EXPECT_TRUE(g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) << text;
    EXPECT_NE(text.find("2005"), std::string::npos);

    // Switched off: empty texts, the stream goes on.
    g_signal_emit_by_name(h.element(), "set-enabled", 0);
    EXPECT_EQ(h.push(frame), "");
    g_signal_emit_by_name(h.element(), "set-enabled", 1);
    EXPECT_FALSE(h.push(frame).empty());
}

TEST(Chronix2, FollowsTheScenesOfTheVirtualCamcorder)
{
    // 100 frames of four one-second scenes, each with its own recording
    // date. Every frame's text is checked against the date read from the
    // very frame that went in.
    kad::ElementRef source = vtest::makeDevice("dv-pal-vcr", 100);
    ASSERT_TRUE(source);
    g_object_set(source.get(), "scene-length", 1u, nullptr);
    GstElement* bin = gst_bin_new("camcorder");
    GstElement* datecode = gst_element_factory_make("kadchronix2", nullptr);
    ASSERT_NE(datecode, nullptr);
    gst_bin_add_many(GST_BIN(bin), source.get(), datecode, nullptr);
    ASSERT_TRUE(gst_element_link(source.get(), datecode));
    kad::PadRef out(gst_element_get_static_pad(datecode, "src"));
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out.get()));
    g_object_set(datecode, "format", "yyyy-mm-dd hh:nn:ss", "inlay-frames", 5, "automatic", TRUE,
                 nullptr);

    std::vector<std::string> expected;
    kad::PadRef in(gst_element_get_static_pad(datecode, "sink"));
    gst_pad_add_probe(
        in.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            auto* dates = static_cast<std::vector<std::string>*>(data);
            kad::BufferMap map(GST_PAD_PROBE_INFO_BUFFER(info), GST_MAP_READ);
            const auto when = kad::dv::readRecordingDateTime(map.data(), map.size());
            char text[32] = "";
            if (when)
                std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", when->year,
                              when->month, when->day, when->hour, when->minute, when->second);
            dates->push_back(text);
            return GST_PAD_PROBE_OK;
        },
        &expected, nullptr);

    kad::ElementRef owner = kad::ElementRef::sink(bin);
    const vtest::Run run = vtest::runDevice(bin);
    ASSERT_TRUE(run.eos) << run.error;
    ASSERT_EQ(run.buffers.size(), 100u);
    ASSERT_EQ(expected.size(), 100u);
    for (std::size_t i = 0; i < 100; ++i) {
        const std::string text = Harness::text(run.buffers[i].get());
        if (i % 25 < 5) {
            EXPECT_FALSE(expected[i].empty()) << "frame " << i;
            EXPECT_EQ(text, expected[i]) << "frame " << i;
        } else {
            EXPECT_EQ(text, "") << "frame " << i;
        }
    }
    EXPECT_NE(expected[0], expected[25]);
}
