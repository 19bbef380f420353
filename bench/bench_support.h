#pragma once

// Helpers shared by the benchmark programs.

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <functional>

namespace kad::bench {

// User plus system CPU seconds of RUSAGE_SELF or RUSAGE_CHILDREN.
inline double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop until done() holds; false after ms milliseconds.
// The loop sleeps between two looks at done() (a timer every pollMs), so the
// waiting costs next to no CPU time and does not compete with the graph's
// threads for the cores being measured.
inline bool waitFor(const std::function<bool()>& done, int ms, int pollMs = 2)
{
    if (done()) return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.exit(0);
    });
    QTimer::singleShot(ms, &loop, [&] { loop.exit(1); });
    poll.start(pollMs);
    return loop.exec() == 0 || done();
}

// Runs the event loop for ms milliseconds.
inline void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, [&] { loop.quit(); });
    loop.exec();
}

} // namespace kad::bench
