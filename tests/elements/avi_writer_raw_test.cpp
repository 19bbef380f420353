// kadaviwriter with the raw and JPEG video that webcams and capture cards
// deliver: every file is read back by ffmpeg/ffprobe and by GStreamer's
// avidemux, and the pixels of a frame compared with what was sent.

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "elements/dv_avi_writer_helpers.h"
#include "support/scratch_folder.h"

using namespace kadtest;

namespace {

// One frame as a reader would lay it out: the planes one after the other in
// `planeOrder`, rows without padding.
std::vector<guint8> tightFrame(GstBuffer* buffer, const GstVideoInfo& info,
                               const std::vector<guint>& planeOrder)
{
    std::vector<guint8> out;
    GstVideoInfo copy = info;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &copy, buffer, GST_MAP_READ)) return out;
    for (guint p : planeOrder) {
        gint comps[GST_VIDEO_MAX_COMPONENTS];
        gst_video_format_info_component(info.finfo, p, comps);
        const gsize rowBytes = gsize(GST_VIDEO_FRAME_COMP_WIDTH(&frame, comps[0])) *
                               gsize(GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, comps[0]));
        const auto* data = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
        for (int r = 0; r < GST_VIDEO_FRAME_COMP_HEIGHT(&frame, comps[0]); ++r) {
            const guint8* row = data + gsize(r) * gsize(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p));
            out.insert(out.end(), row, row + rowBytes);
        }
    }
    gst_video_frame_unmap(&frame);
    return out;
}

// Bytes that differ between two frames, every `unused`-th byte of four (a
// padding byte, 1-based) left out; 0 for none.
size_t differences(const std::vector<guint8>& a, const std::vector<guint8>& b, int unused = 0)
{
    if (a.size() != b.size()) return std::max(a.size(), b.size());
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i)
        n += a[i] != b[i] && !(unused && int(i % 4) == unused - 1);
    return n;
}

// Keeps a reference to buffer number `index` crossing `pad`, and counts them.
struct Catch {
    int index = 0;
    int seen = 0;
    kad::BufferRef buffer;
    std::vector<std::string> md5s;
    bool md5 = false;
};

void catchBuffers(GstElement* element, const char* padName, Catch* c)
{
    kad::PadRef pad(gst_element_get_static_pad(element, padName));
    gst_pad_add_probe(
        pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            auto* c = static_cast<Catch*>(data);
            GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
            if (c->seen++ == c->index) c->buffer = kad::BufferRef(gst_buffer_ref(b));
            if (c->md5) {
                kad::BufferMap map(b, GST_MAP_READ);
                gchar* sum = g_compute_checksum_for_data(G_CHECKSUM_MD5, map.data(), map.size());
                c->md5s.emplace_back(sum);
                g_free(sum);
            }
            return GST_PAD_PROBE_OK;
        },
        c, nullptr);
}

// avidemux's frames of `file`, converted to `format` when given; the frame
// `index` kept.
Catch avidemuxFrames(const std::string& file, int index, const std::string& format = {})
{
    Catch c;
    c.index = index;
    const std::string convert =
        format.empty() ? "" : "videoconvert ! video/x-raw,format=" + format + " ! ";
    kad::ElementRef p =
        launch("filesrc location=" + file + " ! avidemux ! " + convert + "fakesink name=v");
    if (!p) return c;
    kad::ElementRef sink(gst_bin_get_by_name(GST_BIN(p.get()), "v"));
    catchBuffers(sink.get(), "sink", &c);
    if (!runPipeline(p.get()).eos) c.seen = -1;
    return c;
}

// All frames of `file` decoded by ffmpeg into `pixFmt`, one after the other.
QByteArray ffmpegFrames(const std::string& file, const char* pixFmt)
{
    return runTool("ffmpeg", {"-v", "error", "-i", QString::fromStdString(file), "-map", "0:v:0",
                              "-f", "rawvideo", "-pix_fmt", pixFmt, "-"});
}

using AviWriterRaw = kadtest::ScratchFolder<>;

