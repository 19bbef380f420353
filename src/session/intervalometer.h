#pragma once

// The intervalometer: a still image every period while it is switched on,
// with a countdown of the seconds to the next one and warning beeps.
//
// TIntervalometer only decides: the caller runs Tick() when NextTickAt() has
// come (Timer1 in the window, a fake clock in tests) and carries out what the
// tick asks for. Every tick time is counted from the start, never from the
// previous tick, so neither a slow snapshot nor a late timer moves the
// following snapshots.
//
// GUI thread only, except TBeepPlayer's own worker.

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace kad {

class IFeatureClock;

// The items of cbUnites, in their order.
enum class IntervalUnit : int { Seconds = 0, Frames = 1, Minutes = 2, Hours = 3 };

// The longest period a timer can count: 2^31 - 1 ms, about 24.8 days.
inline constexpr qint64 kLongestIntervalMs = 0x7FFFFFFF;
// Milliseconds of one frame when the graph knows no frame duration.
inline constexpr qint64 kUnknownFrameMs = 40;

// Milliseconds of one unit; `frameDuration` in 100-ns units (0 or less when
// unknown). An index outside the four items counts as seconds.
qint64 IntervalUnitMs(int unitIndex, qint64 frameDuration);
// value x unit, in milliseconds, without wrapping.
qint64 IntervalPeriodMs(qint64 value, int unitIndex, qint64 frameDuration);

// "1 image every %d %s" with the value and the unit as the list shows it.
QString IntervalStatusText(int value, const QString& unitText);
// Why a period longer than kLongestIntervalMs is refused.
QString IntervalTooLongMessage(int value, const QString& unitText);

// What one tick asks of the caller.
struct IntervalTick {
    bool Due = false;           // a tick time was reached; the rest is valid
    QString Label;              // chronoLab's new text
    std::optional<int> Beep;    // 0 before a snapshot, 1 as a warning
    bool Snapshot = false;      // grab and store an image now
    qint64 MissedSnapshots = 0; // snapshot times skipped while the clock was away
    qint64 ScheduledAt = 0;     // steady ms the (last) due tick was meant for
};

class TIntervalometer {
public:
    explicit TIntervalometer(const IFeatureClock& clock);

    enum class StartResult {
        Started,
        // Period below 1 ms: nothing starts (the status stays as it was).
        NoPeriod,
        // Period over kLongestIntervalMs: refused.
        TooLong,
    };
    // Starts counting from now. `beeps` is cbBeeps.
    StartResult Start(qint64 periodMs, bool beeps);
    void Stop();
    void SetBeeps(bool beeps) { beeps_ = beeps; }

    bool Running() const { return running_; }
    qint64 PeriodMs() const { return period_; }
    // The label right after Start: the whole seconds of the period for a
    // period of whole seconds, else empty (the first tick comes after the
    // part below one second).
    QString StartLabel() const;
    // Steady ms of the next tick, and the wait until it from now (0 when
    // due already).
    qint64 NextTickAt() const;
    qint64 MsUntilNextTick() const;
    // The n-th snapshot's steady time (n from 1).
    qint64 SnapshotAt(qint64 n) const { return start_ + n * period_; }

    // Runs every tick that is due by now as one: the countdown shows the
    // last of them, and at most one snapshot is taken however many snapshot
    // times passed (a machine that slept does not burst images on waking).
    IntervalTick Tick();

private:
    qint64 tickOffset(qint64 indexInPeriod) const;
    qint64 tickTime(qint64 index) const;
    qint64 shownAt(qint64 index) const;
    bool isSnapshot(qint64 index) const { return (index + 1) % perPeriod_ == 0; }

    const IFeatureClock& clock_;
    bool running_ = false;
    bool beeps_ = false;
    qint64 start_ = 0;
    qint64 period_ = 0;
    qint64 rest_ = 0;    // period mod 1000
    qint64 seconds_ = 0; // period div 1000
    qint64 perPeriod_ = 1;
    qint64 next_ = 0; // index of the next tick
};

// Plays the beeps on a worker thread of its own, so the GUI thread never
// waits for a sound. A beep asked for while two are still waiting is
// dropped rather than heard late.
class TBeepPlayer {
public:
    // `play` defaults to PlayBeep0/PlayBeep1.
    explicit TBeepPlayer(std::function<void(int)> play = {});
    ~TBeepPlayer();
    TBeepPlayer(const TBeepPlayer&) = delete;
    TBeepPlayer& operator=(const TBeepPlayer&) = delete;

    void Play(int index);

private:
    void run();

    std::function<void(int)> play_;
    // Guards queue_ and quit_.
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<int> queue_;
    bool quit_ = false;
    std::thread worker_;
};

} // namespace kad
