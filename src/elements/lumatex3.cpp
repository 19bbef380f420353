// kadlumatex3: the date and time drawn into the picture.
//
//   gst-launch-1.0 videotestsrc ! kadlumatex3 enabled=1 text=%N ! autovideosink
//
// The text is laid out by Pango and rasterised by Cairo only when it changes
// (once a second for the clock); each frame then only blends the cached
// raster into the picture, in the picture's own format: no conversion to
// and from RGB, and nothing at all while the element is neither enabled nor
// flipping.
//
// "%N" stands for the computer's date and time when the frame was captured:
// the frame's running time plus the pipeline's base time is the moment on
// the pipeline clock the frame belongs to; its distance from the clock's
// present is taken off the wall clock's present. A frame that waited in a
// queue therefore shows when it was captured, not when it was drawn. Without
// a clock (a pipeline not yet running, a test harness) the wall clock's
// present is used.
//
// "%D" stands for the text the datecode pad carries for the frame: the
// latest datecode buffer whose running time is not after the frame's. The
// video never waits for the datecode: a frame whose datecode has not come
// yet shows the one before.

#include "elements/lumatex3.h"

#include "elements/date_pattern.h"
#include "platform/media/gst_ptr.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

GST_DEBUG_CATEGORY_STATIC(lumatex3_debug);
#define GST_CAT_DEFAULT lumatex3_debug

namespace {

constexpr const char* kDefaultText = "%N";
constexpr gint kDefaultFontSize = 21;
constexpr const char* kDefaultFontName = "Arial";
constexpr guint32 kDefaultColor = 0x00FFFFFF;
constexpr gint kDefaultX = 930;
constexpr gint kDefaultY = 860;
constexpr gint kMaxX = 970;
constexpr gint kMaxY = 930;
constexpr gint kMinFontSize = 1;
constexpr gint kMaxFontSize = 500;
constexpr const char* kVersion = "Tavrel Lumatex3 3.3c";
// Datecode texts kept for frames still on their way; the datecode branch
// runs at most a few frames ahead of the picture.
constexpr std::size_t kMaxDatecodes = 64;
// The automatic size: 21 points on a 576-line picture, in proportion on
// others.
constexpr double kAutoPixelsPerLine = 21.0 * 96.0 / 72.0 / 576.0;
// A thin dark outline keeps light text readable on a light picture.
constexpr double kOutline = 2.0;

// What the application sets, under the object lock.
struct Settings {
    std::string text = kDefaultText;
    std::string fontName = kDefaultFontName;
    std::string dateFormat{kad::kDefaultDatePattern};
    bool enabled = false;
    bool autoFontSize = true;
    bool bold = true;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    bool flip = false;
    gint fontSize = kDefaultFontSize;
    guint32 color = kDefaultColor;
    gint x = kDefaultX;
    gint y = kDefaultY;
};

struct Datecode {
    GstClockTime runningTime;
    std::string text;
};

// One colour component of the cached raster at that component's own
// resolution: for each sample the mean coverage and the mean premultiplied
// value (coverage x value, 0..65025).
struct ComponentRaster {
    int width = 0;
    int height = 0;
    std::vector<guint8> alpha;
    std::vector<guint16> premultiplied;
};

struct CairoSurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct FontDescriptionDeleter {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;
using CairoPtr = std::unique_ptr<cairo_t, CairoDeleter>;
using FontDescriptionPtr = std::unique_ptr<PangoFontDescription, FontDescriptionDeleter>;

// The raster of the text last drawn, kept while neither the text nor its
// look nor the picture's format change.
struct Raster {
    std::string key;
    int width = 0; // pixels, a multiple of the format's widest subsampling
    int height = 0;
    ComponentRaster components[3];
};

// Streaming state of the video pad (under its stream lock), the settings
// and the datecodes (under the object lock).
struct State {
    Settings settings;
    std::deque<Datecode> datecodes;
    GstSegment datecodeSegment{};
    GstStructure* textArea = nullptr; // the box of the text last drawn

    GstVideoInfo info{};
    bool haveInfo = false;
    GstSegment videoSegment{};
    kad::GRef<PangoFontMap> fontMap;
    kad::GRef<PangoContext> context;
    Raster raster;
    int drawnArea[4] = {-1, -1, -1, -1};
    // The clock's text of the last second, kept while the pattern shows no
    // milliseconds: the local time of one second is worked out once.
    gint64 clockSecond = G_MININT64;
    std::string clockPattern;
    std::string clockValue;
};

} // namespace

// Locking: State::settings, State::datecodes, State::datecodeSegment and
// State::textArea are under the object lock; the datecode pad's streaming
// thread writes the datecodes, the video pad's streaming thread reads them.
// Everything else in State belongs to the video pad's streaming thread (its
// stream lock), and to state changes while no data flows.
struct _KadLumatex3 {
    GstElement parent;

