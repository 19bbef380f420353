#include <gtest/gtest.h>

#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "elements/lumatex3.h"
#include "platform/media/gst_ptr.h"
#include "support/pad_harness.h"

using kad::BufferRef;
using kad::CapsRef;
using kad::ElementRef;
using kad::PadRef;

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 576;
constexpr GstClockTime kFrame = 40 * GST_MSECOND;

std::string capsOf(const GstVideoInfo& info)
{
    CapsRef caps(gst_video_info_to_caps(&info));
    kad::GCharPtr text(gst_caps_to_string(caps.get()));
    return text.get();
}

GstVideoInfo infoOf(GstVideoFormat format, int width, int height)
{
    GstVideoInfo info;
    gst_video_info_set_format(&info, format, width, height);
    return info;
}

// Feeds the overlay's video input and, from a pad of our own, its datecode
// input, all on the test's thread.
class OverlayHarness : public kadtest::PadHarness {
public:
    explicit OverlayHarness(GstVideoFormat format, int width = kWidth, int height = kHeight)
        : PadHarness("kadlumatex3", capsOf(infoOf(format, width, height)).c_str(), true,
                     "video_sink"),
          info_(infoOf(format, width, height))
    {
        datecode_ = PadRef::sink(gst_pad_new("testdatecode", GST_PAD_SRC));
        PadRef datecodeIn(gst_element_get_static_pad(element(), "datecode_sink"));
        linked = ready() && gst_pad_link(datecode_.get(), datecodeIn.get()) == GST_PAD_LINK_OK;
        gst_pad_set_active(datecode_.get(), TRUE);
        gst_pad_push_event(datecode_.get(), gst_event_new_stream_start("overlay-datecode"));
        CapsRef text(gst_caps_from_string("text/x-raw, format=utf8"));
        gst_pad_push_event(datecode_.get(), gst_event_new_caps(text.get()));
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_TIME);
        gst_pad_push_event(datecode_.get(), gst_event_new_segment(&segment));
    }
    ~OverlayHarness() { gst_pad_set_active(datecode_.get(), FALSE); }

    const GstVideoInfo& info() const { return info_; }

    // Sends a copy of frame with the time stamp pts; the output it gave.
    BufferRef push(GstBuffer* frame, GstClockTime pts)
    {
        GstBuffer* copy = gst_buffer_copy_deep(frame);
        GST_BUFFER_PTS(copy) = pts;
        GST_BUFFER_DURATION(copy) = kFrame;
        const std::size_t before = buffers.size();
        if (PadHarness::push(copy) != GST_FLOW_OK || buffers.size() != before + 1) return {};
        return buffers.back();
    }

    void datecode(const std::string& text, GstClockTime pts)
    {
        GstBuffer* b =
            text.empty() ? gst_buffer_new() : gst_buffer_new_memdup(text.data(), text.size());
        GST_BUFFER_PTS(b) = pts;
        GST_BUFFER_DURATION(b) = kFrame;
        EXPECT_EQ(gst_pad_push(datecode_.get(), b), GST_FLOW_OK);
    }

    bool linked = false;

private:
    GstVideoInfo info_;
    PadRef datecode_;
};

// A mid-grey picture with a gentle gradient, in BGRx: no pixel is near
// white, so the text shows wherever it lands.
std::vector<guint8> makePicture(int width, int height)
{
    std::vector<guint8> rgb(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            guint8* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = static_cast<guint8>(60 + (x * 60) / width);
            p[1] = static_cast<guint8>(70 + (y * 60) / height);
            p[2] = static_cast<guint8>(80 + ((x + y) % 40));
            p[3] = 255;
        }
    return rgb;
}

// Converts between pictures with GStreamer's own converter, so that what
// the overlay drew is judged in one pixel layout whatever its format.
BufferRef convert(GstBuffer* in, const GstVideoInfo& from, const GstVideoInfo& to)
{
    BufferRef out(gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&to), nullptr));
    GstVideoFrame src;
    GstVideoFrame dst;
    if (!gst_video_frame_map(&src, &from, in, GST_MAP_READ)) return {};
    if (!gst_video_frame_map(&dst, &to, out.get(), GST_MAP_WRITE)) {
        gst_video_frame_unmap(&src);
        return {};
    }
    GstVideoConverter* converter = gst_video_converter_new(&from, &to, nullptr);
    gst_video_converter_frame(converter, &src, &dst);
    gst_video_converter_free(converter);
    gst_video_frame_unmap(&dst);
    gst_video_frame_unmap(&src);
    return out;
}

