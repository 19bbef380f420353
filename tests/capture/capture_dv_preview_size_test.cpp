// The DV preview decodes at half size while the window is small. The
// captures that take its decoded picture (DV recompressed, Windows Media)
// must still get the full picture, and the preview goes back to half size
// once they have ended. The files are read by ffprobe.

#include "capture_graph_fixture.h"

#include <mutex>
#include <utility>

namespace kad::test {
namespace {

class DvPreviewSize : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        // The normal window: 384 x 288, half the picture PAL DV shows.
        kad_display_sink_set_display_size(cam.FilterGraph().VideoWindowFilter(), 384, 288);
        kad_display_sink_set_callback(
            cam.FilterGraph().VideoWindowFilter(),
            [](const KadDisplayFrame* frame, gpointer data) {
                auto* self = static_cast<DvPreviewSize*>(data);
                std::lock_guard<std::mutex> hold(self->lock_);
                self->decodedWidth_ = frame->source_width;
            },
            this, nullptr);
    }
    void TearDown() override
    {
        kad_display_sink_set_callback(cam.FilterGraph().VideoWindowFilter(), nullptr, nullptr,
                                      nullptr);
        CaptureTest::TearDown();
    }

    // The width of the picture the display was last handed (0: none yet),
    // forgotten at once so the next look sees a new frame.
    int takeDecodedWidth()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return std::exchange(decodedWidth_, 0);
    }
    bool decodedAt(int width)
    {
        takeDecodedWidth();
        int seen = 0;
        const bool ok = waitUntil(
            [&] {
                seen = takeDecodedWidth();
                return seen == width;
            },
            10000);
        EXPECT_TRUE(ok) << "the display got " << seen << " wide pictures, not " << width;
        return ok;
    }

    // The width of what the DV decoder hands on now.
    int decoderOutputWidth()
    {
        PadRef out(cam.FilterGraph().DVDEcoder.Element()
                       ? gst_element_get_static_pad(cam.FilterGraph().DVDEcoder.Element(), "src")
                       : nullptr);
        CapsRef caps(out ? gst_pad_get_current_caps(out.get()) : nullptr);
        int width = 0;
        if (caps) gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "width", &width);
        return width;
    }

private:
    std::mutex lock_;
    int decodedWidth_ = 0;
};

TEST_F(DvPreviewSize, CapturesOfTheDecodedPictureGetItFullSize)
{
    struct Case {
        int format;
        const char* name;
    };
    for (const Case c : {Case{3, "half-size-preview.wmv"}, Case{2, "half-size-preview.avi"}}) {
        SCOPED_TRACE(c.name);
        if (c.format == 3 && !cam.FilterGraph().Presence().WmvAvailable) continue;
        ASSERT_TRUE(preview(Source::DvPal, true));
        ASSERT_TRUE(decodedAt(360));

        const QString name = file(c.name);
        bool fullMeanwhile = false;
        ASSERT_TRUE(capture(c.format, name, 30, [&] {
            fullMeanwhile = decoderOutputWidth() == 720 && decodedAt(720);
        }));
        EXPECT_TRUE(fullMeanwhile) << "the decoder gave " << decoderOutputWidth();
        const Probed p = probe(name);
        ASSERT_TRUE(p.ok) << p.error;
        const ProbedStream* video = p.first("video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->width, 720);
        EXPECT_EQ(video->height, 576);
        EXPECT_EQ(video->frames, qint64(cam.Capture().CapturedFrames()));

        // The preview after the capture, as the window has it back.
        cam.FilterGraph().StopGraph();
        ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
        ASSERT_TRUE(cam.FilterGraph().RunGraph());
        EXPECT_TRUE(decodedAt(360));
        cam.FilterGraph().StopGraph();
    }
}

// NTSC's half picture (360 x 240) would be stretched to the normal window's
// 288 rows: it is decoded at full size there, at half size on a smaller one.
TEST_F(DvPreviewSize, NtscIsHalvedOnlyWhereItsHalfIsEnough)
{
    ASSERT_TRUE(preview(Source::DvNtsc));
    EXPECT_TRUE(decodedAt(720));
    kad_display_sink_set_display_size(cam.FilterGraph().VideoWindowFilter(), 320, 240);
    EXPECT_TRUE(decodedAt(360));
    cam.FilterGraph().StopGraph();
}

} // namespace
} // namespace kad::test
