#pragma once

// The intervalometer and the scheduled capture in the main window: Timer1,
// the grab panel's intervalometer switch, the schedule panel's clock, fields
// and buttons, acProgrammer and acStopProg. The decisions are made by
// TIntervalometer and TSchedule; this class carries them out on the window.
//
// GUI thread only.

#include <QObject>
#include <QPalette>

#include <functional>
#include <memory>

#include "app/program_parts.h"
#include "session/feature_clock.h"
#include "session/intervalometer.h"
#include "session/schedule.h"

namespace kad {

class TCaptureSession;

class TScheduleBinding : public QObject, private TScheduleHost {
    Q_OBJECT
public:
    // `snapshot` grabs one image as a manual grab does; true when it was
    // handed over to be written (the write itself ends later, off the GUI
    // thread).
    TScheduleBinding(TProgramParts& parts, std::function<bool()> snapshot,
                     QObject* parent = nullptr);
    ~TScheduleBinding() override;

    // Connects the panels, the window's timer and the window's schedule
    // intents; the schedule's captures go through session.
    void Bind(TCaptureSession& session);

    TSchedule& Schedule() { return schedule_; }
    TIntervalometer& Intervalometer() { return intervalometer_; }
    // Images the intervalometer has handed over to be written since start.
    qint64 SnapshotsWritten() const { return snapshotsWritten_; }
    // Called after each intervalometer snapshot with the steady time it was
    // due and the time it was taken (for measurements).
    void SetSnapshotObserver(std::function<void(qint64 due, qint64 taken)> observer)
    {
        snapshotObserver_ = std::move(observer);
    }
    const IFeatureClock& Clock() const { return clock_; }

    // RxSwitch1 turned on or off.
    void SwitchIntervalometer(bool on);
    // Timer1 expired.
    void IntervalometerTick();

private:
    // TScheduleHost
    CaptureState State() const override;
    ScheduleFields Fields() const override;
    bool StartCapture() override;
    void StopCapture() override;
    void ShowScheduledState() override;
    void ShowScheduledCaptureState() override;
    void ShowCaptureState() override;
    void ShowPreviewState() override;
    void ShowArmed(bool armed) override;
    void ShowCaptureStarted() override;
    void ShowScheduleEnded() override;
    void ShowAlarmTime(const QTime& time) override;
    void AdvanceVideoName() override;

    void startIntervalometer();
    void stopIntervalometer();
    void setIntervalometerStatus(const QString& text, bool running);
    void scheduleNextTick();
    void playBeep(int index);

    TProgramParts& p_;
    TCaptureSession* session_ = nullptr;
    std::function<bool()> snapshot_;
    std::function<void(qint64, qint64)> snapshotObserver_;
    TSystemFeatureClock clock_;
    TIntervalometer intervalometer_;
    TSchedule schedule_;
    std::unique_ptr<TBeepPlayer> beeper_;
    QPalette statusPalette_;
    bool statusAutoFill_ = false;
    qint64 snapshotsWritten_ = 0;
};

} // namespace kad
