// A DV file played as a camcorder tape, through the path the window takes:
// listed, connected as a DV tape player with its transport, previewed.

#include "elements/display_sink.h"
#include "elements/sample_grabber.h"
#include "graph_fixture.h"
#include "support/fake_dialogs.h"
#include "support/probe.h"
#include "support/readers.h"
#include "system/devices/video_sources.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <set>
#include <vector>

namespace kad {
namespace {

using test::makeDisplay;
using test::waitUntil;

class DvFilePreview : public test::ListedDevicesTest {
protected:
    static void SetUpTestSuite()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        const QString raw = dir_->path() + "/holiday.dv";
        const QString avi = dir_->path() + "/holiday.avi";
        // DV made by ffmpeg, and its type-2 AVI.
        kadtest::ffmpegDv(raw, "1");
        kadtest::runTool("ffmpeg",
                         {"-v", "error", "-y", "-i", raw, "-c", "copy", "-f", "avi", avi});
        qputenv("KADRILLO_VIRTUAL_DEVICES", ("dvfile:" + raw + ",dvfile:" + avi).toUtf8());
        qputenv("KADRILLO_VIRTUAL_LIVE", "0");
    }
    static void TearDownTestSuite()
    {
        qunsetenv("KADRILLO_VIRTUAL_DEVICES");
        qunsetenv("KADRILLO_VIRTUAL_LIVE");
        dir_.reset();
    }

    // Distinct colours in the latest grabbed frame (24-bit RGB).
    std::size_t coloursGrabbed()
    {
        KadGrabbedFrameInfo info{};
        if (!kad_sample_grabber_peek(cam.FilterGraph().sg.Element(), &info) || info.size == 0)
            return 0;
        std::vector<guint8> pixels(info.size + 4 * static_cast<gsize>(info.stride));
        if (!kad_sample_grabber_copy_frame(cam.FilterGraph().sg.Element(), pixels.data(),
                                           pixels.size(), &info))
            return 0;
        std::set<guint32> colours;
        for (int y = 0; y < info.height; y += 8)
            for (int x = 0; x < info.width; x += 8) {
                const guint8* p = pixels.data() + y * info.stride + 3 * x;
                // Coarse, so the codec's noise does not count as colours.
                colours.insert((p[0] >> 5) << 16 | (p[1] >> 5) << 8 | (p[2] >> 5));
            }
        return colours.size();
    }

    static inline std::unique_ptr<QTemporaryDir> dir_;
};

TEST_F(DvFilePreview, RawAndAviFilesPreviewAsDvTapes)
{
    ASSERT_EQ(sources.Count(), 2);
    for (int i = 0; i < sources.Count(); ++i) {
        const TvideoSource* source = sources.At(i);
        SCOPED_TRACE(source->FriendlyName.toStdString());
        EXPECT_TRUE(source->FriendlyName.startsWith("DV file holiday."));
        ASSERT_TRUE(cam.Source().ConnectSource(*source));
        EXPECT_EQ(cam.Source().Kind(), SourceKind::skDV);
        EXPECT_TRUE(cam.Source().Facts().IsVCR);
        EXPECT_FALSE(cam.Source().Facts().IsCamera);
        EXPECT_TRUE(cam.Source().Facts().HasExtTransport);
        EXPECT_TRUE(cam.Source().Facts().HasTimecodeReader);
        ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
        shown = 0;
        ASSERT_TRUE(cam.FilterGraph().RunGraph());
        KadGrabbedFrameInfo info{};
        EXPECT_TRUE(waitUntil([&] {
            return shown > 2 && kad_sample_grabber_peek(cam.FilterGraph().sg.Element(), &info) &&
                   info.width == 720 && info.height == 576;
        }));
        // The test picture's bars and patterns, not a blank screen.
        EXPECT_GT(coloursGrabbed(), 8u);
        EXPECT_TRUE(waitUntil([&] { return cam.Preview().Format().FrameDuration == 400000; }));
        cam.FilterGraph().StopGraph();
    }
}

} // namespace
} // namespace kad
