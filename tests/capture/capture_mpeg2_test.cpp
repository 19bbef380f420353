// The MPEG-2 previews: picture and sound from a program stream whose video
// is on 0xE0 (an ordinary encoder) or 0xE1 (the MovieBox), and the log of
// the generic build.

#include "capture_graph_fixture.h"

#include "elements/sample_grabber.h"
#include "system/log.h"

#include <QFile>

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
    for (const char* line :
         {"Start of BuildPreview in mpeg2", "FreeAllFilters passed",
          "cg.RenderStream smarttee ==> ", "cg.FindPin ==> ", "cg.Renderstream demux ==> ",
          "CreateOutputPin Video ==> ", "CpIVideoPIDMap ==> ", "MapStreamId ==> ",
          "CreateOutputPin Audio ==> ", "pIAudioPIDMap ==> ", "MapStreamID Audio ==> "})
        EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_EQ(log.count("End of BuildPreview en MPEG2"), 2);
    EXPECT_EQ(log.count("Start of BuildPreview in mpeg2"), 2);
}

} // namespace
} // namespace kad::test