struct RawCase {
    const char* format;
    const char* pixFmt; // the same pixels as ffmpeg names them
    int width;
    int height;
    std::vector<guint> planeOrder; // GStreamer's planes in ffmpeg's order
    int unused = 0;                // padding byte of four, 1-based
};

} // namespace

// Every raw format a capture source may deliver reads back in both readers
// with the size, the frame count and the very pixels that were sent. The
// packed RGB cases use a width whose rows need padding in a DIB.
TEST_F(AviWriterRaw, EveryRawFormatReadsBackWithItsPixels)
{
    const RawCase cases[] = {
        {"YUY2", "yuyv422", 320, 240, {0}},       {"UYVY", "uyvy422", 320, 240, {0}},
        {"YVYU", "yvyu422", 320, 240, {0}},       {"I420", "yuv420p", 176, 144, {0, 1, 2}},
        {"YV12", "yuv420p", 320, 240, {0, 2, 1}}, {"NV12", "nv12", 320, 240, {0, 1}},
        {"GRAY8", "gray", 320, 240, {0}},         {"BGR", "bgr24", 318, 242, {0}},
        {"RGB", "rgb24", 318, 242, {0}},          {"BGRx", "bgr0", 320, 240, {0}, 4},
        {"BGRA", "bgra", 320, 240, {0}},
    };
    constexpr int kFrames = 12;
    constexpr int kChecked = 7;
    for (const RawCase& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string out = path(std::string(c.format) + ".avi");
        const std::string caps = "video/x-raw,format=" + std::string(c.format) +
                                 ",width=" + std::to_string(c.width) +
                                 ",height=" + std::to_string(c.height) + ",framerate=30/1";
        kad::ElementRef p =
            launch("videotestsrc pattern=snow num-buffers=" + std::to_string(kFrames) + " ! " +
                   caps + " ! w.video kadaviwriter name=w location=" + out);
        ASSERT_TRUE(p);
        kad::ElementRef writer(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
        Catch sent;
        sent.index = kChecked;
        catchBuffers(writer.get(), "video", &sent);
        const RunResult r = runPipeline(p.get());
        ASSERT_TRUE(r.eos) << r.message;
        ASSERT_TRUE(sent.buffer);

        const Probe probe = ffprobe(out);
        ASSERT_TRUE(probe.ok) << probe.error;
        ASSERT_EQ(probe.count("video"), 1);
        const ProbeStream& v = *probe.first("video");
        EXPECT_EQ(std::tie(v.codec, v.width, v.height, v.frames, v.frameRate),
                  std::make_tuple("rawvideo", c.width, c.height, kFrames, "30/1"));
        EXPECT_EQ(readerWarnings(out), "");

        GstVideoInfo info;
        gst_video_info_set_format(&info, gst_video_format_from_string(c.format), guint(c.width),
                                  guint(c.height));
        const std::vector<guint8> expected = tightFrame(sent.buffer.get(), info, c.planeOrder);
        ASSERT_FALSE(expected.empty());
        const QByteArray decoded = ffmpegFrames(out, c.pixFmt);
        ASSERT_EQ(decoded.size(), qsizetype(expected.size() * kFrames));
        const auto* at =
            reinterpret_cast<const guint8*>(decoded.constData()) + expected.size() * kChecked;
        EXPECT_EQ(differences(expected, std::vector<guint8>(at, at + expected.size()), c.unused),
                  0u)
            << "ffmpeg's pixels of frame " << kChecked;

        const Catch demuxed = avidemuxFrames(out, kChecked, c.format);
        EXPECT_EQ(demuxed.seen, kFrames);
        ASSERT_TRUE(demuxed.buffer);
        EXPECT_EQ(
            differences(expected, tightFrame(demuxed.buffer.get(), info, c.planeOrder), c.unused),
            0u)
            << "avidemux's pixels of frame " << kChecked;
    }
}

// JPEG frames (what many webcams send) are written as they came.
TEST_F(AviWriterRaw, JpegFramesAreWrittenUnchanged)
{
    const std::string out = path("mjpg.avi");
    kad::ElementRef p =
        launch("videotestsrc pattern=ball num-buffers=15 ! "
               "video/x-raw,format=I420,width=320,height=240,framerate=15/1 ! jpegenc ! "
               "w.video kadaviwriter name=w location=" +
               out);
    ASSERT_TRUE(p);
    kad::ElementRef writer(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
    Catch sent;
    sent.md5 = true;
    catchBuffers(writer.get(), "video", &sent);
    const RunResult r = runPipeline(p.get());
    ASSERT_TRUE(r.eos) << r.message;
    const Probe probe = ffprobe(out, true);
    ASSERT_TRUE(probe.ok) << probe.error;
    const ProbeStream& v = *probe.first("video");
    EXPECT_EQ(std::tie(v.codec, v.width, v.frames, v.frameRate),
              std::make_tuple("mjpeg", 320, 15, "15/1"));
    EXPECT_EQ(packetMd5s(out), sent.md5s);
    Catch demuxed = avidemuxFrames(out, 0);
    EXPECT_EQ(demuxed.seen, 15);
}

namespace {

// Pushes `frames` I420 frames at 25 frames/s through appsrc with caps that
// give no rate and buffers without a duration, their times off by up to 3 ms
// and one in five missing; 640 pixels wide from frame `changeAt` on.
RunResult pushTimedFrames(const std::string& out, int frames, int changeAt = -1)
{
    kad::ElementRef p = launch("appsrc name=src format=time ! w.video kadaviwriter name=w "
                               "sync-interval=0 location=" +
                               out);
    if (!p) return {};
    kad::ElementRef src(gst_bin_get_by_name(GST_BIN(p.get()), "src"));
    auto setCaps = [&](int width) {
        kad::CapsRef caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420",
                                              "width", G_TYPE_INT, width, "height", G_TYPE_INT, 240,
                                              "framerate", GST_TYPE_FRACTION, 0, 1, nullptr));
        g_object_set(src.get(), "caps", caps.get(), nullptr);
    };
    setCaps(320);
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    for (int i = 0; i < frames; ++i) {
        if (i % 5 == 2 && i + 1 < frames) continue;
        const int width = changeAt >= 0 && i >= changeAt ? 640 : 320;
        if (i == changeAt) setCaps(width);
        GstBuffer* b = gst_buffer_new_allocate(nullptr, gsize(width * 240 * 3 / 2), nullptr);
        gst_buffer_memset(b, 0, guint8(i * 7), gst_buffer_get_size(b));
        const double jitterMs = 3.0 * std::sin(i * 1.7);
        GST_BUFFER_PTS(b) = gst_util_uint64_scale(guint64(i), GST_SECOND, 25) +
                            GstClockTime(5 * GST_MSECOND + jitterMs * GST_MSECOND);
        if (gst_app_src_push_buffer(GST_APP_SRC(src.get()), b) != GST_FLOW_OK) break;
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src.get()));
    return runPipeline(p.get());
}

} // namespace

