#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>

#include <algorithm>

#include <sys/statvfs.h>

#include "system/sysinfo.h"

using namespace kad;

TEST(FitAspect, ModesZeroOneTwo)
{
    struct Row {
        int w, h, mode, ew, eh;
    };
    const Row table[] = {
        {720, 576, 1, 720, 540},
        {720, 576, 2, 720, 405},
        {0, 0, 1, 640, 480},
        {400, 600, 2, 400, 225},
        {800, 480, 1, 640, 480},
        {1920, 1200, 2, 1920, 1080},
        {2000, 1080, 2, 1920, 1080},
        {1000, 1000, 2, 1000, 562},
        {1001, 1000, 1, 1001, 750},
        {720, 576, 0, 720, 576},
        {0, -5, 7, 640, 480},
        {-3, 200, 0, 640, 200},
        {0, 0, 2, 640, 360},
        // Products beyond 32 bits must not overflow.
        {2000000000, 2000000000, 2, 2000000000, 1125000000},
        {2000000000, 2000000000, 1, 2000000000, 1500000000},
    };
    for (const Row& r : table) {
        int w = r.w;
        int h = r.h;
        FitAspect(w, h, r.mode);
        EXPECT_EQ(w, r.ew) << r.w << "x" << r.h << " mode " << r.mode;
        EXPECT_EQ(h, r.eh) << r.w << "x" << r.h << " mode " << r.mode;
    }
}

TEST(FreeDiskSpace, FollowsTheFileSystemOfThePathOrItsNearestParent)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto freeNow = [&] {
        struct statvfs fs {};
        EXPECT_EQ(statvfs(QFile::encodeName(dir.path()).constData(), &fs), 0);
        return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
    };
    // Other tests write and delete large files meanwhile: the answer lies
    // between the readings taken before and after it, give or take a little.
    const std::uint64_t slack = 256ull << 20;
    auto expectBetween = [&](std::uint64_t value, std::uint64_t a, std::uint64_t b) {
        EXPECT_GE(value + slack, std::min(a, b));
        EXPECT_LE(value, std::max(a, b) + slack);
    };

    std::uint64_t before = freeNow();
    const std::uint64_t here = FreeDiskSpace(dir.path());
    EXPECT_GT(here, 0u);
    expectBetween(here, before, freeNow());

    const QString missing = dir.path() + QStringLiteral("/not/yet/made");
    before = freeNow();
    const std::uint64_t below = FreeDiskSpace(missing);
    expectBetween(below, before, freeNow());
    EXPECT_FALSE(QFileInfo::exists(missing));

    EXPECT_EQ(FreeDiskSpace(QString()), 0u);
    EXPECT_TRUE(FileSystemName(dir.path()).startsWith(u'/'));
    EXPECT_EQ(FileSystemName(missing), FileSystemName(dir.path()));
    EXPECT_EQ(FileSystemName(QString()), QString());
}

TEST(OperatingSystemName, PrettyNameAndKernelRelease)
{
    EXPECT_EQ(OperatingSystemName(QStringLiteral("NAME=\"Debian GNU/Linux\"\n"
                                                 "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                                 "VERSION_ID=\"12\"\n"),
                                  QStringLiteral("6.1.0-18-amd64")),
              QStringLiteral("Debian GNU/Linux 12 (bookworm) - kernel 6.1.0-18-amd64"));
    EXPECT_EQ(OperatingSystemName(QStringLiteral("PRETTY_NAME=Plain\n"), QStringLiteral("5.10")),
              QStringLiteral("Plain - kernel 5.10"));
    EXPECT_EQ(
        OperatingSystemName(QStringLiteral("PRETTY_NAME='Single quoted'"), QStringLiteral("5.10")),
        QStringLiteral("Single quoted - kernel 5.10"));
    EXPECT_EQ(OperatingSystemName(QStringLiteral("PRETTY_NAME=\"Say \\\"hi\\\"\""),
                                  QStringLiteral("5.10")),
              QStringLiteral("Say \"hi\" - kernel 5.10"));
    EXPECT_EQ(OperatingSystemName(QStringLiteral("NAME=Other\n"), QStringLiteral("5.10")),
              QStringLiteral("Unknown - kernel 5.10"));
    EXPECT_EQ(OperatingSystemName(QString(), QString()), QStringLiteral("Unknown - kernel "));

    const QString real = OperatingSystemName();
    EXPECT_TRUE(real.endsWith(QStringLiteral(" - kernel ") + QSysInfo::kernelVersion()))
        << real.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\S.* - kernel \\S+$")).match(real).hasMatch())
        << real.toStdString();
}

TEST(SpecialFolders, AbsoluteWithoutTrailingSlash)
{
    for (const QString& folder : {PersonalFolder(), PicturesFolder(), VideoFolder()}) {
        EXPECT_TRUE(QDir::isAbsolutePath(folder)) << folder.toStdString();
        EXPECT_TRUE(folder == QStringLiteral("/") || !folder.endsWith(u'/'))
            << folder.toStdString();
    }
}

TEST(StartupTime, FixedOnceToWholeSeconds)
{
    SetStartupTime(QDateTime(QDate(2026, 12, 5), QTime(13, 48, 5, 750)));
    EXPECT_EQ(StartupTime(), QDateTime(QDate(2026, 12, 5), QTime(13, 48, 5)));
    EXPECT_EQ(StartupTime(), StartupTime());
    EXPECT_EQ(DateTimeStamp(StartupTime()), QStringLiteral("051226_134805"));
    EXPECT_EQ(DateTimeStamp(QDateTime(QDate(2001, 1, 9), QTime(0, 0))),
              QStringLiteral("090101_000000"));
    EXPECT_EQ(DateTimeStamp(QDateTime(QDate(2099, 11, 30), QTime(23, 59, 59))),
              QStringLiteral("301199_235959"));
}