    GstPad* videoSink;
    GstPad* datecodeSink;
    GstPad* src;
    State state;
};

G_DEFINE_TYPE(KadLumatex3, kad_lumatex3, GST_TYPE_ELEMENT)

namespace {

enum {
    PROP_0,
    PROP_TEXT,
    PROP_ENABLED,
    PROP_AUTO_FONT_SIZE,
    PROP_FONT_SIZE,
    PROP_FONT_NAME,
    PROP_FONT_COLOR,
    PROP_FONT_BOLD,
    PROP_FONT_ITALIC,
    PROP_FONT_UNDERLINE,
    PROP_FONT_STRIKE_OUT,
    PROP_FLIP,
    PROP_POSITION_X,
    PROP_POSITION_Y,
    PROP_DATE_FORMAT,
    PROP_VERSION,
    PROP_TEXT_AREA,
};

enum {
    SIGNAL_SET_TEXT,
    SIGNAL_SET_ENABLED,
    SIGNAL_SET_AUTO_FONT_SIZE,
    SIGNAL_SET_FONT_SIZE,
    SIGNAL_SET_FONT_NAME,
    SIGNAL_SET_FONT_COLOR,
    SIGNAL_SET_FONT_BOLD,
    SIGNAL_SET_FONT_ITALIC,
    SIGNAL_SET_FONT_UNDERLINE,
    SIGNAL_SET_FONT_STRIKE_OUT,
    SIGNAL_GET_VERSION,
    SIGNAL_SET_FLIP,
    SIGNAL_SET_POSITION,
    SIGNAL_SET_DATE_FORMAT,
    LAST_SIGNAL
};
guint signals[LAST_SIGNAL];

// Eight bits a component: every planar, semi-planar and packed layout the
// decoders, deinterlacer and capture devices deliver.
#define KAD_LUMATEX3_FORMATS                                                                       \
    "{ I420, YV12, Y41B, Y42B, Y444, NV12, NV21, YUY2, UYVY, YVYU, RGB, BGR, RGBx, BGRx, xRGB, "   \
    "xBGR, RGBA, BGRA, ARGB, ABGR, GRAY8 }"

GstStaticPadTemplate videoSinkTemplate =
    GST_STATIC_PAD_TEMPLATE("video_sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE(KAD_LUMATEX3_FORMATS)));
GstStaticPadTemplate datecodeSinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "datecode_sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("text/x-raw, format=utf8"));
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE(KAD_LUMATEX3_FORMATS)));

KadLumatex3* self(GstElement* overlay)
{
    return KAD_LUMATEX3(overlay);
}

// Changes the settings under the object lock.
template <typename F> void edit(GstElement* overlay, F&& change)
{
    KadLumatex3* s = self(overlay);
    GST_OBJECT_LOCK(s);
    change(s->state.settings);
    GST_OBJECT_UNLOCK(s);
}

Settings snapshot(KadLumatex3* s)
{
    GST_OBJECT_LOCK(s);
    Settings copy = s->state.settings;
    GST_OBJECT_UNLOCK(s);
    return copy;
}

// ---- The text of a frame ---------------------------------------------------------

GstClockTime runningTimeOf(const GstSegment& segment, GstClockTime pts)
{
    if (!GST_CLOCK_TIME_IS_VALID(pts) || segment.format != GST_FORMAT_TIME)
        return GST_CLOCK_TIME_NONE;
    return gst_segment_to_running_time(&segment, GST_FORMAT_TIME, pts);
}

// Wall-clock microseconds since 1970 at which the frame was captured.
gint64 captureWallTime(KadLumatex3* s, GstClockTime runningTime)
{
    const gint64 now = g_get_real_time();
    if (!GST_CLOCK_TIME_IS_VALID(runningTime)) return now;
    kad::GRef<GstClock> clock(gst_element_get_clock(GST_ELEMENT(s)));
    if (!clock) return now;
    const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(s));
    const GstClockTime clockNow = gst_clock_get_time(clock.get());
    const GstClockTimeDiff age = GST_CLOCK_DIFF(base + runningTime, clockNow);
    return now - age / static_cast<GstClockTimeDiff>(GST_USECOND);
}

std::string clockText(KadLumatex3* s, GstClockTime runningTime, const std::string& pattern)
{
    const gint64 wall = captureWallTime(s, runningTime);
    const gint64 seconds = wall >= 0 ? wall / G_USEC_PER_SEC : (wall + 1) / G_USEC_PER_SEC - 1;
    State& st = s->state;
    const bool wholeSeconds = pattern.find_first_of("zZ") == std::string::npos;
    if (wholeSeconds && seconds == st.clockSecond && pattern == st.clockPattern)
        return st.clockValue;
    GDateTime* local = g_date_time_new_from_unix_local(seconds);
    if (!local) return {};
    kad::DateTimeValue when;
    when.year = g_date_time_get_year(local);
    when.month = g_date_time_get_month(local);
    when.day = g_date_time_get_day_of_month(local);
    when.hour = g_date_time_get_hour(local);
    when.minute = g_date_time_get_minute(local);
    when.second = g_date_time_get_second(local);
    when.millisecond = static_cast<int>((wall - seconds * G_USEC_PER_SEC) / 1000);
    g_date_time_unref(local);
    std::string text = kad::formatDatePattern(pattern, when);
    st.clockSecond = wholeSeconds ? seconds : G_MININT64;
    st.clockPattern = pattern;
    st.clockValue = text;
    return text;
}

// The datecode of the frame at runningTime; older datecodes are let go.
std::string datecodeText(KadLumatex3* s, GstClockTime runningTime)
{
    std::string text;
    GST_OBJECT_LOCK(s);
    std::deque<Datecode>& codes = s->state.datecodes;
    if (!GST_CLOCK_TIME_IS_VALID(runningTime)) {
        if (!codes.empty()) text = codes.back().text;
    } else {
        while (codes.size() > 1 && GST_CLOCK_TIME_IS_VALID(codes[1].runningTime) &&
               codes[1].runningTime <= runningTime)
            codes.pop_front();
        if (!codes.empty() && (!GST_CLOCK_TIME_IS_VALID(codes.front().runningTime) ||
                               codes.front().runningTime <= runningTime))
            text = codes.front().text;
    }
    GST_OBJECT_UNLOCK(s);
    return text;
}

