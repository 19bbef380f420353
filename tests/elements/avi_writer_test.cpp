#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>

#include "elements/dv_avi_writer_helpers.h"
#include "elements/file_writer.h"
#include "support/readers.h"
#include "support/scratch_folder.h"

using namespace kadtest;

namespace {

constexpr int kSamplesPerFrame = 1920; // 48 kHz at 25 frames/s
constexpr int kBytesPerFrameOfSound = kSamplesPerFrame * 4;

class AviWriterTest : public kadtest::ScratchFolder<> {
protected:
    // PAL DV pictures and 48 kHz stereo sine sound, `frames` frames of each,
    // into kadaviwriter `w` (its properties in `writer`).
    static kad::ElementRef capture(int frames, const std::string& writer)
    {
        const std::string n = std::to_string(frames);
        return launch("videotestsrc pattern=ball num-buffers=" + n +
                      " ! video/x-raw,width=720,height=576,framerate=25/1 ! videoconvert ! "
                      "avenc_dvvideo name=enc ! queue ! w.video audiotestsrc wave=sine freq=440 "
                      "samplesperbuffer=1920 num-buffers=" +
                      n +
                      " name=snd ! audio/x-raw,rate=48000,channels=2,format=S16LE ! queue ! "
                      "w.audio kadaviwriter name=w " +
                      writer);
    }

    // One DV picture and one 48 kHz PCM sound stream, both starting at 0 and
    // lasting as long as each other within one frame, in ffprobe, ffmpeg and
    // avidemux; returns the frames.
    static long long expectPictureAndSoundTogether(const std::string& file)
    {
        const Probe probe = ffprobe(file);
        EXPECT_TRUE(probe.ok) << file << ": " << probe.error;
        if (probe.count("video") != 1 || probe.count("audio") != 1) {
            ADD_FAILURE() << file << ": not one picture and one sound stream";
            return -1;
        }
        EXPECT_EQ(probe.first("video")->codec, "dvvideo") << file;
        EXPECT_EQ(probe.first("audio")->codec, "pcm_s16le") << file;
        EXPECT_EQ(probe.first("audio")->sampleRate, 48000) << file;
        const long long frames = probe.first("video")->frames;
        const StreamTimes t = streamTimes(QString::fromStdString(file));
        EXPECT_NEAR(t.videoStart, 0.0, 1e-6) << file;
        EXPECT_NEAR(t.audioStart, 0.0, 1e-6) << file;
        EXPECT_GT(frames, 0) << file;
        EXPECT_NEAR(t.videoLength, frames / 25.0, 1e-3) << file;
        EXPECT_NEAR(t.audioLength, t.videoLength, 0.04) << file;
        const QByteArray sound = audioSamples(file);
        EXPECT_NEAR(double(sound.size()), double(frames * kBytesPerFrameOfSound),
                    double(kBytesPerFrameOfSound))
            << file;
        const Demuxed d = demuxRead(file, "avidemux", true);
        EXPECT_EQ(d.frames, frames) << file << ": " << d.error;
        EXPECT_EQ(d.soundBytes, sound.size()) << file;
        EXPECT_EQ(readerWarnings(file), "") << file;
        return frames;
    }
};

guint64 uintProperty(GstElement* e, const char* name)
{
    guint64 v = 0;
    g_object_get(e, name, &v, nullptr);
    return v;
}

} // namespace

