// The texts that the layers below the windows put in front of the user come
// from the one table: an entry replaced at run time, as a translation loaded
// at start-up would be, reaches the message box, the status text or the
// failure reason that layer makes, its placeholders filled wherever the new
// text puts them, and the English comes back once the table is reset. Texts
// worded once and kept (a static, a constant) would fail here.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <ostream>

#include "session/feature_clock_fake.h"
#include "session/inlay.h"
#include "session/intervalometer.h"
#include "session/schedule.h"
#include "session/stills.h"
#include "settings/preferences.h"
#include "settings/wm_profiles.h"
#include "support/fake_dialogs.h"
#include "support/wait.h"
#include "system/ferrovue.h"
#include "system/startup_check.h"
#include "system/sysinfo.h"
#include "system/texts.h"

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

using namespace kad;
using kad::test::FakeDialogs;
using kad::test::FakeFeatureClock;

namespace {

// Every test replaces entries; the English is back after each, whatever
// failed, so no marker leaks into the next test.
class LowerLayerTexts : public ::testing::Test {
protected:
    ~LowerLayerTexts() override { ResetTexts(); }

    // Replaces the entry `name` (looked up as a tool would) with `text`.
    static void replace(const char* name, const QString& text)
    {
        const TextId id = TextIdByName(name);
        ASSERT_NE(id, TextId::Count_) << name << " is not an entry of the table";
        SetText(id, text);
    }
    // Replaces the entry `name` by a marker naming it.
    static QString mark(const char* name)
    {
        const QString marker = QStringLiteral("[[%1]]").arg(QLatin1String(name));
        replace(name, marker);
        return marker;
    }
};

// Just enough of the window for the schedule to refuse or arm.
class ScheduleWindow final : public TScheduleHost {
public:
    CaptureState State() const override { return state; }
    ScheduleFields Fields() const override { return fields; }
    bool StartCapture() override { return true; }
    void StopCapture() override {}
    void ShowScheduledState() override { state = CaptureState::csScheduled; }
    void ShowScheduledCaptureState() override { state = CaptureState::csScheduledCapture; }
    void ShowCaptureState() override {}
    void ShowPreviewState() override {}
    void ShowArmed(bool) override {}
    void ShowCaptureStarted() override {}
    void ShowScheduleEnded() override {}
    void ShowAlarmTime(const QTime&) override {}
    void AdvanceVideoName() override {}

    CaptureState state = CaptureState::csPreview;
    ScheduleFields fields;
};

// Frames of a size with no bytes behind them: the writer has no picture.
StillJob jobWithoutPicture(const QString& path)
{
    StillJob job;
    job.Width = 64;
    job.Height = 48;
    job.Stride = 64 * 3;
    job.Path = path;
    return job;
}

} // namespace

TEST_F(LowerLayerTexts, ScheduleRefusalsReachTheUserFromTheTable)
{
    FakeDialogs dialogs;
    FakeFeatureClock clock;
    ScheduleWindow window;
    TSchedule schedule(clock, window);
    const QDate today = clock.now.date();

    // Each refusal in the state and with the fields that cause it.
    struct Case {
        const char* entry;
        CaptureState state;
        ScheduleFields fields;
    };
    const Case cases[] = {
        {"ScheduleStartInPast", CaptureState::csPreview, {today, QTime(8, 0), today, QTime(10, 0)}},
        {"ScheduleEndNotAfterStart",
         CaptureState::csPreview,
         {today, QTime(11, 0), today, QTime(10, 0)}},
        {"ScheduleEndInPast", CaptureState::csCapturing, {today, QTime(8, 0), today, QTime(8, 30)}},
        {"ScheduleNoPreview", CaptureState::csIdle, {today, QTime(10, 0), today, QTime(11, 0)}},
    };
    QStringList english;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const QString marker = mark(c.entry);
        window.state = c.state;
        window.fields = c.fields;
        dialogs.shown.clear();
        EXPECT_FALSE(schedule.Programmer());
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("error"));
        EXPECT_EQ(dialogs.shown[0].text, marker);

        // Put back, the next refusal speaks English again.
        ResetTexts();
        dialogs.shown.clear();
        EXPECT_FALSE(schedule.Programmer());
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_FALSE(dialogs.shown[0].text.isEmpty());
        EXPECT_NE(dialogs.shown[0].text, marker);
        english << dialogs.shown[0].text;
    }
    // Four refusals, four different texts: no entry stands for another.
    english.removeDuplicates();
    EXPECT_EQ(english.size(), 4);

    // The log line of a start after the end, its two moments swapped by
    // the new wording.
    replace("ScheduleStartAfterEnd", QStringLiteral("end %2 / start %1"));
    const QDateTime now(today, QTime(12, 0, 5));
    const QDateTime end(today, QTime(11, 0));
    const QStringList parts = StartAfterEndLogLine(now, end).split(QStringLiteral(" / start "));
    ASSERT_EQ(parts.size(), 2) << parts.join(u'|').toStdString();
    EXPECT_TRUE(parts[0].startsWith(QStringLiteral("end ")));
    EXPECT_TRUE(parts[0].contains(QStringLiteral("11:00"))) << parts[0].toStdString();
    EXPECT_TRUE(parts[1].contains(QStringLiteral("12:00:05"))) << parts[1].toStdString();
}