std::string replaceAll(std::string text, const std::string& what, const std::string& with)
{
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// The text to draw into the frame at runningTime: "%N" becomes the clock,
// "%D" the datecode, anything else is drawn as it stands.
std::string frameText(KadLumatex3* s, const Settings& settings, GstClockTime runningTime)
{
    std::string text = settings.text;
    if (text.find("%N") != std::string::npos)
        text = replaceAll(text, "%N", clockText(s, runningTime, settings.dateFormat));
    if (text.find("%D") != std::string::npos)
        text = replaceAll(text, "%D", datecodeText(s, runningTime));
    return text;
}

// ---- Rasterising -----------------------------------------------------------------

double pixelSize(const Settings& settings, int pictureHeight)
{
    if (settings.autoFontSize) return std::max(4.0, pictureHeight * kAutoPixelsPerLine);
    return settings.fontSize * 96.0 / 72.0;
}

std::string rasterKey(const Settings& settings, const std::string& text, const GstVideoInfo& info)
{
    return text + '\n' + settings.fontName + '\n' +
           std::to_string(pixelSize(settings, info.height)) + '\n' +
           std::to_string(settings.color) + '\n' + char('0' + settings.bold) +
           char('0' + settings.italic) + char('0' + settings.underline) +
           char('0' + settings.strikeOut) + '\n' + gst_video_format_to_string(info.finfo->format) +
           '\n' + std::to_string(static_cast<int>(info.colorimetry.matrix)) + '\n' +
           std::to_string(static_cast<int>(info.colorimetry.range));
}

int roundUp(int v, int multiple)
{
    return (v + multiple - 1) / multiple * multiple;
}

// The widest horizontal and vertical subsampling of the format, as a
// multiple of pixels, so that the box starts and ends on whole samples.
int horizontalGrain(const GstVideoFormatInfo* finfo)
{
    int grain = 1;
    for (guint c = 0; c < GST_VIDEO_FORMAT_INFO_N_COMPONENTS(finfo); ++c)
        grain = std::max(grain, 1 << GST_VIDEO_FORMAT_INFO_W_SUB(finfo, c));
    return grain;
}

int verticalGrain(const GstVideoFormatInfo* finfo)
{
    int grain = 1;
    for (guint c = 0; c < GST_VIDEO_FORMAT_INFO_N_COMPONENTS(finfo); ++c)
        grain = std::max(grain, 1 << GST_VIDEO_FORMAT_INFO_H_SUB(finfo, c));
    return grain;
}

// The colour components (0..2) of an sRGB colour in the picture's format,
// video or full range by its colorimetry.
void componentsOf(const GstVideoInfo& info, double r, double g, double b, double out[3])
{
    if (GST_VIDEO_INFO_IS_RGB(&info)) {
        out[0] = r * 255.0;
        out[1] = g * 255.0;
        out[2] = b * 255.0;
        return;
    }
    gdouble kr = 0.299;
    gdouble kb = 0.114;
    gst_video_color_matrix_get_Kr_Kb(info.colorimetry.matrix, &kr, &kb);
    const double y = kr * r + (1.0 - kr - kb) * g + kb * b;
    const double u = (b - y) / (2.0 * (1.0 - kb));
    const double v = (r - y) / (2.0 * (1.0 - kr));
    if (info.colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255) {
        out[0] = y * 255.0;
        out[1] = 128.0 + u * 255.0;
        out[2] = 128.0 + v * 255.0;
    } else {
        out[0] = 16.0 + y * 219.0;
        out[1] = 128.0 + u * 224.0;
        out[2] = 128.0 + v * 224.0;
    }
}

// Lays the text out and rasterises it (outline, then the text in its
// colour) into a premultiplied ARGB surface of the text's size.
SurfacePtr renderText(State& st, const Settings& settings, const std::string& text,
                      const GstVideoInfo& info)
{
    if (!st.fontMap) st.fontMap.reset(pango_cairo_font_map_new());
    if (!st.context) st.context.reset(pango_font_map_create_context(st.fontMap.get()));
    kad::GRef<PangoLayout> layout(pango_layout_new(st.context.get()));

    FontDescriptionPtr font(pango_font_description_new());
    pango_font_description_set_family(
        font.get(), settings.fontName.empty() ? kDefaultFontName : settings.fontName.c_str());
    pango_font_description_set_absolute_size(font.get(),
                                             pixelSize(settings, info.height) * PANGO_SCALE);
    pango_font_description_set_weight(font.get(),
                                      settings.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(font.get(),
                                     settings.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_layout_set_font_description(layout.get(), font.get());

    PangoAttrList* attrs = pango_attr_list_new();
    if (settings.underline)
        pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (settings.strikeOut) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
    pango_layout_set_attributes(layout.get(), attrs);
    pango_attr_list_unref(attrs);
    pango_layout_set_text(layout.get(), text.c_str(), -1);

    PangoRectangle ink;
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout.get(), &ink, &logical);
    const int margin = static_cast<int>(std::ceil(kOutline));
    const int left = std::min(ink.x, logical.x) - margin;
    const int top = std::min(ink.y, logical.y) - margin;
    const int right = std::max(ink.x + ink.width, logical.x + logical.width) + margin;
    const int bottom = std::max(ink.y + ink.height, logical.y + logical.height) + margin;
    const int width = roundUp(std::max(1, right - left), horizontalGrain(info.finfo));
    const int height = roundUp(std::max(1, bottom - top), verticalGrain(info.finfo));

    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return {};
    CairoPtr cr(cairo_create(surface.get()));
    cairo_translate(cr.get(), -left, -top);
    pango_cairo_update_layout(cr.get(), layout.get());
    pango_cairo_layout_path(cr.get(), layout.get());
    cairo_set_source_rgb(cr.get(), 0, 0, 0);
    cairo_set_line_width(cr.get(), 2.0 * kOutline);
    cairo_set_line_join(cr.get(), CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr.get());
    const double r = (settings.color & 0xFF) / 255.0;
    const double g = ((settings.color >> 8) & 0xFF) / 255.0;
    const double b = ((settings.color >> 16) & 0xFF) / 255.0;
    cairo_set_source_rgb(cr.get(), r, g, b);
    cairo_move_to(cr.get(), 0, 0);
    pango_cairo_show_layout(cr.get(), layout.get());
    cairo_surface_flush(surface.get());
    return surface;
}

// Turns the ARGB surface into one raster per colour component of the
// picture's format, each at that component's resolution.
void buildRaster(Raster& raster, cairo_surface_t* surface, const GstVideoInfo& info)
{
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const guint8* pixels = cairo_image_surface_get_data(surface);
    raster.width = width;
    raster.height = height;

    // Per pixel: coverage and the unpremultiplied colour's components.
    std::vector<guint8> alpha(static_cast<std::size_t>(width) * height);
    std::vector<float> values(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const guint32*>(pixels + y * stride);
        for (int x = 0; x < width; ++x) {
            const guint32 p = row[x];
            const int a = static_cast<int>(p >> 24);
            const std::size_t i = static_cast<std::size_t>(y) * width + x;
            alpha[i] = static_cast<guint8>(a);
            if (a == 0) continue;
            double c[3];
            componentsOf(info, ((p >> 16) & 0xFF) / double(a), ((p >> 8) & 0xFF) / double(a),
                         (p & 0xFF) / double(a), c);
            for (int k = 0; k < 3; ++k)
                values[i * 3 + k] = static_cast<float>(std::clamp(c[k], 0.0, 255.0));
        }
    }

    const guint nComponents = GST_VIDEO_INFO_IS_GRAY(&info) ? 1 : 3;
    for (guint c = 0; c < 3; ++c) {
        ComponentRaster& out = raster.components[c];
        out = {};
        if (c >= nComponents) continue;
        const int ws = GST_VIDEO_FORMAT_INFO_W_SUB(info.finfo, c);
        const int hs = GST_VIDEO_FORMAT_INFO_H_SUB(info.finfo, c);
        out.width = width >> ws;
        out.height = height >> hs;
        out.alpha.assign(static_cast<std::size_t>(out.width) * out.height, 0);
        out.premultiplied.assign(out.alpha.size(), 0);
        const int n = (1 << ws) * (1 << hs);
        for (int sy = 0; sy < out.height; ++sy) {
            for (int sx = 0; sx < out.width; ++sx) {
                double sumAlpha = 0;
                double sumPremultiplied = 0;
                for (int dy = 0; dy < (1 << hs); ++dy) {
                    for (int dx = 0; dx < (1 << ws); ++dx) {
                        const std::size_t i =
                            static_cast<std::size_t>((sy << hs) + dy) * width + (sx << ws) + dx;
                        sumAlpha += alpha[i];
                        sumPremultiplied += alpha[i] * double(values[i * 3 + c]);
                    }
                }
                const std::size_t o = static_cast<std::size_t>(sy) * out.width + sx;
                out.alpha[o] = static_cast<guint8>(std::lround(sumAlpha / n));
                out.premultiplied[o] = static_cast<guint16>(std::lround(sumPremultiplied / n));
            }
        }
    }
}

// Where the box goes, on whole chroma samples: its left edge at x thousandths
// of the width from the left, its top edge at y thousandths of the height
// from the bottom (so that a larger y is higher up, as the window's vertical
// slider shows it), then moved left or up as far as needed to stay inside.
void placeBox(const Settings& settings, const GstVideoInfo& info, int boxWidth, int boxHeight,
              int* x, int* y)
{
    const int hg = horizontalGrain(info.finfo);
    const int vg = verticalGrain(info.finfo);
    int px = static_cast<int>(gint64(info.width) * settings.x / 1000);
    int py = static_cast<int>(gint64(info.height) * (1000 - settings.y) / 1000);
    px = std::max(0, std::min(px, info.width - boxWidth));
    py = std::max(0, std::min(py, info.height - boxHeight));
    *x = px / hg * hg;
    *y = py / vg * vg;
}

void blend(GstVideoFrame* frame, const Raster& raster, int boxX, int boxY)
{
    const GstVideoFormatInfo* finfo = frame->info.finfo;
    for (int c = 0; c < 3; ++c) {
        const ComponentRaster& comp = raster.components[c];
        if (comp.alpha.empty()) continue;
        const int ws = GST_VIDEO_FORMAT_INFO_W_SUB(finfo, c);
        const int hs = GST_VIDEO_FORMAT_INFO_H_SUB(finfo, c);
        const int x0 = boxX >> ws;
        const int y0 = boxY >> hs;
        const int compWidth = GST_VIDEO_FRAME_COMP_WIDTH(frame, c);
        const int compHeight = GST_VIDEO_FRAME_COMP_HEIGHT(frame, c);
        const int cols = std::min(comp.width, compWidth - x0);
        const int rows = std::min(comp.height, compHeight - y0);
        const int pstride = GST_VIDEO_FRAME_COMP_PSTRIDE(frame, c);
        const int stride = GST_VIDEO_FRAME_COMP_STRIDE(frame, c);
        auto* data = static_cast<guint8*>(GST_VIDEO_FRAME_COMP_DATA(frame, c));
        for (int r = 0; r < rows; ++r) {
            guint8* out = data + static_cast<gssize>(y0 + r) * stride + x0 * pstride;
            const guint8* a = comp.alpha.data() + static_cast<std::size_t>(r) * comp.width;
            const guint16* p = comp.premultiplied.data() + static_cast<std::size_t>(r) * comp.width;
            for (int i = 0; i < cols; ++i, out += pstride) {
                const unsigned alpha = a[i];
                if (alpha == 0) continue;
                *out = static_cast<guint8>((*out * (255u - alpha) + p[i] + 127u) / 255u);
            }
        }
    }
}

void flipVertically(GstVideoFrame* frame)
{
    std::vector<guint8> spare;
    for (guint plane = 0; plane < GST_VIDEO_FRAME_N_PLANES(frame); ++plane) {
        int comps[GST_VIDEO_MAX_COMPONENTS];
        gst_video_format_info_component(frame->info.finfo, plane, comps);
        const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(frame, comps[0]);
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, plane);
        const gsize bytes = static_cast<gsize>(std::abs(stride));
        auto* data = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(frame, plane));
        spare.resize(bytes);
        for (int top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
            guint8* a = data + static_cast<gssize>(top) * stride;
            guint8* b = data + static_cast<gssize>(bottom) * stride;
            std::memcpy(spare.data(), a, bytes);
            std::memcpy(a, b, bytes);
            std::memcpy(b, spare.data(), bytes);
        }
    }
}

