// The report beside each capture file, made through the capture graph from
// the virtual camcorder's damaged and missing frames: its counts agree with
// the file as ffprobe reads it and with the graph's counters, a cut gives one
// report per file, a report that cannot be written costs the capture nothing,
// and with the option off nothing is written beside the video.

#include "capture_graph_fixture.h"

#include "graph/capture_report.h"
#include "graph/frame_counter.h"
#include "media/dv/dv_frame_screen.h"
#include "support/edit_options.h"
#include "support/report_reader.h"
#include "system/log.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/mount.h>

namespace kad::test {
namespace {

constexpr guint kDamageEvery = 7;

using Report = kadtest::ReadReport;

// Waits for the report (written off the GUI thread) and reads it.
Report reportAt(const QString& path)
{
    if (!waitUntil([&] { return QFileInfo::exists(path); }, 10000)) return {};
    return kadtest::readReportFile(path);
}

QString readLog()
{
    QFile f(LogFileName());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class CaptureReport : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        kadtest::editOptions(cam.Preview(), [&](auto& options) { options.CaptureReport = true; });
        QObject::connect(&cam.Capture(), &TcaptureRun::CaptureStopped,
                         [this](const QString& why) { stops << why; });
    }

    // A tape played in the camcorder, every kDamageEvery-th frame damaged
    // and a new recording each second of tape.
    bool damagedPreview()
    {
        qputenv("KADRILLO_VIRTUAL_DV_DAMAGE", QByteArray::number(kDamageEvery));
        source = gst_element_factory_make_full("kadvirtualdvsrc", "is-live", FALSE, "scene-length",
                                               1u, NULL);
        qunsetenv("KADRILLO_VIRTUAL_DV_DAMAGE");
        kadtest::editOptions(cam.Preview(),
                             [&](auto& options) { options.Audio = AudioKind::akNone; });
        return cam.Source().ConnectSourceElement("Virtual", source) &&
               cam.Preview().BuildPreviewGraph() && cam.FilterGraph().RunGraph();
    }

    // The frames the writer knows to be missing from its files: the gaps in
    // the source's numbering where the type-1 writer's input counts them,
    // the slots it filled for kadaviwriter.
    guint64 writerLost(int format)
    {
        if (format == 0) return cam.Capture().WrittenFrames().Gaps();
        guint64 filled = 0;
        g_object_get(cam.Capture().CaptureFileSink(), "lost-frames", &filled, NULL);
        return filled;
    }

    // Every gap and recording the report places in the file sits as far from
    // the file's first frame as its tape timecode is from that frame's. A
    // writer that leaves lost frames out moves what follows them closer by
    // their number; one that fills their slots keeps the tape's spacing.
    void expectPlacedOnTheTape(const Report& r, bool slotsKept)
    {
        const auto tapeFrame = [](const QString& tc) {
            const QStringList p = tc.split(':');
            return ((p[0].toInt() * 60 + p[1].toInt()) * 60 + p[2].toInt()) * 25 + p[3].toInt();
        };
        static const QRegularExpression lostLine(
            "^(\\d+) frames? at frame (\\d+), before tape timecode (\\S+)$");
        static const QRegularExpression recordingLine(", tape timecode (\\S+), at frame (\\d+)$");
        const QStringList& recordings = r.lines("Recordings on the tape");
        const auto first = recordingLine.match(recordings.value(0));
        ASSERT_TRUE(first.hasMatch()) << "the first recording has no timecode";
        // A frame-rate keeper starts its file a frame early, with a copy.
        EXPECT_LE(first.captured(2).toInt(), slotsKept ? 1 : 0);
        const int origin = tapeFrame(first.captured(1)) - first.captured(2).toInt();
        struct Gap {
            int position, count;
        };
        std::vector<Gap> gaps;
        for (const QString& line : r.lines("Frames lost")) {
            const auto m = lostLine.match(line);
            ASSERT_TRUE(m.hasMatch()) << line.toStdString();
            gaps.push_back({m.captured(2).toInt(), m.captured(1).toInt()});
            int distance = gaps.back().position;
            for (const Gap& g : gaps)
                distance += slotsKept && &g != &gaps.back() ? 0 : g.count;
            EXPECT_EQ(tapeFrame(m.captured(3)) - origin, distance) << line.toStdString();
        }
        for (const QString& line : recordings) {
            const auto m = recordingLine.match(line);
            ASSERT_TRUE(m.hasMatch()) << line.toStdString();
            int distance = m.captured(2).toInt();
            for (const Gap& g : gaps)
                if (!slotsKept && g.position <= m.captured(2).toInt()) distance += g.count;
            EXPECT_EQ(tapeFrame(m.captured(1)) - origin, distance) << line.toStdString();
        }
    }

