#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "dv_test_frames.h"
#include "elements/recording_files.h"
#include "media/dv/dv_packs.h"
#include "media/dv/recording_watch.h"

using kad::dv::FrameRecording;
using kad::dv::RecordingDateTime;
using kad::dv::RecordingWatch;

namespace {

using namespace dvtest;

constexpr std::uint64_t kFrameNs = 40000000;

// Another date written over the packs of the first `sequences` sequences
// only, as a dropout leaves part of a frame from elsewhere on the tape.
void overwriteSequences(std::vector<std::uint8_t>& frame, int sequences,
                        const RecordingDateTime& other)
{
    std::vector<std::uint8_t> donor = palFrame(other);
    std::copy_n(donor.begin(), sequences * kSequence, frame.begin());
}

// Feeds frames at 25 per second and keeps what the watch said of each.
struct Tape {
    RecordingWatch watch;
    std::uint64_t pts = 0;
    std::vector<FrameRecording> seen;

    const FrameRecording& feed(const std::vector<std::uint8_t>& frame)
    {
        seen.push_back(watch.observe(frame.data(), frame.size(), pts, kFrameNs));
        pts += kFrameNs;
        return seen.back();
    }
    // `count` frames of one recording from `start`, its clock ticking once a
    // second, its timecode from `firstFrame`.
    void record(const RecordingDateTime& start, int count, int firstFrame = 0)
    {
        for (int i = 0; i < count; ++i)
            feed(
                palFrame(kad::dv::fromSeconds(kad::dv::secondsOf(start) + i / 25), firstFrame + i));
    }
    // Which frames were cuts, as a pattern of '|' and '.'.
    std::string splits(std::size_t from = 0) const
    {
        std::string out;
        for (std::size_t i = from; i < seen.size(); ++i)
            out += seen[i].split ? '|' : '.';
        return out;
    }
};

} // namespace

TEST(RecordingWatch, ReadsTheDateTheFrameAgreesOnAndItsTimecode)
{
    const RecordingDateTime when = at(2005, 10, 26, 13, 48, 5);
    auto frame = palFrame(when, 37);
    EXPECT_EQ(kad::dv::agreedRecordingDateTime(frame.data(), frame.size()), when);
    RecordingWatch watch;
    const FrameRecording first = watch.observe(frame.data(), frame.size());
    EXPECT_EQ(first.recorded, when);
    ASSERT_TRUE(first.timecode);
    EXPECT_EQ(*first.timecode, (kad::dv::TapeTimecode{0, 1, 1, 12}));
    EXPECT_FALSE(first.startFlag);

    // The audio copies stand in when the video auxiliary data is gone.
    auto audioOnly = frame;
    wipeVaux(audioOnly);
    EXPECT_EQ(kad::dv::agreedRecordingDateTime(audioOnly.data(), audioOnly.size()), when);

    // A dropout over five sequences of twelve is outvoted; over six of them
    // neither date has the majority, and the frame tells none.
    auto fewWrong = frame;
    overwriteSequences(fewWrong, 5, at(1999, 1, 2, 3, 4, 5));
    EXPECT_EQ(kad::dv::agreedRecordingDateTime(fewWrong.data(), fewWrong.size()), when);
    auto halfWrong = frame;
    overwriteSequences(halfWrong, 6, at(1999, 1, 2, 3, 4, 5));
    EXPECT_EQ(kad::dv::agreedRecordingDateTime(halfWrong.data(), halfWrong.size()), std::nullopt);

    // Not dates: nothing at all, a 31st of February, 25 o'clock, a clock
    // never set (the epoch other tools write), a truncated frame.
    for (auto bad : {palFrame(std::nullopt), palFrame(at(2005, 2, 31, 1, 0, 0)),
                     palFrame(at(2005, 3, 1, 25, 0, 0)), palFrame(at(1970, 1, 1, 0, 0, 0))})
        EXPECT_EQ(kad::dv::agreedRecordingDateTime(bad.data(), bad.size()), std::nullopt);
    EXPECT_EQ(kad::dv::agreedRecordingDateTime(frame.data(), 50000), std::nullopt);
    EXPECT_EQ(watch.observe(nullptr, 0).recorded, std::nullopt);
    // A longer buffer is read as its first frame.
    auto twoFrames = frame;
    twoFrames.insert(twoFrames.end(), frame.begin(), frame.end());
    EXPECT_EQ(kad::dv::agreedRecordingDateTime(twoFrames.data(), twoFrames.size()), when);

    EXPECT_EQ(kad::dv::fileNameStamp(at(2019, 7, 4, 9, 5, 3)), "2019.07.04_09-05-03");
}

