#include "virtual/virtual_webcam_src.h"

#include "platform/media/gst_ptr.h"
#include "virtual/virtual_frame_src.h"
#include "virtual/virtual_picture.h"

#include <algorithm>
#include <cmath>

GST_DEBUG_CATEGORY_STATIC(virtual_webcam_src_debug);
#define GST_CAT_DEFAULT virtual_webcam_src_debug

// The picture controls a camera driver offers, applied to each frame.
struct PictureControls {
    gint brightness = 128;
    gint contrast = 128;
    gint saturation = 128;
    gint hue = 0;
    gboolean monochrome = FALSE;
    gint powerLine = 1;

    bool neutral() const
    {
        return brightness == 128 && contrast == 128 && saturation == 128 && hue == 0 && !monochrome;
    }
};

// Locking: input and controls are written by the application thread and
// read by the streaming thread under the object lock.
struct _KadVirtualWebcamSrc {
    KadVirtualSrc parent;
    guint input;
    PictureControls controls;
    KadVirtualFrameSrc* video; // owned by the bin
};

G_DEFINE_TYPE(KadVirtualWebcamSrc, kad_virtual_webcam_src, KAD_TYPE_VIRTUAL_SRC)

namespace {

enum {
    PROP_0,
    PROP_INPUT,
    PROP_INPUTS,
    PROP_INPUT_TYPES,
    PROP_BRIGHTNESS,
    PROP_CONTRAST,
    PROP_SATURATION,
    PROP_HUE,
    PROP_MONOCHROME,
    PROP_POWER_LINE_FREQUENCY,
};

GType powerLineFrequencyType()
{
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        static const GEnumValue values[] = {
            {0, "Disabled", "disabled"},
            {1, "50 Hz", "50 Hz"},
            {2, "60 Hz", "60 Hz"},
            {0, nullptr, nullptr},
        };
        g_once_init_leave(&type, g_enum_register_static("KadWebcamPowerLineFrequency", values));
    }
    return type;
}

guint8 clampByte(double value)
{
    return static_cast<guint8>(std::clamp(std::lround(value), 0L, 255L));
}

// Luma gets contrast around black and the brightness offset; chroma turns
// by the hue angle and scales by the saturation.
struct Adjuster {
    explicit Adjuster(const PictureControls& c)
    {
        for (int y = 0; y < 256; ++y)
            luma[y] = clampByte((y - 16) * c.contrast / 128.0 + 16 + (c.brightness - 128));
        const double angle = c.hue * G_PI / 180.0;
        const double gain = c.monochrome ? 0.0 : c.saturation / 128.0;
        cosGain = std::cos(angle) * gain;
        sinGain = std::sin(angle) * gain;
    }
    void chroma(guint8& u, guint8& v) const
    {
        const double cu = u - 128.0, cv = v - 128.0;
        u = clampByte(128.0 + cu * cosGain - cv * sinGain);
        v = clampByte(128.0 + cu * sinGain + cv * cosGain);
    }
    guint8 luma[256];
    double cosGain;
    double sinGain;
};

void adjust(GstVideoFrame* frame, const PictureControls& controls)
{
    const Adjuster a(controls);
    const int width = GST_VIDEO_FRAME_WIDTH(frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(frame);
    if (GST_VIDEO_FRAME_FORMAT(frame) == GST_VIDEO_FORMAT_YUY2) {
        for (int y = 0; y < height; ++y) {
            auto* row = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0)) +
                        y * GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
            for (int x = 0; x + 1 < width; x += 2) {
                guint8* p = row + x * 2;
                p[0] = a.luma[p[0]];
                p[2] = a.luma[p[2]];
                a.chroma(p[1], p[3]);
            }
        }
        return;
    }
    if (GST_VIDEO_FRAME_N_PLANES(frame) != 3) return;
    for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(frame, 0); ++y) {
        auto* row = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0)) +
                    y * GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
        for (int x = 0; x < GST_VIDEO_FRAME_COMP_WIDTH(frame, 0); ++x)
            row[x] = a.luma[row[x]];
    }
    for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(frame, 1); ++y) {
        auto* u = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 1)) +
                  y * GST_VIDEO_FRAME_PLANE_STRIDE(frame, 1);
        auto* v = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 2)) +
                  y * GST_VIDEO_FRAME_PLANE_STRIDE(frame, 2);
        for (int x = 0; x < GST_VIDEO_FRAME_COMP_WIDTH(frame, 1); ++x)
            a.chroma(u[x], v[x]);
    }
}