// The test picture in the harness's format.
BufferRef makeFrame(const GstVideoInfo& info)
{
    const std::vector<guint8> rgb = makePicture(info.width, info.height);
    BufferRef bgrx(gst_buffer_new_memdup(rgb.data(), rgb.size()));
    return convert(bgrx.get(), infoOf(GST_VIDEO_FORMAT_BGRx, info.width, info.height), info);
}

struct Box {
    int left = INT32_MAX;
    int top = INT32_MAX;
    int right = -1; // exclusive
    int bottom = -1;
    long changed = 0;
    bool empty() const { return changed == 0; }
};

// Where two pictures of the same format differ, seen as BGRx pixels.
Box difference(GstBuffer* a, GstBuffer* b, const GstVideoInfo& info, int threshold = 0)
{
    const GstVideoInfo rgb = infoOf(GST_VIDEO_FORMAT_BGRx, info.width, info.height);
    BufferRef ca = convert(a, info, rgb);
    BufferRef cb = convert(b, info, rgb);
    Box box;
    kad::BufferMap ma(ca.get(), GST_MAP_READ);
    kad::BufferMap mb(cb.get(), GST_MAP_READ);
    if (!ma || !mb) return box;
    for (int y = 0; y < info.height; ++y)
        for (int x = 0; x < info.width; ++x) {
            const std::size_t i = (static_cast<std::size_t>(y) * info.width + x) * 4;
            int d = 0;
            for (int c = 0; c < 3; ++c)
                d = std::max(d, std::abs(int(ma.data()[i + c]) - int(mb.data()[i + c])));
            if (d <= threshold) continue;
            ++box.changed;
            box.left = std::min(box.left, x);
            box.top = std::min(box.top, y);
            box.right = std::max(box.right, x + 1);
            box.bottom = std::max(box.bottom, y + 1);
        }
    return box;
}

bool sameBytes(GstBuffer* a, GstBuffer* b)
{
    kad::BufferMap ma(a, GST_MAP_READ);
    kad::BufferMap mb(b, GST_MAP_READ);
    return ma && mb && ma.size() == mb.size() && std::memcmp(ma.data(), mb.data(), ma.size()) == 0;
}

void textArea(GstElement* e, int* x, int* y, int* w, int* h)
{
    GstStructure* area = nullptr;
    g_object_get(e, "text-area", &area, nullptr);
    *x = *y = *w = *h = -1;
    if (!area) return;
    gst_structure_get_int(area, "x", x);
    gst_structure_get_int(area, "y", y);
    gst_structure_get_int(area, "width", w);
    gst_structure_get_int(area, "height", h);
    gst_structure_free(area);
}

void enableText(GstElement* e, const char* text)
{
    g_signal_emit_by_name(e, "set-text", text);
    g_signal_emit_by_name(e, "set-enabled", 1);
}

} // namespace

// Each raw format the graphs deliver: disabled the frame passes untouched,
// enabled the text lands at the default position (top right) and nowhere
// else.
TEST(Lumatex3, DrawsAtTopRightOnlyInEveryFormat)
{
    for (GstVideoFormat format :
         {GST_VIDEO_FORMAT_I420, GST_VIDEO_FORMAT_YV12, GST_VIDEO_FORMAT_Y41B,
          GST_VIDEO_FORMAT_Y42B, GST_VIDEO_FORMAT_NV12, GST_VIDEO_FORMAT_YUY2,
          GST_VIDEO_FORMAT_UYVY, GST_VIDEO_FORMAT_RGB, GST_VIDEO_FORMAT_BGRx,
          GST_VIDEO_FORMAT_xRGB}) {
        SCOPED_TRACE(gst_video_format_to_string(format));
        OverlayHarness h(format);
        ASSERT_TRUE(h.linked);
        BufferRef frame = makeFrame(h.info());
        ASSERT_TRUE(frame);

        BufferRef plain = h.push(frame.get(), 0);
        ASSERT_TRUE(plain);
        EXPECT_TRUE(sameBytes(plain.get(), frame.get())) << "disabled overlay changed the frame";

        enableText(h.element(), "%N");
        BufferRef drawn = h.push(frame.get(), kFrame);
        ASSERT_TRUE(drawn);
        const Box box = difference(frame.get(), drawn.get(), h.info());
        ASSERT_FALSE(box.empty()) << "nothing drawn";
        // (930, 860): the top edge 860 thousandths of the height above the
        // bottom, the box moved left until it ends at the right edge.
        const int top = kHeight * (1000 - 860) / 1000;
        EXPECT_GE(box.top, top - 2);
        EXPECT_LE(box.top, top + kHeight / 20);
        EXPECT_GE(box.right, kWidth - 24);
        EXPECT_LE(box.bottom, top + kHeight / 8);
        EXPECT_GT(box.right - box.left, kWidth / 4) << "the date is wider than a quarter";
        // The converter that reads the pictures back spreads subsampled
        // chroma over a few neighbours.
        constexpr int kChromaReach = 4;
        int x, y, w, hh;
        textArea(h.element(), &x, &y, &w, &hh);
        EXPECT_GE(box.left, x - kChromaReach);
        EXPECT_GE(box.top, y - kChromaReach);
        EXPECT_LE(box.right, x + w + kChromaReach);
        EXPECT_LE(box.bottom, y + hh + kChromaReach);
        EXPECT_LE(x + w, kWidth);

        g_signal_emit_by_name(h.element(), "set-enabled", 0);
        BufferRef again = h.push(frame.get(), 2 * kFrame);
        ASSERT_TRUE(again);
        EXPECT_TRUE(sameBytes(again.get(), frame.get())) << "disabled again, still drawing";
    }
}

