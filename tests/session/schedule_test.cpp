// The scheduled capture driven by a hand-set clock and a stand-in window:
// arming and its refusals, the start and end through midnight and days
// ahead, checks that come late or skip seconds, clocks set forward and
// back, a capture already running, and a start that comes after the end.

#include <gtest/gtest.h>

#include <vector>

#include "session/feature_clock_fake.h"
#include "session/schedule.h"
#include "support/fake_dialogs.h"

using namespace kad;
using kad::test::FakeDialogs;
using kad::test::FakeFeatureClock;

namespace {

// The window as the schedule sees it: the state routines move the state
// (and reset or arm the alarm as the real ones do), captures start or fail
// on demand.
class FakeWindow final : public TScheduleHost {
public:
    CaptureState State() const override { return state; }
    ScheduleFields Fields() const override { return fields; }
    bool StartCapture() override
    {
        ++captureStarts;
        capturing = startSucceeds;
        return startSucceeds;
    }
    void StopCapture() override
    {
        ++captureStops;
        capturing = false;
        ++names;
        enter(CaptureState::csPreview);
    }
    void ShowScheduledState() override { state = CaptureState::csScheduled; }
    void ShowScheduledCaptureState() override
    {
        schedule->ArmStopAlarm();
        state = CaptureState::csScheduledCapture;
    }
    void ShowCaptureState() override { enter(CaptureState::csCapturing); }
    void ShowPreviewState() override { enter(CaptureState::csPreview); }
    void ShowArmed(bool a) override { armed = a; }
    void ShowCaptureStarted() override { ++startedShown; }
    void ShowScheduleEnded() override { ++endedShown; }
    void ShowAlarmTime(const QTime& time) override { alarmShown = time; }
    void AdvanceVideoName() override { ++names; }

    void enter(CaptureState s)
    {
        state = s;
        schedule->ResetAlarm();
    }

    TSchedule* schedule = nullptr;
    CaptureState state = CaptureState::csPreview;
    ScheduleFields fields;
    bool startSucceeds = true;
    bool capturing = false;
    bool armed = false;
    int captureStarts = 0;
    int captureStops = 0;
    int startedShown = 0;
    int endedShown = 0;
    int names = 0;
    QTime alarmShown;
};

class ScheduleTest : public ::testing::Test {
protected:
    ScheduleTest() : schedule(clock, window) { window.schedule = &schedule; }

    void at(const QDate& date, const QTime& time) { clock.now = QDateTime(date, time); }
    // One check of the alarm at that moment.
    void checkAt(const QDate& date, const QTime& time)
    {
        at(date, time);
        schedule.CheckAlarm();
    }
    void setStart(const QDate& d, const QTime& t)
    {
        window.fields.StartDate = d;
        window.fields.StartTime = t;
    }
    void setEnd(const QDate& d, const QTime& t)
    {
        window.fields.EndDate = d;
        window.fields.EndTime = t;
    }
    // Checks once a second from now up to `until` (inclusive).
    void tickUntil(const QDateTime& until)
    {
        while (clock.now <= until) {
            schedule.CheckAlarm();
            clock.now = clock.now.addSecs(1);
        }
    }

    const QDate day{2026, 3, 10};
    FakeFeatureClock clock;
    FakeWindow window;
    FakeDialogs dialogs;
    TSchedule schedule;
};

TEST_F(ScheduleTest, ArmingRefusesAStartInThePastAndAnEndNotAfterTheStart)
{
    at(day, QTime(10, 0, 0));
    setStart(day, QTime(9, 59, 59));
    setEnd(day, QTime(11, 0));
    EXPECT_FALSE(schedule.Programmer());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "error");
    EXPECT_EQ(dialogs.shown[0].text, StartInPastMessage());
    EXPECT_EQ(window.state, CaptureState::csPreview);
    EXPECT_FALSE(schedule.Alarm().Enabled());
    EXPECT_FALSE(window.armed);

    // The same time tomorrow is fine, and so is the very second of now.
    setStart(day.addDays(1), QTime(9, 59, 59));
    setEnd(day.addDays(1), QTime(11, 0));
    EXPECT_TRUE(schedule.Programmer());
    EXPECT_EQ(window.state, CaptureState::csScheduled);
    EXPECT_TRUE(window.armed);
    EXPECT_EQ(schedule.Alarm().Time(), QTime(9, 59, 59));
    schedule.StopProg();
    EXPECT_EQ(window.state, CaptureState::csPreview);
    EXPECT_FALSE(schedule.Alarm().Enabled());

