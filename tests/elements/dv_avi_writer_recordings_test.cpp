#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "elements/dv_avi_writer_helpers.h"
#include "media/dv/recording_watch.h"
#include "support/readers.h"
#include "support/scratch_folder.h"

using namespace kadtest;
using kad::dv::RecordingDateTime;

namespace {

// The virtual camcorder's tape: scene k was recorded 97631 s after scene
// k - 1, from 2019-07-14 10:21:07.
RecordingDateTime sceneStart(int scene)
{
    return kad::dv::fromSeconds(kad::dv::secondsOf({2019, 7, 14, 10, 21, 7}) + scene * 97631LL);
}

long long videoFrames(const std::string& file)
{
    const Probe probe = ffprobe(file, true);
    EXPECT_TRUE(probe.ok) << file << ": " << probe.error;
    const ProbeStream* video = probe.first("video");
    return video ? video->frames : -1;
}

class DvAviWriterRecordings : public kadtest::ScratchFolder<> {
protected:
    QStringList files() const { return QDir(dir_.path()).entryList(QDir::Files, QDir::Name); }

    // The non-live virtual PAL camcorder, one scene a second, into the
    // writer.
    RunResult capture(int frames, const std::string& writerProperties,
                      const std::string& extra = {})
    {
        return runLaunch(
            "kadvirtualdvsrc is-live=false scene-length=1 num-buffers=" + std::to_string(frames) +
            extra + " ! kaddvaviwriter name=w location=" + path("Video_0.avi") + " " +
            writerProperties);
    }

    static std::vector<std::string> messages(const RunResult& r, const char* name,
                                             const char* field)
    {
        std::vector<std::string> out;
        for (const auto& s : r.elementMessages) {
            if (gst_structure_has_name(s.get(), name))
                out.push_back(gst_structure_get_string(s.get(), field));
        }
        return out;
    }
};

} // namespace

TEST_F(DvAviWriterRecordings, EachRecordingGoesIntoAFileOfItsOwnFromItsFirstFrame)
{
    // Video_2.avi is there already: it is passed over, not written over.
    {
        QFile taken(QString::fromStdString(path("Video_2.avi")));
        ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
        taken.write("keep me");
    }
    const RunResult r = capture(95, "split-recordings=true split-location=" + path("Video_1.avi"));
    ASSERT_TRUE(r.eos) << r.message;

    EXPECT_EQ(
        messages(r, "kad-file-switched", "new-location"),
        (std::vector<std::string>{path("Video_1.avi"), path("Video_3.avi"), path("Video_4.avi")}));
    EXPECT_EQ(messages(r, "kad-file-switched", "reason"),
              (std::vector<std::string>(3, "recording")));
    const std::vector<std::string> written{path("Video_0.avi"), path("Video_1.avi"),
                                           path("Video_3.avi"), path("Video_4.avi")};
    const std::vector<long long> expected{25, 25, 25, 20};
    for (std::size_t k = 0; k < written.size(); ++k) {
        EXPECT_EQ(videoFrames(written[k]), expected[k]) << written[k];
        EXPECT_EQ(firstFrameDate(written[k]), sceneStart(static_cast<int>(k))) << written[k];
        const Probe probe = ffprobe(written[k]);
        ASSERT_NE(probe.first("audio"), nullptr) << written[k];
        EXPECT_EQ(probe.first("audio")->sampleRate, 48000);
    }
    QFile taken(QString::fromStdString(path("Video_2.avi")));
    ASSERT_TRUE(taken.open(QIODevice::ReadOnly));
    EXPECT_EQ(taken.readAll(), "keep me");

    // Without the switch on, the same tape stays in one file.
    QDir(dir_.path()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(dir_.path()));
    const RunResult plain = capture(60, "split-location=" + path("Video_1.avi"));
    ASSERT_TRUE(plain.eos) << plain.message;
    EXPECT_EQ(files(), QStringList{"Video_0.avi"});
    EXPECT_EQ(videoFrames(path("Video_0.avi")), 60);
}

