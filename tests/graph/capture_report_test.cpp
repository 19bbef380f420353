// The capture report's text for given facts (read back as facts, not as a
// layout), the grouping of lost frames, and where the report goes when names
// are taken.

#include "graph/capture_report.h"
#include "support/report_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>

#include <utility>

#include <gtest/gtest.h>

namespace kad {
namespace {

using kadtest::readReportText;

CaptureReportFacts baseFacts()
{
    CaptureReportFacts f;
    f.videoFile = "/videos/Video_3.avi";
    f.started = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53));
    f.ended = QDateTime(QDate(2026, 3, 14), QTime(10, 2, 7));
    f.format = "DV type 2 (normal)";
    f.source = "Camcorder on FireWire";
    f.framesWritten = 52850;
    return f;
}

TEST(CaptureReportText, TellsTheFactsOfACleanCaptureAndEveryWayItEnds)
{
    CaptureReportFacts f = baseFacts();
    const kadtest::ReadReport r = readReportText(CaptureReportText(f));
    for (const auto& [name, value] : {std::pair{"Video file", "Video_3.avi"},
                                      {"Started", "2026-03-14 09:26:53"},
                                      {"Ended", "2026-03-14 10:02:07"},
                                      {"Format", "DV type 2 (normal)"},
                                      {"Source", "Camcorder on FireWire"},
                                      {"Frames written", "52850"},
                                      {"Frames lost", "0"}})
        EXPECT_EQ(r.value.at(name), value) << name;
    EXPECT_EQ(r.under.count("Frames lost"), 0u);
    // Not a DV source: no tape, no screen.
    EXPECT_EQ(r.value.count("Damaged frames screened out"), 0u);
    EXPECT_EQ(r.value.count("Recordings on the tape"), 0u);

    QSet<QString> endings;
    for (CaptureEnd end :
         {CaptureEnd::Stopped, CaptureEnd::Cut, CaptureEnd::Split, CaptureEnd::DeviceLost,
          CaptureEnd::DiskFull, CaptureEnd::WriteError, CaptureEnd::ScheduleEnd}) {
        f.end = end;
        f.endDetail = end == CaptureEnd::WriteError ? "Input/output error" : QString();
        const QString ended = readReportText(CaptureReportText(f)).value.at("Ended by");
        EXPECT_TRUE(ended.startsWith(CaptureEndText(end))) << ended.toStdString();
        EXPECT_EQ(ended.contains("Input/output error"), end == CaptureEnd::WriteError);
        endings << CaptureEndText(end);
    }
    EXPECT_EQ(endings.size(), 7) << "two ways of ending read the same";
}

TEST(CaptureReportText, GroupsLostFramesIntoRangesAndSumsUpTheTail)
{
    // A writer that leaves the frames out: gaps with nothing written between
    // them are one range.
    LostRanges gone;
    gone.Add(100, 2, "00:00:04:02", false);
    gone.Add(100, 1, "00:00:04:03", false);
    gone.Add(101, 4, "00:00:04:08", false);
    ASSERT_EQ(gone.listed.size(), 2u);
    EXPECT_EQ(gone.listed[0].position, 100u);
    EXPECT_EQ(gone.listed[0].count, 3u);
    EXPECT_EQ(gone.listed[0].timecode, "00:00:04:02");
    EXPECT_EQ(gone.listed[1].count, 4u);

    // A writer that fills the slots: a gap that starts where the last one
    // ended continues it.
    LostRanges filled;
    filled.Add(100, 2, {}, true);
    filled.Add(102, 1, {}, true);
    filled.Add(110, 1, {}, true);
    ASSERT_EQ(filled.listed.size(), 2u);
    EXPECT_EQ(filled.listed[0].count, 3u);
    EXPECT_EQ(filled.listed[1].position, 110u);

    // A source that keeps losing frames: the list stops, the sum goes on.
    CaptureReportFacts f = baseFacts();
    std::uint64_t lost = 0;
    const std::size_t ranges = kListedLostRanges + 7;
    for (std::size_t i = 0; i < ranges; ++i) {
        f.lost.Add(i * 50, i % 3 + 1, {}, false);
        lost += i % 3 + 1;
    }
    f.framesLost = lost;
    const kadtest::ReadReport r = readReportText(CaptureReportText(f));
    EXPECT_EQ(r.value.at("Frames lost"), QString::number(lost));
    const QStringList& lines = r.lines("Frames lost");
    ASSERT_EQ(lines.size(), qsizetype(kListedLostRanges + 1));
    std::uint64_t listed = 0;
    static const QRegularExpression range("^(\\d+) frames? at frame (\\d+)");
    for (int i = 0; i < int(kListedLostRanges); ++i) {
        const auto m = range.match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(2).toULongLong(), std::uint64_t(i) * 50);
        listed += m.captured(1).toULongLong();
    }
    static const QRegularExpression more("^and (\\d+) more \\((\\d+) frames?\\)");
    const auto m = more.match(lines.back());
    ASSERT_TRUE(m.hasMatch()) << lines.back().toStdString();
    EXPECT_EQ(m.captured(1).toULongLong(), 7u);
    EXPECT_EQ(listed + m.captured(2).toULongLong(), lost);
}

