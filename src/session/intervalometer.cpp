#include "session/intervalometer.h"

#include <algorithm>

#include "platform/media/beeps.h"
#include "session/feature_clock.h"
#include "system/texts.h"

namespace kad {

qint64 IntervalUnitMs(int unitIndex, qint64 frameDuration)
{
    switch (static_cast<IntervalUnit>(unitIndex)) {
    case IntervalUnit::Frames:
        // 100-ns units to whole milliseconds, the remainder dropped.
        return frameDuration > 0 ? frameDuration / 10000 : kUnknownFrameMs;
    case IntervalUnit::Minutes:
        return 60000;
    case IntervalUnit::Hours:
        return 3600000;
    case IntervalUnit::Seconds:
    default:
        return 1000;
    }
}

qint64 IntervalPeriodMs(qint64 value, int unitIndex, qint64 frameDuration)
{
    // The value is at most 999999 and the unit at most an hour, so the
    // product fits 64 bits with room to spare.
    return std::max<qint64>(value, 0) * IntervalUnitMs(unitIndex, frameDuration);
}

QString IntervalStatusText(int value, const QString& unitText)
{
    return Text(TextId::IntervalStatus).arg(value).arg(unitText);
}

QString IntervalTooLongMessage(int value, const QString& unitText)
{
    return Text(TextId::IntervalTooLong).arg(value).arg(unitText);
}

TIntervalometer::TIntervalometer(const IFeatureClock& clock) : clock_(clock) {}

TIntervalometer::StartResult TIntervalometer::Start(qint64 periodMs, bool beeps)
{
    if (periodMs < 1) return StartResult::NoPeriod;
    if (periodMs > kLongestIntervalMs) return StartResult::TooLong;
    period_ = periodMs;
    rest_ = periodMs % 1000;
    seconds_ = periodMs / 1000;
    // A period of whole seconds ticks at 1 s, 2 s ... S s; any other at
    // R, R + 1 s ... R + S s, the last tick of a period being its snapshot.
    perPeriod_ = rest_ > 0 ? seconds_ + 1 : seconds_;
    beeps_ = beeps;
    start_ = clock_.SteadyMs();
    next_ = 0;
    running_ = true;
    return StartResult::Started;
}

void TIntervalometer::Stop()
{
    running_ = false;
}

QString TIntervalometer::StartLabel() const
{
    return rest_ == 0 ? QString::number(seconds_) : QString();
}

qint64 TIntervalometer::tickOffset(qint64 indexInPeriod) const
{
    return rest_ > 0 ? rest_ + indexInPeriod * 1000 : (indexInPeriod + 1) * 1000;
}

qint64 TIntervalometer::tickTime(qint64 index) const
{
    return start_ + (index / perPeriod_) * period_ + tickOffset(index % perPeriod_);
}

qint64 TIntervalometer::shownAt(qint64 index) const
{
    return (period_ - tickOffset(index % perPeriod_)) / 1000;
}

qint64 TIntervalometer::NextTickAt() const
{
    return tickTime(next_);
}

qint64 TIntervalometer::MsUntilNextTick() const
{
    return std::max<qint64>(0, NextTickAt() - clock_.SteadyMs());
}

IntervalTick TIntervalometer::Tick()
{
    IntervalTick t;
    if (!running_) return t;
    const qint64 now = clock_.SteadyMs();
    if (now < tickTime(next_)) return t;

    // The last tick that is due: whole periods since the start, then the
    // ticks of the current period whose offset has passed.
    const qint64 elapsed = now - start_;
    const qint64 periods = elapsed / period_;
    const qint64 rem = elapsed % period_;
    const qint64 inPeriod = rest_ > 0 ? (rem >= rest_ ? (rem - rest_) / 1000 + 1 : 0) : rem / 1000;
    const qint64 last = std::max(next_, periods * perPeriod_ + inPeriod - 1);

    const qint64 snapshots = (last + 1) / perPeriod_ - next_ / perPeriod_;
    t.Due = true;
    t.Snapshot = snapshots > 0;
    t.MissedSnapshots = std::max<qint64>(0, snapshots - 1);
    const qint64 shown = shownAt(last);
    t.Label = QString::number(shown);
    if (beeps_) {
        if (t.Snapshot)
            t.Beep = 0;
        else if (shown >= 1 && shown <= 4)
            t.Beep = 1;
    }
    t.ScheduledAt = tickTime(last);
    next_ = last + 1;
    return t;
}

TBeepPlayer::TBeepPlayer(std::function<void(int)> play) : play_(std::move(play))
{
    if (!play_) play_ = [](int index) { index == 0 ? PlayBeep0() : PlayBeep1(); };
    worker_ = std::thread([this] { run(); });
}

TBeepPlayer::~TBeepPlayer()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    worker_.join();
}

void TBeepPlayer::Play(int index)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (queue_.size() >= 2) return;
        queue_.push_back(index);
    }
    wake_.notify_one();
}

void TBeepPlayer::run()
{
    for (;;) {
        int index = 0;
        {
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait(guard, [this] { return quit_ || !queue_.empty(); });
            if (quit_) return;
            index = queue_.front();
            queue_.pop_front();
        }
        play_(index);
    }
}

} // namespace kad