TEST(RecordingWatch, SplitsWhereTheClockJumpsOrTheCamcorderFlagsAStart)
{
    Tape tape;
    tape.record(at(2005, 10, 26, 13, 48, 5), 80);
    // The stream's first date begins a recording, but there is nothing to
    // cut from yet.
    EXPECT_TRUE(tape.seen[0].newRecording);
    EXPECT_EQ(tape.splits(), std::string(80, '.'));

    // A day ahead, then back an hour (a tape recorded over): both new
    // recordings, each cut at its own first frame.
    std::size_t from = tape.seen.size();
    tape.record(at(2005, 10, 27, 8, 0, 0), 10);
    tape.record(at(2005, 10, 27, 7, 0, 0), 10);
    EXPECT_EQ(tape.splits(from), "|.........|.........");

    // Two seconds ahead after sixty frames without a readable date: the
    // time that passed explains it.
    from = tape.seen.size();
    for (int i = 0; i < 60; ++i)
        tape.feed(palFrame(std::nullopt));
    tape.record(at(2005, 10, 27, 7, 0, 2), 5);
    EXPECT_EQ(tape.splits(from), std::string(65, '.'));
    for (std::size_t i = from; i < from + 60; ++i)
        EXPECT_FALSE(tape.seen[i].newRecording);

    // Frames lost on the way (a gap in the time stamps and the timecode)
    // explain a jump of a few seconds as well.
    from = tape.seen.size();
    tape.pts += 5 * 25 * kFrameNs;
    tape.record(at(2005, 10, 27, 7, 0, 8), 3, 5 + 5 * 25);
    EXPECT_EQ(tape.splits(from), "...");

    // Same clock, but REC ST says a recording starts: a cut at the first
    // flagged frame only.
    from = tape.seen.size();
    for (int i = 0; i < 6; ++i) {
        auto frame = palFrame(at(2005, 10, 27, 7, 0, 8));
        if (i == 2 || i == 3) markRecordingStart(frame);
        tape.feed(frame);
    }
    EXPECT_EQ(tape.splits(from), "..|...");
    EXPECT_TRUE(tape.seen[from + 3].startFlag);

    // A start flagged on a frame whose date cannot be read: the cut waits
    // for the first frame that tells the new recording's date.
    from = tape.seen.size();
    auto flaggedBlank = palFrame(std::nullopt);
    markRecordingStart(flaggedBlank);
    tape.feed(flaggedBlank);
    tape.feed(palFrame(std::nullopt));
    tape.record(at(2006, 1, 2, 3, 4, 5), 3);
    EXPECT_EQ(tape.splits(from), "..|..");
    EXPECT_TRUE(tape.seen[from].newRecording);
    EXPECT_EQ(tape.seen[from + 2].recorded, at(2006, 1, 2, 3, 4, 5));

    tape.watch.reset();
    from = tape.seen.size();
    tape.record(at(2010, 1, 1, 0, 0, 0), 2);
    EXPECT_EQ(tape.splits(from), "..");
    EXPECT_TRUE(tape.seen[from].newRecording);
}

TEST(RecordingWatch, DamageNeverCutsARecording)
{
    Tape tape;
    tape.record(at(2012, 5, 6, 7, 8, 9), 30);
    const std::size_t from = tape.seen.size();
    const RecordingDateTime now = at(2012, 5, 6, 7, 8, 10);
    // A frame of which a minority of sequences carries another date, one
    // with impossible dates, a truncated one and one of noise: the
    // recording goes on without a cut, and the next good frame is no cut
    // either.
    auto dropout = palFrame(now);
    overwriteSequences(dropout, 4, at(2001, 1, 1, 0, 0, 0));
    auto impossible = palFrame(at(2012, 13, 40, 7, 8, 10));
    auto truncated = palFrame(now);
    truncated.resize(60000);
    std::vector<std::uint8_t> noise(kad::dv::kFrameSizePal);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
    for (const auto& frame : {dropout, impossible, truncated, noise})
        tape.feed(frame);
    tape.feed(palFrame(now));
    EXPECT_EQ(tape.splits(from), ".....");
    EXPECT_EQ(tape.seen[from].recorded, now);
    EXPECT_EQ(tape.watch.lastRecorded(), now);

    // Without time stamps the frames count the time.
    RecordingWatch counted;
    const auto a = palFrame(at(2012, 5, 6, 7, 8, 9));
    const auto b = palFrame(at(2012, 5, 6, 7, 8, 11), 50);
    EXPECT_FALSE(counted.observe(a.data(), a.size()).split);
    for (int i = 0; i < 49; ++i)
        counted.observe(a.data(), 10);
    EXPECT_FALSE(counted.observe(b.data(), b.size()).split);
    EXPECT_TRUE(counted.observe(a.data(), a.size()).split);
}

