#include "elements/sample_grabber.h"

#include <cstring>
#include <memory>
#include <vector>

#include "elements/dv_still_decoder.h"
#include "elements/raw_video_formats.h"

GST_DEBUG_CATEGORY_STATIC(sample_grabber_debug);
#define GST_CAT_DEFAULT sample_grabber_debug

// Locking: the latest frame, its video info and the counter are written by
// the streaming thread and read by the application, all under the object
// lock. Copying a frame out happens outside the lock on a reference of its
// own, so the stream is held up only for a pointer swap.
//
// On DV, info describes the picture a frame decodes to at full size (I420,
// the frame's size, aspect and rate) and dvCaps are the DV caps themselves,
// which travel with a taken frame so it can be decoded later.
struct _KadSampleGrabber {
    GstBaseTransform parent;

    GstVideoInfo info;       // negotiated format (streaming thread, set_caps)
    GstCaps* dvCaps;         // streaming thread: the DV caps, NULL on raw video
    gboolean stillPrepared;  // streaming thread: the still decoder was asked to get ready
    GstBuffer* latest;       // object lock
    GstVideoInfo latestInfo; // object lock: the format of latest
    GstCaps* latestDvCaps;   // object lock: the DV caps of latest, NULL on raw video
    guint64 frameCount;      // object lock
};

G_DEFINE_TYPE(KadSampleGrabber, kad_sample_grabber, GST_TYPE_BASE_TRANSFORM)

namespace {

enum { PROP_0, PROP_FRAME_COUNT, PROP_LAST_SAMPLE };

#define GRABBER_CAPS                                                                               \
    GST_VIDEO_CAPS_MAKE(KAD_RAW_VIDEO_FORMATS) "; video/x-dv, systemstream=(boolean)false"

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
    gst_clear_caps(&self->latestDvCaps);
    self->frameCount = 0;
    GST_OBJECT_UNLOCK(self);
}

bool isDvCaps(const GstCaps* caps)
{
    return caps && !gst_caps_is_empty(caps) &&
           gst_structure_has_name(gst_caps_get_structure(caps, 0), "video/x-dv");
}

// The full-size picture of DV caps; width and height stay 0 when the caps do
// not tell them (the frames' headers will).
void dvPictureInfo(const GstCaps* caps, gint width, gint height, GstVideoInfo* info)
{
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    if (width <= 0 || height <= 0) {
        width = height = 0;
        gst_structure_get_int(s, "width", &width);
        gst_structure_get_int(s, "height", &height);
    }
    gst_video_info_init(info);
    if (width > 0 && height > 0)
        gst_video_info_set_format(info, GST_VIDEO_FORMAT_I420, width, height);
    gint num = 0, den = 0;
    if (gst_structure_get_fraction(s, "pixel-aspect-ratio", &num, &den) && num > 0 && den > 0) {
        GST_VIDEO_INFO_PAR_N(info) = num;
        GST_VIDEO_INFO_PAR_D(info) = den;
    }
    if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0) {
        GST_VIDEO_INFO_FPS_N(info) = num;
        GST_VIDEO_INFO_FPS_D(info) = den;
    }
}

struct StillPreparation {
    GstBuffer* frame;
    GstCaps* caps;
};

gboolean frameToBitmap(KadSampleGrabber* self, GstSample* frame, guint8* dest, gsize destSize,
                       KadGrabbedFrameInfo* info);

void prepareStill(GstElement* /*grabber*/, gpointer data)
{
    auto* p = static_cast<StillPreparation*>(data);
    kad::PrepareDvStillDecoder(p->frame, p->caps);
    // One still made here and thrown away: the conversion to RGB sets
    // itself up at its first use too, which the first real still is spared.
    GstSample* frame = gst_sample_new(p->frame, p->caps, nullptr, nullptr);
    KadGrabbedFrameInfo info{};
    frameToBitmap(nullptr, frame, nullptr, 0, &info);
    if (info.size > 0) {
        std::vector<guint8> scratch(info.size);
        frameToBitmap(nullptr, frame, scratch.data(), scratch.size(), &info);
    }
    gst_sample_unref(frame);
}

void freePreparation(gpointer data)
{
    // GStreamer hands the preparation back here; adopting it frees it.
    std::unique_ptr<StillPreparation> p(static_cast<StillPreparation*>(data));
    gst_buffer_unref(p->frame);
    gst_caps_unref(p->caps);
}