void setTextArea(KadLumatex3* s, int x, int y, int width, int height)
{
    int* drawn = s->state.drawnArea;
    if (drawn[0] == x && drawn[1] == y && drawn[2] == width && drawn[3] == height) return;
    drawn[0] = x;
    drawn[1] = y;
    drawn[2] = width;
    drawn[3] = height;
    GstStructure* area =
        gst_structure_new("text-area", "x", G_TYPE_INT, x, "y", G_TYPE_INT, y, "width", G_TYPE_INT,
                          width, "height", G_TYPE_INT, height, nullptr);
    GST_OBJECT_LOCK(s);
    std::swap(area, s->state.textArea);
    GST_OBJECT_UNLOCK(s);
    if (area) gst_structure_free(area);
}

// ---- Pads ------------------------------------------------------------------------

GstFlowReturn videoChain(GstPad*, GstObject* parent, GstBuffer* buffer)
{
    KadLumatex3* s = KAD_LUMATEX3(parent);
    State& st = s->state;
    const Settings settings = snapshot(s);
    if ((!settings.enabled && !settings.flip) || !st.haveInfo) return gst_pad_push(s->src, buffer);

    std::string text;
    if (settings.enabled)
        text = frameText(s, settings, runningTimeOf(st.videoSegment, GST_BUFFER_PTS(buffer)));
    if (text.empty() && !settings.flip) {
        setTextArea(s, 0, 0, 0, 0);
        return gst_pad_push(s->src, buffer);
    }

    buffer = gst_buffer_make_writable(buffer);
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &st.info, buffer, GST_MAP_READWRITE)) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(s, STREAM, FAILED,
                          ("The date and time could not be drawn into the video."),
                          ("could not map a video frame for writing"));
        return GST_FLOW_ERROR;
    }
    if (settings.flip) flipVertically(&frame);
    if (!text.empty()) {
        const std::string key = rasterKey(settings, text, st.info);
        if (key != st.raster.key) {
            SurfacePtr surface = renderText(st, settings, text, st.info);
            st.raster = {};
            if (surface) {
                buildRaster(st.raster, surface.get(), st.info);
                st.raster.key = key;
            }
        }
        if (!st.raster.key.empty()) {
            int x = 0;
            int y = 0;
            placeBox(settings, st.info, st.raster.width, st.raster.height, &x, &y);
            blend(&frame, st.raster, x, y);
            setTextArea(s, x, y, std::min(st.raster.width, st.info.width - x),
                        std::min(st.raster.height, st.info.height - y));
        }
    } else {
        setTextArea(s, 0, 0, 0, 0);
    }
    gst_video_frame_unmap(&frame);
    return gst_pad_push(s->src, buffer);
}