    // An end equal to the start, or before it (even on a later day's
    // clock), is refused instead of recording until some later day.
    dialogs.shown.clear();
    setStart(day, QTime(12, 0));
    setEnd(day, QTime(12, 0));
    EXPECT_FALSE(schedule.Programmer());
    setEnd(day, QTime(11, 0));
    EXPECT_FALSE(schedule.Programmer());
    setEnd(day.addDays(-1), QTime(13, 0));
    EXPECT_FALSE(schedule.Programmer());
    ASSERT_EQ(dialogs.shown.size(), 3u);
    for (const auto& d : dialogs.shown)
        EXPECT_EQ(d.text, EndNotAfterStartMessage());
    EXPECT_EQ(window.state, CaptureState::csPreview);
    EXPECT_FALSE(schedule.Alarm().Enabled());

    // Without a preview there is nothing to schedule.
    dialogs.shown.clear();
    window.state = CaptureState::csIdle;
    setEnd(day, QTime(13, 0));
    EXPECT_FALSE(schedule.Programmer());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(window.state, CaptureState::csIdle);
}

TEST_F(ScheduleTest, ACaptureThroughMidnightStartsAndEndsOnItsSeconds)
{
    at(day, QTime(23, 59, 50));
    setStart(day, QTime(23, 59, 58));
    setEnd(day.addDays(1), QTime(0, 0, 5));
    ASSERT_TRUE(schedule.Programmer());

    tickUntil(QDateTime(day, QTime(23, 59, 57)));
    EXPECT_EQ(window.captureStarts, 0);
    tickUntil(QDateTime(day, QTime(23, 59, 58)));
    EXPECT_EQ(window.captureStarts, 1);
    EXPECT_EQ(window.state, CaptureState::csScheduledCapture);
    EXPECT_EQ(schedule.Alarm().Operation(), AlarmOperation::End);
    EXPECT_EQ(schedule.Alarm().Time(), QTime(0, 0, 5));
    EXPECT_EQ(window.startedShown, 1);

    tickUntil(QDateTime(day.addDays(1), QTime(0, 0, 4)));
    EXPECT_EQ(window.captureStops, 0);
    tickUntil(QDateTime(day.addDays(1), QTime(0, 0, 5)));
    EXPECT_EQ(window.captureStops, 1);
    EXPECT_EQ(window.state, CaptureState::csPreview);
    EXPECT_FALSE(schedule.Alarm().Enabled());
    EXPECT_FALSE(window.armed);
    EXPECT_EQ(window.endedShown, 1);
    // Nothing more happens on the following days.
    tickUntil(QDateTime(day.addDays(1), QTime(0, 0, 30)));
    clock.now = QDateTime(day.addDays(2), QTime(0, 0, 5));
    schedule.CheckAlarm();
    EXPECT_EQ(window.captureStarts, 1);
    EXPECT_EQ(window.captureStops, 1);
}

TEST_F(ScheduleTest, AStartDaysAheadRingsDailyAndStartsOnItsDay)
{
    at(day, QTime(9, 0));
    setStart(day.addDays(3), QTime(10, 0));
    setEnd(day.addDays(4), QTime(8, 0));
    ASSERT_TRUE(schedule.Programmer());
    for (int d = 0; d < 3; ++d) {
        checkAt(day.addDays(d), QTime(9, 59, 59));
        checkAt(day.addDays(d), QTime(10, 0, 0));
        EXPECT_EQ(window.captureStarts, 0) << "day " << d;
        EXPECT_EQ(window.state, CaptureState::csScheduled);
        EXPECT_TRUE(schedule.Alarm().Enabled());
    }
    // A start by hand before the day starts nothing either.
    schedule.LancerEnregistrement();
    EXPECT_EQ(window.captureStarts, 0);

    checkAt(day.addDays(3), QTime(9, 59, 59));
    checkAt(day.addDays(3), QTime(10, 0, 0));
    EXPECT_EQ(window.captureStarts, 1);
    EXPECT_EQ(window.state, CaptureState::csScheduledCapture);

    // The end comes at 08:00 of the end date; until then the capture goes on.
    checkAt(day.addDays(4), QTime(7, 59, 59));
    EXPECT_EQ(window.captureStops, 0);
    checkAt(day.addDays(4), QTime(8, 0, 0));
    EXPECT_EQ(window.captureStops, 1);
}