TEST(CaptureReportText, ToldForDvWithDamageTimecodesAndSeveralRecordings)
{
    CaptureReportFacts f = baseFacts();
    f.dv = true;
    f.framesLost = 3;
    f.damaged = 2;
    f.lost.Add(250, 3, "00:00:10:05", false);
    f.recordings.push_back({0, "2006-05-14 10:31:07", "00:00:00:00"});
    f.recordings.push_back({1480, "2006-05-14 11:02:44", "00:00:59:05"});
    f.recordings.push_back({3100, "2006-05-20 08:15:00", {}});
    const kadtest::ReadReport r = readReportText(CaptureReportText(f));
    EXPECT_EQ(r.value.at("Damaged frames screened out").section(' ', 0, 0), "2");
    ASSERT_EQ(r.lines("Frames lost").size(), 1);
    EXPECT_TRUE(r.lines("Frames lost")[0].contains("00:00:10:05"));
    EXPECT_TRUE(r.lines("Frames lost")[0].contains("250"));
    EXPECT_EQ(r.value.at("Recordings on the tape"), "3");
    const QStringList& found = r.lines("Recordings on the tape");
    ASSERT_EQ(found.size(), 3);
    EXPECT_TRUE(found[0].startsWith("2006-05-14 10:31:07"));
    EXPECT_TRUE(found[1].contains("00:00:59:05") && found[1].contains("1480"));
    EXPECT_TRUE(found[2].startsWith("2006-05-20 08:15:00") && found[2].contains("3100"));
    EXPECT_FALSE(found[2].contains("timecode"));
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(CaptureReportFile, NeverReplacesAFileItDidNotWrite)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString avi = dir.filePath("Video_3.avi");
    const QString wmv = dir.filePath("Video_3.wmv");
    const auto text = [](const QString& video, const char* mark) {
        CaptureReportFacts f = baseFacts();
        f.videoFile = video;
        f.source = mark;
        return CaptureReportText(f);
    };

    // Nothing there: NAME.txt; our own report of the same video is replaced.
    EXPECT_EQ(CaptureReportPath(avi), dir.filePath("Video_3.txt"));
    ASSERT_TRUE(WriteCaptureReport(avi, text(avi, "first")).ok);
    ReportWritten again = WriteCaptureReport(avi, text(avi, "second"));
    ASSERT_TRUE(again.ok) << again.error.toStdString();
    EXPECT_EQ(again.path, dir.filePath("Video_3.txt"));
    EXPECT_TRUE(readFile(again.path).contains("second"));

    // The report of another video of that name stays: NAME.ext.txt.
    ReportWritten other = WriteCaptureReport(wmv, text(wmv, "wmv"));
    ASSERT_TRUE(other.ok);
    EXPECT_EQ(other.path, dir.filePath("Video_3.wmv.txt"));
    EXPECT_TRUE(readFile(dir.filePath("Video_3.txt")).contains("second"));

    // The user's own notes are never touched, whatever their name.
    QTemporaryDir notes;
    const QString video = notes.filePath("Tape 1.avi");
    writeFile(notes.filePath("Tape 1.txt"), "my notes");
    writeFile(notes.filePath("Tape 1.avi.txt"), "more notes");
    ReportWritten w = WriteCaptureReport(video, text(video, "report"));
    ASSERT_TRUE(w.ok) << w.error.toStdString();
    EXPECT_EQ(w.path, notes.filePath("Tape 1 (2).txt"));
    EXPECT_EQ(readFile(notes.filePath("Tape 1.txt")), "my notes");
    EXPECT_EQ(readFile(notes.filePath("Tape 1.avi.txt")), "more notes");
    EXPECT_TRUE(readFile(w.path).startsWith(kReportTitle));
}

} // namespace
} // namespace kad
