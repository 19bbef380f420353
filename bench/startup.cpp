// Start-up and smoothness of the whole program with the virtual DV camcorder
// (live, PAL, 25 frames per second), in a throw-away home:
//
//   - time from process start (and from main) to the first previewed frame;
//   - while previewing, then while capturing DV type 1: the longest gap
//     between two painted frames, and the longest time the GUI thread did
//     not run a 5 ms timer (how long the window could have looked frozen).
//
// Prints its figures; run under QT_QPA_PLATFORM=offscreen or a display.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gst/gst.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/program.h"
#include "bench_support.h"
#include "graph/dm_cam.h"
#include "support/wait.h"
#include "ui/capture_form.h"
#include "ui/video_widget.h"

namespace {

// Milliseconds the process has been running, from /proc.
double processAgeMs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly)) return -1.0;
    const QByteArray s = stat.readAll();
    const int close = s.lastIndexOf(')');
    const QList<QByteArray> fields = s.mid(close + 2).split(' ');
    // Field 22 of the file, the 20th after the name and state.
    const double startTicks = fields.value(19).toDouble();
    const double up = uptime.readAll().split(' ').value(0).toDouble();
    return (up - startTicks / static_cast<double>(sysconf(_SC_CLK_TCK))) * 1000.0;
}

struct Gaps {
    qint64 frameGapMs = 0;
    qint64 loopGapMs = 0;
    quint64 frames = 0;
    quint64 received = 0;
};

// Runs the event loop for `ms` and measures the gaps.
Gaps measure(kad::TCaptureForm& form, int ms)
{
    Gaps g;
    QElapsedTimer clock;
    clock.start();
    qint64 lastFrame = -1;
    const quint64 before = form.vwEcran->FramesPainted();
    const quint64 receivedBefore = form.vwEcran->FramesReceived();
    auto frameConn = QObject::connect(form.vwEcran, &kad::TVideoWidget::framePainted, [&] {
        const qint64 now = clock.elapsed();
        if (lastFrame >= 0) g.frameGapMs = std::max(g.frameGapMs, now - lastFrame);
        lastFrame = now;
    });
    kad::bench::StallWatch watch;
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    g.loopGapMs = watch.longestMs();
    QObject::disconnect(frameConn);
    g.frames = form.vwEcran->FramesPainted() - before;
    g.received = form.vwEcran->FramesReceived() - receivedBefore;
    return g;
}

} // namespace

int main(int argc, char** argv)
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    QTemporaryDir home;
    const auto app = kad::bench::startProgramBench(argc, argv, home);

    kad::TProgram program;
    kad::TCaptureForm& form = program.Form();
    program.Show();
    QElapsedTimer wait;
    wait.start();
    while (form.vwEcran->FramesPainted() == 0 && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (form.vwEcran->FramesPainted() == 0) {
        std::printf("no frame was previewed within 20 s (state %d)\n",
                    static_cast<int>(form.State()));
        return 1;
    }
    std::printf("first previewed frame: %.0f ms after process start, %lld ms after main\n",
                processAgeMs(), static_cast<long long>(sinceMain.elapsed()));

    const Gaps preview = measure(form, 4000);
    std::printf("preview, 4 s: %llu frames reached the window, %llu painted, longest frame gap "
                "%lld ms, longest GUI "
                "stall %lld ms\n",
                static_cast<unsigned long long>(preview.received),
                static_cast<unsigned long long>(preview.frames),
                static_cast<long long>(preview.frameGapMs),
                static_cast<long long>(preview.loopGapMs));

    QElapsedTimer startClock;
    startClock.start();
    form.Action(kad::ActionId::acCapturerBascule)->trigger();
    const qint64 startMs = startClock.elapsed();
    if (form.State() != kad::CaptureState::csCapturing) {
        std::printf("the capture did not start\n");
        return 1;
    }
    std::printf("capture start (graph rebuilt and running): %lld ms\n",
                static_cast<long long>(startMs));
    const Gaps capture = measure(form, 4000);
    std::printf("capture, 4 s: %llu frames reached the window, %llu painted, %llu written, longest "
                "frame gap "
                "%lld ms, longest GUI stall %lld ms\n",
                static_cast<unsigned long long>(capture.received),
                static_cast<unsigned long long>(capture.frames),
                static_cast<unsigned long long>(program.Cam().Capture().CapturedFrames()),
                static_cast<long long>(capture.frameGapMs),
                static_cast<long long>(capture.loopGapMs));

    startClock.restart();
    form.Action(kad::ActionId::acCapturerBascule)->trigger();
    const qint64 stopCallMs = startClock.elapsed();
    // The stop returns at once; the files finish and the preview comes back
    // on the event loop.
    if (!kadtest::waitUntil([&] { return form.State() == kad::CaptureState::csPreview; }, 20000)) {
        std::printf("the capture did not stop\n");
        return 1;
    }
    std::printf("capture stop: %lld ms in the call, %lld ms until the file was finished and the "
                "preview rebuilt\n",
                static_cast<long long>(stopCallMs), static_cast<long long>(startClock.elapsed()));
    return 0;
}