gboolean videoEvent(GstPad* pad, GstObject* parent, GstEvent* event)
{
    KadLumatex3* s = KAD_LUMATEX3(parent);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        GstVideoInfo info;
        if (!gst_video_info_from_caps(&info, caps)) {
            GST_ELEMENT_ERROR(s, STREAM, FORMAT,
                              ("The video format cannot take the date and time inlay."),
                              ("caps not understood: %" GST_PTR_FORMAT, caps));
            gst_event_unref(event);
            return FALSE;
        }
        s->state.info = info;
        s->state.haveInfo = true;
        s->state.raster = {};
        break;
    }
    case GST_EVENT_SEGMENT: {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        gst_segment_copy_into(segment, &s->state.videoSegment);
        break;
    }
    case GST_EVENT_FLUSH_STOP:
        gst_segment_init(&s->state.videoSegment, GST_FORMAT_TIME);
        break;
    default:
        break;
    }
    return gst_pad_event_default(pad, parent, event);
}

GstFlowReturn datecodeChain(GstPad*, GstObject* parent, GstBuffer* buffer)
{
    KadLumatex3* s = KAD_LUMATEX3(parent);
    std::string text;
    {
        kad::BufferMap map(buffer, GST_MAP_READ);
        if (map && map.size() > 0)
            text.assign(reinterpret_cast<const char*>(map.data()), map.size());
    }
    // A text ends at its first NUL; stray bytes that are not UTF-8 would
    // make Pango give up on the whole line.
    text.resize(std::strlen(text.c_str()));
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        kad::GCharPtr valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
        text = valid.get();
    }
    GST_OBJECT_LOCK(s);
    State& st = s->state;
    const GstClockTime rt = runningTimeOf(st.datecodeSegment, GST_BUFFER_PTS(buffer));
    // A datecode from before the last one (a new segment, a restart) starts
    // the list afresh.
    if (!st.datecodes.empty() && GST_CLOCK_TIME_IS_VALID(rt) &&
        GST_CLOCK_TIME_IS_VALID(st.datecodes.back().runningTime) &&
        rt < st.datecodes.back().runningTime)
        st.datecodes.clear();
    st.datecodes.push_back({rt, std::move(text)});
    while (st.datecodes.size() > kMaxDatecodes)
        st.datecodes.pop_front();
    GST_OBJECT_UNLOCK(s);
    gst_buffer_unref(buffer);
    return GST_FLOW_OK;
}

// The datecode pad's events stay here: the picture's stream has its own.
gboolean datecodeEvent(GstPad*, GstObject* parent, GstEvent* event)
{
    KadLumatex3* s = KAD_LUMATEX3(parent);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_SEGMENT: {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        GST_OBJECT_LOCK(s);
        gst_segment_copy_into(segment, &s->state.datecodeSegment);
        GST_OBJECT_UNLOCK(s);
        break;
    }
    case GST_EVENT_FLUSH_STOP:
    case GST_EVENT_STREAM_START:
        GST_OBJECT_LOCK(s);
        s->state.datecodes.clear();
        GST_OBJECT_UNLOCK(s);
        break;
    default:
        break;
    }
    gst_event_unref(event);
    return TRUE;
}

gboolean datecodeQuery(GstPad* pad, GstObject* parent, GstQuery* query)
{
    switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_CAPS:
    case GST_QUERY_ACCEPT_CAPS:
        return gst_pad_query_default(pad, parent, query);
    default:
        // No allocation or latency to speak of for a few bytes of text.
        return FALSE;
    }
}

// The picture goes from the video pad to the source pad and back; the
// datecode pad is linked to nothing inside.
GstIterator* internalLinks(GstPad* pad, GstObject* parent)
{
    KadLumatex3* s = KAD_LUMATEX3(parent);
    GstPad* other = nullptr;
    if (pad == s->videoSink)
        other = s->src;
    else if (pad == s->src)
        other = s->videoSink;
    if (!other) return gst_iterator_new_single(GST_TYPE_PAD, nullptr);
    GValue value = G_VALUE_INIT;
    g_value_init(&value, GST_TYPE_PAD);
    g_value_set_object(&value, other);
    GstIterator* it = gst_iterator_new_single(GST_TYPE_PAD, &value);
    g_value_unset(&value);
    return it;
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition)
{
    KadLumatex3* s = KAD_LUMATEX3(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        gst_segment_init(&s->state.videoSegment, GST_FORMAT_TIME);
        GST_OBJECT_LOCK(s);
        gst_segment_init(&s->state.datecodeSegment, GST_FORMAT_TIME);
        s->state.datecodes.clear();
        GST_OBJECT_UNLOCK(s);
    }
    const GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(kad_lumatex3_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        s->state.haveInfo = false;
        s->state.raster = {};
        GST_OBJECT_LOCK(s);
        s->state.datecodes.clear();
        GST_OBJECT_UNLOCK(s);
    }
    return ret;
}

