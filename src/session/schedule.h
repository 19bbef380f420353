#pragma once

// The scheduled capture: the schedule panel's alarm clock, and arming,
// disarming, starting and ending a capture at the times the panel holds.
//
// TAlarmClock rings when its time of day has been reached or passed since
// the previous check, so a check that comes late (a busy machine, a resume
// from suspend, a clock set by hand or a daylight-saving change) still rings,
// once; it never rings for a moment before it was armed.
//
// TSchedule runs the operations; the window side (state routines, actions,
// capture start and stop) is reached through TScheduleHost, and the time
// through an IFeatureClock, so tests drive both.
//
// GUI thread only.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include "system/kinds.h"

namespace kad {

class IFeatureClock;

enum class AlarmOperation { None, Start, End };

class TAlarmClock {
public:
    explicit TAlarmClock(const IFeatureClock& clock);

    // Enables the alarm at `time` with `operation`; the current second
    // counts, earlier ones do not.
    void Arm(const QTime& time, AlarmOperation operation);
    // A new time for an enabled alarm (a field edited while armed).
    void SetTime(const QTime& time);
    void Disable();

    bool Enabled() const { return enabled_; }
    QTime Time() const { return time_; }
    AlarmOperation Operation() const { return operation_; }

    // The operation to run when the alarm's second has come since the last
    // check, None otherwise.
    AlarmOperation Check();

private:
    QDateTime nowToTheSecond() const;

    const IFeatureClock& clock_;
    bool enabled_ = false;
    QTime time_;
    AlarmOperation operation_ = AlarmOperation::None;
    QDateTime lastChecked_;
};

// The start and end the schedule panel holds.
struct ScheduleFields {
    QDate StartDate;
    QTime StartTime;
    QDate EndDate;
    QTime EndTime;
    QDateTime Start() const { return QDateTime(StartDate, StartTime); }
    QDateTime End() const { return QDateTime(EndDate, EndTime); }
};

// What the schedule needs of the window.
class TScheduleHost {
public:
    virtual ~TScheduleHost() = default;
    virtual CaptureState State() const = 0;
    virtual ScheduleFields Fields() const = 0;
    // The capture start of the capture toggle, with its checks; true when
    // the capture runs.
    virtual bool StartCapture() = 0;
    // The stop of the capture toggle (acStopCapture).
    virtual void StopCapture() = 0;
    virtual void ShowScheduledState() = 0;
    virtual void ShowScheduledCaptureState() = 0;
    virtual void ShowCaptureState() = 0;
    virtual void ShowPreviewState() = 0;
    // acProgrammer hidden and acStopProg shown when armed, and the reverse.
    virtual void ShowArmed(bool armed) = 0;
    // A scheduled start ran: acCouper enabled, acCapturer hidden,
    // acStopCapture shown.
    virtual void ShowCaptureStarted() = 0;
    // The schedule ended at its end time: acCouper disabled, the start
    // controls shown.
    virtual void ShowScheduleEnded() = 0;
    // The alarm time was edited while armed: the status panel that shows it.
    virtual void ShowAlarmTime(const QTime& time) = 0;
    // The session's next video name := NextVideoName.
    virtual void AdvanceVideoName() = 0;
};

// The messages of arming.
QString StartInPastMessage();
QString EndInPastMessage();
QString EndNotAfterStartMessage();
QString NoPreviewToScheduleMessage();
// The log line of a start that came after the end.
QString StartAfterEndLogLine(const QDateTime& now, const QDateTime& end);

class TSchedule {
public:
    TSchedule(const IFeatureClock& clock, TScheduleHost& host);

    TAlarmClock& Alarm() { return alarm_; }
    const TAlarmClock& Alarm() const { return alarm_; }

    // acProgrammer: arms the start (in csPreview) or the end (while
    // capturing). False, with a message, when refused.
    bool Programmer();
    // acStopProg.
    void StopProg();
    // The start alarm's operation, also the capture toggle in csScheduled.
    void LancerEnregistrement();
    // The end alarm's operation.
    void StopperEnregistrement();
    // ShowScheduledCaptureState: the alarm waits for the end.
    void ArmStopAlarm();
    // Entering csIdle, csPreview or csCapturing.
    void ResetAlarm();

    // Start or end fields edited (and NowBtn, which copies start into end).
    void StartFieldsChanged();
    void EndFieldsChanged();

    // The clock's regular check: runs the alarm's operation when it rang.
    void CheckAlarm();

private:
    const IFeatureClock& clock_;
    TScheduleHost& host_;
    TAlarmClock alarm_;
};

} // namespace kad