gboolean setCaps(GstBaseTransform* trans, GstCaps* incaps, GstCaps* /*outcaps*/)
{
    KadSampleGrabber* self = KAD_SAMPLE_GRABBER(trans);
    if (isDvCaps(incaps)) {
        gst_caps_replace(&self->dvCaps, incaps);
        dvPictureInfo(incaps, 0, 0, &self->info);
        return TRUE;
    }
    gst_clear_caps(&self->dvCaps);
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
    // DV caps without a size: the first whole frame's header tells it.
    if (self->dvCaps && GST_VIDEO_INFO_WIDTH(&self->info) == 0) {
        gint width = 0, height = 0;
        if (kad::DvFramePictureSize(buffer, &width, &height))
            dvPictureInfo(self->dvCaps, width, height, &self->info);
    }
    // The first DV frame readies the still decoder on a thread of
    // GStreamer's pool, so that the first still is as quick as the next.
    if (self->dvCaps && !self->stillPrepared) {
        self->stillPrepared = TRUE;
        auto p = std::make_unique<StillPreparation>(
            StillPreparation{gst_buffer_ref(buffer), gst_caps_ref(self->dvCaps)});
        gst_element_call_async(GST_ELEMENT(self), prepareStill, p.release(), freePreparation);
    }
    GST_OBJECT_LOCK(self);
    gst_buffer_replace(&self->latest, buffer);
    self->latestInfo = self->info;
    gst_caps_replace(&self->latestDvCaps, self->dvCaps);
    ++self->frameCount;
    GST_OBJECT_UNLOCK(self);
    return GST_FLOW_OK;
}

gboolean start(GstBaseTransform* trans)
{
    KAD_SAMPLE_GRABBER(trans)->stillPrepared = FALSE;
    clearLatest(KAD_SAMPLE_GRABBER(trans));
    return TRUE;
}

// The latest frame as it came, with its number in the sample's info, or
// NULL when none has passed: a reference, taken under the lock.
GstSample* latestFrame(KadSampleGrabber* self)
{
    GST_OBJECT_LOCK(self);
    GstBuffer* buffer = self->latest ? gst_buffer_ref(self->latest) : nullptr;
    const GstVideoInfo info = self->latestInfo;
    GstCaps* dvCaps = self->latestDvCaps ? gst_caps_ref(self->latestDvCaps) : nullptr;
    const guint64 number = self->frameCount;
    GST_OBJECT_UNLOCK(self);
    if (!buffer) {
        if (dvCaps) gst_caps_unref(dvCaps);
        return nullptr;
    }
    GstCaps* caps = dvCaps ? dvCaps : gst_video_info_to_caps(&info);
    GstStructure* details =
        gst_structure_new("kad-grabbed-frame", "frame-number", G_TYPE_UINT64, number, nullptr);
    GstSample* sample = gst_sample_new(buffer, caps, nullptr, details);
    gst_caps_unref(caps);
    gst_buffer_unref(buffer);
    return sample;
}

void describe(const GstVideoInfo& info, guint64 number, KadGrabbedFrameInfo* out)
{
    out->width = GST_VIDEO_INFO_WIDTH(&info);
    out->height = GST_VIDEO_INFO_HEIGHT(&info);
    out->stride = bitmapStride(out->width);
    out->size = static_cast<gsize>(out->stride) * static_cast<gsize>(out->height);
    out->frame_number = number;
}

// The 24-bit RGB picture of a frame of info: same size, aspect and rate. Its
// rows are 3 * width rounded up to 4 bytes apart, as in a bitmap.
GstVideoInfo rgbInfo(const GstVideoInfo& info)
{
    GstVideoInfo rgb;
    gst_video_info_set_format(&rgb, GST_VIDEO_FORMAT_RGB, GST_VIDEO_INFO_WIDTH(&info),
                              GST_VIDEO_INFO_HEIGHT(&info));
    GST_VIDEO_INFO_PAR_N(&rgb) = GST_VIDEO_INFO_PAR_N(&info);
    GST_VIDEO_INFO_PAR_D(&rgb) = GST_VIDEO_INFO_PAR_D(&info);
    GST_VIDEO_INFO_FPS_N(&rgb) = GST_VIDEO_INFO_FPS_N(&info);
    GST_VIDEO_INFO_FPS_D(&rgb) = GST_VIDEO_INFO_FPS_D(&info);
    GST_VIDEO_INFO_INTERLACE_MODE(&rgb) = GST_VIDEO_INFO_INTERLACE_MODE(&info);
    GST_VIDEO_INFO_FIELD_ORDER(&rgb) = GST_VIDEO_INFO_FIELD_ORDER(&info);
    return rgb;
}

