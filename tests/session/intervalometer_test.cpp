// The intervalometer driven by a hand-set clock: the period from value and
// unit, the countdown and its beeps, snapshots that keep to their grid over
// a thousand periods however late the ticks and however slow the snapshots,
// a clock that was away for several periods, and the beep player that never
// holds its caller.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <vector>

#include "session/feature_clock_fake.h"
#include "session/intervalometer.h"

using namespace kad;
using kad::test::FakeFeatureClock;

namespace {

// What the ticks of one run asked for, tick by tick.
struct TickRun {
    std::vector<QString> labels;
    std::vector<int> beeps; // -1 when none
    std::vector<qint64> snapshotsAt;
};

// Moves the clock to each tick exactly and records it.
TickRun runTicks(TIntervalometer& iv, FakeFeatureClock& clock, int ticks)
{
    TickRun r;
    for (int i = 0; i < ticks; ++i) {
        clock.steady = iv.NextTickAt();
        const IntervalTick t = iv.Tick();
        EXPECT_TRUE(t.Due);
        r.labels.push_back(t.Label);
        r.beeps.push_back(t.Beep ? *t.Beep : -1);
        if (t.Snapshot) r.snapshotsAt.push_back(clock.steady);
    }
    return r;
}

TEST(IntervalometerPeriod, UnitsFramesAndTheLongestPeriod)
{
    EXPECT_EQ(IntervalPeriodMs(10, int(IntervalUnit::Seconds), 0), 10000);
    EXPECT_EQ(IntervalPeriodMs(2, int(IntervalUnit::Minutes), 0), 120000);
    EXPECT_EQ(IntervalPeriodMs(3, int(IntervalUnit::Hours), 0), 3 * 3600000);
    // 25 frames per second: 400000 x 100 ns per frame.
    EXPECT_EQ(IntervalPeriodMs(10, int(IntervalUnit::Frames), 400000), 400);
    // NTSC: 333667 x 100 ns is 33 ms once the remainder is dropped.
    EXPECT_EQ(IntervalPeriodMs(3, int(IntervalUnit::Frames), 333667), 99);
    // No known frame duration: 40 ms a frame.
    EXPECT_EQ(IntervalPeriodMs(10, int(IntervalUnit::Frames), 0), 400);
    EXPECT_EQ(IntervalPeriodMs(10, int(IntervalUnit::Frames), -5), 400);

    FakeFeatureClock clock;
    TIntervalometer iv(clock);
    EXPECT_EQ(iv.Start(IntervalPeriodMs(0, int(IntervalUnit::Hours), 0), false),
              TIntervalometer::StartResult::NoPeriod);
    EXPECT_FALSE(iv.Running());
    // 597 hours no longer fits a 32-bit count of milliseconds; 596 does.
    EXPECT_EQ(iv.Start(IntervalPeriodMs(597, int(IntervalUnit::Hours), 0), false),
              TIntervalometer::StartResult::TooLong);
    EXPECT_FALSE(iv.Running());
    EXPECT_EQ(iv.Start(IntervalPeriodMs(999999, int(IntervalUnit::Hours), 0), false),
              TIntervalometer::StartResult::TooLong);
    EXPECT_EQ(iv.Start(IntervalPeriodMs(596, int(IntervalUnit::Hours), 0), false),
              TIntervalometer::StartResult::Started);
    EXPECT_EQ(iv.PeriodMs(), qint64(596) * 3600000);
    // The first tick comes a second later, not after a wrapped period.
    EXPECT_EQ(iv.MsUntilNextTick(), 1000);
}

TEST(IntervalometerCountdown, WholeSecondsBeepOnTheLastFourAndSnapOnZero)
{
    FakeFeatureClock clock;
    TIntervalometer iv(clock);
    const qint64 t0 = clock.steady;
    ASSERT_EQ(iv.Start(5000, true), TIntervalometer::StartResult::Started);
    EXPECT_EQ(iv.StartLabel(), QStringLiteral("5"));
    const TickRun r = runTicks(iv, clock, 10);
    EXPECT_EQ(r.labels, (std::vector<QString>{"4", "3", "2", "1", "0", "4", "3", "2", "1", "0"}));
    EXPECT_EQ(r.beeps, (std::vector<int>{1, 1, 1, 1, 0, 1, 1, 1, 1, 0}));
    EXPECT_EQ(r.snapshotsAt, (std::vector<qint64>{t0 + 5000, t0 + 10000}));

    // Three seconds: the start shows 3, warnings on 2 and 1 only.
    TIntervalometer three(clock);
    ASSERT_EQ(three.Start(3000, true), TIntervalometer::StartResult::Started);
    EXPECT_EQ(three.StartLabel(), QStringLiteral("3"));
    const TickRun r3 = runTicks(three, clock, 3);
    EXPECT_EQ(r3.labels, (std::vector<QString>{"2", "1", "0"}));
    EXPECT_EQ(r3.beeps, (std::vector<int>{1, 1, 0}));

    // Without beeps nothing sounds, the images come all the same.
    TIntervalometer quiet(clock);
    ASSERT_EQ(quiet.Start(2000, false), TIntervalometer::StartResult::Started);
    const TickRun rq = runTicks(quiet, clock, 4);
    EXPECT_EQ(rq.beeps, (std::vector<int>{-1, -1, -1, -1}));
    EXPECT_EQ(rq.snapshotsAt.size(), 2u);
}

TEST(IntervalometerCountdown, PeriodsWithAPartBelowOneSecond)
{
    FakeFeatureClock clock;
    TIntervalometer iv(clock);
    const qint64 t0 = clock.steady;
    // 2.5 s: the first tick after the half second shows 2.
    ASSERT_EQ(iv.Start(2500, false), TIntervalometer::StartResult::Started);
    EXPECT_TRUE(iv.StartLabel().isEmpty());
    EXPECT_EQ(iv.MsUntilNextTick(), 500);
    const TickRun r = runTicks(iv, clock, 6);
    EXPECT_EQ(r.labels, (std::vector<QString>{"2", "1", "0", "2", "1", "0"}));
    EXPECT_EQ(r.snapshotsAt, (std::vector<qint64>{t0 + 2500, t0 + 5000}));

    // Ten frames of 25 fps: every tick shows 0 and stores an image.
    TIntervalometer frames(clock);
    const qint64 t1 = clock.steady;
    ASSERT_EQ(frames.Start(IntervalPeriodMs(10, int(IntervalUnit::Frames), 400000), true),
              TIntervalometer::StartResult::Started);
    const TickRun rf = runTicks(frames, clock, 3);
    EXPECT_EQ(rf.labels, (std::vector<QString>{"0", "0", "0"}));
    EXPECT_EQ(rf.beeps, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(rf.snapshotsAt, (std::vector<qint64>{t1 + 400, t1 + 800, t1 + 1200}));
}

TEST(IntervalometerDrift, AThousandPeriodsKeepTheirGridDespiteLateTicksAndSlowSnapshots)
{
    FakeFeatureClock clock;
    std::mt19937 random(12);
    for (const qint64 period : {qint64(1000), qint64(7300), qint64(400)}) {
        TIntervalometer iv(clock);
        ASSERT_EQ(iv.Start(period, true), TIntervalometer::StartResult::Started);
        const qint64 t0 = clock.steady;
        std::vector<qint64> taken;
        std::uniform_int_distribution<qint64> late(0, std::min<qint64>(period / 4, 80));
        while (taken.size() < 1000) {
            // The timer fires a little late every time...
            clock.steady = std::max(clock.steady, iv.NextTickAt() + late(random));
            const IntervalTick t = iv.Tick();
            ASSERT_TRUE(t.Due);
            if (t.Snapshot) {
                ASSERT_EQ(t.MissedSnapshots, 0);
                taken.push_back(clock.steady);
                // ...and storing the image takes a while.
                clock.steady += period / 5;
            }
        }
        for (std::size_t n = 0; n < taken.size(); ++n) {
            const qint64 due = t0 + qint64(n + 1) * period;
            ASSERT_GE(taken[n], due) << "period " << period << " snapshot " << n;
            ASSERT_LE(taken[n] - due, 80) << "period " << period << " snapshot " << n;
        }
    }
}

TEST(IntervalometerDrift, AClockAwayForSeveralPeriodsTakesOneImageAndRejoinsTheGrid)
{
    FakeFeatureClock clock;
    TIntervalometer iv(clock);
    const qint64 t0 = clock.steady;
    ASSERT_EQ(iv.Start(3000, true), TIntervalometer::StartResult::Started);
    // Asleep from the start until 5.2 periods later.
    clock.steady = t0 + 15600;
    const IntervalTick t = iv.Tick();
    ASSERT_TRUE(t.Due);
    EXPECT_TRUE(t.Snapshot);
    EXPECT_EQ(t.MissedSnapshots, 4);
    EXPECT_EQ(t.Beep, 0);
    // The last due tick is the snapshot at 15 s; the countdown goes on from
    // there on the grid of the start.
    EXPECT_EQ(t.Label, QStringLiteral("0"));
    EXPECT_EQ(iv.NextTickAt(), t0 + 16000);
    clock.steady = t0 + 16000;
    EXPECT_EQ(iv.Tick().Label, QStringLiteral("2"));
    clock.steady = t0 + 17000;
    EXPECT_EQ(iv.Tick().Label, QStringLiteral("1"));
    clock.steady = t0 + 17999;
    EXPECT_FALSE(iv.Tick().Due);
    clock.steady = t0 + 18000;
    EXPECT_TRUE(iv.Tick().Snapshot);

    iv.Stop();
    clock.steady += 60000;
    EXPECT_FALSE(iv.Tick().Due);
}

TEST(BeepPlayer, PlaysInOrderOffTheCallersThreadAndDropsAPileUp)
{
    std::mutex lock;
    std::condition_variable changed;
    bool started = false;
    bool release = false;
    std::vector<int> played;
    {
        TBeepPlayer player([&](int index) {
            std::unique_lock<std::mutex> guard(lock);
            started = true;
            changed.notify_all();
            // Every sound stalls until the test lets them go.
            changed.wait_for(guard, std::chrono::seconds(10), [&] { return release; });
            played.push_back(index);
            changed.notify_all();
        });
        player.Play(1);
        {
            std::unique_lock<std::mutex> guard(lock);
            ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(10), [&] { return started; }));
        }
        // The first sound is playing and holds; the caller goes on.
        player.Play(0);
        player.Play(1);
        player.Play(0); // two already wait: dropped
        {
            std::unique_lock<std::mutex> guard(lock);
            EXPECT_TRUE(played.empty());
            release = true;
            changed.notify_all();
            ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(10),
                                         [&] { return played.size() >= 3; }));
        }
    }
    EXPECT_EQ(played, (std::vector<int>{1, 0, 1}));
}

} // namespace