TEST_F(ScheduleTest, AnEndAlarmBeforeTheEndDateLetsTheCaptureRun)
{
    at(day, QTime(9, 0));
    setStart(day, QTime(9, 0, 10));
    setEnd(day.addDays(2), QTime(9, 30));
    ASSERT_TRUE(schedule.Programmer());
    tickUntil(QDateTime(day, QTime(9, 0, 10)));
    ASSERT_EQ(window.state, CaptureState::csScheduledCapture);
    for (int d = 0; d < 2; ++d) {
        checkAt(day.addDays(d), QTime(9, 29, 59));
        checkAt(day.addDays(d), QTime(9, 30, 0));
        EXPECT_EQ(window.captureStops, 0);
        EXPECT_EQ(window.state, CaptureState::csScheduledCapture);
    }
    checkAt(day.addDays(2), QTime(9, 30, 0));
    EXPECT_EQ(window.captureStops, 1);
}

TEST_F(ScheduleTest, LateChecksStillRingOnceAndNeverForTheTimeBeforeArming)
{
    TAlarmClock alarm(clock);
    at(day, QTime(10, 0, 30));
    // Armed after today's 10:00:00: that moment has gone before arming.
    alarm.Arm(QTime(10, 0, 0), AlarmOperation::Start);
    at(day, QTime(10, 0, 31));
    EXPECT_EQ(alarm.Check(), AlarmOperation::None);
    // A check that skips the second still rings, and only once.
    at(day.addDays(1), QTime(9, 59, 59));
    EXPECT_EQ(alarm.Check(), AlarmOperation::None);
    at(day.addDays(1), QTime(10, 0, 2));
    EXPECT_EQ(alarm.Check(), AlarmOperation::Start);
    at(day.addDays(1), QTime(10, 0, 2, 600));
    EXPECT_EQ(alarm.Check(), AlarmOperation::None);
    at(day.addDays(1), QTime(10, 0, 3));
    EXPECT_EQ(alarm.Check(), AlarmOperation::None);
    // Several days asleep ring once.
    at(day.addDays(5), QTime(12, 0));
    EXPECT_EQ(alarm.Check(), AlarmOperation::Start);
    EXPECT_EQ(alarm.Check(), AlarmOperation::None);

    // The very second of arming counts.
    at(day, QTime(14, 0, 0, 700));
    alarm.Arm(QTime(14, 0, 0), AlarmOperation::End);
    at(day, QTime(14, 0, 1, 100));
    EXPECT_EQ(alarm.Check(), AlarmOperation::End);

    // A disabled alarm never rings, and arming later does not ring for the
    // time it was off.
    at(day, QTime(15, 0, 0));
    alarm.Arm(QTime(15, 0, 10), AlarmOperation::Start);
    alarm.Disable();
    at(day, QTime(15, 0, 20));
    EXPECT_EQ(alarm.Check(), AlarmOperation::None);
    alarm.Arm(QTime(15, 0, 10), AlarmOperation::Start);
    at(day, QTime(15, 0, 21));
    EXPECT_EQ(alarm.Check(), AlarmOperation::None);
}

TEST_F(ScheduleTest, AClockSetForwardOverTheStartStartsLateOrNotAtAllAfterTheEnd)
{
    at(day, QTime(9, 59, 0));
    setStart(day, QTime(10, 0));
    setEnd(day, QTime(11, 0));
    ASSERT_TRUE(schedule.Programmer());
    schedule.CheckAlarm();
    checkAt(day, QTime(10, 30));
    EXPECT_EQ(window.captureStarts, 1);
    EXPECT_EQ(window.state, CaptureState::csScheduledCapture);
    // And forward over the end too.
    checkAt(day, QTime(12, 15));
    EXPECT_EQ(window.captureStops, 1);
    EXPECT_EQ(window.state, CaptureState::csPreview);

    // Asleep over both: the start finds the end gone and records nothing.
    at(day.addDays(1), QTime(9, 0));
    setStart(day.addDays(1), QTime(10, 0));
    setEnd(day.addDays(1), QTime(10, 20));
    ASSERT_TRUE(schedule.Programmer());
    const int names = window.names;
    checkAt(day.addDays(1), QTime(10, 45));
    EXPECT_EQ(window.captureStarts, 1);
    EXPECT_EQ(window.state, CaptureState::csPreview);
    EXPECT_FALSE(schedule.Alarm().Enabled());
    EXPECT_FALSE(window.armed);
    EXPECT_EQ(window.endedShown, 2);
    EXPECT_EQ(window.names, names + 1);
    checkAt(day.addDays(2), QTime(10, 0));
    EXPECT_EQ(window.captureStarts, 1);
}

