// Windows Media files made by cuts: each file's picture and sound start
// together at zero and last as long as each other, as ffprobe and
// GStreamer's own ASF reader see them.

#include "capture_graph_fixture.h"
#include "elements/dv_avi_writer_helpers.h"
#include "support/edit_options.h"
#include "support/readers.h"
#include "support/wait.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace kad::test {
namespace {

using kadtest::PacketSpan;
using kadtest::PacketSpans;
using kadtest::widenSpan;

// The same read by asfdemux: each buffer's time stamp and duration.
PacketSpans asfdemuxSpans(const QString& file)
{
    kad::ElementRef p = kadtest::launch("filesrc location=\"" + file.toStdString() +
                                        "\" ! asfdemux name=d d.video_0 ! queue ! fakesink "
                                        "name=v d.audio_0 ! queue ! fakesink name=a");
    PacketSpans spans;
    if (!p) return spans;
    std::mutex lock;
    struct Tap {
        PacketSpan* span;
        std::mutex* lock;
    };
    Tap taps[2] = {{&spans.video, &lock}, {&spans.audio, &lock}};
    const char* names[2] = {"v", "a"};
    for (int i = 0; i < 2; ++i) {
        kad::ElementRef sink(gst_bin_get_by_name(GST_BIN(p.get()), names[i]));
        kad::PadRef pad(gst_element_get_static_pad(sink.get(), "sink"));
        gst_pad_add_probe(
            pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad*, GstPadProbeInfo* info, gpointer data) {
                auto* tap = static_cast<Tap*>(data);
                GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
                if (!GST_BUFFER_PTS_IS_VALID(b)) return GST_PAD_PROBE_OK;
                const double start = double(GST_BUFFER_PTS(b)) / GST_SECOND;
                const double length = GST_BUFFER_DURATION_IS_VALID(b)
                                          ? double(GST_BUFFER_DURATION(b)) / GST_SECOND
                                          : 0.0;
                std::lock_guard hold(*tap->lock);
                widenSpan(*tap->span, start, start + length);
                return GST_PAD_PROBE_OK;
            },
            &taps[i], nullptr);
    }
    const kadtest::RunResult r = kadtest::runPipeline(p.get(), {}, 60);
    EXPECT_TRUE(r.eos) << file.toStdString() << ": " << r.message;
    kadtest::closeSpans(spans);
    return spans;
}

class WmvCut : public CaptureTest {
protected:
    // Captures `format` into three files of at least 25 frames each.
    void captureWithTwoCuts(int format, const QStringList& names)
    {
        ASSERT_NO_FATAL_FAILURE(beginCapture(format, names[0]));
        int switches = 0;
        QMetaObject::Connection c =
            QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFileSwitched,
                             [&](const QString&, const QString&) { ++switches; });
        guint64 from = 0;
        for (int i = 1; i < 3; ++i) {
            ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= from + 25; }));
            ASSERT_TRUE(cam.Capture().SwitchCaptureFile(names[i]));
            ASSERT_TRUE(waitUntil([&] { return switches == i; })) << "cut " << i;
            from = cam.Capture().CapturedFrames();
        }
        ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= from + 25; }));
        ASSERT_TRUE(cam.Capture().FinishCapture());
        QObject::disconnect(c);
    }

    // Each file's picture and sound start at zero together and end within
    // one frame of each other, in both readers. Where a cut made the edge,
    // the sound meets the picture within half a sound packet (the packet
    // lying across the cut goes whole to the file holding most of it).
    void expectAligned(const QStringList& names)
    {
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QString& name = names[i];
            SCOPED_TRACE(name.toStdString());
            const Probed p = probe(name);
            ASSERT_TRUE(p.ok) << p.error;
            EXPECT_EQ(p.count("video"), 1);
            EXPECT_EQ(p.count("audio"), 1);
            EXPECT_TRUE(p.error.empty()) << p.error;
            for (const auto& [reader, spans] : {std::pair{"ffprobe", kadtest::packetSpans(name)},
                                                {"asfdemux", asfdemuxSpans(name)}}) {
                SCOPED_TRACE(reader);
                ASSERT_GT(spans.video.packets, 5);
                ASSERT_GT(spans.audio.packets, 5);
                const double frame = spans.video.step();
                EXPECT_GT(frame, 0.03);
                EXPECT_NEAR(spans.video.start, 0.0, frame);
                EXPECT_NEAR(spans.audio.start, 0.0, frame);
                EXPECT_NEAR(spans.video.start, spans.audio.start, frame);
                const double half = spans.audio.step() / 2 + 0.002;
                // The last file ends at the stop, where the sound's last
                // packet is not cut to the picture: half a packet more.
                const double slack = i + 1 < names.size() ? frame : frame + half;
                EXPECT_NEAR(spans.video.length(), spans.audio.length(), slack)
                    << "video " << spans.video.start << ".." << spans.video.end << ", audio "
                    << spans.audio.start << ".." << spans.audio.end;
                if (i > 0) {
                    EXPECT_NEAR(spans.audio.start, spans.video.start, half);
                }
                if (i + 1 < names.size()) {
                    EXPECT_NEAR(spans.audio.end, spans.video.end, half);
                }
            }
        }
    }
};