// Flip turns the picture upside down exactly (every plane, row for row);
// with the text on, the text itself stays upright at its place.
TEST(Lumatex3, FlipsExactlyAndDrawsUpright)
{
    for (GstVideoFormat format :
         {GST_VIDEO_FORMAT_I420, GST_VIDEO_FORMAT_YUY2, GST_VIDEO_FORMAT_BGRx}) {
        SCOPED_TRACE(gst_video_format_to_string(format));
        OverlayHarness h(format);
        BufferRef frame = makeFrame(h.info());
        g_signal_emit_by_name(h.element(), "set-flip", TRUE);
        BufferRef flipped = h.push(frame.get(), 0);
        ASSERT_TRUE(flipped);

        GstVideoFrame in;
        GstVideoFrame out;
        GstVideoInfo info = h.info();
        ASSERT_TRUE(gst_video_frame_map(&in, &info, frame.get(), GST_MAP_READ));
        ASSERT_TRUE(gst_video_frame_map(&out, &info, flipped.get(), GST_MAP_READ));
        bool exact = true;
        for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&in) && exact; ++p) {
            const int rows = p == 0 ? kHeight : GST_VIDEO_FRAME_COMP_HEIGHT(&in, p);
            const int bytes =
                GST_VIDEO_FRAME_COMP_WIDTH(&in, p) * GST_VIDEO_FRAME_COMP_PSTRIDE(&in, p);
            const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&in, p);
            const auto* a = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&in, p));
            const auto* b = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&out, p));
            for (int r = 0; r < rows && exact; ++r)
                exact = std::memcmp(a + r * stride, b + (rows - 1 - r) * stride, bytes) == 0;
        }
        gst_video_frame_unmap(&out);
        gst_video_frame_unmap(&in);
        EXPECT_TRUE(exact) << "flip is not an exact upside-down copy";

        // Text and flip: against the flipped picture only the text differs,
        // still at the top right.
        enableText(h.element(), "%N");
        BufferRef both = h.push(frame.get(), kFrame);
        ASSERT_TRUE(both);
        const Box box = difference(flipped.get(), both.get(), h.info());
        ASSERT_FALSE(box.empty());
        EXPECT_LT(box.bottom, kHeight / 4);
        EXPECT_GE(box.right, kWidth - 24);

        g_signal_emit_by_name(h.element(), "set-flip", FALSE);
        g_signal_emit_by_name(h.element(), "set-enabled", 0);
        BufferRef back = h.push(frame.get(), 2 * kFrame);
        EXPECT_TRUE(sameBytes(back.get(), frame.get())) << "flip off did not restore the picture";
    }
}