TEST_F(ScheduleTest, AClockSetBackWaitsForTheAlarmAgain)
{
    at(day, QTime(9, 0));
    setStart(day, QTime(10, 0));
    setEnd(day, QTime(10, 0, 20));
    ASSERT_TRUE(schedule.Programmer());
    schedule.CheckAlarm();
    checkAt(day, QTime(8, 0));
    EXPECT_EQ(window.captureStarts, 0);
    tickUntil(QDateTime(day, QTime(8, 0, 3)));
    checkAt(day, QTime(9, 59, 59));
    EXPECT_EQ(window.captureStarts, 0);
    checkAt(day, QTime(10, 0, 0));
    EXPECT_EQ(window.captureStarts, 1);

    // Set back during the capture, to before its start: the capture is
    // not started twice and still ends at its time.
    at(day, QTime(9, 59, 50));
    tickUntil(QDateTime(day, QTime(10, 0, 19)));
    EXPECT_EQ(window.captureStarts, 1);
    EXPECT_EQ(window.captureStops, 0);
    tickUntil(QDateTime(day, QTime(10, 0, 20)));
    EXPECT_EQ(window.captureStops, 1);
}

TEST_F(ScheduleTest, ACaptureAlreadyRunningSchedulesOnlyItsEnd)
{
    window.state = CaptureState::csCapturing;
    at(day, QTime(14, 0));
    // The start fields do not matter, even in the past.
    setStart(day, QTime(8, 0));
    setEnd(day, QTime(13, 59, 59));
    EXPECT_FALSE(schedule.Programmer());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, EndInPastMessage());
    EXPECT_EQ(window.state, CaptureState::csCapturing);

    setEnd(day, QTime(14, 0, 5));
    ASSERT_TRUE(schedule.Programmer());
    EXPECT_EQ(window.state, CaptureState::csScheduledCapture);
    EXPECT_EQ(schedule.Alarm().Operation(), AlarmOperation::End);
    EXPECT_EQ(window.captureStarts, 0);

    // Editing the end while armed moves the alarm and what the status shows.
    window.fields.EndTime = QTime(14, 0, 8);
    schedule.EndFieldsChanged();
    EXPECT_EQ(schedule.Alarm().Time(), QTime(14, 0, 8));
    EXPECT_EQ(window.alarmShown, QTime(14, 0, 8));
    // The start fields mean nothing now.
    window.fields.StartTime = QTime(14, 0, 1);
    schedule.StartFieldsChanged();
    EXPECT_EQ(schedule.Alarm().Time(), QTime(14, 0, 8));

    tickUntil(QDateTime(day, QTime(14, 0, 7)));
    EXPECT_EQ(window.captureStops, 0);
    tickUntil(QDateTime(day, QTime(14, 0, 8)));
    EXPECT_EQ(window.captureStops, 1);
    EXPECT_EQ(window.state, CaptureState::csPreview);
}

TEST_F(ScheduleTest, DisarmingKeepsARunningCaptureAndAFailedStartKeepsTheEnd)
{
    at(day, QTime(9, 0));
    setStart(day, QTime(9, 0, 2));
    setEnd(day, QTime(9, 0, 6));
    ASSERT_TRUE(schedule.Programmer());
    // Editing the start while waiting moves the alarm.
    window.fields.StartTime = QTime(9, 0, 3);
    schedule.StartFieldsChanged();
    EXPECT_EQ(window.alarmShown, QTime(9, 0, 3));
    tickUntil(QDateTime(day, QTime(9, 0, 2)));
    EXPECT_EQ(window.captureStarts, 0);
    tickUntil(QDateTime(day, QTime(9, 0, 3)));
    ASSERT_EQ(window.state, CaptureState::csScheduledCapture);
    schedule.StopProg();
    EXPECT_EQ(window.state, CaptureState::csCapturing);
    EXPECT_TRUE(window.capturing);
    EXPECT_FALSE(schedule.Alarm().Enabled());
    tickUntil(QDateTime(day, QTime(9, 0, 10)));
    EXPECT_EQ(window.captureStops, 0);

    // A capture that cannot start leaves the window waiting with the end
    // alarm, which then returns to the preview.
    window.state = CaptureState::csPreview;
    window.capturing = false;
    window.startSucceeds = false;
    setStart(day, QTime(9, 0, 12));
    setEnd(day, QTime(9, 0, 15));
    ASSERT_TRUE(schedule.Programmer());
    tickUntil(QDateTime(day, QTime(9, 0, 12)));
    EXPECT_EQ(window.captureStarts, 2);
    EXPECT_EQ(window.state, CaptureState::csScheduled);
    EXPECT_EQ(schedule.Alarm().Operation(), AlarmOperation::End);
    EXPECT_EQ(window.startedShown, 2);
    tickUntil(QDateTime(day, QTime(9, 0, 15)));
    EXPECT_EQ(window.captureStops, 1);
    EXPECT_EQ(window.state, CaptureState::csPreview);
}

} // namespace