// ---- Properties and actions ------------------------------------------------------

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    GstElement* e = GST_ELEMENT(object);
    switch (id) {
    case PROP_TEXT:
        kad_lumatex3_set_text(e, g_value_get_string(value));
        break;
    case PROP_ENABLED:
        kad_lumatex3_set_enabled(e, g_value_get_int(value));
        break;
    case PROP_AUTO_FONT_SIZE:
        kad_lumatex3_set_auto_font_size(e, g_value_get_boolean(value));
        break;
    case PROP_FONT_SIZE:
        kad_lumatex3_set_font_size(e, g_value_get_int(value));
        break;
    case PROP_FONT_NAME:
        kad_lumatex3_set_font_name(e, g_value_get_string(value));
        break;
    case PROP_FONT_COLOR:
        kad_lumatex3_set_font_color(e, g_value_get_uint(value));
        break;
    case PROP_FONT_BOLD:
        kad_lumatex3_set_font_bold(e, g_value_get_boolean(value));
        break;
    case PROP_FONT_ITALIC:
        kad_lumatex3_set_font_italic(e, g_value_get_boolean(value));
        break;
    case PROP_FONT_UNDERLINE:
        kad_lumatex3_set_font_underline(e, g_value_get_boolean(value));
        break;
    case PROP_FONT_STRIKE_OUT:
        kad_lumatex3_set_font_strike_out(e, g_value_get_boolean(value));
        break;
    case PROP_FLIP:
        kad_lumatex3_set_flip(e, g_value_get_boolean(value));
        break;
    case PROP_POSITION_X: {
        const gint x = g_value_get_int(value);
        edit(e, [x](Settings& st) { st.x = CLAMP(x, 0, kMaxX); });
        break;
    }
    case PROP_POSITION_Y: {
        const gint y = g_value_get_int(value);
        edit(e, [y](Settings& st) { st.y = CLAMP(y, 0, kMaxY); });
        break;
    }
    case PROP_DATE_FORMAT:
        kad_lumatex3_set_date_format(e, g_value_get_string(value));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    KadLumatex3* s = KAD_LUMATEX3(object);
    if (id == PROP_VERSION) {
        g_value_take_string(value, kad_lumatex3_get_version(GST_ELEMENT(s)));
        return;
    }
    GST_OBJECT_LOCK(s);
    const Settings& st = s->state.settings;
    switch (id) {
    case PROP_TEXT:
        g_value_set_string(value, st.text.c_str());
        break;
    case PROP_ENABLED:
        g_value_set_int(value, st.enabled ? 1 : 0);
        break;
    case PROP_AUTO_FONT_SIZE:
        g_value_set_boolean(value, st.autoFontSize);
        break;
    case PROP_FONT_SIZE:
        g_value_set_int(value, st.fontSize);
        break;
    case PROP_FONT_NAME:
        g_value_set_string(value, st.fontName.c_str());
        break;
    case PROP_FONT_COLOR:
        g_value_set_uint(value, st.color);
        break;
    case PROP_FONT_BOLD:
        g_value_set_boolean(value, st.bold);
        break;
    case PROP_FONT_ITALIC:
        g_value_set_boolean(value, st.italic);
        break;
    case PROP_FONT_UNDERLINE:
        g_value_set_boolean(value, st.underline);
        break;
    case PROP_FONT_STRIKE_OUT:
        g_value_set_boolean(value, st.strikeOut);
        break;
    case PROP_FLIP:
        g_value_set_boolean(value, st.flip);
        break;
    case PROP_POSITION_X:
        g_value_set_int(value, st.x);
        break;
    case PROP_POSITION_Y:
        g_value_set_int(value, st.y);
        break;
    case PROP_DATE_FORMAT:
        g_value_set_string(value, st.dateFormat.c_str());
        break;
    case PROP_TEXT_AREA:
        g_value_set_boxed(value, s->state.textArea);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(s);
}

void setTextAction(GstElement* e, const gchar* text)
{
    kad_lumatex3_set_text(e, text);
}
void setEnabledAction(GstElement* e, gint enabled)
{
    kad_lumatex3_set_enabled(e, enabled);
}
void setAutoFontSizeAction(GstElement* e, gboolean on)
{
    kad_lumatex3_set_auto_font_size(e, on);
}
void setFontSizeAction(GstElement* e, gint points)
{
    kad_lumatex3_set_font_size(e, points);
}
void setFontNameAction(GstElement* e, const gchar* face)
{
    kad_lumatex3_set_font_name(e, face);
}
void setFontColorAction(GstElement* e, guint color)
{
    kad_lumatex3_set_font_color(e, color);
}
void setFontBoldAction(GstElement* e, gboolean on)
{
    kad_lumatex3_set_font_bold(e, on);
}
void setFontItalicAction(GstElement* e, gboolean on)
{
    kad_lumatex3_set_font_italic(e, on);
}
void setFontUnderlineAction(GstElement* e, gboolean on)
{
    kad_lumatex3_set_font_underline(e, on);
}
void setFontStrikeOutAction(GstElement* e, gboolean on)
{
    kad_lumatex3_set_font_strike_out(e, on);
}
gchar* getVersionAction(GstElement* e)
{
    return kad_lumatex3_get_version(e);
}
void setFlipAction(GstElement* e, gboolean flip)
{
    kad_lumatex3_set_flip(e, flip);
}
void setPositionAction(GstElement* e, gint x, gint y, gint reserved)
{
    kad_lumatex3_set_position(e, x, y, reserved);
}
void setDateFormatAction(GstElement* e, const gchar* pattern)
{
    kad_lumatex3_set_date_format(e, pattern);
}

GParamFlags rw()
{
    return static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
}

guint action(GObjectClass* klass, const char* name, GCallback handler, GType returns,
             std::initializer_list<GType> args)
{
    std::vector<GType> types(args);
    return g_signal_newv(name, G_TYPE_FROM_CLASS(klass),
                         static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION),
                         g_cclosure_new(handler, nullptr, nullptr), nullptr, nullptr, nullptr,
                         returns, static_cast<guint>(types.size()), types.data());
}

} // namespace

