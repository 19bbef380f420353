// Every capture format of every source kind, with the taps on and off,
// checked with ffprobe: container, streams, codecs, picture size, audio rate
// and a frame count equal to the graph's captured count.

#include "capture_graph_fixture.h"
#include "elements/dv_avi_writer_helpers.h"
#include "support/edit_options.h"

#include <QFile>

namespace kad::test {
namespace {

struct Expect {
    std::string format;
    std::string videoCodec;
    int width;
    int height;
    int audioStreams;
    int audioRate; // 0: not checked
};

class CaptureFormats : public CaptureTest {
protected:
    // How long the file's first sound stream lasts (16-bit stereo).
    static double secondsOfSound(const QString& name, int rate)
    {
        return double(kadtest::audioSamples(name.toStdString()).size()) / (4.0 * rate);
    }

    // A Windows Media file of one picture and one sound stream, read whole.
    void checkWmv(const QString& name, bool countFrames = true)
    {
        const Probed p = probe(name);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.format, "asf");
        EXPECT_EQ(p.count("video"), 1);
        EXPECT_EQ(p.count("audio"), 1);
        if (!countFrames) return;
        EXPECT_EQ(p.first("video")->frames, qint64(cam.Capture().CapturedFrames()));
        EXPECT_TRUE(p.error.empty()) << p.error;
    }

    void check(const QString& name, const Expect& e, bool countFrames = true)
    {
        const Probed p = probe(name);
        ASSERT_TRUE(p.ok) << name.toStdString() << ": " << p.error;
        EXPECT_EQ(p.format, e.format);
        const ProbedStream* v = p.first("video");
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->codec, e.videoCodec);
        EXPECT_EQ(v->width, e.width);
        EXPECT_EQ(v->height, e.height);
        if (countFrames) {
            EXPECT_EQ(v->frames, qint64(cam.Capture().CapturedFrames()));
        }
        EXPECT_EQ(p.count("audio"), e.audioStreams);
        if (e.audioRate && p.first("audio")) {
            EXPECT_EQ(p.first("audio")->sampleRate, e.audioRate);
        }
        EXPECT_TRUE(p.error.empty()) << p.error;
    }
};

TEST_F(CaptureFormats, DvType1IsOneInterleavedStreamAndIgnoresTheSoundCard)
{
    ASSERT_TRUE(preview(Source::DvPal, false, true));
    const QString name = file("type1.avi");
    ASSERT_TRUE(capture(0, name));
    // One 'iavs' stream: ffprobe shows the DV video and the audio inside it
    // (one stream, the camcorder's 48 kHz), never a sound-card stream.
    QFile raw(name);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray head = raw.read(4096);
    EXPECT_TRUE(head.contains("iavs"));
    EXPECT_TRUE(head.contains("dvsd"));
    EXPECT_EQ(head.count("strh"), 1);
    check(name, {"avi", "dvvideo", 720, 576, 1, 48000});
}

TEST_F(CaptureFormats, DvType2HasDvVideoAndPcmAudio)
{
    for (bool taps : {false, true}) {
        ASSERT_TRUE(preview(Source::DvPal, taps, taps));
        const QString name = file(taps ? "type2-taps.avi" : "type2.avi");
        ASSERT_TRUE(capture(1, name));
        check(name, {"avi", "dvvideo", 720, 576, 1, 48000});
        // Picture and sound come from the same frames and both reach the
        // end of the capture: the muxer keeps its video behind the sound,
        // and the frames still waiting for it must not be lost at the stop.
        const Probed p = probe(name);
        ASSERT_NE(p.first("video"), nullptr);
        EXPECT_NEAR(p.first("video")->frames * 0.04, secondsOfSound(name, 48000), 0.081);
    }
}