// A source whose caps say 0/1 and whose frames carry only jittery times is
// written at its nominal rate, with its missing frames' slots kept.
TEST_F(AviWriterRaw, RateFromTimesWhenCapsGiveNone)
{
    const std::string out = path("norate.avi");
    const RunResult r = pushTimedFrames(out, 50);
    ASSERT_TRUE(r.eos) << r.message;
    const Probe probe = ffprobe(out);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.first("video")->frameRate, "25/1");
    EXPECT_EQ(probe.first("video")->frames, 50);
    EXPECT_EQ(avidemuxFrames(out, 0).seen, 50);
}

// A source that changes its picture size mid-capture stops the capture with
// a message; what was written reads whole.
TEST_F(AviWriterRaw, NewPictureSizeStopsWithAMessageAndKeepsTheFile)
{
    const std::string out = path("resized.avi");
    const RunResult r = pushTimedFrames(out, 40, 20);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.domain, GST_CORE_ERROR);
    EXPECT_FALSE(r.message.empty());
    const Probe probe = ffprobe(out);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.first("video")->width, 320);
    EXPECT_GE(probe.first("video")->frames, 12);
    EXPECT_LE(probe.first("video")->frames, 20);
    EXPECT_EQ(avidemuxFrames(out, 0).seen, probe.first("video")->frames);
}