TEST_F(LowerLayerTexts, StillFailuresAreWordedFromTheTableOnEitherThread)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString noPicture = mark("ImageNoPicture");
    replace("ImageWriteFailed", QStringLiteral("%3 | %1 | %2"));

    // On the GUI thread: a store with nothing to store tells the user, the
    // reason inside the new wording of the message.
    {
        FakeDialogs dialogs;
        StoreOptions options;
        const QString path = dir.filePath(QStringLiteral("Image_0000.bmp"));
        EXPECT_EQ(StoreWithConfirmation(QImage(), path, options), StoreOutcome::Failed);
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("error"));
        EXPECT_EQ(dialogs.shown[0].text, noPicture + QStringLiteral(" | Image_0000.bmp | ") +
                                             QFileInfo(path).absolutePath());
    }

    // The replace question, the file name where the new wording puts it.
    {
        FakeDialogs dialogs;
        replace("ImageReplaceQuestion", QStringLiteral("replace %1?"));
        const QString existing = dir.filePath(QStringLiteral("kept.bmp"));
        QFile file(existing);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        StoreOptions options;
        EXPECT_FALSE(ConfirmReplace(existing, options)); // the fake answers No
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warningYesNoAll"));
        EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("replace kept.bmp?"));
    }

    // On the writer's own thread: the reason it reports back is the
    // replaced entry.
    TStillWriter writer;
    QStringList reasons;
    QObject::connect(&writer, &TStillWriter::failed,
                     [&](const QString&, const QString& reason) { reasons << reason; });
    ASSERT_TRUE(writer.Submit(jobWithoutPicture(dir.filePath(QStringLiteral("nothing.bmp")))));
    ASSERT_TRUE(kadtest::waitUntil([&] { return !reasons.isEmpty(); }, 10000))
        << "the writer never reported the failed image";
    EXPECT_EQ(reasons, QStringList{noPicture});
}

TEST_F(LowerLayerTexts, FeatureWordingsFillTheirPlaceholdersWhereTheTableSays)
{
    // The intervalometer: the unit before the value in the new wording.
    replace("IntervalStatus", QStringLiteral("%2: %1"));
    replace("IntervalTooLong", QStringLiteral("too long, %2 x %1"));
    EXPECT_EQ(IntervalStatusText(5, QStringLiteral("u")), QStringLiteral("u: 5"));
    EXPECT_EQ(IntervalTooLongMessage(597, QStringLiteral("u")),
              QStringLiteral("too long, u x 597"));

    // The inlay's caution: its four lines, the maker in the second, the
    // product, its version and language in the last, in the new order.
    replace("InlayCaution", QStringLiteral("C"));
    replace("InlayWrongFilter", QStringLiteral("by %1"));
    replace("InlayErratic", QStringLiteral("E"));
    replace("InlayReinstall", QStringLiteral("%3/%2/%1"));
    EXPECT_EQ(TInlay::CautionText(), QStringLiteral("C\n\nby ") + MakerName + u'\n' +
                                         QStringLiteral("E\n") + ProductLanguage + u'/' +
                                         ProductVersion + u'/' + ProductName);

    // The first entry of the Windows Media profile list.
    const QString defaults = mark("WmDefaultProfiles");
    EXPECT_EQ(RefillProfiles(nullptr, 0), QStringList{defaults});
}

TEST_F(LowerLayerTexts, SystemAndSettingsMessagesComeFromTheTable)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FakeDialogs dialogs;

    // The clip viewer that is not there: the message and the hint.
    const QString message = mark("FerrovueNotFoundMessage");
    const QString hint = mark("FerrovueNotFoundHint");
    EXPECT_EQ(RunFerrovue(dir.filePath(QStringLiteral("no-viewer")), QString(), 1,
                          [](const QString&, const QStringList&) { return true; }),
              hint);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("information"));
    EXPECT_EQ(dialogs.shown[0].text, message);

    // The operating system's name when the release does not say it.
    replace("OsUnknown", QStringLiteral("?"));
    replace("OsKernel", QStringLiteral(" ~ "));
    EXPECT_EQ(OperatingSystemName(QString(), QStringLiteral("6.1")), QStringLiteral("? ~ 6.1"));

    // The old-GStreamer warning names the product through the table too.
    replace("ProductName", QStringLiteral("P"));
    replace("ProductVersion", QStringLiteral("V"));
    replace("ProductLanguage", QStringLiteral("L"));
    replace("MediaPlatformVersion", QStringLiteral("G%1_%2"));
    replace("MediaPlatformYouHave", QStringLiteral("have %1"));
    replace("MediaPlatformAtLeast", QStringLiteral("%4 %3 %2 %1"));
    replace("MediaPlatformGoOn", QStringLiteral("go?"));
    EXPECT_EQ(MediaPlatformWarning(QStringLiteral("1.18.4")),
              QStringLiteral("have 1.18.4\nL V P G%1_%2\ngo?")
                  .arg(kOldestMediaPlatformMajor)
                  .arg(kOldestMediaPlatformMinor));

    // Deleting preferences that were never saved: the question, then the
    // warning that there was nothing to delete.
    dialogs.shown.clear();
    replace("PrefsDeleteQuestion", QStringLiteral("delete %1?"));
    replace("PrefsNotFound", QStringLiteral("no %1"));
    dialogs.answer(DialogAnswer::Yes);
    EXPECT_FALSE(DeletePreferences(dir.filePath(QStringLiteral("empty.hive"))));
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warningYesNo"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("delete ") + ProductName + u'?');
    EXPECT_EQ(dialogs.shown[1].kind, QStringLiteral("warning"));
    EXPECT_EQ(dialogs.shown[1].text, QStringLiteral("no ") + ProductName);
}