TEST_F(DvAviWriterRecordings, FilesAreNamedAfterTheirFirstRecordingDateAndNeverReplaceOne)
{
    const std::string root = path("Tape");
    const std::string firstName = root + "_2019.07.14_10-21-07.avi";
    {
        QFile taken(QString::fromStdString(firstName));
        ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
        taken.write("older capture");
    }
    const RunResult r = capture(60, "split-recordings=true date-name-root=" + root);
    ASSERT_TRUE(r.eos) << r.message;

    // Without a name given, the cuts follow on from the numbered name; each
    // file then takes its date.
    const std::vector<std::string> renamed = messages(r, "kad-file-renamed", "new-location");
    ASSERT_EQ(renamed.size(), 3u);
    EXPECT_EQ(renamed[0], root + "_2019.07.14_10-21-07_2.avi");
    EXPECT_EQ(
        messages(r, "kad-file-renamed", "old-location"),
        (std::vector<std::string>{path("Video_0.avi"), path("Video_1.avi"), path("Video_2.avi")}));
    long long total = 0;
    for (int k = 0; k < 3; ++k) {
        const std::string stamp = kad::dv::fileNameStamp(sceneStart(k));
        const std::string name = k == 0 ? renamed[0] : root + "_" + stamp + ".avi";
        EXPECT_EQ(renamed[k], name);
        EXPECT_EQ(firstFrameDate(name), sceneStart(k));
        total += videoFrames(name);
    }
    EXPECT_EQ(total, 60);
    QFile older(QString::fromStdString(firstName));
    ASSERT_TRUE(older.open(QIODevice::ReadOnly));
    EXPECT_EQ(older.readAll(), "older capture");
    EXPECT_EQ(files().size(), 4);
}

TEST_F(DvAviWriterRecordings, DvWithoutRecordingDatesIsNeitherCutNorRenamed)
{
    // ffmpeg stamps the epoch as the recording date of DV it makes: no
    // camcorder's date, so nothing to cut at or to name after.
    const std::string raw = path("other.dv");
    ASSERT_TRUE(ffmpegDv(QString::fromStdString(raw), "3"));
    ASSERT_EQ(QFile(QString::fromStdString(raw)).size(), 75 * 144000);
    const RunResult r = runLaunch("filesrc location=" + raw +
                                  " blocksize=144000 ! video/x-dv,systemstream=true ! "
                                  "kaddvaviwriter split-recordings=true location=" +
                                  path("Video_0.avi") + " date-name-root=" + path("Tape"));
    ASSERT_TRUE(r.eos) << r.message;
    EXPECT_EQ(r.elementMessages.size(), 0u);
    EXPECT_EQ(files(), (QStringList{"Video_0.avi", "other.dv"}));
    EXPECT_EQ(videoFrames(path("Video_0.avi")), 75);
}

TEST_F(DvAviWriterRecordings, DamagedFramesNeitherCutNorMisnameARecording)
{
    // Every seventh frame damaged (noise over its blocks, or its sound and
    // packs) through two scenes: one cut, at the scene change, and names from
    // good dates only.
    for (const char* kind : {"garbage", "sound"}) {
        SCOPED_TRACE(kind);
        QDir(dir_.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir_.path()));
        const RunResult r = capture(50, "split-recordings=true date-name-root=" + path("Tape"),
                                    std::string(" damage-every=7 damage-kind=") + kind);
        ASSERT_TRUE(r.eos) << r.message;
        EXPECT_EQ(messages(r, "kad-file-switched", "new-location").size(), 1u);
        const QStringList names = files();
        ASSERT_EQ(names.size(), 2) << names.join(",").toStdString();
        long long total = 0;
        for (int k = 0; k < 2; ++k) {
            const std::string name = path("Tape_" + kad::dv::fileNameStamp(sceneStart(k)) + ".avi");
            EXPECT_TRUE(QFile::exists(QString::fromStdString(name))) << name;
            total += videoFrames(name);
        }
        EXPECT_EQ(total, 50);
    }
}

TEST_F(DvAviWriterRecordings, TheType2WriterCutsPictureAndSoundTogetherAtEachRecording)
{
    const RunResult r =
        runLaunch("kadvirtualdvsrc is-live=false scene-length=1 num-buffers=70 ! dvdemux name=d "
                  "kadaviwriter name=w location=" +
                  path("Video_0.avi") + " split-recordings=true date-name-root=" + path("Tape") +
                  " d.video ! queue ! w.video d.audio ! queue ! w.audio");
    ASSERT_TRUE(r.eos) << r.message;
    EXPECT_EQ(messages(r, "kad-file-switched", "reason"),
              (std::vector<std::string>(2, "recording")));
    ASSERT_EQ(messages(r, "kad-file-renamed", "new-location").size(), 3u);
    const std::vector<long long> expected{25, 25, 20};
    for (int k = 0; k < 3; ++k) {
        const std::string name = path("Tape_" + kad::dv::fileNameStamp(sceneStart(k)) + ".avi");
        EXPECT_EQ(videoFrames(name), expected[k]) << name;
        EXPECT_EQ(firstFrameDate(name), sceneStart(k)) << name;
        // The sound of each file lasts as long as its picture: 1920 samples
        // a frame.
        const QByteArray sound = audioSamples(name);
        EXPECT_EQ(sound.size(), expected[k] * 1920 * 4) << name;
    }
    EXPECT_EQ(files().size(), 3);
}