TEST_F(WmvCut, DvFilesStartTogetherAndLastAlike)
{
    if (!cam.FilterGraph().Presence().WmvAvailable) GTEST_SKIP() << "no Windows Media encoders";
    // Picture and sound of one DV stream: in step whatever the pace.
    ASSERT_TRUE(preview(Source::DvPal, true));
    const QStringList names{file("dv-1.wmv"), file("dv-2.wmv"), file("dv-3.wmv")};
    ASSERT_NO_FATAL_FAILURE(captureWithTwoCuts(3, names));
    expectAligned(names);
}

TEST_F(WmvCut, AnalogFilesStartTogetherAndLastAlike)
{
    if (!cam.FilterGraph().Presence().WmvAvailable) GTEST_SKIP() << "no Windows Media encoders";
    // Two devices are in step only in real time: left to run as fast as
    // they can, the microphone would race ahead of the webcam.
    cam.FilterGraph().AudioSource.Bind(
        "Virtual Microphone", [] { return gst_element_factory_make("kadvirtualmicsrc", nullptr); });
    kadtest::editOptions(cam.Preview(), [&](auto& options) {
        options.EnregistrerSourceAudio = true;
        options.EcouterAudioInclus = false;
        options.Audio = AudioKind::akSoundCard;
    });
    ASSERT_TRUE(cam.Source().ConnectSourceElement(
        "Virtual", gst_element_factory_make("kadvirtualwebcamsrc", nullptr)));
    ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
    ASSERT_TRUE(cam.FilterGraph().RunGraph());
    const QStringList names{file("analog-1.wmv"), file("analog-2.wmv"), file("analog-3.wmv")};
    ASSERT_NO_FATAL_FAILURE(captureWithTwoCuts(2, names));
    expectAligned(names);
}

// A cut that no frame comes to make is given up, and the writer goes on in
// its file as if it had never been asked.
TEST_F(WmvCut, ACutGivenUpLeavesTheWriterAsItWas)
{
    std::vector<std::pair<int, const char*>> formats{{0, "avi"}, {1, "avi"}};
    if (cam.FilterGraph().Presence().WmvAvailable) formats.push_back({3, "wmv"});
    for (const auto& [format, extension] : formats) {
        SCOPED_TRACE("format " + std::to_string(format));
        ASSERT_TRUE(preview(Source::DvPal, true));
        const QString name = file((std::to_string(format) + "-kept." + extension).c_str());
        const QString cut = file((std::to_string(format) + "-cut." + extension).c_str());
        ASSERT_NO_FATAL_FAILURE(beginCapture(format, name, 10));
        PadRef out(gst_element_get_static_pad(source, "src"));
        const gulong stall = gst_pad_add_probe(
            out.get(), GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM,
            [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }, nullptr, nullptr);
        kadtest::pump(200);
        ASSERT_TRUE(cam.Capture().SwitchCaptureFile(cut));
        // Past the switch's own wait for a key frame.
        kadtest::pump(3000);
        EXPECT_TRUE(cam.Capture().GiveUpCaptureSwitch());
        EXPECT_FALSE(cam.Capture().CaptureSwitchBusy());
        EXPECT_EQ(cam.Capture().CaptureFileName(), name);
        gst_pad_remove_probe(out.get(), stall);
        const guint64 before = cam.Capture().CapturedFrames();
        ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= before + 20; }))
            << cam.Capture().CapturedFrames();
        ASSERT_TRUE(cam.Capture().FinishCapture());
        EXPECT_FALSE(QFileInfo::exists(cut));
        const Probed p = probe(name);
        ASSERT_TRUE(p.ok) << p.error;
        ASSERT_NE(p.first("video"), nullptr);
        EXPECT_EQ(p.first("video")->frames, qint64(cam.Capture().CapturedFrames()));
    }
}

} // namespace
} // namespace kad::test
