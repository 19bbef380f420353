#pragma once

// A clock the test sets by hand: steady milliseconds and a local date and
// time that move only when told, forward or back.

#include "session/feature_clock.h"

namespace kad::test {

class FakeFeatureClock final : public IFeatureClock {
public:
    qint64 SteadyMs() const override { return steady; }
    QDateTime Now() const override { return now; }

    void advanceMs(qint64 ms)
    {
        steady += ms;
        now = now.addMSecs(ms);
    }

    qint64 steady = 1000000;
    QDateTime now{QDate(2026, 3, 10), QTime(9, 0)};
};

} // namespace kad::test
