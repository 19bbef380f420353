#include "elements/sample_grabber.h"

#include <cstring>

GST_DEBUG_CATEGORY_STATIC(sample_grabber_debug);
#define GST_CAT_DEFAULT sample_grabber_debug

// Locking: the latest frame, its video info and the counter are written by
// the streaming thread and read by the application, all under the object
// lock. Copying a frame out happens outside the lock on a reference of its
// own, so the stream is held up only for a pointer swap.
struct _KadSampleGrabber {
    GstBaseTransform parent;

    GstVideoInfo info;       // negotiated format (streaming thread, set_caps)
    GstBuffer* latest;       // object lock
    GstVideoInfo latestInfo; // object lock: the format of latest
    GstCaps* latestCaps;     // object lock
    guint64 frameCount;      // object lock
};

G_DEFINE_TYPE(KadSampleGrabber, kad_sample_grabber, GST_TYPE_BASE_TRANSFORM)

namespace {

enum { PROP_0, PROP_FRAME_COUNT, PROP_LAST_SAMPLE };

#define GRABBER_CAPS GST_VIDEO_CAPS_MAKE("RGB")

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(GRABBER_CAPS));
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GRABBER_CAPS));

gint bitmapStride(gint width)
{
    return GST_ROUND_UP_4(width * 3);
}

void clearLatest(KadSampleGrabber* self)
{
    GST_OBJECT_LOCK(self);
    gst_clear_buffer(&self->latest);
    gst_clear_caps(&self->latestCaps);
    self->frameCount = 0;
    GST_OBJECT_UNLOCK(self);
}

gboolean setCaps(GstBaseTransform* trans, GstCaps* incaps, GstCaps* /*outcaps*/)
{
    KadSampleGrabber* self = KAD_SAMPLE_GRABBER(trans);
    if (!gst_video_info_from_caps(&self->info, incaps)) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("The video format cannot be grabbed."),
                          ("invalid caps %" GST_PTR_FORMAT, incaps));
        return FALSE;
    }
    return TRUE;
}

GstFlowReturn transformIp(GstBaseTransform* trans, GstBuffer* buffer)
{
    KadSampleGrabber* self = KAD_SAMPLE_GRABBER(trans);
    GstCaps* caps = gst_pad_get_current_caps(GST_BASE_TRANSFORM_SINK_PAD(trans));
    GST_OBJECT_LOCK(self);
    gst_buffer_replace(&self->latest, buffer);
    self->latestInfo = self->info;
    gst_caps_replace(&self->latestCaps, caps);
    ++self->frameCount;
    GST_OBJECT_UNLOCK(self);
    if (caps) gst_caps_unref(caps);
    return GST_FLOW_OK;
}

gboolean start(GstBaseTransform* trans)
{
    clearLatest(KAD_SAMPLE_GRABBER(trans));
    return TRUE;
}

// Takes a reference to the latest frame and its format; FALSE when none.
gboolean takeLatest(KadSampleGrabber* self, GstBuffer** buffer, GstVideoInfo* info, guint64* number)
{
    GST_OBJECT_LOCK(self);
    const gboolean have = self->latest != nullptr;
    if (have) {
        *buffer = gst_buffer_ref(self->latest);
        *info = self->latestInfo;
        *number = self->frameCount;
    }
    GST_OBJECT_UNLOCK(self);
    return have;
}