static void kad_lumatex3_finalize(GObject* object)
{
    KadLumatex3* s = KAD_LUMATEX3(object);
    if (s->state.textArea) gst_structure_free(s->state.textArea);
    std::destroy_at(&s->state);
    G_OBJECT_CLASS(kad_lumatex3_parent_class)->finalize(object);
}

static void kad_lumatex3_class_init(KadLumatex3Class* klass)
{
    GObjectClass* gobject = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gobject->set_property = setProperty;
    gobject->get_property = getProperty;
    gobject->finalize = kad_lumatex3_finalize;
    element->change_state = changeState;

    g_object_class_install_property(
        gobject, PROP_TEXT,
        g_param_spec_string("text", "Text",
                            "What to draw: %N is the date and time of capture, %D the datecode "
                            "of the frame; other text is drawn as it stands",
                            kDefaultText, rw()));
    g_object_class_install_property(
        gobject, PROP_ENABLED,
        g_param_spec_int("enabled", "Enabled", "1 draws the text into every frame, 0 does not", 0,
                         1, 0, rw()));
    g_object_class_install_property(
        gobject, PROP_AUTO_FONT_SIZE,
        g_param_spec_boolean("auto-font-size", "Automatic font size",
                             "Size the text after the picture's height instead of font-size", TRUE,
                             rw()));
    g_object_class_install_property(
        gobject, PROP_FONT_SIZE,
        g_param_spec_int("font-size", "Font size",
                         "Size of the text in points (at 96 dots per inch of picture)",
                         kMinFontSize, kMaxFontSize, kDefaultFontSize, rw()));
    g_object_class_install_property(
        gobject, PROP_FONT_NAME,
        g_param_spec_string("font-name", "Font name",
                            "Font family; an unknown one gives the default face", kDefaultFontName,
                            rw()));
    g_object_class_install_property(gobject, PROP_FONT_COLOR,
                                    g_param_spec_uint("font-color", "Font colour",
                                                      "Colour of the text as 0x00BBGGRR", 0,
                                                      0xFFFFFF, kDefaultColor, rw()));
    g_object_class_install_property(
        gobject, PROP_FONT_BOLD,
        g_param_spec_boolean("font-bold", "Bold", "Bold text", TRUE, rw()));
    g_object_class_install_property(
        gobject, PROP_FONT_ITALIC,
        g_param_spec_boolean("font-italic", "Italic", "Italic text", FALSE, rw()));
    g_object_class_install_property(
        gobject, PROP_FONT_UNDERLINE,
        g_param_spec_boolean("font-underline", "Underline", "Underlined text", FALSE, rw()));
    g_object_class_install_property(
        gobject, PROP_FONT_STRIKE_OUT,
        g_param_spec_boolean("font-strike-out", "Strike-out", "Struck-out text", FALSE, rw()));
    g_object_class_install_property(
        gobject, PROP_FLIP,
        g_param_spec_boolean("flip", "Flip", "Turn the picture upside down", FALSE, rw()));
    g_object_class_install_property(
        gobject, PROP_POSITION_X,
        g_param_spec_int("position-x", "Horizontal position",
                         "Left edge of the text in thousandths of the picture's width; the text "
                         "moves left as far as needed to stay inside",
                         0, kMaxX, kDefaultX, rw()));
    g_object_class_install_property(
        gobject, PROP_POSITION_Y,
        g_param_spec_int("position-y", "Vertical position",
                         "Height of the text's top edge above the picture's bottom, in "
                         "thousandths of the picture's height; the text moves up as far as "
                         "needed to stay inside",
                         0, kMaxY, kDefaultY, rw()));
    g_object_class_install_property(
        gobject, PROP_DATE_FORMAT,
        g_param_spec_string("date-format", "Date format",
                            "Pattern for %N (dddddd hh:nn:ss and the like); empty gives the "
                            "default",
                            kad::kDefaultDatePattern.data(), rw()));
    g_object_class_install_property(
        gobject, PROP_VERSION,
        g_param_spec_string("version", "Version", "Name and version of the element", kVersion,
                            static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_TEXT_AREA,
        g_param_spec_boxed("text-area", "Text area",
                           "Where the text was last drawn: x, y, width, height in pixels",
                           GST_TYPE_STRUCTURE,
                           static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    signals[SIGNAL_SET_TEXT] =
        action(gobject, "set-text", G_CALLBACK(setTextAction), G_TYPE_NONE, {G_TYPE_STRING});
    signals[SIGNAL_SET_ENABLED] =
        action(gobject, "set-enabled", G_CALLBACK(setEnabledAction), G_TYPE_NONE, {G_TYPE_INT});
    signals[SIGNAL_SET_AUTO_FONT_SIZE] =
        action(gobject, "set-auto-font-size", G_CALLBACK(setAutoFontSizeAction), G_TYPE_NONE,
               {G_TYPE_BOOLEAN});
    signals[SIGNAL_SET_FONT_SIZE] =
        action(gobject, "set-font-size", G_CALLBACK(setFontSizeAction), G_TYPE_NONE, {G_TYPE_INT});
    signals[SIGNAL_SET_FONT_NAME] = action(gobject, "set-font-name", G_CALLBACK(setFontNameAction),
                                           G_TYPE_NONE, {G_TYPE_STRING});
    signals[SIGNAL_SET_FONT_COLOR] = action(
        gobject, "set-font-color", G_CALLBACK(setFontColorAction), G_TYPE_NONE, {G_TYPE_UINT});
    signals[SIGNAL_SET_FONT_BOLD] = action(gobject, "set-font-bold", G_CALLBACK(setFontBoldAction),
                                           G_TYPE_NONE, {G_TYPE_BOOLEAN});
    signals[SIGNAL_SET_FONT_ITALIC] = action(
        gobject, "set-font-italic", G_CALLBACK(setFontItalicAction), G_TYPE_NONE, {G_TYPE_BOOLEAN});
    signals[SIGNAL_SET_FONT_UNDERLINE] =
        action(gobject, "set-font-underline", G_CALLBACK(setFontUnderlineAction), G_TYPE_NONE,
               {G_TYPE_BOOLEAN});
    signals[SIGNAL_SET_FONT_STRIKE_OUT] =
        action(gobject, "set-font-strike-out", G_CALLBACK(setFontStrikeOutAction), G_TYPE_NONE,
               {G_TYPE_BOOLEAN});
    signals[SIGNAL_GET_VERSION] =
        action(gobject, "get-version", G_CALLBACK(getVersionAction), G_TYPE_STRING, {});
    signals[SIGNAL_SET_FLIP] =
        action(gobject, "set-flip", G_CALLBACK(setFlipAction), G_TYPE_NONE, {G_TYPE_BOOLEAN});
    signals[SIGNAL_SET_POSITION] = action(gobject, "set-position", G_CALLBACK(setPositionAction),
                                          G_TYPE_NONE, {G_TYPE_INT, G_TYPE_INT, G_TYPE_INT});
    signals[SIGNAL_SET_DATE_FORMAT] = action(
        gobject, "set-date-format", G_CALLBACK(setDateFormatAction), G_TYPE_NONE, {G_TYPE_STRING});

    gst_element_class_add_static_pad_template(element, &videoSinkTemplate);
    gst_element_class_add_static_pad_template(element, &datecodeSinkTemplate);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(
        element, "Tavrel Lumatex3", "Filter/Editor/Video",
        "Draws the date and time, or a datecode, into the picture and turns it upside down",
        "Kadrillo");
}

static void kad_lumatex3_init(KadLumatex3* s)
{
    std::construct_at(&s->state);
    gst_video_info_init(&s->state.info);
    gst_segment_init(&s->state.videoSegment, GST_FORMAT_TIME);
    gst_segment_init(&s->state.datecodeSegment, GST_FORMAT_TIME);

    s->videoSink = gst_pad_new_from_static_template(&videoSinkTemplate, "video_sink");
    gst_pad_set_chain_function(s->videoSink, videoChain);
    gst_pad_set_event_function(s->videoSink, videoEvent);
    gst_pad_set_iterate_internal_links_function(s->videoSink, internalLinks);
    GST_PAD_SET_PROXY_CAPS(s->videoSink);
    GST_PAD_SET_PROXY_ALLOCATION(s->videoSink);
    GST_PAD_SET_PROXY_SCHEDULING(s->videoSink);
    gst_element_add_pad(GST_ELEMENT(s), s->videoSink);

    s->datecodeSink = gst_pad_new_from_static_template(&datecodeSinkTemplate, "datecode_sink");
    gst_pad_set_chain_function(s->datecodeSink, datecodeChain);
    gst_pad_set_event_function(s->datecodeSink, datecodeEvent);
    gst_pad_set_query_function(s->datecodeSink, datecodeQuery);
    gst_pad_set_iterate_internal_links_function(s->datecodeSink, internalLinks);
    gst_element_add_pad(GST_ELEMENT(s), s->datecodeSink);

    s->src = gst_pad_new_from_static_template(&srcTemplate, "src");
    gst_pad_set_iterate_internal_links_function(s->src, internalLinks);
    GST_PAD_SET_PROXY_CAPS(s->src);
    GST_PAD_SET_PROXY_ALLOCATION(s->src);
    GST_PAD_SET_PROXY_SCHEDULING(s->src);
    gst_element_add_pad(GST_ELEMENT(s), s->src);
}

void kad_lumatex3_set_text(GstElement* overlay, const gchar* text)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    std::string value = text ? text : "";
    edit(overlay, [&value](Settings& st) { st.text = std::move(value); });
}

void kad_lumatex3_set_enabled(GstElement* overlay, gint enabled)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    // Only the low byte counts, as callers of the flag have always sent it.
    edit(overlay, [enabled](Settings& st) { st.enabled = (enabled & 0xFF) != 0; });
}

void kad_lumatex3_set_auto_font_size(GstElement* overlay, gboolean automatic)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    edit(overlay, [automatic](Settings& st) { st.autoFontSize = automatic != FALSE; });
}