    QStringList stops;
};

TEST_F(CaptureReport, DvFilesThroughDamageAgreeWithTheFileAndTheCounters)
{
    struct Case {
        int format;
        const char* name;
        const char* report;
        const char* shown;
    };
    for (const Case c : {Case{0, "Tape_1.avi", "Tape_1.txt", "DV type 1 (native)"},
                         Case{1, "Tape_2.avi", "Tape_2.txt", "DV type 2 (normal)"},
                         Case{2, "Tape_3.avi", "Tape_3.txt", "DV type 2 (recompressed)"}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(damagedPreview());
        kadtest::editOptions(cam.Capture(), [&](auto& options) { options.FormatName = c.shown; });
        const guint64 screenedBefore = ScreenedDvFrames(cam.Source().Pin().get());
        ASSERT_TRUE(capture(c.format, file(c.name), 90));
        // The preview goes on screening after the file has ended.
        const guint64 screened = ScreenedDvFrames(cam.Source().Pin().get()) - screenedBefore;
        const Report r = reportAt(file(c.report));
        ASSERT_TRUE(r.found);
        EXPECT_EQ(r.value.at("Video file"), c.name);
        EXPECT_EQ(r.value.at("Format"), c.shown);
        EXPECT_EQ(r.value.at("Source"), "Virtual");
        EXPECT_EQ(qint64(r.number("Frames written")), videoFrames(file(c.name)));
        // Here every loss is a damaged frame screened out. A re-encoding
        // path keeps the frame rate before the writer, which then sees none.
        if (c.format != 2) {
            EXPECT_EQ(r.number("Frames lost"), writerLost(c.format));
        }
        EXPECT_GT(r.number("Frames lost"), 0u);
        EXPECT_EQ(r.number("Damaged frames screened out"), r.number("Frames lost"));
        EXPECT_LE(r.number("Damaged frames screened out"), screened);
        // Every gap is listed where it is, before the timecode that follows.
        EXPECT_EQ(r.listedLost(), r.number("Frames lost"));
        expectPlacedOnTheTape(r, c.format != 0);
        // About 3.6 s of tape in one-second scenes.
        EXPECT_GE(r.number("Recordings on the tape"), 3u);
        const QStringList& found = r.lines("Recordings on the tape");
        EXPECT_EQ(quint64(found.size()), r.number("Recordings on the tape"));
        for (const QString& line : found)
            EXPECT_TRUE(line.contains(QRegularExpression(
                "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d, tape timecode .*at frame \\d+$")))
                << line.toStdString();
        EXPECT_TRUE(r.value.at("Ended by").startsWith(CaptureEndText(CaptureEnd::Stopped)));
        EXPECT_LE(QDateTime::fromString(r.value.at("Started"), "yyyy-MM-dd HH:mm:ss"),
                  QDateTime::fromString(r.value.at("Ended"), "yyyy-MM-dd HH:mm:ss"));
        EXPECT_TRUE(stops.isEmpty());
    }
}

TEST_F(CaptureReport, ACutGivesOneReportPerFile)
{
    // The camcorder into both writers of our own (they tell where they cut),
    // and a webcam into the muxer writer (cut at a time).
    struct Case {
        bool dv;
        int format;
        const char* a;
        const char* b;
    };
    for (const Case c :
         {Case{true, 0, "t1_a.avi", "t1_b.avi"}, Case{true, 1, "t2_a.avi", "t2_b.avi"},
          Case{false, 0, "cam_a.avi", "cam_b.avi"}}) {
        SCOPED_TRACE(c.a);
        const QString a = file(c.a);
        const QString b = file(c.b);
        ASSERT_TRUE(c.dv ? damagedPreview() : preview(Source::Webcam));
        ASSERT_NO_FATAL_FAILURE(beginCapture(c.format, a));
        ASSERT_TRUE(waitUntil([&] { return cam.Capture().WrittenFrames().Frames() >= 40; }));
        bool switched = false;
        const auto link =
            QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFileSwitched,
                             [&](const QString&, const QString&) { switched = true; });
        ASSERT_TRUE(cam.Capture().SwitchCaptureFile(b));
        ASSERT_TRUE(waitUntil([&] { return switched; }));
        QObject::disconnect(link);
        const guint64 atCut = cam.Capture().WrittenFrames().Frames();
        ASSERT_TRUE(
            waitUntil([&] { return cam.Capture().WrittenFrames().Frames() >= atCut + 40; }));
        ASSERT_TRUE(cam.Capture().FinishCapture());

        const Report first =
            reportAt(QFileInfo(a).path() + "/" + QFileInfo(a).completeBaseName() + ".txt");
        const Report second =
            reportAt(QFileInfo(b).path() + "/" + QFileInfo(b).completeBaseName() + ".txt");
        ASSERT_TRUE(first.found && second.found);
        EXPECT_EQ(qint64(first.number("Frames written")), videoFrames(a));
        EXPECT_EQ(qint64(second.number("Frames written")), videoFrames(b));
        EXPECT_TRUE(first.value.at("Ended by").startsWith(CaptureEndText(CaptureEnd::Cut)));
        EXPECT_TRUE(second.value.at("Ended by").startsWith(CaptureEndText(CaptureEnd::Stopped)));
        if (!c.dv) {
            EXPECT_EQ(first.value.count("Recordings on the tape"), 0u);
            continue;
        }
        // The losses are shared out, none counted twice or left out.
        EXPECT_EQ(first.number("Frames lost") + second.number("Frames lost"), writerLost(c.format));
        EXPECT_EQ(first.listedLost(), first.number("Frames lost"));
        // The second file starts inside a recording of the first.
        EXPECT_GE(second.number("Recordings on the tape"), 1u);
    }
}

// The writer splits the tape at each new recording and names every file
// after its recording date: each file gets its report under its final name.
TEST_F(CaptureReport, EachRecordingsFileHasItsOwnReportUnderItsDatedName)
{
    for (const int format : {0, 1}) {
        SCOPED_TRACE(format);
        QTemporaryDir into;
        ASSERT_TRUE(damagedPreview());
        kadtest::editOptions(cam.Capture(), [&](auto& options) {
            options.SplitAtRecording = true;
            options.DateNameRoot = into.filePath("Tape");
        });
        ASSERT_TRUE(capture(format, into.filePath("Tape_0.avi"), 90));
        kadtest::editOptions(cam.Capture(), [&](auto& options) {
            options.SplitAtRecording = false;
            options.DateNameRoot.clear();
        });
        const QStringList videos = QDir(into.path()).entryList({"*.avi"}, QDir::Files, QDir::Name);
        ASSERT_GE(videos.size(), 3) << videos.join(' ').toStdString();
        for (int i = 0; i < videos.size(); ++i) {
            const QString video = into.filePath(videos[i]);
            SCOPED_TRACE(videos[i].toStdString());
            EXPECT_TRUE(videos[i].startsWith("Tape_20"));
            const Report r = reportAt(QFileInfo(video).path() + "/" +
                                      QFileInfo(video).completeBaseName() + ".txt");
            ASSERT_TRUE(r.found);
            EXPECT_EQ(r.value.at("Video file"), videos[i]);
            EXPECT_EQ(qint64(r.number("Frames written")), videoFrames(video));
            // Each file begins with its recording.
            ASSERT_GE(r.number("Recordings on the tape"), 1u);
            EXPECT_TRUE(r.lines("Recordings on the tape")[0].endsWith("at frame 0"));
            const CaptureEnd end = i + 1 < videos.size() ? CaptureEnd::Split : CaptureEnd::Stopped;
            EXPECT_TRUE(r.value.at("Ended by").startsWith(CaptureEndText(end)))
                << r.value.at("Ended by").toStdString();
        }
        EXPECT_EQ(QDir(into.path()).entryList({"*.txt"}, QDir::Files).size(), videos.size());
    }
}

// A small disk of its own (tmpfs; root only): the capture stopped for want
// of room says so, and a disk with no room left for the report costs the
// capture nothing.
class CaptureReportOnADisk : public CaptureReport {
protected:
    bool mountDisk(const char* options)
    {
        disk = dir.filePath("disk");
        QDir().mkpath(disk);
        mounted = mount("tmpfs", disk.toUtf8().constData(), "tmpfs", 0, options) == 0;
        return mounted;
    }
    void TearDown() override
    {
        cam.FilterGraph().FreeAllFilters();
        if (mounted) umount2(disk.toUtf8().constData(), MNT_DETACH);
        CaptureReport::TearDown();
    }
    QString disk;
    bool mounted = false;
};

TEST_F(CaptureReportOnADisk, AFullDiskIsTold)
{
    if (!mountDisk("size=24m")) GTEST_SKIP() << "cannot mount a small disk here";
    cam.Capture().SetDiskReserveBytes(12 * 1024 * 1024);
    // The session's test fills a disk through the type-1 writer; this one
    // through kadaviwriter.
    ASSERT_TRUE(preview(Source::DvPal));
    ASSERT_NO_FATAL_FAILURE(beginCapture(1, disk + "/Full.avi"));
    ASSERT_TRUE(waitUntil([&] { return !stops.isEmpty(); }));
    const Report r = reportAt(disk + "/Full.txt");
    ASSERT_TRUE(r.found);
    EXPECT_TRUE(r.value.at("Ended by").startsWith(CaptureEndText(CaptureEnd::DiskFull)))
        << r.value.at("Ended by").toStdString();
    EXPECT_EQ(qint64(r.number("Frames written")), videoFrames(disk + "/Full.avi"));
    EXPECT_EQ(videoFrames(disk + "/Full.avi"), qint64(cam.Capture().CapturedFrames()));
    EXPECT_EQ(stops.size(), 1);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown.back().text.contains("full"));
}

