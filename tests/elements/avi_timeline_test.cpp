#include <gtest/gtest.h>

#include <cstdint>
#include <random>
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

// A webcam that fails to deliver one frame in five, with its timestamps a few
// milliseconds off: every delivered frame keeps its own slot, the missing
// ones are reported as filled, and the picture ends where the sound does.
TEST(AviTimeline, DroppedFramesKeepTheirSlotsAndPictureMatchesSound)
{
    AviTimeline t(25, 1, 48000);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> jitterMs(-12, 12);
    const GstClockTime origin = 3 * GST_SECOND;
    std::uint64_t written = 0;
    std::uint64_t filled = 0;
    std::uint64_t lastSlot = 0;
    for (std::uint64_t i = 0; i < 250; ++i) {
        if (i % 5 == 3) continue;
        const GstClockTime pts = origin + i * kPalFrame + jitterMs(rng) * GST_MSECOND;
        const auto place = t.placeFrame(i == 0 ? origin : pts);
        ASSERT_TRUE(place.write) << "frame " << i;
        EXPECT_EQ(place.slot, i);
        ++written;
        filled += place.filled;
        lastSlot = place.slot;
    }
    EXPECT_EQ(t.origin(), origin);
    EXPECT_EQ(written + filled, lastSlot + 1);
    EXPECT_EQ(filled, 50u); // frames 3, 8, ..., 248
    // Ten seconds of picture hold exactly ten seconds of sound.
    EXPECT_EQ(t.firstSample(250), 480000u);
}

// Frames whose slot is already taken (a source slightly faster than its
// rate, a repeated timestamp) or that come before the first frame are not
// written, and are not counted as filled either.
TEST(AviTimeline, FramesForTakenSlotsAreRefused)
{
    AviTimeline t(25, 1, 48000);
    t.setOrigin(GST_SECOND);
    EXPECT_FALSE(t.placeFrame(GST_SECOND - kPalFrame).write);
    auto first = t.placeFrame(GST_SECOND);
    EXPECT_TRUE(first.write);
    EXPECT_EQ(first.filled, 0u);
    EXPECT_FALSE(t.placeFrame(GST_SECOND + 5 * GST_MSECOND).write);
    auto next = t.placeFrame(GST_SECOND + kPalFrame);
    EXPECT_TRUE(next.write);
    EXPECT_EQ(next.slot, 1u);
    EXPECT_EQ(next.filled, 0u);
    // A frame without a time takes the next free slot.
    auto untimed = t.placeFrame(GST_CLOCK_TIME_NONE);
    EXPECT_TRUE(untimed.write);
    EXPECT_EQ(untimed.slot, 2u);
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

    // Starts 100 ms before the picture: its first 4800 samples are dropped.
    auto straddling = t.placeSamples(origin - 100 * GST_MSECOND, 9600);
    EXPECT_EQ(straddling.silence, 0u);
    EXPECT_EQ(straddling.skip, 4800u);
    EXPECT_EQ(straddling.keep, 4800u);
    EXPECT_EQ(straddling.first, 0u);

    // 3 ms late: jitter, taken as contiguous.
    auto jittered = t.placeSamples(origin + 103 * GST_MSECOND, 4800);
    EXPECT_EQ(jittered.silence, 0u);
    EXPECT_EQ(jittered.skip, 0u);
    EXPECT_EQ(jittered.first, 4800u);

    // 500 ms missing: as much silence, then the buffer at its own place.
    const GstClockTime afterGap = origin + 700 * GST_MSECOND;
    auto gap = t.placeSamples(afterGap, 4800);
    EXPECT_EQ(gap.silence, 24000u);
    EXPECT_EQ(gap.keep, 4800u);
    EXPECT_EQ(gap.first, 33600u);

    // Overlaps the previous buffer by 50 ms.
    auto overlap = t.placeSamples(afterGap + 50 * GST_MSECOND, 4800);
    EXPECT_EQ(overlap.silence, 0u);
    EXPECT_EQ(overlap.skip, 2400u);
    EXPECT_EQ(overlap.keep, 2400u);
    EXPECT_EQ(overlap.first, 38400u);

    // Wholly inside what is already written.
    auto repeated = t.placeSamples(afterGap, 960);
    EXPECT_EQ(repeated.keep, 0u);
    EXPECT_EQ(repeated.silence, 0u);

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