// "%D" draws the datecode of the frame: the latest one not after the frame,
// never a later one, and nothing for an empty text.
TEST(Lumatex3, DatecodeFollowsTheFrames)
{
    OverlayHarness h(GST_VIDEO_FORMAT_I420);
    BufferRef frame = makeFrame(h.info());
    enableText(h.element(), "%D");

    BufferRef none = h.push(frame.get(), 0);
    EXPECT_TRUE(sameBytes(none.get(), frame.get())) << "drawn before any datecode came";

    h.datecode("", 0);
    BufferRef empty = h.push(frame.get(), 0);
    EXPECT_TRUE(sameBytes(empty.get(), frame.get())) << "an empty datecode drew something";

    // A datecode for a later frame only: this frame has none yet.
    h.datecode("26/10/2005 13:48:05", 10 * kFrame);
    BufferRef early = h.push(frame.get(), kFrame);
    EXPECT_TRUE(sameBytes(early.get(), frame.get())) << "a later frame's datecode was drawn";

    BufferRef onTime = h.push(frame.get(), 10 * kFrame);
    const Box shown = difference(frame.get(), onTime.get(), h.info());
    EXPECT_FALSE(shown.empty()) << "the frame's datecode was not drawn";

    // The next frames keep the last datecode until a new one comes; an
    // empty one ends the inlay.
    BufferRef kept = h.push(frame.get(), 11 * kFrame);
    EXPECT_FALSE(difference(frame.get(), kept.get(), h.info()).empty());
    h.datecode("", 12 * kFrame);
    BufferRef ended = h.push(frame.get(), 12 * kFrame);
    EXPECT_TRUE(sameBytes(ended.get(), frame.get())) << "still drawn after an empty datecode";

    // Bytes that are not UTF-8 draw something all the same, no crash.
    h.datecode(std::string("\xff\xfe 2005", 7), 13 * kFrame);
    BufferRef odd = h.push(frame.get(), 13 * kFrame);
    EXPECT_FALSE(difference(frame.get(), odd.get(), h.info()).empty());
}

// The vertical position counts up from the bottom; positions out of range
// are clamped; the box never leaves the picture, however far right and down
// it is asked to go.
TEST(Lumatex3, PositionClampedBoxInside)
{
    OverlayHarness h(GST_VIDEO_FORMAT_I420);
    BufferRef frame = makeFrame(h.info());
    enableText(h.element(), "%N");

    // y = 0 asks for the top edge on the picture's bottom edge: the box
    // moves up until it ends there.
    g_signal_emit_by_name(h.element(), "set-position", 5000, -40, 0);
    BufferRef bottomRight = h.push(frame.get(), 0);
    Box box = difference(frame.get(), bottomRight.get(), h.info());
    ASSERT_FALSE(box.empty());
    EXPECT_LE(box.bottom, kHeight);
    EXPECT_GE(box.bottom, kHeight - 16) << "not moved up to the bottom edge";
    EXPECT_GE(box.top, kHeight * 3 / 4);
    EXPECT_GE(box.right, kWidth - 24);

    // The highest position: the top edge 7 % of the height below the top.
    kad_lumatex3_set_position(h.element(), 970, 5000, 0);
    BufferRef topRight = h.push(frame.get(), kFrame);
    box = difference(frame.get(), topRight.get(), h.info());
    ASSERT_FALSE(box.empty());
    const int highest = kHeight * (1000 - 930) / 1000;
    EXPECT_GE(box.top, highest - 2);
    EXPECT_LE(box.top, highest + kHeight / 20);
    EXPECT_LT(box.bottom, kHeight / 4);
    EXPECT_GE(box.right, kWidth - 24);

    // A quarter up from the bottom, at the left edge.
    kad_lumatex3_set_position(h.element(), 0, 250, 0);
    BufferRef left = h.push(frame.get(), 2 * kFrame);
    box = difference(frame.get(), left.get(), h.info());
    ASSERT_FALSE(box.empty());
    EXPECT_LT(box.left, 12);
    EXPECT_GE(box.top, kHeight * 3 / 4 - 4);
    EXPECT_LE(box.top, kHeight * 3 / 4 + kHeight / 20);

    // A picture narrower than the text: the text is cut, nothing is written
    // outside the picture.
    OverlayHarness small(GST_VIDEO_FORMAT_I420, 64, 48);
    enableText(small.element(), "%N");
    kad_lumatex3_set_auto_font_size(small.element(), FALSE);
    kad_lumatex3_set_font_size(small.element(), 40);
    BufferRef tiny = makeFrame(small.info());
    BufferRef out = small.push(tiny.get(), 0);
    ASSERT_TRUE(out);
    EXPECT_EQ(gst_buffer_get_size(out.get()), gst_buffer_get_size(tiny.get()));
}

