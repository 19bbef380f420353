#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "elements/dv_audio_pack.h"
#include "elements/dv_avi_writer_helpers.h"

using namespace kadtest;

namespace {

struct Case {
    bool pal;
    int rate;
};

std::string audioSource(const Case& c, int frames)
{
    // One buffer per frame's worth of samples on average; the packer takes
    // exactly what each frame needs whatever the buffer sizes.
    return "audiotestsrc wave=sine freq=997 volume=0.6 num-buffers=" + std::to_string(frames) +
           " samplesperbuffer=" + std::to_string(c.pal ? c.rate / 25 : c.rate * 1001 / 30000) +
           " ! audio/x-raw,format=S16LE,layout=interleaved,channels=2,rate=" +
           std::to_string(c.rate);
}

std::string dvWithAudio(const Case& c, int frames)
{
    const std::string video = c.pal ? "video/x-raw,width=720,height=576,framerate=25/1"
                                    : "video/x-raw,width=720,height=480,framerate=30000/1001";
    return "videotestsrc num-buffers=" + std::to_string(frames) + " ! " + video +
           " ! videoconvert ! avenc_dvvideo ! pack.video " + audioSource(c, frames + 2) +
           " ! pack.audio kaddvaudiopack name=pack";
}

QByteArray decodedAudio(const std::string& file)
{
    return runTool("ffmpeg", {"-v", "error", "-f", "dv", "-i", QString::fromStdString(file), "-map",
                              "0:a", "-f", "s16le", "-"});
}

} // namespace

TEST(DvAudioPack, SampleCountsFollowTheLockedPattern)
{
    for (std::uint64_t i = 0; i < 10; ++i) {
        EXPECT_EQ(kad::DvAudioSamplesForFrame(true, 32000, i), 1280);
        EXPECT_EQ(kad::DvAudioSamplesForFrame(true, 48000, i), 1920);
    }
    // NTSC: 8008 samples every 5 frames at 48 kHz, 16016 every 15 at 32 kHz.
    int sum48 = 0;
    int sum32 = 0;
    for (std::uint64_t i = 0; i < 15; ++i) {
        const int n = kad::DvAudioSamplesForFrame(false, 32000, i);
        EXPECT_TRUE(n == 1067 || n == 1068) << n;
        sum32 += n;
        if (i < 5) sum48 += kad::DvAudioSamplesForFrame(false, 48000, i);
    }
    EXPECT_EQ(sum48, 8008);
    EXPECT_EQ(sum32, 16016);
    std::vector<std::uint8_t> frame(144000);
    std::vector<std::int16_t> pcm(2 * 2000);
    EXPECT_FALSE(kad::PackDvAudio(frame.data(), 1000, 32000, pcm.data(), 1280));
    EXPECT_FALSE(kad::PackDvAudio(frame.data(), frame.size(), 22050, pcm.data(), 1280));
    EXPECT_FALSE(kad::PackDvAudio(frame.data(), frame.size(), 32000, pcm.data(), 1950));
    EXPECT_TRUE(kad::PackDvAudio(frame.data(), frame.size(), 32000, pcm.data(), 1280));
}

TEST(DvAudioPack, ReadersSeeTheChosenRateAndTheSamplesComeBackExactly)
{
    QTemporaryDir dir;
    const int frames = 20;
    for (const Case& c : {Case{true, 32000}, Case{true, 48000}, Case{false, 32000},
                          Case{false, 48000}, Case{true, 44100}}) {
        SCOPED_TRACE(std::string(c.pal ? "PAL " : "NTSC ") + std::to_string(c.rate));
        const std::string dv = dir.filePath("out.dv").toStdString();
        const std::string ref = dir.filePath("ref.pcm").toStdString();
        RunResult r = runLaunch(dvWithAudio(c, frames) + " ! filesink location=" + dv);
        ASSERT_TRUE(r.eos) << r.message;
        ASSERT_TRUE(runLaunch(audioSource(c, frames + 2) + " ! filesink location=" + ref).eos);

        const Probe probe = ffprobe(dv, true);
        ASSERT_NE(probe.first("audio"), nullptr);
        EXPECT_EQ(probe.first("audio")->sampleRate, c.rate);
        EXPECT_EQ(probe.first("audio")->channels, 2);
        ASSERT_NE(probe.first("video"), nullptr);
        EXPECT_EQ(probe.first("video")->frames, frames);

        // Every sample, in order, as ffmpeg's DV demuxer takes it out again.
        int expected = 0;
        for (int i = 0; i < frames; ++i)
            expected += kad::DvAudioSamplesForFrame(c.pal, c.rate, std::uint64_t(i));
        const QByteArray got = decodedAudio(dv);
        const QByteArray want = readAll(ref).left(expected * 4);
        EXPECT_EQ(got.size(), expected * 4);
        EXPECT_TRUE(got == want);

        // The type-1 writer keeps the rate too.
        const std::string avi = dir.filePath("out.avi").toStdString();
        r = runLaunch(dvWithAudio(c, frames) + " ! kaddvaviwriter location=" + avi);
        ASSERT_TRUE(r.eos) << r.message;
        const Probe aviProbe = ffprobe(avi);
        ASSERT_NE(aviProbe.first("audio"), nullptr);
        EXPECT_EQ(aviProbe.first("audio")->sampleRate, c.rate);
    }
}

TEST(DvAudioPack, WithoutAudioTheFramesGoOnWithSilence)
{
    QTemporaryDir dir;
    const std::string dv = dir.filePath("silent.dv").toStdString();
    const RunResult r =
        runLaunch("videotestsrc num-buffers=10 ! video/x-raw,width=720,height=576,framerate=25/1 ! "
                  "videoconvert ! avenc_dvvideo ! pack.video audiotestsrc num-buffers=0 ! "
                  "audio/x-raw,format=S16LE,layout=interleaved,channels=2,rate=32000 ! pack.audio "
                  "kaddvaudiopack name=pack ! filesink location=" +
                  dv);
    ASSERT_TRUE(r.eos) << r.message;
    const Probe probe = ffprobe(dv, true);
    ASSERT_NE(probe.first("video"), nullptr);
    EXPECT_EQ(probe.first("video")->frames, 10);
    ASSERT_NE(probe.first("audio"), nullptr);
    EXPECT_EQ(probe.first("audio")->sampleRate, 32000);
    const QByteArray pcm = decodedAudio(dv);
    EXPECT_EQ(pcm.size(), 10 * 1280 * 4);
    EXPECT_EQ(pcm.count('\0'), pcm.size());
}
