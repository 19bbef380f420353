// The cut into a new file while the graph runs, and captures that end by
// themselves: a full disk and an unplugged device.

#include "capture_graph_fixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <sys/mount.h>

namespace kad::test {
namespace {

class CaptureCut : public CaptureTest {
protected:
    // Captures `format` into two files cut after `before` frames.
    void cutDuring(Source kind, int format, const char* first, const char* second,
                   guint64 before = 25, guint64 total = 50)
    {
        ASSERT_TRUE(preview(kind));
        cam.Capture.FormatIndex = format;
        cam.CurrentVideoFileName = file(first);
        ASSERT_TRUE(cam.BuildCaptureGraph());
        ASSERT_TRUE(waitUntil([&] { return cam.CapturedFrames() >= before; }));
        QString switchedFrom, switchedTo;
        QObject::connect(&cam, &TdmCam::CaptureFileSwitched,
                         [&](const QString& a, const QString& b) {
                             switchedFrom = a;
                             switchedTo = b;
                         });
        ASSERT_TRUE(cam.SwitchCaptureFile(file(second)));
        EXPECT_EQ(cam.CaptureFileName, file(second));
        ASSERT_TRUE(waitUntil([&] { return !switchedTo.isEmpty(); }));
        EXPECT_EQ(switchedFrom, file(first));
        EXPECT_EQ(switchedTo, file(second));
        ASSERT_TRUE(waitUntil([&] { return cam.CapturedFrames() >= total; }));
        ASSERT_TRUE(cam.FinishCapture());
    }

    qint64 videoFrames(const char* name)
    {
        const Probed p = probe(file(name));
        EXPECT_TRUE(p.ok) << name << ": " << p.error.toStdString();
        return p.first("video") ? p.first("video")->frames : -1;
    }
};

TEST_F(CaptureCut, EveryAviWriterGoesOnIntoTheNextFileWithoutLosingAFrame)
{
    cutDuring(Source::DvPal, 1, "t2-a.avi", "t2-b.avi");
    EXPECT_EQ(videoFrames("t2-a.avi") + videoFrames("t2-b.avi"), qint64(cam.CapturedFrames()));
    EXPECT_GT(videoFrames("t2-b.avi"), 0);

    cutDuring(Source::DvPal, 0, "t1-a.avi", "t1-b.avi");
    EXPECT_EQ(videoFrames("t1-a.avi") + videoFrames("t1-b.avi"), qint64(cam.CapturedFrames()));
    EXPECT_GT(videoFrames("t1-a.avi"), 0);
}

TEST_F(CaptureCut, WindowsMediaGoesOnIntoTheNextFile)
{
    if (!cam.WmvAvailable) GTEST_SKIP() << "no Windows Media encoders";
    cutDuring(Source::Webcam, 2, "a.wmv", "b.wmv", 20, 40);
    EXPECT_EQ(videoFrames("a.wmv") + videoFrames("b.wmv"), qint64(cam.CapturedFrames()));
}

TEST_F(CaptureCut, TheProgramStreamIsCutBetweenPacksAndLosesNoByte)
{
    sentLocation = file("sent.mpg");
    cutDuring(Source::Mpeg2, 0, "a.mpg", "b.mpg", 10, 25);
    cam.FreeAllFilters();
    QFile a(file("a.mpg")), b(file("b.mpg")), sent(file("sent.mpg"));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) &&
                sent.open(QIODevice::ReadOnly));
    const QByteArray first = a.readAll(), second = b.readAll();
    ASSERT_GT(second.size(), 0);
    EXPECT_TRUE(second.startsWith(QByteArray::fromHex("000001ba")));
    EXPECT_TRUE(sent.readAll().contains(first + second));
}

TEST_F(CaptureCut, NoFileWriterNoCut)
{
    ASSERT_TRUE(preview(Source::Webcam));
    EXPECT_FALSE(cam.SetCaptureFileName(file("none.avi")));
    EXPECT_FALSE(cam.SwitchCaptureFile(file("none.avi")));
}

TEST_F(CaptureCut, AnUnpluggedDeviceLeavesAReadableFile)
{
    ASSERT_TRUE(preview(Source::DvPal));
    cam.Capture.FormatIndex = 1;
    cam.CurrentVideoFileName = file("unplugged.avi");
    ASSERT_TRUE(cam.BuildCaptureGraph());
    ASSERT_TRUE(waitUntil([&] { return cam.CapturedFrames() >= 20; }));
    g_object_set(source, "unplug", TRUE, NULL);
    ASSERT_TRUE(waitUntil([&] { return !cam.Capturing(); }));
    const Probed p = probe(file("unplugged.avi"));
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    ASSERT_NE(p.first("video"), nullptr);
    EXPECT_EQ(p.first("video")->frames, qint64(cam.CapturedFrames()));
}

TEST_F(CaptureCut, AFullDiskStopsTheCaptureWithAMessageAndAReadableFile)
{
    const QString disk = dir.filePath("disk");
    QDir().mkpath(disk);
    if (mount("tmpfs", disk.toUtf8().constData(), "tmpfs", 0, "size=24m") != 0)
        GTEST_SKIP() << "cannot mount a small disk here";
    cam.DiskReserveBytes = 12 * 1024 * 1024;
    int stopped = 0;
    QObject::connect(&cam, &TdmCam::CaptureStopped, [&] { ++stopped; });
    ASSERT_TRUE(preview(Source::DvPal));
    cam.Capture.FormatIndex = 1;
    cam.CurrentVideoFileName = disk + "/full.avi";
    ASSERT_TRUE(cam.BuildCaptureGraph());
    EXPECT_TRUE(waitUntil([&] { return stopped > 0; }));
    ASSERT_FALSE(boxes.shown.empty());
    EXPECT_EQ(boxes.shown.back().kind, "error");
    EXPECT_TRUE(boxes.shown.back().text.contains("full"));
    const Probed p = probe(disk + "/full.avi");
    EXPECT_TRUE(p.ok) << p.error.toStdString();
    if (p.first("video")) {
        EXPECT_EQ(p.first("video")->frames, qint64(cam.CapturedFrames()));
    }
    // The program goes on: a new preview runs.
    cam.FreeAllFilters();
    umount2(disk.toUtf8().constData(), MNT_DETACH);
    EXPECT_TRUE(preview(Source::DvPal));
}

} // namespace
} // namespace kad::test
