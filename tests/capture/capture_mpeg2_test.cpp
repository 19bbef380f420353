// The MPEG-2 previews: picture and sound from a program stream whose video
// is on 0xE0 (an ordinary encoder) or 0xE1 (the MovieBox), and the log of
// the generic build.

#include "capture_graph_fixture.h"

#include "elements/sample_grabber.h"
#include "system/log.h"

#include <QFile>

#include <atomic>
#include <memory>

namespace kad::test {
namespace {

class Mpeg2Preview : public CaptureTest {
protected:
    bool grabbed()
    {
        KadGrabbedFrameInfo info{};
        return cam.FilterGraph().sg.InGraph() &&
               kad_sample_grabber_peek(cam.FilterGraph().sg.Element(), &info) &&
               info.width == 720 && info.height == 576;
    }
    // The demultiplexer pad that feeds an output of ours.
    static std::string feeder(GstElement* output)
    {
        if (!output) return {};
        PadRef in(gst_element_get_static_pad(output, "sink"));
        PadRef peer(in ? gst_pad_get_peer(in.get()) : nullptr);
        return peer ? GST_PAD_NAME(peer.get()) : "";
    }
};

TEST_F(Mpeg2Preview, EachKindShowsItsPictureFromItsOwnStreams)
{
    for (Source kind : {Source::Mpeg2, Source::MovieBox}) {
        ASSERT_TRUE(preview(kind, true));
        EXPECT_TRUE(cam.Preview().PreviewBuilt());
        EXPECT_TRUE(waitUntil([&] { return grabbed(); }, 10000));
        // 0xE1/0xC1 for the MovieBox; the first streams, 0xE0/0xC0, for an
        // encoder that has no 0xE1.
        const bool box = kind == Source::MovieBox;
        EXPECT_EQ(feeder(cam.Preview().MpegVideoPin()), box ? "video_e1" : "video_e0");
        EXPECT_EQ(feeder(cam.Preview().MpegAudioPin()), box ? "audio_c1" : "audio_c0");
        EXPECT_TRUE(cam.FilterGraph().infinite4.InGraph());
        EXPECT_TRUE(waitUntil([&] { return cam.Preview().Format().VideoWidth == 720; }));
        EXPECT_EQ(cam.Preview().Format().VideoHeight, 576);
    }
}

// A preview that fell behind while it started (a busy computer, the leaky
// Smart Tee) loses what came after the box's first pack and system headers
// up to its first sound packet, which then comes flagged as following a
// loss: the picture must still come, from the box's own streams.
TEST_F(Mpeg2Preview, ALossBeforeTheFirstPictureDoesNotCostThePicture)
{
    TgraphOptions options = cam.Preview().Options();
    options.EcouterAudioInclus = true;
    options.Audio = AudioKind::akIncluded;
    cam.Preview().SetOptions(options);
    ASSERT_TRUE(cam.Source().ConnectSourceElement("Virtual", makeSource(Source::MovieBox)));
    cam.Source().SetKind(SourceKind::skMovieBoxB);
    ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
    // The probe owns its state: the graph may outlive this test's frame.
    enum class Loss { BeforePack, PackHeld, Losing, Done };
    using State = std::shared_ptr<std::atomic<Loss>>;
    const State loss = std::make_shared<std::atomic<Loss>>(Loss::BeforePack);
    PadRef preview(gst_element_get_static_pad(cam.FilterGraph().Smarttee.Element(), "preview"));
    ASSERT_NE(preview.get(), nullptr);
    gst_pad_add_probe(
        preview.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            std::atomic<Loss>& state = **static_cast<State*>(data);
            if (state == Loss::Done) return GST_PAD_PROBE_OK;
            GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
            guint8 head[4] = {};
            const bool startCode = gst_buffer_extract(buffer, 0, head, 4) == 4 && head[0] == 0 &&
                                   head[1] == 0 && head[2] == 1;
            // The demultiplexer reads the pack header once the next header
            // has come too.
            if (state == Loss::BeforePack) {
                if (startCode && head[3] == 0xBA) state = Loss::PackHeld;
                return GST_PAD_PROBE_OK;
            }
            if (state == Loss::PackHeld) {
                state = Loss::Losing;
                return GST_PAD_PROBE_OK;
            }
            if (!startCode || head[3] != 0xC1) return GST_PAD_PROBE_DROP;
            buffer = gst_buffer_make_writable(buffer);
            GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
            GST_PAD_PROBE_INFO_DATA(info) = buffer;
            state = Loss::Done;
            return GST_PAD_PROBE_OK;
        },
        std::make_unique<State>(loss).release(),
        [](gpointer data) { std::unique_ptr<State> owned(static_cast<State*>(data)); });
    ASSERT_TRUE(cam.FilterGraph().RunGraph());
    EXPECT_TRUE(waitUntil([&] { return grabbed(); }, 10000));
    EXPECT_TRUE(*loss == Loss::Done);
    EXPECT_EQ(feeder(cam.Preview().MpegVideoPin()), "video_e1");
    EXPECT_EQ(feeder(cam.Preview().MpegAudioPin()), "audio_c1");
}

TEST_F(Mpeg2Preview, TheGenericBuildLogsEveryStepAndItsEnd)
{
    StartLog(true);
    ASSERT_TRUE(preview(Source::Mpeg2));
    // A build that fails on the way still ends its log.
    cam.FilterGraph().demux.Unbind();
    EXPECT_FALSE(cam.Preview().BuildPreviewMpeg2());
    QFile f(LogFileName());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(f.readAll());
    StopLog();
    EXPECT_TRUE(log.contains("MapStreamID Audio ==> ")) << "the last step went untold";
    EXPECT_EQ(log.count("End of BuildPreview en MPEG2"), 2);
    EXPECT_EQ(log.count("Start of BuildPreview in mpeg2"), 2);
}

} // namespace
} // namespace kad::test
