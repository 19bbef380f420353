#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include "platform/media/beeps.h"
#include "platform/media/gst_ptr.h"
#include "platform/media/media_platform.h"
#include "support/pipeline.h"
#include "support/probe.h"

using namespace kad;

TEST(MediaPlatform, VersionIsTheLibrarysOwn)
{
    guint major = 0, minor = 0, micro = 0, nano = 0;
    gst_version(&major, &minor, &micro, &nano);
    EXPECT_EQ(MediaPlatformMajor(), major);
    EXPECT_EQ(MediaPlatformMinor(), minor);
    EXPECT_GE(MediaPlatformMinor(), 20u);
    // gst_version_string() reads "GStreamer 1.22.0" for a release.
    GCharPtr described(gst_version_string());
    EXPECT_EQ(QStringLiteral("GStreamer ") + MediaPlatformVersion(),
              QString::fromUtf8(described.get()).section(u' ', 0, 1));
    EXPECT_TRUE(MediaPlatformVersion().startsWith(QStringLiteral("%1.%2.").arg(major).arg(minor)));
}

TEST(MediaErrorText, GErrorTextIsItsMessageCutTo255)
{
    GErrorPtr error(g_error_new(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND,
                                "Could not open device /dev/video9"));
    EXPECT_EQ(MediaErrorText(error.get()), QStringLiteral("Could not open device /dev/video9"));

    const std::string longText(400, 'x');
    GErrorPtr longError(
        g_error_new_literal(GST_CORE_ERROR, GST_CORE_ERROR_FAILED, longText.c_str()));
    EXPECT_EQ(MediaErrorText(longError.get()), QString(255, u'x'));

    GErrorPtr empty(g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, ""));
    EXPECT_FALSE(MediaErrorText(empty.get()).isEmpty());
    EXPECT_EQ(MediaErrorText(static_cast<const GError*>(nullptr)), QString());
}

TEST(MediaErrorText, EveryResultHasItsOwnShortText)
{
    QStringList texts;
    for (GstPadLinkReturn r :
         {GST_PAD_LINK_OK, GST_PAD_LINK_WRONG_HIERARCHY, GST_PAD_LINK_WAS_LINKED,
          GST_PAD_LINK_WRONG_DIRECTION, GST_PAD_LINK_NOFORMAT, GST_PAD_LINK_NOSCHED,
          GST_PAD_LINK_REFUSED, static_cast<GstPadLinkReturn>(-42)})
        texts << MediaErrorText(r);
    for (GstStateChangeReturn r :
         {GST_STATE_CHANGE_FAILURE, GST_STATE_CHANGE_SUCCESS, GST_STATE_CHANGE_ASYNC,
          GST_STATE_CHANGE_NO_PREROLL, static_cast<GstStateChangeReturn>(9)})
        texts << MediaErrorText(r);
    for (GstFlowReturn r :
         {GST_FLOW_OK, GST_FLOW_NOT_LINKED, GST_FLOW_FLUSHING, GST_FLOW_EOS,
          GST_FLOW_NOT_NEGOTIATED, GST_FLOW_ERROR, GST_FLOW_NOT_SUPPORTED, GST_FLOW_CUSTOM_ERROR})
        texts << MediaErrorText(r);
    for (const QString& t : texts) {
        EXPECT_FALSE(t.isEmpty());
        EXPECT_LE(t.size(), kMediaErrorTextMax);
    }
    texts.removeDuplicates();
    EXPECT_EQ(texts.size(), 8 + 5 + 8);
}

TEST(MediaErrorText, RealLinkFailureIsNamed)
{
    ElementRef audio = ElementRef::sink(gst_element_factory_make("audiotestsrc", nullptr));
    ElementRef video = ElementRef::sink(gst_element_factory_make("videoconvert", nullptr));
    ElementRef bin = ElementRef::sink(gst_bin_new(nullptr));
    gst_bin_add_many(GST_BIN(bin.get()), GST_ELEMENT(gst_object_ref(audio.get())),
                     GST_ELEMENT(gst_object_ref(video.get())), nullptr);
    PadRef src(gst_element_get_static_pad(audio.get(), "src"));
    PadRef sink(gst_element_get_static_pad(video.get(), "sink"));
    const GstPadLinkReturn r = gst_pad_link(src.get(), sink.get());
    EXPECT_EQ(r, GST_PAD_LINK_NOFORMAT);
    EXPECT_TRUE(MediaErrorText(r).contains(QStringLiteral("format")));
}

