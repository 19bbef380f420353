#include "session/schedule.h"

#include "session/feature_clock.h"
#include "system/dialogs.h"
#include "system/log.h"
#include "system/texts.h"

namespace kad {

namespace {

QDateTime toTheSecond(QDateTime moment)
{
    const QTime t = moment.time();
    moment.setTime(QTime(t.hour(), t.minute(), t.second()));
    return moment;
}

} // namespace

QString StartInPastMessage()
{
    return Text(TextId::ScheduleStartInPast);
}

QString EndInPastMessage()
{
    return Text(TextId::ScheduleEndInPast);
}

QString EndNotAfterStartMessage()
{
    return Text(TextId::ScheduleEndNotAfterStart);
}

QString NoPreviewToScheduleMessage()
{
    return Text(TextId::ScheduleNoPreview);
}

QString StartAfterEndLogLine(const QDateTime& now, const QDateTime& end)
{
    const QString format = QStringLiteral("dd/MM/yyyy HH:mm:ss");
    return Text(TextId::ScheduleStartAfterEnd).arg(now.toString(format), end.toString(format));
}

// ---------------------------------------------------------------------------

TAlarmClock::TAlarmClock(const IFeatureClock& clock) : clock_(clock) {}

QDateTime TAlarmClock::nowToTheSecond() const
{
    return toTheSecond(clock_.Now());
}

void TAlarmClock::Arm(const QTime& time, AlarmOperation operation)
{
    time_ = time;
    operation_ = operation;
    enabled_ = true;
    lastChecked_ = nowToTheSecond().addSecs(-1);
}

void TAlarmClock::SetTime(const QTime& time)
{
    time_ = time;
}

void TAlarmClock::Disable()
{
    enabled_ = false;
    operation_ = AlarmOperation::None;
}

AlarmOperation TAlarmClock::Check()
{
    const QDateTime now = nowToTheSecond();
    if (!enabled_ || !time_.isValid()) {
        lastChecked_ = now;
        return AlarmOperation::None;
    }
    // A clock set back starts the watch afresh from the new time.
    if (now < lastChecked_) lastChecked_ = now.addSecs(-1);

    // The latest moment at the alarm's time of day that is not after now.
    QDateTime moment(now.date(), time_);
    if (moment > now) moment = QDateTime(now.date().addDays(-1), time_);
    const bool rang = moment > lastChecked_;
    lastChecked_ = now;
    return rang ? operation_ : AlarmOperation::None;
}

// ---------------------------------------------------------------------------

TSchedule::TSchedule(const IFeatureClock& clock, TScheduleHost& host)
    : clock_(clock), host_(host), alarm_(clock)
{
}

bool TSchedule::Programmer()
{
    const QDateTime now = toTheSecond(clock_.Now());
    const ScheduleFields f = host_.Fields();
    switch (host_.State()) {
    case CaptureState::csPreview:
        if (f.Start() < now) {
            dialogs().error(StartInPastMessage());
            return false;
        }
        if (f.End() <= f.Start()) {
            dialogs().error(EndNotAfterStartMessage());
            return false;
        }
        alarm_.Arm(f.StartTime, AlarmOperation::Start);
        host_.ShowScheduledState();
        break;
    case CaptureState::csCapturing:
        if (f.End() < now) {
            dialogs().error(EndInPastMessage());
            return false;
        }
        alarm_.Arm(f.EndTime, AlarmOperation::End);
        host_.ShowScheduledCaptureState();
        break;
    case CaptureState::csIdle:
        dialogs().error(NoPreviewToScheduleMessage());
        return false;
    case CaptureState::csScheduled:
    case CaptureState::csScheduledCapture:
        return false;
    }
    host_.ShowArmed(true);
    return true;
}

void TSchedule::StopProg()
{
    alarm_.Disable();
    host_.AdvanceVideoName();
    if (host_.State() == CaptureState::csScheduledCapture)
        host_.ShowCaptureState();
    else if (host_.State() == CaptureState::csScheduled)
        host_.ShowPreviewState();
    host_.ShowArmed(false);
}

void TSchedule::LancerEnregistrement()
{
    const QDateTime now = clock_.Now();
    const ScheduleFields f = host_.Fields();
    // Before the start date the alarm just rings again the next day.
    if (now < QDateTime(f.StartDate, QTime(0, 0))) return;
    if (now >= f.End()) {
        // Recording now would run past the end the user asked for.
        alarm_.Disable();
        WriteLog(StartAfterEndLogLine(now, f.End()));
        host_.AdvanceVideoName();
        if (host_.State() == CaptureState::csScheduled) host_.ShowPreviewState();
        host_.ShowArmed(false);
        host_.ShowScheduleEnded();
        return;
    }
    alarm_.Arm(f.EndTime, AlarmOperation::End);
    if (host_.StartCapture()) host_.ShowScheduledCaptureState();
    host_.ShowCaptureStarted();
}

void TSchedule::StopperEnregistrement()
{
    const ScheduleFields f = host_.Fields();
    // A capture over several days ends on the end date.
    if (clock_.Now().date() < f.EndDate) return;
    alarm_.Disable();
    host_.StopCapture();
    host_.ShowArmed(false);
    host_.AdvanceVideoName();
    host_.ShowScheduleEnded();
}

void TSchedule::ArmStopAlarm()
{
    const QTime end = host_.Fields().EndTime;
    if (alarm_.Enabled() && alarm_.Operation() == AlarmOperation::End)
        alarm_.SetTime(end);
    else
        alarm_.Arm(end, AlarmOperation::End);
}

void TSchedule::ResetAlarm()
{
    alarm_.Disable();
}

void TSchedule::StartFieldsChanged()
{
    if (host_.State() != CaptureState::csScheduled || alarm_.Operation() != AlarmOperation::Start)
        return;
    alarm_.SetTime(host_.Fields().StartTime);
    host_.ShowAlarmTime(alarm_.Time());
}

void TSchedule::EndFieldsChanged()
{
    if (host_.State() != CaptureState::csScheduledCapture ||
        alarm_.Operation() != AlarmOperation::End)
        return;
    alarm_.SetTime(host_.Fields().EndTime);
    host_.ShowAlarmTime(alarm_.Time());
}

void TSchedule::CheckAlarm()
{
    switch (alarm_.Check()) {
    case AlarmOperation::Start:
        LancerEnregistrement();
        break;
    case AlarmOperation::End:
        StopperEnregistrement();
        break;
    case AlarmOperation::None:
        break;
    }
}

} // namespace kad