TEST_F(CaptureFormats, DvRecompressedFollowsTheStandard)
{
    kadtest::editOptions(cam.Capture(), [&](auto& options) { options.Standard = 1; });
    ASSERT_TRUE(preview(Source::DvPal, true));
    const QString ntsc = file("recompressed-ntsc.avi");
    ASSERT_TRUE(capture(2, ntsc));
    check(ntsc, {"avi", "dvvideo", 720, 480, 1, 48000});

    kadtest::editOptions(cam.Capture(), [&](auto& options) {
        options.Standard = 0;
        options.FrequencyIndex = 2;
    });
    ASSERT_TRUE(preview(Source::DvNtsc, false, true));
    const QString pal = file("recompressed-pal.avi");
    ASSERT_TRUE(capture(2, pal));
    check(pal, {"avi", "dvvideo", 720, 576, 1, 48000});
}

TEST_F(CaptureFormats, ThirtyTwoKilohertzIsNeverSilentlyAnotherRate)
{
    kadtest::editOptions(cam.Capture(), [&](auto& options) { options.FrequencyIndex = 1; });
    ASSERT_TRUE(preview(Source::DvPal, true));
    const QString name = file("recompressed-32k.avi");
    kadtest::editOptions(cam.Capture(), [&](auto& options) { options.FormatIndex = 2; });
    cam.Capture().SetCurrentVideoFileName(name);
    // Our DV audio packer writes 32 kHz: the capture is not refused, and
    // the file's sound is 32 kHz, not resampled to another rate.
    ASSERT_TRUE(cam.Capture().BuildCaptureGraph());
    EXPECT_TRUE(boxes.shown.empty());
    ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= 30; }));
    ASSERT_TRUE(cam.Capture().FinishCapture());
    check(name, {"avi", "dvvideo", 720, 576, 1, 32000});
}

TEST_F(CaptureFormats, DvWmvFollowsTheProfileAndDropsAudioForAkNone)
{
    if (!cam.FilterGraph().Presence().WmvAvailable) GTEST_SKIP() << "no Windows Media encoders";
    for (const bool silent : {false, true}) {
        ASSERT_TRUE(preview(Source::DvPal, true));
        // akNone: the profile's audio goes, the file has video only.
        if (silent)
            kadtest::editOptions(cam.Preview(),
                                 [&](auto& options) { options.Audio = AudioKind::akNone; });
        const QString name = file(silent ? "dv-silent.wmv" : "dv.wmv");
        ASSERT_TRUE(capture(3, name, 30));
        const Probed p = probe(name);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_TRUE(p.error.empty()) << p.error;
        EXPECT_EQ(p.format, "asf");
        ASSERT_NE(p.first("video"), nullptr);
        EXPECT_TRUE(p.first("video")->codec.rfind("wmv", 0) == 0);
        EXPECT_EQ(p.first("video")->frames, qint64(cam.Capture().CapturedFrames()));
        EXPECT_EQ(p.count("audio"), silent ? 0 : 1);
        EXPECT_TRUE(silent || p.first("audio")->codec.rfind("wmav", 0) == 0);
    }
}

TEST_F(CaptureFormats, AnalogNativeKeepsTheDeviceFormat)
{
    for (bool soundCard : {false, true}) {
        ASSERT_TRUE(preview(Source::Webcam, false, soundCard));
        const QString name = file(soundCard ? "native-mic.avi" : "native.avi");
        ASSERT_TRUE(capture(0, name));
        check(name, {"avi", "rawvideo", 640, 480, soundCard ? 1 : 0, 48000});
    }
}

TEST_F(CaptureFormats, AnalogWmv)
{
    if (!cam.FilterGraph().Presence().WmvAvailable) GTEST_SKIP() << "no Windows Media encoders";
    ASSERT_TRUE(preview(Source::Webcam, false, true));
    const QString name = file("analog.wmv");
    ASSERT_TRUE(capture(2, name, 30));
    checkWmv(name);
}

