#pragma once

// The time as the intervalometer and the schedule see it. The program uses
// the computer's clocks; tests give their own so they can walk through
// midnight, skip seconds or jump back without waiting.

#include <QDateTime>
#include <QElapsedTimer>

namespace kad {

class IFeatureClock {
public:
    virtual ~IFeatureClock() = default;
    // Milliseconds on a clock that never jumps (the intervalometer's).
    virtual qint64 SteadyMs() const = 0;
    // The local date and time of day (the schedule's).
    virtual QDateTime Now() const = 0;
};

class TSystemFeatureClock final : public IFeatureClock {
public:
    TSystemFeatureClock() { steady_.start(); }
    qint64 SteadyMs() const override { return steady_.elapsed(); }
    QDateTime Now() const override { return QDateTime::currentDateTime(); }

private:
    QElapsedTimer steady_;
};

} // namespace kad