// A cut asked for before the writer's first frame, and another asked for
// while the first is being made (a user pressing twice): each file gets a
// frame before it is finished, every finished file reads whole, and each
// message counts what its file holds.
TEST_F(AviWriterTest, ACutBeforeTheFileHasAFrameWaitsForOne)
{
    const std::string first = path("a.avi");
    const std::string second = path("b.avi");
    const std::string third = path("c.avi");
    kad::ElementRef p = capture(30, "location=" + first);
    ASSERT_TRUE(p);
    kad::ElementRef writer(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
    kad::PadRef video(gst_element_get_static_pad(writer.get(), "video"));
    ASSERT_TRUE(video);
    std::atomic<bool> asked{false};
    gst_pad_add_probe(
        video.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            auto* c = static_cast<std::pair<GstElement*, const std::string*>*>(data);
            g_object_set(c->first, "next-location", c->second->c_str(), nullptr);
            return GST_PAD_PROBE_REMOVE;
        },
        std::make_unique<std::pair<GstElement*, const std::string*>>(writer.get(), &second)
            .release(),
        &kadtest::freeHandedOver<std::pair<GstElement*, const std::string*>>);
    // The message is posted on the streaming thread as the cut is made.
    kad::BusRef bus(gst_element_get_bus(p.get()));
    gst_bus_enable_sync_message_emission(bus.get());
    struct Again {
        GstElement* writer;
        const std::string* next;
        std::atomic<bool>* asked;
    } again{writer.get(), &third, &asked};
    const gulong handler = g_signal_connect(
        bus.get(), "sync-message::element", G_CALLBACK(+[](GstBus*, GstMessage* m, gpointer data) {
            auto* a = static_cast<Again*>(data);
            if (!gst_structure_has_name(gst_message_get_structure(m),
                                        kad::filewriter::kFileSwitched))
                return;
            if (!a->asked->exchange(true))
                g_object_set(a->writer, "next-location", a->next->c_str(), nullptr);
        }),
        &again);
    const RunResult r = runPipeline(p.get());
    g_signal_handler_disconnect(bus.get(), handler);
    gst_bus_disable_sync_message_emission(bus.get());
    ASSERT_TRUE(r.eos) << r.message;

    std::vector<std::pair<std::string, guint64>> finished;
    for (const auto& s : r.elementMessages) {
        if (!gst_structure_has_name(s.get(), kad::filewriter::kFileSwitched)) continue;
        guint64 frames = 0;
        EXPECT_TRUE(gst_structure_get_uint64(s.get(), "frames", &frames));
        finished.emplace_back(gst_structure_get_string(s.get(), "old-location"), frames);
    }
    ASSERT_EQ(finished.size(), 2u);
    EXPECT_EQ(finished[0], std::make_pair(first, guint64(1)));
    EXPECT_EQ(finished[1], std::make_pair(second, guint64(1)));
    long long frames = 0;
    for (const std::string& file : {first, second, third}) {
        SCOPED_TRACE(file);
        frames += expectPictureAndSoundTogether(file);
    }
    EXPECT_EQ(expectPictureAndSoundTogether(second), 1);
    EXPECT_EQ(frames, 30);
}