TEST_F(CaptureFormats, MpegNativeIsByteForByteWhatTheEncoderSent)
{
    for (Source kind : {Source::Mpeg2, Source::MovieBox}) {
        const QString sent = file(kind == Source::Mpeg2 ? "sent.mpg" : "sent-box.mpg");
        sentLocation = sent;
        ASSERT_TRUE(preview(kind, kind == Source::MovieBox));
        const QString name = file(kind == Source::Mpeg2 ? "native.mpg" : "native-box.mpg");
        ASSERT_TRUE(capture(0, name, 20));
        cam.FilterGraph().FreeAllFilters();
        sentLocation.clear();
        QFile a(name), b(sent);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly));
        ASSERT_TRUE(b.open(QIODevice::ReadOnly));
        const QByteArray written = a.readAll();
        // The capture started after the preview: what it wrote is the tail
        // of what was sent, up to where the capture ended.
        const QByteArray all = b.readAll();
        ASSERT_GT(written.size(), 0);
        EXPECT_TRUE(all.contains(written));
        EXPECT_TRUE(written.startsWith(QByteArray::fromHex("000001ba")));
        const Probed p = probe(name);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.format, "mpeg");
        EXPECT_EQ(p.count("video"), 1);
        EXPECT_EQ(p.count("audio"), 1);
    }
}

// For both kinds: Windows Media from a fresh preview, then DV, then Windows
// Media again. The capture runs the preview's graph again: the MPEG-2
// decoder, which may have read the stream's sequence header while the
// preview ran, must decode the stream sent anew rather than stall at 0
// frames.
TEST_F(CaptureFormats, MpegRecompressedAndWmvForBothKinds)
{
    const bool wmv = cam.FilterGraph().Presence().WmvAvailable;
    // A picture in the preview: the decoder has read the sequence header.
    auto pictureShown = [this] {
        guint64 frames = 0;
        if (cam.FilterGraph().sg.InGraph())
            g_object_get(cam.FilterGraph().sg.Element(), "frame-count", &frames, NULL);
        return frames > 0;
    };
    for (Source kind : {Source::Mpeg2, Source::MovieBox}) {
        const QString stem = kind == Source::MovieBox ? "box" : "mpeg";
        SCOPED_TRACE(stem.toStdString());
        if (wmv) {
            ASSERT_TRUE(preview(kind, true));
            ASSERT_TRUE(capture(2, file((stem + ".wmv").toUtf8()), 25));
            checkWmv(file((stem + ".wmv").toUtf8()));
        }
        ASSERT_TRUE(preview(kind, true));
        ASSERT_TRUE(waitUntil(pictureShown));
        ASSERT_TRUE(capture(1, file((stem + "-dv.avi").toUtf8()), 25));
        check(file((stem + "-dv.avi").toUtf8()), {"avi", "dvvideo", 720, 576, 1, 48000});
        if (!wmv) continue;
        ASSERT_TRUE(preview(kind, true));
        ASSERT_TRUE(waitUntil(pictureShown));
        ASSERT_TRUE(capture(2, file((stem + "-again.wmv").toUtf8()), 25));
        checkWmv(file((stem + "-again.wmv").toUtf8()), false);
    }
}

TEST_F(CaptureFormats, AGuardedStartNeedsANewPreview)
{
    ASSERT_TRUE(preview(Source::Webcam));
    ASSERT_TRUE(capture(0, file("first.avi"), 5));
    EXPECT_FALSE(cam.Preview().PreviewBuilt());
    kadtest::editOptions(cam.Capture(), [&](auto& options) { options.FormatIndex = 0; });
    cam.Capture().SetCurrentVideoFileName(file("second.avi"));
    EXPECT_FALSE(cam.Capture().BuildCaptureGraph());
    EXPECT_FALSE(QFile::exists(file("second.avi")));
    EXPECT_FALSE(cam.Capture().SetCaptureFileName(file("third.avi")));
}

} // namespace
} // namespace kad::test
