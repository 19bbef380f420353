#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStringList>

#include "system/log.h"
#include "system/sysinfo.h"

using namespace kad;

namespace {

const QString kSeparator(60, u'-');

class LogTest : public ::testing::Test {
protected:
    // CTest runs the cases as parallel processes: each gets its own state folder.
    void SetUp() override
    {
        savedStateHome = qgetenv("XDG_STATE_HOME");
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const QByteArray base =
            savedStateHome.isEmpty() ? QDir::tempPath().toLocal8Bit() : savedStateHome;
        qputenv("XDG_STATE_HOME", base + "/log-" + info->name());
        SetStartupTime(QDateTime(QDate(2026, 12, 5), QTime(13, 48, 5)));
        QDir(LogFolder()).removeRecursively();
    }
    void TearDown() override
    {
        StartLog(false);
        QDir(LogFolder()).removeRecursively();
        qputenv("XDG_STATE_HOME", savedStateHome);
    }

    QByteArray savedStateHome;

    static QByteArray bytes()
    {
        QFile f(LogFileName());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The lines of the file; the last "\n" ends the last line.
    static QStringList lines()
    {
        QString text = QString::fromUtf8(bytes());
        if (text.endsWith(u'\n')) text.chop(1);
        return text.split(u'\n');
    }
};

} // namespace

TEST_F(LogTest, FolderAndNameFollowStateHomeAndStartupTime)
{
    EXPECT_TRUE(LogFolder().endsWith(QStringLiteral("/Kadrillo3.3c/")));
    EXPECT_EQ(LogFileName(), LogFolder() + QStringLiteral("Kadrillo_051226_134805.log"));

    const QByteArray mine = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", "/srv/state");
    EXPECT_EQ(LogFolder(), QStringLiteral("/srv/state/Kadrillo3.3c/"));
    qputenv("XDG_STATE_HOME", "relative/state");
    EXPECT_EQ(LogFolder(), QDir::homePath() + QStringLiteral("/.local/state/Kadrillo3.3c/"));
    qunsetenv("XDG_STATE_HOME");
    EXPECT_EQ(LogFolder(), QDir::homePath() + QStringLiteral("/.local/state/Kadrillo3.3c/"));
    qputenv("XDG_STATE_HOME", mine);
}

TEST_F(LogTest, WhileOffNothingTouchesTheDisk)
{
    ASSERT_FALSE(LogOpen());
    EXPECT_TRUE(WriteLog(QStringLiteral("dropped")));
    EXPECT_TRUE(WriteLogSection(QStringLiteral("dropped")));
    EXPECT_TRUE(WriteLogBlank());
    EXPECT_TRUE(WriteLogSeparator());
    EXPECT_TRUE(StopLog());
    EXPECT_TRUE(StartLog(false));
    EXPECT_FALSE(QFileInfo::exists(LogFolder()));
    EXPECT_FALSE(LogOpen());
}

// A whole session, line for line: the header, what was written, and the
// termination; after the stop nothing more arrives.
TEST_F(LogTest, ASessionReadsLineForLine)
{
    ASSERT_TRUE(StartLog(true));
    EXPECT_TRUE(LogOpen());
    EXPECT_TRUE(WriteLogSection(QStringLiteral("Preview")));
    EXPECT_TRUE(WriteLogBlank());
    EXPECT_TRUE(WriteLog(QStringLiteral("first\nsecond")));
    EXPECT_TRUE(WriteLogSeparator());
    EXPECT_TRUE(WriteLog(QStringLiteral("Durée Incruster")));
    EXPECT_TRUE(WriteLog(QStringLiteral("   >>> Select = ")));
    EXPECT_TRUE(StopLog());
    EXPECT_FALSE(LogOpen());
    EXPECT_TRUE(WriteLog(QStringLiteral("after the stop")));

    const QByteArray raw = bytes();
    EXPECT_FALSE(raw.contains('\r'));
    EXPECT_TRUE(raw.endsWith('\n'));
    EXPECT_TRUE(raw.contains("Dur\xc3\xa9"
                             "e Incruster"));
    QStringList l = lines();
    ASSERT_EQ(l.size(), 7 + 9 + 7);
    EXPECT_TRUE(l[3].startsWith(QStringLiteral("Log file created on "))) << l[3].toStdString();
    EXPECT_TRUE(l[19].startsWith(QStringLiteral("Log file terminated on "))) << l[19].toStdString();
    l[3] = l[19] = QString();
    const QStringList expected{
        QString(), kSeparator, QString(), QString(),
        QStringLiteral("with Kadrillo by Tavrel 3.3c En last updated on 26th of October, 2005"),
        QString(), QStringLiteral("Visit my webpage: "),
        // What was written.
        QStringLiteral("##### Preview #####"), QString(), QStringLiteral("first"),
        QStringLiteral("second"), QString(), kSeparator, QString(),
        QStringLiteral("Durée Incruster"), QStringLiteral("   >>> Select = "),
        // The termination.
        QString(), kSeparator, QString(), QString(), QString(), kSeparator, QString()};
    EXPECT_EQ(l, expected);
}

TEST_F(LogTest, StartStopStartInOneRunKeepsOnlyTheSecondSession)
{
    ASSERT_TRUE(StartLog(true));
    WriteLog(QStringLiteral("from the first session"));
    StopLog();
    WriteLog(QStringLiteral("while off"));
    ASSERT_TRUE(StartLog(true));
    WriteLog(QStringLiteral("from the second session"));

    EXPECT_EQ(QDir(LogFolder()).entryList(QDir::Files).size(), 1);
    const QString text = QString::fromUtf8(bytes());
    EXPECT_FALSE(text.contains(QStringLiteral("first session")));
    EXPECT_FALSE(text.contains(QStringLiteral("while off")));
    EXPECT_FALSE(text.contains(QStringLiteral("terminated")));
    EXPECT_EQ(text.count(QStringLiteral("Log file created on ")), 1);
    EXPECT_EQ(lines().last(), QStringLiteral("from the second session"));
}

TEST_F(LogTest, FailedWriteKeepsTheLogOnAndLaterWritesArrive)
{
    ASSERT_TRUE(StartLog(true));
    // A folder where the file should be makes every open fail, even as root.
    QFile::remove(LogFileName());
    ASSERT_TRUE(QDir().mkpath(LogFileName()));
    EXPECT_FALSE(WriteLog(QStringLiteral("lost")));
    EXPECT_TRUE(LogOpen());
    EXPECT_FALSE(StartLog(true));
    EXPECT_TRUE(LogOpen());

    ASSERT_TRUE(QDir(LogFileName()).removeRecursively());
    EXPECT_TRUE(WriteLog(QStringLiteral("kept")));
    EXPECT_EQ(lines(), QStringList{QStringLiteral("kept")});

    // The whole folder vanishing is survived as well.
    ASSERT_TRUE(QDir(LogFolder()).removeRecursively());
    EXPECT_TRUE(WriteLog(QStringLiteral("after the folder went")));
    EXPECT_EQ(lines(), QStringList{QStringLiteral("after the folder went")});
}

TEST(LogDateTime, LocaleShortDateAndLongTimeWithoutTimeAtMidnight)
{
    const QLocale locale;
    const QDate day(2026, 12, 5);
    EXPECT_EQ(LogDateTimeText(QDateTime(day, QTime(0, 0))),
              locale.toString(day, QLocale::ShortFormat));
    EXPECT_EQ(LogDateTimeText(QDateTime(day, QTime(0, 0, 1))),
              locale.toString(day, QLocale::ShortFormat) + u' ' +
                  locale.toString(QTime(0, 0, 1), QLocale::LongFormat));
}