TEST_F(CaptureReportOnADisk, NoRoomForTheReportCostsTheCaptureNothing)
{
    // Room for the folder and the video's file, not one more.
    if (!mountDisk("size=64m,nr_inodes=2")) GTEST_SKIP() << "cannot mount a small disk here";
    StartLog(true);
    ASSERT_TRUE(preview(Source::DvPal));
    ASSERT_TRUE(capture(0, disk + "/Video_1.avi", 40));
    EXPECT_TRUE(waitUntil(
        [] {
            return readLog().contains(
                QRegularExpression("report of .*Video_1.avi could not be written.*space"));
        },
        10000))
        << readLog().right(1500).toStdString();
    StopLog();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(stops.isEmpty());
    EXPECT_EQ(videoFrames(disk + "/Video_1.avi"), qint64(cam.Capture().CapturedFrames()));
    EXPECT_EQ(QDir(disk).entryList(QDir::Files | QDir::Hidden), QStringList{"Video_1.avi"});
}

TEST_F(CaptureReport, TheOptionOffLeavesTheVideoAlone)
{
    kadtest::editOptions(cam.Preview(), [&](auto& options) { options.CaptureReport = false; });
    ASSERT_TRUE(preview(Source::DvPal));
    ASSERT_TRUE(capture(1, file("Quiet.avi"), 30));
    // Long enough for a report written off the GUI thread to show.
    kadtest::pump(500);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Quiet.avi"});
    EXPECT_GT(videoFrames(file("Quiet.avi")), 0);
}

