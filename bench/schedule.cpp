// The intervalometer and the scheduled capture against the wall clock.
//
//   bench_schedule [SECONDS]      (default 20; 600 for the ten-minute run)
//       The whole program on the live virtual PAL DV camcorder, offscreen:
//       a capture runs (DV type 1) while the intervalometer stores an image
//       every second for SECONDS. Each snapshot's lateness is the time it
//       was taken less its place on the grid counted from the switch-on
//       (start + n x 1 s): the largest, the mean, and the largest against one
//       PAL frame (40 ms), and how long each snapshot kept the GUI thread.
//       Then, the capture stopped, a schedule is armed to
//       start at the next whole second plus 2 s and to end 3 s later; the
//       lateness of the start and of the end is the time the window entered
//       the capture-until state, and left it, less the time asked for.
//
// Every figure is printed; none is judged.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>

#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/program.h"
#include "app/schedule_binding.h"
#include "bench_support.h"
#include "elements/plugin.h"
#include "graph/dm_cam.h"
#include "session/stills.h"
#include "settings/preferences.h"
#include "system/dialogs.h"
#include "ui/capture_form.h"
#include "ui/grab_panel.h"
#include "ui/schedule_panel.h"
#include "virtual/virtual_plugin.h"

namespace {

// Answers every question No and shows nothing: nobody watches a benchmark.
class SilentDialogs final : public kad::Dialogs {
public:
    kad::DialogAnswer warningYesNo(const QString& t) override { return note(t); }
    kad::DialogAnswer questionYesNo(const QString& t) override { return note(t); }
    kad::DialogAnswer warningYesNoAll(const QString& t) override { return note(t); }
    void warning(const QString& t) override { note(t); }
    void error(const QString& t) override { note(t); }
    void information(const QString& t) override { note(t); }
    void message(const QString& t) override { note(t); }

private:
    kad::DialogAnswer note(const QString& t)
    {
        std::printf("  (message: %s)\n", qPrintable(t));
        return kad::DialogAnswer::No;
    }
};

void setStart(kad::TProgrammerFrame& p, const QDateTime& m)
{
    p.DateEdit1->setDate(m.date());
    p.RxSpinEdit1->setValue(m.time().hour());
    p.RxSpinEdit2->setValue(m.time().minute());
    p.RxSpinEdit3->setValue(m.time().second());
}

void setEnd(kad::TProgrammerFrame& p, const QDateTime& m)
{
    p.DateEdit2->setDate(m.date());
    p.RxSpinEdit4->setValue(m.time().hour());
    p.RxSpinEdit5->setValue(m.time().minute());
    p.RxSpinEdit6->setValue(m.time().second());
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int seconds = 20;
    if (argc > 2 || (argc == 2 && std::atoi(argv[1]) <= 0)) {
        std::fprintf(stderr, "usage: bench_schedule [SECONDS]\n");
        return 2;
    }
    if (argc == 2) seconds = std::atoi(argv[1]);

    QTemporaryDir home;
    if (!home.isValid()) return 1;
    const QString videos = home.filePath(QStringLiteral("videos"));
    const QString images = home.filePath(QStringLiteral("images"));
    QDir().mkpath(videos);
    QDir().mkpath(images);
    const QString hive = home.filePath(QStringLiteral("registry.reg"));
    qputenv("KADRILLO_REGISTRY", hive.toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("KADRILLO_VIRTUAL_DEVICES", "dv-pal-vcr");
    qputenv("KADRILLO_VIRTUAL_LIVE", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    gst_init(&argc, &argv);
    kad::registerElements();
    kad::registerVirtualDevices();
    QApplication app(argc, argv);
    {
        auto prefs = kad::CreatePreferences(QSize(700, 459), hive);
        prefs->VideoDirectory.Value = videos + QLatin1Char('/');
        prefs->ImageDirectory.Value = images + QLatin1Char('/');
        kad::SavePreferences(*prefs);
    }

    SilentDialogs silent;
    kad::TProgram program;
    kad::setDialogs(&silent);
    program.Show();
    kad::TCaptureForm& form = program.Form();
    if (!kad::bench::waitFor([&] { return form.State() == kad::CaptureState::csPreview; }, 20000)) {
        std::printf("no preview of the virtual camcorder\n");
        return 1;
    }

    // ---- intervalometer while capturing ----
    form.Action(kad::ActionId::acCapturerBascule)->trigger();
    if (form.State() != kad::CaptureState::csCapturing) {
        std::printf("the capture did not start\n");
        return 1;
    }
    kad::TScheduleBinding& binding = program.Schedule();
    std::vector<qint64> lateness;
    // How long each snapshot kept the GUI thread: the observer runs as soon
    // as the grab returns.
    std::vector<qint64> held;
    binding.SetSnapshotObserver([&](qint64 due, qint64 taken) {
        lateness.push_back(taken - due);
        held.push_back(binding.Clock().SteadyMs() - taken);
    });
    kad::TExtraireFrame& g = *program.Parts().ExtraireFrame1;
    g.RxSpinEdit7->setValue(1);
    g.cbUnites->setCurrentIndex(int(kad::IntervalUnit::Seconds));
    g.RxSwitch1->click();
    const qint64 onAt = binding.Clock().SteadyMs();
    std::printf("intervalometer: 1 s period for %d s while capturing DV type 1\n", seconds);
    kad::bench::waitFor([&] { return binding.Clock().SteadyMs() - onAt >= seconds * 1000LL + 500; },
                        seconds * 1000 + 5000, 50);
    g.RxSwitch1->click();
    // The images reach the disk on the still writer's thread.
    kad::bench::waitFor([&] { return program.Stills().Pending() == 0; }, 20000, 20);
    const qint64 onDisk = QDir(images).entryList(QDir::Files).size();
    if (!lateness.empty()) {
        const auto worstAt = std::max_element(lateness.begin(), lateness.end());
        const qint64 worst = *worstAt;
        double mean = 0;
        for (qint64 l : lateness)
            mean += double(l);
        mean /= double(lateness.size());
        std::vector<qint64> sorted = lateness;
        std::sort(sorted.begin(), sorted.end());
        const qint64 p99 = sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
        const auto over =
            std::count_if(lateness.begin(), lateness.end(), [](qint64 l) { return l >= 40; });
        double load[3] = {};
        getloadavg(load, 3);
        std::printf("  snapshots %zu (images handed over %lld, on the disk %lld, expected %d)\n",
                    lateness.size(), static_cast<long long>(binding.SnapshotsWritten()),
                    static_cast<long long>(onDisk), seconds);
        std::printf("  lateness: largest %lld ms (snapshot %lld), mean %.1f ms, 99th percentile "
                    "%lld ms; one PAL frame is 40 ms: %s, %lld snapshots over\n",
                    static_cast<long long>(worst),
                    static_cast<long long>(worstAt - lateness.begin() + 1), mean,
                    static_cast<long long>(p99), worst < 40 ? "under" : "over",
                    static_cast<long long>(over));
        const qint64 heldMost = *std::max_element(held.begin(), held.end());
        double heldMean = 0;
        for (qint64 h : held)
            heldMean += double(h);
        heldMean /= double(held.size());
        std::printf("  GUI thread held by a snapshot: largest %lld ms, mean %.1f ms\n",
                    static_cast<long long>(heldMost), heldMean);
        std::printf("  load average over the last 1/5/15 minutes: %.2f %.2f %.2f\n", load[0],
                    load[1], load[2]);
    } else {
        std::printf("  no snapshot was taken\n");
    }
    std::printf("  captured frames %llu, lost %llu\n",
                static_cast<unsigned long long>(program.Cam().Capture().CapturedFrames()),
                static_cast<unsigned long long>(program.Cam().Capture().LostFrames()));
    form.Action(kad::ActionId::acCapturerBascule)->trigger();
    // The files finish before the preview is back.
    if (!kad::bench::waitFor([&] { return form.State() == kad::CaptureState::csPreview; }, 20000)) {
        std::printf("the capture did not stop\n");
        return 1;
    }

    // ---- scheduled start and end ----
    form.Action(kad::ActionId::acProgrammerFrame)->trigger();
    kad::TProgrammerFrame& p = *program.Parts().ProgrammerFrame1;
    QDateTime now = QDateTime::currentDateTime();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    const QDateTime startAt = now.addSecs(3);
    const QDateTime endAt = startAt.addSecs(3);
    setStart(p, startAt);
    setEnd(p, endAt);
    QDateTime startedAt;
    QDateTime endedAt;
    QObject::connect(&form, &kad::TCaptureForm::stateChanged, &form, [&](kad::CaptureState state) {
        if (state == kad::CaptureState::csScheduledCapture && !startedAt.isValid())
            startedAt = QDateTime::currentDateTime();
        else if (state == kad::CaptureState::csPreview && startedAt.isValid() && !endedAt.isValid())
            endedAt = QDateTime::currentDateTime();
    });
    form.Action(kad::ActionId::acProgrammer)->trigger();
    if (form.State() != kad::CaptureState::csScheduled) {
        std::printf("schedule: could not arm\n");
        return 1;
    }
    kad::bench::waitFor([&] { return endedAt.isValid(); }, 20000, 20);
    std::printf("schedule: start at %s, end at %s\n", qPrintable(startAt.toString("HH:mm:ss")),
                qPrintable(endAt.toString("HH:mm:ss")));
    if (startedAt.isValid())
        std::printf("  start lateness %lld ms\n",
                    static_cast<long long>(startAt.msecsTo(startedAt)));
    else
        std::printf("  the capture did not start\n");
    if (endedAt.isValid())
        std::printf("  end lateness %lld ms\n", static_cast<long long>(endAt.msecsTo(endedAt)));
    else
        std::printf("  the capture did not end\n");
    kad::setDialogs(nullptr);
    return 0;
}
