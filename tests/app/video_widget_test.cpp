#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <gst/gst.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "elements/display_sink.h"
#include "platform/media/gst_ptr.h"
#include "support/pipeline.h"
#include "support/wait.h"
#include "ui/video_widget.h"

namespace kad::test {
namespace {

QImage filled(int w, int h, QColor c)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(c);
    return image;
}

TEST(VideoWidget, PaintsAFrameHandedFromAnotherThread)
{
    TVideoWidget w;
    w.resize(384, 288);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QSignalSpy painted(&w, &TVideoWidget::framePainted);

    std::thread producer([&w] {
        for (int i = 0; i < 20; ++i)
            w.PushFrame(filled(720, 576, i == 19 ? Qt::green : Qt::blue), 16.0 / 15.0);
    });
    {
        kadtest::StuckGuard guard("handing frames to the widget", 10000);
        producer.join();
    }
    EXPECT_EQ(w.FramesReceived(), 20u);
    // The streaming side never waits: the frames collapse into few repaints.
    ASSERT_TRUE(painted.wait(5000) || painted.count() > 0);
    QCoreApplication::processEvents();
    EXPECT_LE(w.FramesPainted(), 20u);

    const QImage shot = w.grab().toImage();
    EXPECT_EQ(shot.pixelColor(192, 144), QColor(Qt::green));
    EXPECT_EQ(w.CurrentFrame().size(), QSize(720, 576));
}

TEST(VideoWidget, KeepsTheSourceAspectOrStretchesTo4By3)
{
    TVideoWidget w;
    w.resize(384, 288);
    // PAL DV: 720 x 576 with 16:15 pixels is a 4:3 picture, filling the window.
    w.PushFrame(filled(720, 576, Qt::red), 16.0 / 15.0);
    EXPECT_EQ(w.PictureRect(), QRect(0, 0, 384, 288));
    // A 16:9 source keeps its shape, centred between black bars...
    w.PushFrame(filled(640, 360, Qt::red), 1.0);
    EXPECT_EQ(w.PictureRect(), QRect(0, 36, 384, 216));
    const QImage shot = w.grab().toImage();
    EXPECT_EQ(shot.pixelColor(192, 10), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(192, 144), QColor(Qt::red));
    // ...or is stretched to the 4:3 window.
    w.SetKeepAspect(false);
    EXPECT_EQ(w.PictureRect(), QRect(0, 0, 384, 288));
    // Full screen is wider than 4:3: the stretched picture stays 4:3.
    w.resize(1024, 576);
    EXPECT_EQ(w.PictureRect(), QRect(128, 0, 768, 576));

    w.ClearFrame();
    EXPECT_TRUE(w.CurrentFrame().isNull());
    EXPECT_EQ(w.grab().toImage().pixelColor(500, 300), QColor(Qt::black));
}

TEST(VideoWidget, ClicksBecomeSignals)
{
    TVideoWidget w;
    w.resize(100, 80);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QSignalSpy left(&w, &TVideoWidget::leftClicked);
    QSignalSpy right(&w, &TVideoWidget::rightClicked);
    QTest::mouseClick(&w, Qt::LeftButton);
    QTest::mouseClick(&w, Qt::RightButton);
    EXPECT_EQ(left.count(), 1);
    EXPECT_EQ(right.count(), 1);
}

TEST(VideoWidget, ShowsTheFramesOfTheDisplaySink)
{
    ElementRef pipeline = kadtest::launch("videotestsrc num-buffers=30 pattern=green ! "
                                          "video/x-raw,width=320,height=240 ! videoconvert ! "
                                          "kaddisplaysink name=display sync=false");
    ASSERT_TRUE(pipeline);
    ElementRef display = kadtest::byName(pipeline.get(), "display");
    ASSERT_TRUE(display);

    TVideoWidget w;
    w.resize(320, 240);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.AttachDisplaySink(display.get());
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.FramesPainted() > 0; }, 10000));
    EXPECT_GT(w.FramesReceived(), 0u);
    const QImage frame = w.CurrentFrame();
    ASSERT_EQ(frame.size(), QSize(320, 240));
    EXPECT_EQ(frame.pixelColor(160, 120), QColor(0, 255, 0));
    w.AttachDisplaySink(nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

// The first picture of a display sink goes to the widget, with a copy of
// its pixels as the sink handed them over; the later ones are only looked
// at, while the widget keeps showing the first.
struct FirstToWidget {
    TVideoWidget* widget = nullptr;
    std::mutex lock;
    QImage handedOver;      // the first picture's pixels, copied during the call
    int laterDiffering = 0; // pictures after it that differ from it
    std::atomic<bool> firstFreed{false};
};

void firstToWidget(const KadDisplayFrame* frame, gpointer data)
{
    auto* seen = static_cast<FirstToWidget*>(data);
    const QImage view(frame->data, frame->width, frame->height, frame->stride,
                      QImage::Format_RGBX8888);
    std::lock_guard hold(seen->lock);
    if (seen->handedOver.isNull()) {
        seen->handedOver = view.copy();
        // Freed only once nobody holds it: not while the widget shows it.
        gst_mini_object_weak_ref(
            GST_MINI_OBJECT_CAST(frame->buffer),
            [](gpointer d, GstMiniObject*) { static_cast<FirstToWidget*>(d)->firstFreed = true; },
            seen);
        seen->widget->PushDisplayFrame(*frame);
        return;
    }
    // (The first frame may come twice: shown before the stream runs, then
    // in its turn.)
    if (view != seen->handedOver) ++seen->laterDiffering;
}

TEST(VideoWidget, KeepsTheSinksPictureIntactWhileTheSinkGoesOn)
{
    FirstToWidget seen; // outlives the widget, which may be the last to hold a picture
    // Snow: every frame differs everywhere, so a picture the sink drew over
    // would show.
    ElementRef pipeline =
        kadtest::launch("videotestsrc is-live=true pattern=snow ! "
                        "video/x-raw,format=I420,width=384,height=288,"
                        "framerate=100/1 ! kaddisplaysink name=display sync=false");
    ASSERT_TRUE(pipeline);
    ElementRef display = kadtest::byName(pipeline.get(), "display");
    ASSERT_TRUE(display);
    kad_display_sink_set_display_size(display.get(), 192, 144);

    TVideoWidget w;
    w.resize(192, 144);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    seen.widget = &w;
    kad_display_sink_set_callback(display.get(), firstToWidget, &seen, nullptr);
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    // Enough later pictures for the sink to have gone round its buffers.
    const bool wentOn = kadtest::waitUntil(
        [&] {
            std::lock_guard hold(seen.lock);
            return seen.laterDiffering >= 12;
        },
        10000);
    kad_display_sink_set_callback(display.get(), nullptr, nullptr, nullptr);
    ASSERT_TRUE(wentOn);
    EXPECT_EQ(w.FramesReceived(), 1u);
    ASSERT_EQ(w.CurrentFrame().size(), QSize(192, 144));
    EXPECT_TRUE(w.CurrentFrame() == seen.handedOver);
    // Painted as it is, at its own size.
    EXPECT_TRUE(w.grab().toImage().convertToFormat(QImage::Format_RGB32) ==
                seen.handedOver.convertToFormat(QImage::Format_RGB32));

    // The sink and its pictures gone, the widget still has its own.
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    display.reset();
    pipeline.reset();
    EXPECT_FALSE(seen.firstFreed.load());
    EXPECT_TRUE(w.CurrentFrame() == seen.handedOver);
    // Cleared, it lets the picture go.
    w.ClearFrame();
    kadtest::pump(50);
    EXPECT_TRUE(seen.firstFreed.load());
}

} // namespace
} // namespace kad::test