// Both writers of our own: the file of a capture whose device went reads
// whole, with every frame counted, and the report says why it ended. The
// loss is the window's to tell: no capture error besides.
TEST_F(CaptureReport, ALostDeviceEndsTheFileAndSaysSo)
{
    int lost = 0;
    QObject::connect(&cam.FilterGraph(), &TfilterGraph::DeviceLost, [&] { ++lost; });
    for (const int format : {0, 1}) {
        SCOPED_TRACE(format);
        const QString name = file(format ? "Unplugged_2.avi" : "Unplugged_1.avi");
        ASSERT_TRUE(preview(Source::DvPal));
        ASSERT_NO_FATAL_FAILURE(beginCapture(format, name, 20));
        g_object_set(source, "unplug", TRUE, NULL);
        ASSERT_TRUE(waitUntil([&] { return !cam.Capture().Capturing(); }));
        const Report r =
            reportAt(QFileInfo(name).path() + "/" + QFileInfo(name).completeBaseName() + ".txt");
        ASSERT_TRUE(r.found);
        EXPECT_TRUE(r.value.at("Ended by").startsWith(CaptureEndText(CaptureEnd::DeviceLost)))
            << r.value.at("Ended by").toStdString();
        EXPECT_EQ(qint64(r.number("Frames written")), videoFrames(name));
        EXPECT_EQ(videoFrames(name), qint64(cam.Capture().CapturedFrames()));
        EXPECT_TRUE(waitUntil([&] { return lost == format + 1; }, 10000));
        EXPECT_TRUE(boxes.shown.empty());
        cam.FilterGraph().FreeAllFilters();
    }
}

} // namespace
} // namespace kad::test