// Writes the frame in buffer (of format info) into dest as 24-bit RGB rows
// stride bytes apart, the bytes past each row zeroed. Runs on the caller's
// thread: only a still pays for the conversion.
gboolean toBitmap(KadSampleGrabber* self, const GstVideoInfo& info, GstBuffer* buffer, guint8* dest,
                  gint stride)
{
    const gint width = GST_VIDEO_INFO_WIDTH(&info);
    const gint height = GST_VIDEO_INFO_HEIGHT(&info);
    const gsize rowBytes = static_cast<gsize>(width) * 3;
    if (width <= 0 || height <= 0 || stride < static_cast<gint>(rowBytes)) return FALSE;

    GstVideoFrame in;
    if (!gst_video_frame_map(&in, &info, buffer, GST_MAP_READ)) {
        GST_WARNING_OBJECT(self, "cannot map the latest frame %" GST_PTR_FORMAT, buffer);
        return FALSE;
    }
    if (GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_RGB) {
        const guint8* src = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&in, 0));
        const gint srcStride = GST_VIDEO_FRAME_PLANE_STRIDE(&in, 0);
        for (gint row = 0; row < height; ++row)
            std::memcpy(dest + static_cast<gsize>(row) * static_cast<gsize>(stride),
                        src + static_cast<gssize>(row) * srcStride, rowBytes);
    } else {
        GstVideoInfo rgb = rgbInfo(info);
        GST_VIDEO_INFO_PLANE_STRIDE(&rgb, 0) = stride;
        GST_VIDEO_INFO_SIZE(&rgb) = static_cast<gsize>(stride) * static_cast<gsize>(height);
        GstBuffer* wrapped = gst_buffer_new_wrapped_full(
            static_cast<GstMemoryFlags>(0), dest, GST_VIDEO_INFO_SIZE(&rgb), 0,
            GST_VIDEO_INFO_SIZE(&rgb), nullptr, nullptr);
        GstVideoFrame out;
        if (!gst_video_frame_map(&out, &rgb, wrapped, GST_MAP_WRITE)) {
            gst_buffer_unref(wrapped);
            gst_video_frame_unmap(&in);
            return FALSE;
        }
        GstVideoConverter* converter = gst_video_converter_new(&info, &rgb, nullptr);
        if (converter) {
            gst_video_converter_frame(converter, &in, &out);
            gst_video_converter_free(converter);
        }
        gst_video_frame_unmap(&out);
        gst_buffer_unref(wrapped);
        if (!converter) {
            GST_WARNING_OBJECT(self, "no conversion from %s to RGB",
                               gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info)));
            gst_video_frame_unmap(&in);
            return FALSE;
        }
    }
    gst_video_frame_unmap(&in);
    for (gint row = 0; row < height; ++row)
        std::memset(dest + static_cast<gsize>(row) * static_cast<gsize>(stride) + rowBytes, 0,
                    static_cast<gsize>(stride) - rowBytes);
    return TRUE;
}

// The picture of a frame of latestFrame: its raw format, or for DV the
// full-size picture it decodes to. FALSE when there is none.
gboolean pictureInfo(GstSample* frame, GstVideoInfo* picture)
{
    GstBuffer* buffer = gst_sample_get_buffer(frame);
    GstCaps* caps = gst_sample_get_caps(frame);
    if (!buffer || !caps) return FALSE;
    if (!isDvCaps(caps)) return gst_video_info_from_caps(picture, caps);
    gint width = 0, height = 0;
    if (!kad::DvFramePictureSize(buffer, &width, &height)) return FALSE;
    dvPictureInfo(caps, width, height, picture);
    return TRUE;
}

