#include "elements/virtual_webcam_src.h"

#include "elements/virtual_frame_src.h"
#include "elements/virtual_picture.h"
#include "platform/media/gst_ptr.h"

GST_DEBUG_CATEGORY_STATIC(virtual_webcam_src_debug);
#define GST_CAT_DEFAULT virtual_webcam_src_debug

// Locking: input is written by the application thread and read by the
// streaming thread under the object lock.
struct _KadVirtualWebcamSrc {
    KadVirtualSrc parent;
    guint input;
    KadVirtualFrameSrc* video; // owned by the bin
};

G_DEFINE_TYPE(KadVirtualWebcamSrc, kad_virtual_webcam_src, KAD_TYPE_VIRTUAL_SRC)

namespace {

enum { PROP_0, PROP_INPUT, PROP_INPUTS, PROP_INPUT_TYPES };

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
    GST_OBJECT_UNLOCK(self);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(info), nullptr);
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, const_cast<GstVideoInfo*>(info), buffer, GST_MAP_WRITE)) {
        gst_buffer_unref(buffer);
        return GST_FLOW_ERROR;
    }
    kad::picture::draw(&frame, patternOf(input), slot.number, 0);
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
    if (id == PROP_INPUT) {
        GST_OBJECT_LOCK(self);
        self->input = g_value_get_uint(value);
        GST_OBJECT_UNLOCK(self);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
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
    KAD_VIRTUAL_SRC_CLASS(klass)->configure = configure;
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Virtual webcam",
                                          "Source/Video", "A simulated webcam with three inputs",
                                          "Kadrillo");
}

static void kad_virtual_webcam_src_init(KadVirtualWebcamSrc* self)
{
    self->input = 1;
    self->video =
        KAD_VIRTUAL_FRAME_SRC(g_object_new(KAD_TYPE_VIRTUAL_FRAME_SRC, "name", "video", nullptr));
    kad::CapsRef caps(gst_caps_from_string(
        "video/x-raw, format=(string){ YUY2, I420 }, width=(int)640, height=(int)480, "
        "framerate=(fraction)30/1, pixel-aspect-ratio=(fraction)1/1; "
        "video/x-raw, format=(string){ YUY2, I420 }, width=(int)320, height=(int)240, "
        "framerate=(fraction)30/1, pixel-aspect-ratio=(fraction)1/1"));
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