void describe(const GstVideoInfo& info, guint64 number, KadGrabbedFrameInfo* out)
{
    out->width = GST_VIDEO_INFO_WIDTH(&info);
    out->height = GST_VIDEO_INFO_HEIGHT(&info);
    out->stride = bitmapStride(out->width);
    out->size = static_cast<gsize>(out->stride) * static_cast<gsize>(out->height);
    out->frame_number = number;
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    KadSampleGrabber* self = KAD_SAMPLE_GRABBER(object);
    switch (id) {
    case PROP_FRAME_COUNT:
        g_value_set_uint64(value, kad_sample_grabber_frame_count(GST_ELEMENT(self)));
        break;
    case PROP_LAST_SAMPLE:
        g_value_take_boxed(value, kad_sample_grabber_get_last_sample(GST_ELEMENT(self)));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void finalize(GObject* object)
{
    KadSampleGrabber* self = KAD_SAMPLE_GRABBER(object);
    gst_clear_buffer(&self->latest);
    gst_clear_caps(&self->latestCaps);
    G_OBJECT_CLASS(kad_sample_grabber_parent_class)->finalize(object);
}

} // namespace

static void kad_sample_grabber_class_init(KadSampleGrabberClass* klass)
{
    GObjectClass* gobjectClass = G_OBJECT_CLASS(klass);
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass* transClass = GST_BASE_TRANSFORM_CLASS(klass);

    gobjectClass->get_property = getProperty;
    gobjectClass->finalize = finalize;

    g_object_class_install_property(
        gobjectClass, PROP_FRAME_COUNT,
        g_param_spec_uint64("frame-count", "Frame count", "Frames that passed since the start", 0,
                            G_MAXUINT64, 0,
                            static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobjectClass, PROP_LAST_SAMPLE,
        g_param_spec_boxed("last-sample", "Last sample", "The latest frame that passed",
                           GST_TYPE_SAMPLE,
                           static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(elementClass, "Kadrillo sample grabber", "Filter/Video",
                                          "Keeps the latest RGB frame for still images",
                                          "Kadrillo");

    transClass->set_caps = setCaps;
    transClass->transform_ip = transformIp;
    transClass->start = start;
    transClass->transform_ip_on_passthrough = TRUE;
    transClass->passthrough_on_same_caps = TRUE;
}

static void kad_sample_grabber_init(KadSampleGrabber* self)
{
    gst_video_info_init(&self->info);
    gst_video_info_init(&self->latestInfo);
    self->latest = nullptr;
    self->latestCaps = nullptr;
    self->frameCount = 0;
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(self), TRUE);
}

gboolean kad_sample_grabber_peek(GstElement* grabber, KadGrabbedFrameInfo* info)
{
    g_return_val_if_fail(KAD_IS_SAMPLE_GRABBER(grabber), FALSE);
    g_return_val_if_fail(info != nullptr, FALSE);
    KadSampleGrabber* self = KAD_SAMPLE_GRABBER(grabber);
    GST_OBJECT_LOCK(self);
    const gboolean have = self->latest != nullptr;
    if (have) describe(self->latestInfo, self->frameCount, info);
    GST_OBJECT_UNLOCK(self);
    return have;
}

gboolean kad_sample_grabber_copy_frame(GstElement* grabber, guint8* dest, gsize dest_size,
                                       KadGrabbedFrameInfo* info)
{
    g_return_val_if_fail(KAD_IS_SAMPLE_GRABBER(grabber), FALSE);
    g_return_val_if_fail(info != nullptr, FALSE);
    KadSampleGrabber* self = KAD_SAMPLE_GRABBER(grabber);

    GstBuffer* buffer = nullptr;
    GstVideoInfo videoInfo;
    guint64 number = 0;
    if (!takeLatest(self, &buffer, &videoInfo, &number)) return FALSE;
    describe(videoInfo, number, info);
    gboolean copied = FALSE;
    GstVideoFrame frame;
    if (dest && dest_size >= info->size &&
        gst_video_frame_map(&frame, &videoInfo, buffer, GST_MAP_READ)) {
        const guint8* src = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const gint srcStride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        const gsize rowBytes = static_cast<gsize>(info->width) * 3;
        for (gint row = 0; row < info->height; ++row) {
            guint8* out = dest + static_cast<gsize>(row) * static_cast<gsize>(info->stride);
            std::memcpy(out, src + static_cast<gssize>(row) * srcStride, rowBytes);
            std::memset(out + rowBytes, 0, static_cast<gsize>(info->stride) - rowBytes);
        }
        gst_video_frame_unmap(&frame);
        copied = TRUE;
    }
    gst_buffer_unref(buffer);
    return copied;
}

GstSample* kad_sample_grabber_get_last_sample(GstElement* grabber)
{
    g_return_val_if_fail(KAD_IS_SAMPLE_GRABBER(grabber), nullptr);
    KadSampleGrabber* self = KAD_SAMPLE_GRABBER(grabber);
    GstSample* sample = nullptr;
    GST_OBJECT_LOCK(self);
    if (self->latest) sample = gst_sample_new(self->latest, self->latestCaps, nullptr, nullptr);
    GST_OBJECT_UNLOCK(self);
    return sample;
}

guint64 kad_sample_grabber_frame_count(GstElement* grabber)
{
    g_return_val_if_fail(KAD_IS_SAMPLE_GRABBER(grabber), 0);
    KadSampleGrabber* self = KAD_SAMPLE_GRABBER(grabber);
    GST_OBJECT_LOCK(self);
    const guint64 count = self->frameCount;
    GST_OBJECT_UNLOCK(self);
    return count;
}

gboolean kad_sample_grabber_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(sample_grabber_debug, "kadsamplegrabber", 0, "Kadrillo sample grabber");
    return gst_element_register(plugin, "kadsamplegrabber", GST_RANK_NONE, KAD_TYPE_SAMPLE_GRABBER);
}
