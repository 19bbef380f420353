#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "elements/avi_timeline.h"

using kad::AviTimeline;

namespace {

constexpr GstClockTime kPalFrame = GST_SECOND / 25;

GstClockTime ntscFrameTime(std::uint64_t i)
{
    return gst_util_uint64_scale(i, 1001 * GST_SECOND, 30000);
}

} // namespace

// Frames whose slot is already taken (a source slightly faster than its
// rate, a repeated timestamp) or that come before the first frame are not
// written, and are not counted as filled either.
TEST(AviTimeline, FramesForTakenSlotsAreRefused)
{
    AviTimeline t(25, 1, 48000);
    t.setOrigin(GST_SECOND);
    // Written or not, its slot, the slots before it filled.
    const auto place = [&t](GstClockTime pts) {
        const auto p = t.placeFrame(pts);
        return std::make_tuple(p.write, p.write ? p.slot : 0, p.filled);
    };
    using Place = std::tuple<bool, std::uint64_t, std::uint64_t>;
    EXPECT_FALSE(std::get<0>(place(GST_SECOND - kPalFrame)));
    EXPECT_EQ(place(GST_SECOND), Place(true, 0, 0));
    EXPECT_FALSE(std::get<0>(place(GST_SECOND + 5 * GST_MSECOND)));
    EXPECT_EQ(place(GST_SECOND + kPalFrame), Place(true, 1, 0));
    // A frame without a time takes the next free slot.
    EXPECT_EQ(place(GST_CLOCK_TIME_NONE), Place(true, 2, 0));
    EXPECT_EQ(t.nextSlot(), 3u);
}

// Cuts at arbitrary frames of an NTSC capture with 44.1 kHz sound: the sum of
// the files is the whole capture and each file's sound lasts as long as its
// picture within one sample, however many cuts (no rounding error that
// grows from file to file).
TEST(AviTimeline, EveryFileOfACutCaptureKeepsSoundAndPictureEqual)
{
    for (int rate : {32000, 44100, 48000}) {
        AviTimeline t(30000, 1001, rate);
        t.setOrigin(0);
        std::mt19937 rng(rate);
        std::uniform_int_distribution<std::uint64_t> length(1, 400);
        std::uint64_t start = 0;
        std::uint64_t samples = 0;
        for (int file = 0; file < 200; ++file) {
            const std::uint64_t end = start + length(rng);
            const std::uint64_t fileSamples = t.firstSample(end) - t.firstSample(start);
            const double picture = double(end - start) * 1001.0 / 30000.0;
            const double sound = double(fileSamples) / rate;
            EXPECT_LE(std::abs(picture - sound), 1.0 / rate) << "rate " << rate << " file " << file;
            EXPECT_EQ(t.slotTime(start), ntscFrameTime(start));
            samples += fileSamples;
            start = end;
        }
        EXPECT_EQ(samples, t.firstSample(start));
    }
    AviTimeline ntsc(30000, 1001, 48000);
    EXPECT_EQ(ntsc.firstSample(5), 8008u);
}

// Sound around the picture: what comes before the first frame is cut away so
// both begin together; a gap becomes silence; an overlap is not written twice;
// small jitter is absorbed without silence or loss.
TEST(AviTimeline, SoundGapsBecomeSilenceAndOverlapsAreCut)
{
    AviTimeline t(25, 1, 48000);
    const GstClockTime origin = 2 * GST_SECOND;
    // Before the first frame nothing is kept.
    auto early = t.placeSamples(GST_SECOND, 960);
    EXPECT_EQ(early.keep, 0u);
    ASSERT_TRUE(t.placeFrame(origin).write);

    // Silence, skipped, kept samples and the place of the first kept one.
    using Place = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t>;
    const auto place = [&t](GstClockTime pts, std::uint64_t count) {
        const auto p = t.placeSamples(pts, count);
        return Place{p.silence, p.skip, p.keep, p.first};
    };
    // Starts 100 ms before the picture: its first 4800 samples are dropped.
    EXPECT_EQ(place(origin - 100 * GST_MSECOND, 9600), Place(0, 4800, 4800, 0));
    // 3 ms late: jitter, taken as contiguous.
    EXPECT_EQ(place(origin + 103 * GST_MSECOND, 4800), Place(0, 0, 4800, 4800));
    // 500 ms missing: as much silence, then the buffer at its own place.
    const GstClockTime afterGap = origin + 700 * GST_MSECOND;
    EXPECT_EQ(place(afterGap, 4800), Place(24000, 0, 4800, 33600));
    // Overlaps the previous buffer by 50 ms.
    EXPECT_EQ(place(afterGap + 50 * GST_MSECOND, 4800), Place(0, 2400, 2400, 38400));
    // Wholly inside what is already written.
    const auto repeated = t.placeSamples(afterGap, 960);
    EXPECT_EQ(repeated.keep + repeated.silence, 0u);

    // Untimed: right after the last one.
    auto untimed = t.placeSamples(GST_CLOCK_TIME_NONE, 100);
    EXPECT_EQ(untimed.first, 40800u);
    EXPECT_EQ(t.nextSample(), 40900u);
}

// Sound that drifts slowly against the picture is brought back each time
// the drift passes the tolerance, so it never ends up more than the
// tolerance away from its own time.
TEST(AviTimeline, DriftingSoundStaysWithinTheTolerance)
{
    AviTimeline t(25, 1, 48000, 10 * GST_MSECOND);
    t.setOrigin(0);
    ASSERT_TRUE(t.placeFrame(0).write);
    // The sound card runs 0.5 % slow: each 20 ms buffer arrives 20.1 ms later.
    GstClockTime pts = 0;
    for (int i = 0; i < 3000; ++i) {
        const auto place = t.placeSamples(pts, 960);
        const double own = double(pts) * 48000.0 / GST_SECOND;
        EXPECT_LE(std::abs(double(place.first) - own), 480.0 + 1.0) << "buffer " << i;
        pts += 20100 * GST_USECOND;
    }
}

// Rates that make no sense fall back to PAL's instead of dividing by zero;
// a writer without sound keeps none.
TEST(AviTimeline, BadRatesFallBack)
{
    AviTimeline t(0, 0, 0);
    t.setOrigin(0);
    EXPECT_EQ(t.slotTime(25), GST_SECOND);
    auto place = t.placeSamples(0, 480);
    EXPECT_EQ(place.keep, 0u);
    EXPECT_EQ(t.firstSample(100), 0u);
}
