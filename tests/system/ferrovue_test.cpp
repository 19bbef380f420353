#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include "support/fake_dialogs.h"
#include "system/ferrovue.h"

using namespace kad;

namespace {

struct Launch {
    QString program;
    QStringList arguments;
};

class FerrovueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        viewer = dir.filePath(QStringLiteral("ferrovue"));
        touch(viewer);
    }

    static void touch(const QString& path)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QString clip(int i) const
    {
        return dir.filePath(QStringLiteral("Video_051226_134805_%1.avi").arg(i));
    }
    FerrovueLauncher recorder()
    {
        return [this](const QString& program, const QStringList& arguments) {
            launches.push_back({program, arguments});
            return true;
        };
    }

    QTemporaryDir dir;
    QString viewer;
    std::vector<Launch> launches;
    test::FakeDialogs dialogs;
};

} // namespace

TEST_F(FerrovueTest, MissingViewerIsReportedAndNothingStarts)
{
    touch(clip(0));
    const QString found = RunFerrovue(viewer, clip(2), 3, recorder());
    launches.clear();
    for (const QString& path : {QString(), dir.filePath(QStringLiteral("absent")), dir.path()}) {
        dialogs.shown.clear();
        const QString status = RunFerrovue(path, clip(2), 3, recorder());
        EXPECT_FALSE(status.isEmpty());
        EXPECT_NE(status, found);
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("information"));
    }
    EXPECT_TRUE(launches.empty());
}

TEST_F(FerrovueTest, PassesTheRunsAviClipsInCaptureOrder)
{
    touch(clip(0));
    touch(clip(1));
    touch(clip(2)); // the capture still to come is not passed
    EXPECT_FALSE(RunFerrovue(viewer, clip(2), 3, recorder()).isEmpty());
    EXPECT_TRUE(dialogs.shown.empty());
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].program, viewer);
    EXPECT_EQ(launches[0].arguments, (QStringList{clip(0), clip(1)}));

    QFile::remove(clip(0));
    EXPECT_EQ(FerrovueClips(clip(2), 3), QStringList{clip(1)});
    EXPECT_EQ(FerrovueClips(clip(1), 1), QStringList());
    EXPECT_EQ(FerrovueClips(clip(0), 0), QStringList());
    EXPECT_EQ(FerrovueClips(clip(0), -4), QStringList());
}

TEST_F(FerrovueTest, OnlyAviFilesOfTheCurrentBaseCount)
{
    touch(dir.filePath(QStringLiteral("Video_051226_134805_0.mpg")));
    touch(dir.filePath(QStringLiteral("Other_051226_134805_1.avi")));
    touch(clip(1));
    // The next name may be a Windows Media or program-stream file.
    const QString next = dir.filePath(QStringLiteral("Video_051226_134805_2.wmv"));
    EXPECT_EQ(FerrovueClips(next, 3), QStringList{clip(1)});
    // A name without "_" has no base: nothing is looked up in the working folder.
    EXPECT_EQ(FerrovueClips(QStringLiteral("noseparator.avi"), 5), QStringList());

    // Clips named after their recording date while captured are found under
    // their new names, in capture order; a rename whose file is gone is not.
    const QString dated = dir.filePath(QStringLiteral("Video_2019.07.14_10-21-07.avi"));
    touch(dated);
    touch(clip(2));
    const QHash<QString, QString> renamed{
        {clip(0), dated}, {clip(2), dir.filePath(QStringLiteral("Video_gone.avi"))}};
    EXPECT_EQ(FerrovueClips(clip(3), 4, renamed), (QStringList{dated, clip(1)}));

    // The file being captured renamed already: the run is still found from
    // the numbered name it was opened under.
    const QString datedNow = dir.filePath(QStringLiteral("Video_2019.07.15_08-00-00.avi"));
    touch(datedNow);
    const QHash<QString, QString> capturing{{clip(0), dated}, {clip(3), datedNow}};
    EXPECT_EQ(FerrovueClips(datedNow, 4, capturing), (QStringList{dated, clip(1), clip(2)}));
}

TEST_F(FerrovueTest, LaunchStartsNoShellAndKeepsEveryArgumentWhole)
{
    const QString odd = dir.filePath(QStringLiteral("My \"clip\"; touch pwned $(id) _0.avi"));
    touch(odd);
    const QString script = dir.filePath(QStringLiteral("viewer.sh"));
    const QString out = dir.filePath(QStringLiteral("arguments.txt"));
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.tmp\"\n"
                "mv \"$0.tmp\" \"" +
                QFile::encodeName(out) + "\"\n");
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString current = dir.filePath(QStringLiteral("My \"clip\"; touch pwned $(id) _1.avi"));
    RunFerrovue(script, current, 2);

    QDeadlineTimer deadline(30000);
    while (!QFile::exists(out) && !deadline.hasExpired())
        QThread::msleep(20);
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "the viewer did not start";
    EXPECT_EQ(QString::fromUtf8(f.readAll()), odd + u'\n');
    EXPECT_FALSE(QFile::exists(QDir::current().filePath(QStringLiteral("pwned"))));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("pwned"))));
}