TEST_F(AviWriterTest, MissingFramesKeepTheirSlotsAndAreCountedAsLost)
{
    const std::string out = path("lossy.avi");
    kad::ElementRef p = capture(50, "location=" + out);
    ASSERT_TRUE(p);
    // One frame in five never reaches the writer (the last one does).
    std::function<bool(int)> drop = [](int i) { return i % 5 == 2; };
    onEachBuffer(p.get(), "enc", &drop);
    const RunResult r = runPipeline(p.get());
    ASSERT_TRUE(r.eos) << r.message;
    kad::ElementRef writer(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
    EXPECT_EQ(uintProperty(writer.get(), "lost-frames"), 10u);
    EXPECT_EQ(expectPictureAndSoundTogether(out), 50);
    EXPECT_EQ(ffprobe(out, true).first("video")->frames, 50);
    // Each missing slot holds the frame before it.
    const std::vector<std::string> md5s = packetMd5s(out);
    ASSERT_EQ(md5s.size(), 50u);
    for (size_t i = 2; i < md5s.size(); i += 5)
        EXPECT_EQ(md5s[i], md5s[i - 1]) << "slot " << i;
    EXPECT_NE(md5s[1], md5s[0]);
}

TEST_F(AviWriterTest, SoundThatNeverCameIsWrittenAsSilence)
{
    const std::string out = path("gap.avi");
    kad::ElementRef p = capture(40, "location=" + out);
    ASSERT_TRUE(p);
    // Sound buffers 10 to 14 (0.4 s to 0.6 s) are lost on the way.
    std::function<bool(int)> drop = [](int i) { return i >= 10 && i < 15; };
    onEachBuffer(p.get(), "snd", &drop);
    const RunResult r = runPipeline(p.get());
    ASSERT_TRUE(r.eos) << r.message;
    EXPECT_EQ(expectPictureAndSoundTogether(out), 40);

    const QByteArray sound = audioSamples(out);
    ASSERT_GE(sound.size(), 40 * kBytesPerFrameOfSound);
    auto silent = [&](int fromFrame, int toFrame) {
        const auto* s = reinterpret_cast<const qint16*>(sound.constData());
        for (int i = fromFrame * kSamplesPerFrame * 2; i < toFrame * kSamplesPerFrame * 2; ++i)
            if (s[i] != 0) return false;
        return true;
    };
    EXPECT_TRUE(silent(10, 15));
    EXPECT_FALSE(silent(9, 10));
    EXPECT_FALSE(silent(15, 16));
    // The sound after the gap stays where it was played: the sine at 48 kHz
    // has the same value at the same sample as in a capture without a gap.
    const auto* s = reinterpret_cast<const qint16*>(sound.constData());
    const int at = 20 * kSamplesPerFrame;
    // audiotestsrc's sample n is already one step into the wave: sin(n + 1).
    const double expected = 0.8 * 32767 * std::sin(2 * M_PI * 440 * (at + 1) / 48000.0);
    EXPECT_NEAR(s[2 * at], expected, 2.0);
}

// gst-launch asks for the sound pad at once; a DV source without sound
// never feeds it, not even a stream start. The file must still end with the
// picture, picture only.
TEST_F(AviWriterTest, ASoundPadThatNeverStartsDoesNotHoldTheEnd)
{
    const std::string out = path("mute.avi");
    kad::ElementRef p = launch("videotestsrc num-buffers=25 ! "
                               "video/x-raw,width=720,height=576,framerate=25/1 ! videoconvert ! "
                               "avenc_dvvideo ! queue ! w.video queue name=nothing ! w.audio "
                               "kadaviwriter name=w location=" +
                               out);
    ASSERT_TRUE(p);
    const RunResult r = runPipeline(p.get(), {}, 20);
    ASSERT_TRUE(r.eos) << r.message;
    const Probe probe = ffprobe(out);
    ASSERT_EQ(probe.count("video"), 1) << probe.error;
    EXPECT_EQ(probe.first("video")->frames, 25);
    EXPECT_EQ(probe.count("audio"), 0) << "a sound stream with no sound";
    const Demuxed d = demuxRead(out, "avidemux", false, 20);
    EXPECT_EQ(d.frames, 25) << d.error;
}

// A demuxer feeds both pads from one thread: the writer never waits for a
// pad that only the waiting thread could feed, and the frames go in as
// they came.
TEST_F(AviWriterTest, OneThreadFeedingBothPadsWritesEveryFrameUnchanged)
{
    const std::string raw = path("in.dv");
    ASSERT_TRUE(makeRawDv(raw, true, 30));
    const std::string out = path("type2.avi");
    const RunResult r = runLaunch("filesrc location=" + raw +
                                  " ! dvdemux name=d d.video ! w.video d.audio ! w.audio "
                                  "kadaviwriter name=w location=" +
                                  out);
    ASSERT_TRUE(r.eos) << r.message;
    EXPECT_EQ(expectPictureAndSoundTogether(out), 30);
    EXPECT_EQ(packetMd5s(out), packetMd5s(raw, "v", "dv"));
}

// The picture stops for more than the writer waits for it while the sound
// goes on; the cut comes a few frames after the picture is back.
TEST_F(AviWriterTest, ACutAfterAPictureStallStartsPictureAndSoundTogether)
{
    const std::string first = path("before.avi");
    const std::string second = path("after.avi");
    kad::ElementRef p =
        launch("videotestsrc pattern=ball num-buffers=50 ! "
               "video/x-raw,width=720,height=576,framerate=25/1 ! videoconvert ! avenc_dvvideo ! "
               "queue name=vq ! w.video audiotestsrc wave=sine freq=440 samplesperbuffer=1920 "
               "num-buffers=50 ! audio/x-raw,rate=48000,channels=2,format=S16LE ! queue ! "
               "w.audio kadaviwriter name=w location=" +
               first);
    ASSERT_TRUE(p);
    kad::ElementRef writer(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
    std::function<bool(int)> stallThenCut = [&](int i) {
        if (i == 10) g_usleep(1500 * G_TIME_SPAN_MILLISECOND);
        if (i == 15) g_object_set(writer.get(), "next-location", second.c_str(), nullptr);
        return false;
    };
    onEachBuffer(p.get(), "vq", &stallThenCut);
    const RunResult r = runPipeline(p.get());
    ASSERT_TRUE(r.eos) << r.message;
    EXPECT_EQ(expectPictureAndSoundTogether(second), 35);
    EXPECT_EQ(ffprobe(first, true).first("video")->frames, 15);
    // The sound of the cut's first frame was written into the file before
    // while the picture stood still: silence holds its place.
    const QByteArray sound = audioSamples(second);
    ASSERT_GE(sound.size(), kBytesPerFrameOfSound);
    EXPECT_EQ(sound.left(kBytesPerFrameOfSound).count('\0'), kBytesPerFrameOfSound);
}
