// An MPEG-2 preview stopped and run again (listening switched, a capture
// started) sends its stream from the start once more; the decoder has read
// its sequence header in the run before and must decode it all the same.

#include "capture_graph_fixture.h"
#include "support/edit_options.h"

namespace kad::test {
namespace {

class Mpeg2Rerun : public CaptureTest {
protected:
    // Pictures through the sample grabber since the graph last started.
    guint64 pictures()
    {
        guint64 frames = 0;
        if (cam.FilterGraph().sg.InGraph())
            g_object_get(cam.FilterGraph().sg.Element(), "frame-count", &frames, NULL);
        return frames;
    }
};

TEST_F(Mpeg2Rerun, APreviewRunAgainShowsPicturesAgain)
{
    ASSERT_TRUE(preview(Source::Mpeg2));
    ASSERT_TRUE(waitUntil([&] { return pictures() > 0; }));
    for (int run = 0; run < 2; ++run) {
        cam.FilterGraph().StopGraph();
        ASSERT_TRUE(cam.FilterGraph().RunGraph());
        EXPECT_TRUE(waitUntil([&] { return pictures() >= 10; }))
            << "run " << run << ": " << pictures() << " pictures";
    }
}

TEST_F(Mpeg2Rerun, ListeningSwitchedOnWhileThePreviewRunsKeepsThePicture)
{
    ASSERT_TRUE(preview(Source::Mpeg2));
    ASSERT_TRUE(waitUntil([&] { return pictures() > 0; }));
    kadtest::editOptions(cam.Preview(), [&](auto& options) { options.EcouterAudioInclus = true; });
    ASSERT_TRUE(cam.Preview().UpdateIncludedAudio());
    ASSERT_TRUE(cam.FilterGraph().RunGraph());
    EXPECT_TRUE(waitUntil([&] { return pictures() >= 10; }));
}

} // namespace
} // namespace kad::test