const gchar* const kInputNames[] = {"Tuner", "Composite", "S-Video", nullptr};
const gchar* const kInputTypes[] = {"video-tuner", "composite", "svideo", nullptr};
constexpr guint kInputCount = 3;

kad::picture::Pattern patternOf(guint input)
{
    switch (input) {
    case 0:
        return kad::picture::Pattern::Tuner;
    case 2:
        return kad::picture::Pattern::SVideo;
    default:
        return kad::picture::Pattern::Composite;
    }
}

GstFlowReturn produce(KadVirtualWebcamSrc* self, const kad::FrameSlot& slot,
                      const GstVideoInfo* info, GstBuffer** out)
{
    if (!info) return GST_FLOW_NOT_NEGOTIATED;
    GST_OBJECT_LOCK(self);
    const guint input = self->input;
    const PictureControls controls = self->controls;
    GST_OBJECT_UNLOCK(self);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(info), nullptr);
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, const_cast<GstVideoInfo*>(info), buffer, GST_MAP_WRITE)) {
        gst_buffer_unref(buffer);
        return GST_FLOW_ERROR;
    }
    kad::picture::draw(&frame, patternOf(input), slot.number, 0);
    if (!controls.neutral()) adjust(&frame, controls);
    gst_video_frame_unmap(&frame);
    *out = buffer;
    return GST_FLOW_OK;
}