namespace {

struct Probe {
    QString codec;
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;
    qint64 samples = 0;
};

// ffprobe's view of a WAV file.
Probe ffprobe(const QByteArray& wav)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("beep.wav"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(wav) != wav.size()) return {};
    f.close();
    const kadtest::Probe read = kadtest::ffprobe(path.toStdString());
    if (!read.ok || read.streams.size() != 1) return {};
    const kadtest::ProbeStream& s = read.streams.front();
    return {QString::fromStdString(s.codec), s.sampleRate, s.channels, s.bitsPerSample,
            s.durationTs};
}

// The samples as GStreamer's wavparse decodes them (unsigned 8-bit).
QByteArray decodeWithWavparse(const QByteArray& wav, QString* caps)
{
    ElementRef pipeline = kadtest::launch(
        "appsrc name=src caps=audio/x-wav format=bytes ! wavparse ! appsink name=sink sync=false");
    if (!pipeline) return {};
    ElementRef src = kadtest::byName(pipeline.get(), "src");
    ElementRef sink = kadtest::byName(pipeline.get(), "sink");
    gst_app_src_push_buffer(GST_APP_SRC(src.get()),
                            gst_buffer_new_memdup(wav.constData(), static_cast<gsize>(wav.size())));
    gst_app_src_end_of_stream(GST_APP_SRC(src.get()));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    QByteArray samples;
    while (
        SampleRef sample{gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND)}) {
        if (caps && caps->isEmpty()) {
            GCharPtr text(gst_caps_to_string(gst_sample_get_caps(sample.get())));
            *caps = QString::fromUtf8(text.get());
        }
        BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
        if (map)
            samples.append(reinterpret_cast<const char*>(map.data()),
                           static_cast<qsizetype>(map.size()));
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return samples;
}

int zeroCrossings(const QByteArray& u8)
{
    int crossings = 0;
    for (qsizetype i = 1; i < u8.size(); ++i) {
        const bool before = static_cast<quint8>(u8[i - 1]) >= 128;
        const bool now = static_cast<quint8>(u8[i]) >= 128;
        crossings += before != now;
    }
    return crossings;
}

} // namespace

TEST(Beeps, EmbeddedWavesHaveTheStatedFormat)
{
    const std::pair<int, qint64> beeps[] = {{0, 649}, {1, 635}};
    for (const auto& [index, samples] : beeps) {
        const QByteArray wav = BeepResource(index);
        ASSERT_FALSE(wav.isEmpty()) << index;
        EXPECT_TRUE(wav.startsWith("RIFF"));
        EXPECT_EQ(wav.mid(8, 4), QByteArray("WAVE"));

        const Probe p = ffprobe(wav);
        EXPECT_EQ(p.codec, QStringLiteral("pcm_u8")) << index;
        EXPECT_EQ(p.sampleRate, 11025) << index;
        EXPECT_EQ(p.channels, 1) << index;
        EXPECT_EQ(p.bitsPerSample, 8) << index;
        EXPECT_EQ(p.samples, samples) << index;

        QString caps;
        const QByteArray pcm = decodeWithWavparse(wav, &caps);
        EXPECT_EQ(pcm.size(), samples) << index;
        EXPECT_TRUE(caps.contains(QStringLiteral("format=(string)U8"))) << caps.toStdString();
        EXPECT_TRUE(caps.contains(QStringLiteral("rate=(int)11025"))) << caps.toStdString();
        EXPECT_TRUE(caps.contains(QStringLiteral("channels=(int)1"))) << caps.toStdString();
    }
    EXPECT_TRUE(BeepResource(2).isEmpty());
    EXPECT_TRUE(BeepResource(-1).isEmpty());
}

TEST(Beeps, TheTwoTonesAreClearlyDifferent)
{
    const QByteArray low = decodeWithWavparse(BeepResource(0), nullptr);
    const QByteArray high = decodeWithWavparse(BeepResource(1), nullptr);
    ASSERT_FALSE(low.isEmpty());
    ASSERT_FALSE(high.isEmpty());
    const int a = zeroCrossings(low);
    const int b = zeroCrossings(high);
    EXPECT_GT(a, 40); // an audible tone, not silence
    EXPECT_GT(b, a + a / 2);
}

TEST(Beeps, PlayToTheEndOrStaySilentWithoutSoundOutput)
{
    EXPECT_EQ(PlayBeep(0, "kadrillo-no-such-sink"), BeepResult::NoSoundOutput);
    EXPECT_EQ(PlayBeep(1, "fakesink"), BeepResult::Played);
    EXPECT_EQ(PlayBeep(7, "fakesink"), BeepResult::Failed);
    // Whatever this machine has, the real call neither fails nor hangs.
    EXPECT_NE(PlayBeep0(), BeepResult::Failed);
    EXPECT_NE(PlayBeep1(), BeepResult::Failed);
}