// (A recording-start flag lost on one frame: the capture suite's
// CaptureRecordings.AFlagDropoutOrAStaleSecondOnTheTapeCutsNoRecordingInTwo.)
TEST(RecordingWatch, AStaleSecondKeepsOneRecordingAPausedTapeDoesNot)
{
    // A frame still carrying the second before, between frames of the next
    // one: no cut. Two seconds back is another recording.
    Tape tape;
    const RecordingDateTime second = at(2007, 3, 1, 9, 30, 0);
    tape.record(second, 25);
    const std::size_t from = tape.seen.size();
    const RecordingDateTime later = at(2007, 3, 1, 9, 30, 1);
    tape.feed(palFrame(later, 25));
    tape.feed(palFrame(second, 26));
    tape.feed(palFrame(later, 27));
    tape.feed(palFrame(at(2007, 3, 1, 9, 29, 59), 28));
    EXPECT_EQ(tape.splits(from), "...|");

    // Paused for ten minutes in a live capture, then a recording made five
    // minutes after: the time stamps ran on, the tape did not.
    Tape live;
    live.record(at(2008, 8, 8, 8, 0, 0), 50);
    live.pts += 600ULL * 1000000000ULL;
    const std::size_t resumed = live.seen.size();
    live.record(at(2008, 8, 8, 8, 5, 0), 3, 50);
    EXPECT_EQ(live.splits(resumed), "|..");
    // Without timecodes the frames count the time.
    RecordingWatch noTimecode;
    auto a = palFrame(at(2008, 8, 8, 8, 0, 0));
    auto b = palFrame(at(2008, 8, 8, 8, 5, 0));
    for (auto* frame : {&a, &b})
        for (std::size_t s = 0; s < 12; ++s)
            std::fill_n(frame->data() + s * kSequence + kBlock, 2 * kBlock, 0xFF);
    EXPECT_FALSE(noTimecode.observe(a.data(), a.size(), 0, kFrameNs).split);
    EXPECT_TRUE(noTimecode.observe(b.data(), b.size(), 600ULL * 1000000000ULL, kFrameNs).split);
}

TEST(RecordingFiles, NumberedNamesNeverLandOnAFileAndDateNamesAddANumberWhenTaken)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string base = dir.path().toStdString() + "/";
    EXPECT_EQ(kad::dv::nextNumberedName(base + "Video_071226_3.avi"), base + "Video_071226_4.avi");
    EXPECT_EQ(kad::dv::nextNumberedName(base + "Clip.avi"), base + "Clip_2.avi");
    EXPECT_EQ(kad::dv::nextNumberedName("/a.b/Clip9"), "/a.b/Clip10");

    auto touch = [](const std::string& path, const QByteArray& bytes) {
        QFile f(QString::fromStdString(path));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    ASSERT_TRUE(touch(base + "Video_4.avi", "four"));
    ASSERT_TRUE(touch(base + "Video_5.avi", "five"));
    EXPECT_EQ(kad::dv::freeNumberedName(base + "Video_4.avi"), base + "Video_6.avi");
    EXPECT_EQ(kad::dv::freeNumberedName(base + "Video_7.avi"), base + "Video_7.avi");

    // Three files of the same second: the first takes the plain name, the
    // others "_2" and "_3"; nothing is replaced.
    const RecordingDateTime when = at(2019, 7, 14, 10, 21, 7);
    const std::string root = base + "Holiday";
    std::vector<std::string> named;
    for (const char* source : {"Video_0.avi", "Video_1.avi", "Video_2.avi"}) {
        ASSERT_TRUE(touch(base + source, source));
        const auto to = kad::dv::renameByRecordingDate(base + source, root, when);
        ASSERT_TRUE(to) << g_strerror(errno);
        named.push_back(*to);
        EXPECT_FALSE(QFile::exists(QString::fromStdString(base + source)));
    }
    EXPECT_EQ(named, (std::vector<std::string>{root + "_2019.07.14_10-21-07.avi",
                                               root + "_2019.07.14_10-21-07_2.avi",
                                               root + "_2019.07.14_10-21-07_3.avi"}));
    QFile second(QString::fromStdString(named[1]));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_EQ(second.readAll(), "Video_1.avi");

    // A file already of that name stays as it is; a missing one fails.
    EXPECT_EQ(kad::dv::renameByRecordingDate(named[0], root, when), named[0]);
    errno = 0;
    EXPECT_FALSE(kad::dv::renameByRecordingDate(base + "gone.avi", root, when));
    EXPECT_EQ(errno, ENOENT);
}

TEST(RecordingFiles, ANewRecordingsFileNeverTruncatesOneMadeAfterItsNameWasChosen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string base = dir.path().toStdString() + "/";
    const std::string chosen = base + "Video_3.avi";
    // Another writer makes the chosen file between the choice and the open.
    std::vector<std::string> tried;
    auto open = [&](const std::string& name) {
        tried.push_back(name);
        if (tried.size() == 1) {
            QFile other(QString::fromStdString(name));
            if (!other.open(QIODevice::WriteOnly) || other.write("theirs") != 6) return false;
        }
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    };
    EXPECT_EQ(kad::dv::openUnderFreeName(chosen, open), base + "Video_4.avi");
    EXPECT_EQ(tried, (std::vector<std::string>{chosen, base + "Video_4.avi"}));
    QFile theirs(QString::fromStdString(chosen));
    ASSERT_TRUE(theirs.open(QIODevice::ReadOnly));
    EXPECT_EQ(theirs.readAll(), "theirs");

    // Any other failure is not retried under another name.
    errno = 0;
    EXPECT_EQ(kad::dv::openUnderFreeName(base + "missing/Video_0.avi",
                                         [](const std::string& name) {
                                             return ::open(name.c_str(),
                                                           O_WRONLY | O_CREAT | O_EXCL, 0666) >= 0;
                                         }),
              "");
    EXPECT_EQ(errno, ENOENT);
}