// A frame of latestFrame as 24-bit RGB into dest, described in info (even
// when dest is too small for it). Every way out of the grabber to RGB comes
// here.
gboolean frameToBitmap(KadSampleGrabber* self, GstSample* frame, guint8* dest, gsize destSize,
                       KadGrabbedFrameInfo* info)
{
    GstVideoInfo videoInfo;
    if (!pictureInfo(frame, &videoInfo)) {
        if (self) GST_WARNING_OBJECT(self, "the latest frame holds no picture");
        return FALSE;
    }
    guint64 number = 0;
    if (const GstStructure* details = gst_sample_get_info(frame))
        gst_structure_get_uint64(details, "frame-number", &number);
    describe(videoInfo, number, info);
    if (!dest || destSize < info->size) return FALSE;
    if (!isDvCaps(gst_sample_get_caps(frame)))
        return toBitmap(self, videoInfo, gst_sample_get_buffer(frame), dest, info->stride);

    // DV: this one frame decoded at full size, then converted as a raw
    // frame would be.
    GstSample* decoded =
        kad::DecodeDvStill(gst_sample_get_buffer(frame), gst_sample_get_caps(frame));
    GstVideoInfo decodedInfo;
    gboolean done = decoded && gst_sample_get_buffer(decoded) &&
                    gst_video_info_from_caps(&decodedInfo, gst_sample_get_caps(decoded)) &&
                    GST_VIDEO_INFO_WIDTH(&decodedInfo) == info->width &&
                    GST_VIDEO_INFO_HEIGHT(&decodedInfo) == info->height;
    if (done)
        done = toBitmap(self, decodedInfo, gst_sample_get_buffer(decoded), dest, info->stride);
    else if (self)
        GST_WARNING_OBJECT(self, "the DV frame %" G_GUINT64_FORMAT " could not be decoded", number);
    if (decoded) gst_sample_unref(decoded);
    return done;
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
    gst_clear_caps(&self->latestDvCaps);
    gst_clear_caps(&self->dvCaps);
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
                                          "Keeps the latest frame for still images", "Kadrillo");

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
    self->dvCaps = nullptr;
    self->stillPrepared = FALSE;
    self->latestDvCaps = nullptr;
    self->latest = nullptr;
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
    GstSample* frame = latestFrame(self);
    if (!frame) return FALSE;
    const gboolean copied = frameToBitmap(self, frame, dest, dest_size, info);
    gst_sample_unref(frame);
    return copied;
}

GstSample* kad_sample_grabber_get_last_sample(GstElement* grabber)
{
    g_return_val_if_fail(KAD_IS_SAMPLE_GRABBER(grabber), nullptr);
    KadSampleGrabber* self = KAD_SAMPLE_GRABBER(grabber);
    GstSample* frame = latestFrame(self);
    GstVideoInfo videoInfo;
    if (!frame || !pictureInfo(frame, &videoInfo)) {
        if (frame) gst_sample_unref(frame);
        return nullptr;
    }
    const GstVideoInfo rgb = rgbInfo(videoInfo);
    GstBuffer* out = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&rgb), nullptr);
    GstMapInfo map;
    KadGrabbedFrameInfo info{};
    gboolean ok = gst_buffer_map(out, &map, GST_MAP_WRITE);
    if (ok) {
        ok = frameToBitmap(self, frame, map.data, map.size, &info);
        gst_buffer_unmap(out, &map);
    }
    GstSample* sample = nullptr;
    if (ok) {
        gst_buffer_copy_into(out, gst_sample_get_buffer(frame), GST_BUFFER_COPY_METADATA, 0, -1);
        GstCaps* caps = gst_video_info_to_caps(&rgb);
        sample = gst_sample_new(out, caps, nullptr, nullptr);
        gst_caps_unref(caps);
    }
    gst_buffer_unref(out);
    gst_sample_unref(frame);
    return sample;
}

GstSample* kad_sample_grabber_take_frame(GstElement* grabber)
{
    g_return_val_if_fail(KAD_IS_SAMPLE_GRABBER(grabber), nullptr);
    return latestFrame(KAD_SAMPLE_GRABBER(grabber));
}

gboolean kad_sample_grabber_frame_to_rgb(GstSample* frame, guint8* dest, gsize dest_size,
                                         KadGrabbedFrameInfo* info)
{
    g_return_val_if_fail(frame != nullptr, FALSE);
    g_return_val_if_fail(info != nullptr, FALSE);
    return frameToBitmap(nullptr, frame, dest, dest_size, info);
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
