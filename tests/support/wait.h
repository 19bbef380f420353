#pragma once

// Waiting in tests: every wait has a deadline, so a fault shows as a failed
// check naming what did not happen, never as a test that hangs.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace kadtest {

// Runs the event loop (Qt's, which also runs GLib's default context and so
// the bus watches and the idle sources of the graph) until done() holds or
// `ms` have passed; true when done.
inline bool waitUntil(const std::function<bool()>& done, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Lets the event loop run for a while.
inline void pump(int ms)
{
    waitUntil([] { return false; }, ms);
}

// Runs `work` on a thread of its own and waits at most `ms` for it. A call
// into GStreamer that can block on a streaming thread's lock (sending an
// event to a running pipeline) goes through here, so a deadlock fails the
// test instead of holding it. When the time is up the thread is left to
// finish once the pipeline is stopped (stopping wakes every streaming
// thread); whatever `work` uses must outlive it, so it owns what it needs.
inline bool finishesWithin(std::function<void()> work, int ms)
{
    auto task = std::make_shared<std::packaged_task<void()>>(std::move(work));
    std::future<void> done = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    return done.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}

// Sends `event` to `element` without ever blocking the caller for longer
// than `ms`; false when the element did not take it in time.
inline bool sendEventWithin(GstElement* element, GstEvent* event, int ms = 5000)
{
    gst_object_ref(element);
    return finishesWithin(
        [element, event] {
            gst_element_send_event(element, event);
            gst_object_unref(element);
        },
        ms);
}

// For a call on this thread that nothing could interrupt if it deadlocked
// (the GUI thread stopping a capture): when the scope is not left within
// `ms`, the process ends at once with `what`, so the test fails in seconds,
// naming the call, instead of at the suite's time limit.
class StuckGuard {
public:
    StuckGuard(std::string what, int ms) : what_(std::move(what))
    {
        thread_ = std::thread([this, ms] {
            std::unique_lock lock(mutex_);
            if (!left_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_; })) {
                std::fprintf(stderr, "\n%s: still blocked after %d ms, a deadlock\n", what_.c_str(),
                             ms);
                std::fflush(stderr);
                std::abort();
            }
        });
    }
    ~StuckGuard()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        left_.notify_all();
        thread_.join();
    }
    StuckGuard(const StuckGuard&) = delete;
    StuckGuard& operator=(const StuckGuard&) = delete;

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable left_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace kadtest