// The font's settings: an unknown face still draws (the default face), the
// colour is 0x00BBGGRR, a bigger size makes a bigger box.
TEST(Lumatex3, FontSettings)
{
    OverlayHarness h(GST_VIDEO_FORMAT_BGRx);
    BufferRef frame = makeFrame(h.info());
    enableText(h.element(), "%N");
    kad_lumatex3_set_font_name(h.element(), "No Such Face At All 4711");
    BufferRef unknown = h.push(frame.get(), 0);
    const Box unknownBox = difference(frame.get(), unknown.get(), h.info());
    EXPECT_FALSE(unknownBox.empty()) << "an unknown face drew nothing";

    // Pure red in 0x00BBGGRR: inside the text, red far above blue.
    kad_lumatex3_set_font_name(h.element(), "DejaVu Sans");
    kad_lumatex3_set_font_color(h.element(), 0x000000FF);
    BufferRef red = h.push(frame.get(), kFrame);
    {
        kad::BufferMap m(red.get(), GST_MAP_READ);
        int reddest = 0;
        for (gsize i = 0; i + 3 < m.size(); i += 4)
            reddest = std::max(reddest, int(m.data()[i + 2]) - int(m.data()[i]));
        EXPECT_GT(reddest, 150) << "0x000000FF is not drawn red";
    }

    kad_lumatex3_set_auto_font_size(h.element(), FALSE);
    kad_lumatex3_set_font_size(h.element(), 10);
    const Box small = difference(frame.get(), h.push(frame.get(), 2 * kFrame).get(), h.info());
    kad_lumatex3_set_font_size(h.element(), 30);
    const Box large = difference(frame.get(), h.push(frame.get(), 3 * kFrame).get(), h.info());
    ASSERT_FALSE(small.empty());
    ASSERT_FALSE(large.empty());
    EXPECT_GT(large.bottom - large.top, (small.bottom - small.top) * 2);

    // Underline and strike-out add lines across the text.
    kad_lumatex3_set_font_underline(h.element(), TRUE);
    kad_lumatex3_set_font_strike_out(h.element(), TRUE);
    const Box lined = difference(frame.get(), h.push(frame.get(), 4 * kFrame).get(), h.info());
    EXPECT_GT(lined.changed, large.changed);
}

// The program drives the overlay through its action signals alone: each
// reaches the setting it names.
TEST(Lumatex3, ActionSignalsAndProperties)
{
    ElementRef e = ElementRef::sink(gst_element_factory_make("kadlumatex3", nullptr));
    ASSERT_TRUE(e);
    const struct {
        const char* signal;
        const char* property;
        gint sent, kept;
    } numbers[] = {
        {"set-enabled", "enabled", 0x101, 1}, // only the low byte counts
        {"set-auto-font-size", "auto-font-size", FALSE, FALSE},
        {"set-font-size", "font-size", 36, 36},
        {"set-font-color", "font-color", 0x00123456, 0x00123456},
        {"set-font-bold", "font-bold", FALSE, FALSE},
        {"set-font-italic", "font-italic", TRUE, TRUE},
        {"set-font-underline", "font-underline", TRUE, TRUE},
        {"set-font-strike-out", "font-strike-out", TRUE, TRUE},
        {"set-flip", "flip", TRUE, TRUE},
    };
    for (const auto& n : numbers) {
        g_signal_emit_by_name(e.get(), n.signal, n.sent);
        gint kept = -1;
        g_object_get(e.get(), n.property, &kept, nullptr);
        EXPECT_EQ(kept, n.kept) << n.signal;
    }
    g_signal_emit_by_name(e.get(), "set-text", "%D");
    g_signal_emit_by_name(e.get(), "set-font-name", "Liberation Serif");
    g_signal_emit_by_name(e.get(), "set-position", 100, 200, 0);
    g_signal_emit_by_name(e.get(), "set-date-format", "");
    gchar* version = nullptr;
    g_signal_emit_by_name(e.get(), "get-version", &version);
    const kad::GCharPtr ownedVersion(version);
    ASSERT_NE(version, nullptr);
    EXPECT_NE(std::string(version).find("Lumatex3"), std::string::npos);

    gchar *text = nullptr, *face = nullptr, *pattern = nullptr;
    gint x = 0, y = 0;
    g_object_get(e.get(), "text", &text, "font-name", &face, "position-x", &x, "position-y", &y,
                 "date-format", &pattern, nullptr);
    const kad::GCharPtr t(text), f(face), d(pattern);
    EXPECT_STREQ(text, "%D");
    EXPECT_STREQ(face, "Liberation Serif");
    EXPECT_EQ(std::tie(x, y), std::make_tuple(100, 200));
    EXPECT_STRNE(pattern, "") << "an empty date format must fall back to the default";
}