void configure(KadVirtualSrc* base, gboolean live, gint numBuffers)
{
    auto* self = KAD_VIRTUAL_WEBCAM_SRC(base);
    g_object_set(self->video, "is-live", live, "frame-limit", static_cast<gint64>(numBuffers),
                 nullptr);
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_VIRTUAL_WEBCAM_SRC(object);
    GST_OBJECT_LOCK(self);
    PictureControls& c = self->controls;
    switch (id) {
    case PROP_INPUT:
        self->input = g_value_get_uint(value);
        break;
    case PROP_BRIGHTNESS:
        c.brightness = g_value_get_int(value);
        break;
    case PROP_CONTRAST:
        c.contrast = g_value_get_int(value);
        break;
    case PROP_SATURATION:
        c.saturation = g_value_get_int(value);
        break;
    case PROP_HUE:
        c.hue = g_value_get_int(value);
        break;
    case PROP_MONOCHROME:
        c.monochrome = g_value_get_boolean(value);
        break;
    case PROP_POWER_LINE_FREQUENCY:
        c.powerLine = g_value_get_enum(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_VIRTUAL_WEBCAM_SRC(object);
    switch (id) {
    case PROP_INPUT:
        GST_OBJECT_LOCK(self);
        g_value_set_uint(value, self->input);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_INPUTS:
        g_value_set_boxed(value, kInputNames);
        break;
    case PROP_INPUT_TYPES:
        g_value_set_boxed(value, kInputTypes);
        break;
    case PROP_BRIGHTNESS:
    case PROP_CONTRAST:
    case PROP_SATURATION:
    case PROP_HUE: {
        GST_OBJECT_LOCK(self);
        const PictureControls& c = self->controls;
        g_value_set_int(value, id == PROP_BRIGHTNESS   ? c.brightness
                               : id == PROP_CONTRAST   ? c.contrast
                               : id == PROP_SATURATION ? c.saturation
                                                       : c.hue);
        GST_OBJECT_UNLOCK(self);
        break;
    }
    case PROP_MONOCHROME:
        GST_OBJECT_LOCK(self);
        g_value_set_boolean(value, self->controls.monochrome);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_POWER_LINE_FREQUENCY:
        GST_OBJECT_LOCK(self);
        g_value_set_enum(value, self->controls.powerLine);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

} // namespace

static void kad_virtual_webcam_src_class_init(KadVirtualWebcamSrcClass* klass)
{
    GST_DEBUG_CATEGORY_INIT(virtual_webcam_src_debug, "kadvirtualwebcamsrc", 0,
                            "Kadrillo virtual webcam");
    auto* gobject = G_OBJECT_CLASS(klass);
    gobject->set_property = setProperty;
    gobject->get_property = getProperty;
    const auto ro = static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        gobject, PROP_INPUT,
        g_param_spec_uint("input", "Input", "Video input in use (0 Tuner, 1 Composite, 2 S-Video)",
                          0, kInputCount - 1, 1,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_INPUTS,
        g_param_spec_boxed("inputs", "Inputs", "Names of the video inputs", G_TYPE_STRV, ro));
    g_object_class_install_property(
        gobject, PROP_INPUT_TYPES,
        g_param_spec_boxed("input-types", "Input types",
                           "Physical type of each input (video-tuner, composite, svideo)",
                           G_TYPE_STRV, ro));
    const auto rw = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                             GST_PARAM_CONTROLLABLE);
    g_object_class_install_property(gobject, PROP_BRIGHTNESS,
                                    g_param_spec_int("brightness", "Brightness",
                                                     "Offset added to the luma (128 none)", 0, 255,
                                                     128, rw));
    g_object_class_install_property(gobject, PROP_CONTRAST,
                                    g_param_spec_int("contrast", "Contrast",
                                                     "Luma gain in 128ths (128 none)", 0, 255, 128,
                                                     rw));
    g_object_class_install_property(gobject, PROP_SATURATION,
                                    g_param_spec_int("saturation", "Saturation",
                                                     "Chroma gain in 128ths (128 none)", 0, 255,
                                                     128, rw));
    g_object_class_install_property(
        gobject, PROP_HUE,
        g_param_spec_int("hue", "Hue", "Chroma rotation in degrees", -180, 180, 0, rw));
    g_object_class_install_property(
        gobject, PROP_MONOCHROME,
        g_param_spec_boolean("monochrome", "Monochrome", "Remove all colour", FALSE, rw));
    g_object_class_install_property(
        gobject, PROP_POWER_LINE_FREQUENCY,
        g_param_spec_enum("power-line-frequency", "Power Line Frequency",
                          "Mains frequency the exposure avoids flicker from",
                          powerLineFrequencyType(), 1, rw));
    KAD_VIRTUAL_SRC_CLASS(klass)->configure = configure;
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Virtual webcam",
                                          "Source/Video", "A simulated webcam with three inputs",
                                          "Kadrillo");
}

static void kad_virtual_webcam_src_init(KadVirtualWebcamSrc* self)
{
    self->input = 1;
    // GObject zeroes the instance; the controls start at their defaults.
    self->controls = PictureControls{};
    self->video =
        KAD_VIRTUAL_FRAME_SRC(g_object_new(KAD_TYPE_VIRTUAL_FRAME_SRC, "name", "video", nullptr));
    kad::CapsRef caps(gst_caps_from_string(
        "video/x-raw, format=(string){ YUY2, I420 }, width=(int)640, height=(int)480, "
        "framerate=(fraction){ 30/1, 15/1 }, pixel-aspect-ratio=(fraction)1/1; "
        "video/x-raw, format=(string){ YUY2, I420 }, width=(int)320, height=(int)240, "
        "framerate=(fraction){ 30/1, 15/1 }, pixel-aspect-ratio=(fraction)1/1"));
    kad::virtualFrameSrcSetCaps(self->video, caps.get());
    kad::virtualFrameSrcSetProducer(
        self->video, [self](const kad::FrameSlot& slot, GstCaps*, const GstVideoInfo* info,
                            GstBuffer** out) { return produce(self, slot, info, out); });
    gst_bin_add(GST_BIN(self), GST_ELEMENT(self->video));
    gst_element_link(GST_ELEMENT(self->video),
                     GST_ELEMENT(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self))));
    kad::virtualTapSetHooks(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self)), kad::VirtualTapHooks{});
}

gboolean kad_virtual_webcam_src_register(GstPlugin* plugin)
{
    return gst_element_register(plugin, "kadvirtualwebcamsrc", GST_RANK_NONE,
                                KAD_TYPE_VIRTUAL_WEBCAM_SRC);
}