void kad_lumatex3_set_font_size(GstElement* overlay, gint points)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    edit(overlay,
         [points](Settings& st) { st.fontSize = CLAMP(points, kMinFontSize, kMaxFontSize); });
}

void kad_lumatex3_set_font_name(GstElement* overlay, const gchar* face)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    std::string value = face && *face ? face : kDefaultFontName;
    edit(overlay, [&value](Settings& st) { st.fontName = std::move(value); });
}

void kad_lumatex3_set_font_color(GstElement* overlay, guint32 bbggrr)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    edit(overlay, [bbggrr](Settings& st) { st.color = bbggrr & 0xFFFFFF; });
}

void kad_lumatex3_set_font_bold(GstElement* overlay, gboolean on)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    edit(overlay, [on](Settings& st) { st.bold = on != FALSE; });
}

void kad_lumatex3_set_font_italic(GstElement* overlay, gboolean on)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    edit(overlay, [on](Settings& st) { st.italic = on != FALSE; });
}

void kad_lumatex3_set_font_underline(GstElement* overlay, gboolean on)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    edit(overlay, [on](Settings& st) { st.underline = on != FALSE; });
}

void kad_lumatex3_set_font_strike_out(GstElement* overlay, gboolean on)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    edit(overlay, [on](Settings& st) { st.strikeOut = on != FALSE; });
}

gchar* kad_lumatex3_get_version(GstElement* overlay)
{
    g_return_val_if_fail(KAD_IS_LUMATEX3(overlay), nullptr);
    return g_strdup(kVersion);
}

void kad_lumatex3_set_flip(GstElement* overlay, gboolean flip)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    edit(overlay, [flip](Settings& st) { st.flip = flip != FALSE; });
}

void kad_lumatex3_set_position(GstElement* overlay, gint x, gint y, gint)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    edit(overlay, [x, y](Settings& st) {
        st.x = CLAMP(x, 0, kMaxX);
        st.y = CLAMP(y, 0, kMaxY);
    });
}

void kad_lumatex3_set_date_format(GstElement* overlay, const gchar* pattern)
{
    g_return_if_fail(KAD_IS_LUMATEX3(overlay));
    std::string value = pattern && *pattern ? pattern : std::string(kad::kDefaultDatePattern);
    edit(overlay, [&value](Settings& st) { st.dateFormat = std::move(value); });
}

gboolean kad_lumatex3_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(lumatex3_debug, "kadlumatex3", 0, "Kadrillo date and time overlay");
    return gst_element_register(plugin, "kadlumatex3", GST_RANK_NONE, KAD_TYPE_LUMATEX3);
}