TEST_F(DvAviWriterRecordings, ACutOnTheFirstFrameOfARecordingMakesOneFileNotAnEmptyOne)
{
    // Picture only, so that each frame is written as it comes: the cut is
    // asked for just before the first frame of the second scene.
    kad::ElementRef p = launch("kadvirtualdvsrc is-live=false scene-length=1 num-buffers=50 ! "
                               "dvdemux name=d d.audio ! fakesink d.video ! identity name=gate ! "
                               "kadaviwriter name=w split-recordings=true location=" +
                               path("Video_0.avi"));
    ASSERT_TRUE(p);
    kad::ElementRef writer(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
    const std::string cut = path("Cut.avi");
    std::function<bool(int)> ask = [&](int i) {
        if (i == 25) g_object_set(writer.get(), "next-location", cut.c_str(), nullptr);
        return false;
    };
    onEachBuffer(p.get(), "gate", &ask);
    const RunResult r = runPipeline(p.get());
    ASSERT_TRUE(r.eos) << r.message;
    EXPECT_EQ(messages(r, "kad-file-switched", "new-location"), std::vector<std::string>{cut});
    EXPECT_EQ(messages(r, "kad-file-switched", "reason"), std::vector<std::string>{"cut"});
    EXPECT_EQ(files(), (QStringList{"Cut.avi", "Video_0.avi"}));
    EXPECT_EQ(videoFrames(path("Video_0.avi")), 25);
    EXPECT_EQ(videoFrames(cut), 25);
    EXPECT_EQ(firstFrameDate(cut), sceneStart(1));
}

TEST_F(DvAviWriterRecordings, TheOpenFileIsNeverItsOwnNextFile)
{
    // The tape's second recording goes into Next.avi; a cut then asks for
    // Next.avi too (a name drawn twice): refused, nothing of it is lost.
    const std::string next = path("Next.avi");
    kad::ElementRef p =
        launch("kadvirtualdvsrc name=src is-live=false scene-length=1 num-buffers=50 ! "
               "kaddvaviwriter name=w split-recordings=true split-location=" +
               next + " location=" + path("Video_0.avi"));
    ASSERT_TRUE(p);
    kad::ElementRef writer(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
    std::function<bool(int)> ask = [&](int i) {
        if (i == 35) g_object_set(writer.get(), "next-location", next.c_str(), nullptr);
        return false;
    };
    onEachBuffer(p.get(), "src", &ask);
    const RunResult r = runPipeline(p.get());
    ASSERT_TRUE(r.eos) << r.message;
    EXPECT_EQ(messages(r, "kad-file-switched", "new-location"), std::vector<std::string>{next});
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("already being written"), std::string::npos) << r.warnings[0];
    EXPECT_EQ(videoFrames(next), 25);
    EXPECT_EQ(firstFrameDate(next), sceneStart(1));
}

TEST_F(DvAviWriterRecordings, FramesWrittenCountsOnlyTheNewFileAfterASplitInsideABuffer)
{
    // Ten frames a buffer: the second scene begins inside the third buffer.
    const std::string raw = path("tape.dv");
    ASSERT_TRUE(runLaunch("kadvirtualdvsrc is-live=false scene-length=1 num-buffers=50 ! "
                          "filesink location=" +
                          raw)
                    .eos);
    kad::ElementRef p =
        launch("filesrc location=" + raw +
               " blocksize=1440000 ! video/x-dv,systemstream=true ! kaddvaviwriter name=w "
               "split-recordings=true location=" +
               path("Video_0.avi"));
    ASSERT_TRUE(p);
    const RunResult r = runPipeline(p.get());
    ASSERT_TRUE(r.eos) << r.message;
    ASSERT_EQ(messages(r, "kad-file-switched", "new-location"),
              std::vector<std::string>{path("Video_1.avi")});
    EXPECT_EQ(videoFrames(path("Video_0.avi")), 25);
    EXPECT_EQ(videoFrames(path("Video_1.avi")), 25);
    kad::ElementRef writer(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
    guint64 written = 0;
    g_object_get(writer.get(), "frames-written", &written, nullptr);
    EXPECT_EQ(written, 25u);
}
