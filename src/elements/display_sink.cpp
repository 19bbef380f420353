#include "elements/display_sink.h"

#include "elements/raw_video_formats.h"

GST_DEBUG_CATEGORY_STATIC(display_sink_debug);
#define GST_CAT_DEFAULT display_sink_debug

// Locking:
// - object lock: info and haveInfo (the negotiated picture, read by the
//   application), displayWidth and displayHeight;
// - the converters, their formats and the scaled picture belong to the
//   delivery thread alone;
// - mailboxLock/mailboxCond: pending, pendingInfo, stopping and the frame
//   counters, shared by the streaming thread and the delivery thread;
// - callbackLock/callbackCond: the registered callback and inCall, shared by
//   the delivery thread and whoever changes the callback.
// No lock is held while the callback runs, and the streaming thread never
// waits for anything but a mailbox pointer swap.
struct _KadDisplaySink {
    GstVideoSink parent;

    GstVideoInfo info;
    gboolean haveInfo;
    gint displayWidth;
    gint displayHeight;

    GstVideoConverter* converter;
    GstVideoInfo converterIn;
    GstVideoInfo converterOut;
    GstVideoConverter* scaler;
    GstVideoInfo scalerIn;
    GstVideoInfo scalerOut;
    GstBuffer* scaled;

    GMutex mailboxLock;
    GCond mailboxCond;
    GstBuffer* pending;
    GstVideoInfo pendingInfo;
    gboolean stopping;
    guint64 rendered;
    guint64 delivered;
    guint64 dropped;
    GThread* deliverer;

    GMutex callbackLock;
    GCond callbackCond;
    KadDisplayFrameFunc func;
    gpointer userData;
    GDestroyNotify destroy;
    gboolean inCall;
};

G_DEFINE_TYPE(KadDisplaySink, kad_display_sink, GST_TYPE_VIDEO_SINK)

namespace {

enum {
    PROP_0,
    PROP_FRAMES_RENDERED,
    PROP_FRAMES_DELIVERED,
    PROP_FRAMES_DROPPED,
    PROP_DISPLAY_WIDTH,
    PROP_DISPLAY_HEIGHT
};

constexpr gint kMaxDisplaySide = 16384;

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE(KAD_RAW_VIDEO_FORMATS)));

void freeConverters(KadDisplaySink* self)
{
    if (self->converter) gst_video_converter_free(self->converter);
    self->converter = nullptr;
    if (self->scaler) gst_video_converter_free(self->scaler);
    self->scaler = nullptr;
    gst_clear_buffer(&self->scaled);
}

// A converter from in to out, kept in *kept while the formats stay the same.
// Linear filters: the picture only has to look right at the window's size.
GstVideoConverter* cachedConverter(GstVideoConverter** kept, GstVideoInfo* keptIn,
                                   GstVideoInfo* keptOut, const GstVideoInfo& in,
                                   const GstVideoInfo& out)
{
    if (*kept && gst_video_info_is_equal(keptIn, &in) && gst_video_info_is_equal(keptOut, &out))
        return *kept;
    if (*kept) gst_video_converter_free(*kept);
    GstStructure* config = gst_structure_new(
        "config", GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD, GST_TYPE_VIDEO_RESAMPLER_METHOD,
        GST_VIDEO_RESAMPLER_METHOD_LINEAR, GST_VIDEO_CONVERTER_OPT_CHROMA_RESAMPLER_METHOD,
        GST_TYPE_VIDEO_RESAMPLER_METHOD, GST_VIDEO_RESAMPLER_METHOD_LINEAR,
        GST_VIDEO_CONVERTER_OPT_DITHER_METHOD, GST_TYPE_VIDEO_DITHER_METHOD, GST_VIDEO_DITHER_NONE,
        nullptr);
    *kept = gst_video_converter_new(&in, &out, config);
    *keptIn = in;
    *keptOut = out;
    return *kept;
}

gboolean convertFrame(GstVideoConverter* converter, const GstVideoInfo& in, GstBuffer* from,
                      const GstVideoInfo& out, GstBuffer* to)
{
    GstVideoFrame src;
    GstVideoFrame dst;
    if (!gst_video_frame_map(&src, &in, from, GST_MAP_READ)) return FALSE;
    if (!gst_video_frame_map(&dst, &out, to, GST_MAP_WRITE)) {
        gst_video_frame_unmap(&src);
        return FALSE;
    }
    gst_video_converter_frame(converter, &src, &dst);
    gst_video_frame_unmap(&dst);
    gst_video_frame_unmap(&src);
    return TRUE;
}

// A picture shown smaller than the source is first scaled in the source's
// own format (a plane-by-plane pass that the library runs on its fast
// paths), and only the small picture is converted to RGBx: one pass doing
// both works through the colour conversion at a cost several times that of
// the two passes together (1.26 against 0.38 ms a PAL frame shown at
// 384 x 288). Returns the scaled frame in *scaledInfo, or NULL when the
// source is shown at its own size or larger, or cannot be scaled.
GstBuffer* scaledFirst(KadDisplaySink* self, GstBuffer* buffer, const GstVideoInfo& in,
                       const GstVideoInfo& out, GstVideoInfo* scaledInfo)
{
    const gint width = GST_VIDEO_INFO_WIDTH(&out);
    const gint height = GST_VIDEO_INFO_HEIGHT(&out);
    if (gint64(width) * height >= gint64(GST_VIDEO_INFO_WIDTH(&in)) * GST_VIDEO_INFO_HEIGHT(&in))
        return nullptr;
    GstVideoInfo small = in;
    if (!gst_video_info_set_interlaced_format(&small, GST_VIDEO_INFO_FORMAT(&in),
                                              GST_VIDEO_INFO_INTERLACE_MODE(&in), width, height))
        return nullptr;
    GST_VIDEO_INFO_PAR_N(&small) = GST_VIDEO_INFO_PAR_N(&out);
    GST_VIDEO_INFO_PAR_D(&small) = GST_VIDEO_INFO_PAR_D(&out);
    GST_VIDEO_INFO_FPS_N(&small) = GST_VIDEO_INFO_FPS_N(&in);
    GST_VIDEO_INFO_FPS_D(&small) = GST_VIDEO_INFO_FPS_D(&in);
    GST_VIDEO_INFO_FIELD_ORDER(&small) = GST_VIDEO_INFO_FIELD_ORDER(&in);
    small.chroma_site = in.chroma_site;
    small.colorimetry = in.colorimetry;
    GstVideoConverter* scaler =
        cachedConverter(&self->scaler, &self->scalerIn, &self->scalerOut, in, small);
    if (!scaler) return nullptr;
    // The scaled picture is ours alone until the next frame: it is reused.
    if (self->scaled && gst_buffer_get_size(self->scaled) != GST_VIDEO_INFO_SIZE(&small))
        gst_clear_buffer(&self->scaled);
    if (!self->scaled)
        self->scaled = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&small), nullptr);
    if (!convertFrame(scaler, in, buffer, small, self->scaled)) return nullptr;
    *scaledInfo = small;
    return self->scaled;
}

// One field of an interlaced picture of info seen as a picture of its own:
// every other line, so twice the strides and half the height.
GstVideoInfo fieldOf(const GstVideoInfo& info)
{
    GstVideoInfo field = info;
    GST_VIDEO_INFO_INTERLACE_MODE(&field) = GST_VIDEO_INTERLACE_MODE_PROGRESSIVE;
    GST_VIDEO_INFO_HEIGHT(&field) = GST_VIDEO_INFO_HEIGHT(&info) / 2;
    for (guint p = 0; p < GST_VIDEO_INFO_N_PLANES(&info); ++p)
        GST_VIDEO_INFO_PLANE_STRIDE(&field, p) = 2 * GST_VIDEO_INFO_PLANE_STRIDE(&info, p);
    return field;
}

// The interlaced conversion of 4:2:0 keeps each field's colour apart line by
// line, at three times the cost of converting whole frames; converting each
// field as a picture of its own gives the same result at the cost of whole
// frames. Fields of interleaved pictures of even height only.
bool convertsByField(const GstVideoInfo& info)
{
    return GST_VIDEO_INFO_INTERLACE_MODE(&info) == GST_VIDEO_INTERLACE_MODE_INTERLEAVED &&
           GST_VIDEO_INFO_HEIGHT(&info) % 2 == 0;
}

gboolean convertFields(GstVideoConverter* converter, const GstVideoInfo& in, GstBuffer* from,
                       const GstVideoInfo& out, GstBuffer* to)
{
    GstVideoFrame src;
    GstVideoFrame dst;
    if (!gst_video_frame_map(&src, &in, from, GST_MAP_READ)) return FALSE;
    if (!gst_video_frame_map(&dst, &out, to, GST_MAP_WRITE)) {
        gst_video_frame_unmap(&src);
        return FALSE;
    }
    for (gint field = 0; field < 2; ++field) {
        GstVideoFrame fieldSrc = src;
        GstVideoFrame fieldDst = dst;
        fieldSrc.info = fieldOf(src.info);
        fieldDst.info = fieldOf(dst.info);
        for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&src); ++p)
            fieldSrc.data[p] = static_cast<guint8*>(src.data[p]) + field * src.info.stride[p];
        for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&dst); ++p)
            fieldDst.data[p] = static_cast<guint8*>(dst.data[p]) + field * dst.info.stride[p];
        gst_video_converter_frame(converter, &fieldSrc, &fieldDst);
    }
    gst_video_frame_unmap(&dst);
    gst_video_frame_unmap(&src);
    return TRUE;
}

// The pixel aspect of a picture of width x height that shows the source of
// info at its display aspect.
void scaledAspect(const GstVideoInfo& info, gint width, gint height, gint* parN, gint* parD)
{
    const gint64 n =
        static_cast<gint64>(GST_VIDEO_INFO_PAR_N(&info)) * GST_VIDEO_INFO_WIDTH(&info) * height;
    const gint64 d =
        static_cast<gint64>(GST_VIDEO_INFO_PAR_D(&info)) * GST_VIDEO_INFO_HEIGHT(&info) * width;
    gint64 a = n, b = d;
    while (b != 0) {
        const gint64 t = a % b;
        a = b;
        b = t;
    }
    if (a <= 0 || n / a > G_MAXINT || d / a > G_MAXINT) {
        *parN = 1;
        *parD = 1;
        return;
    }
    *parN = static_cast<gint>(n / a);
    *parD = static_cast<gint>(d / a);
}

// The frame as it is shown: buffer itself when it is RGBx at the shown size
// already, otherwise a new buffer made in one conversion and scaling pass.
// Returns a reference, or NULL when the frame cannot be converted.
GstBuffer* shownBuffer(KadDisplaySink* self, GstBuffer* buffer, const GstVideoInfo& in,
                       GstVideoInfo* out)
{
    GST_OBJECT_LOCK(self);
    gint width = self->displayWidth;
    gint height = self->displayHeight;
    GST_OBJECT_UNLOCK(self);
    if (width <= 0 || height <= 0) {
        width = GST_VIDEO_INFO_WIDTH(&in);
        height = GST_VIDEO_INFO_HEIGHT(&in);
    }
    gst_video_info_set_format(out, GST_VIDEO_FORMAT_RGBx, width, height);
    scaledAspect(in, width, height, &GST_VIDEO_INFO_PAR_N(out), &GST_VIDEO_INFO_PAR_D(out));
    GST_VIDEO_INFO_FPS_N(out) = GST_VIDEO_INFO_FPS_N(&in);
    GST_VIDEO_INFO_FPS_D(out) = GST_VIDEO_INFO_FPS_D(&in);
    // The converter scales each field of an interlaced picture on its own.
    GST_VIDEO_INFO_INTERLACE_MODE(out) = GST_VIDEO_INFO_INTERLACE_MODE(&in);
    GST_VIDEO_INFO_FIELD_ORDER(out) = GST_VIDEO_INFO_FIELD_ORDER(&in);
    if (GST_VIDEO_INFO_FORMAT(&in) == GST_VIDEO_FORMAT_RGBx && GST_VIDEO_INFO_WIDTH(&in) == width &&
        GST_VIDEO_INFO_HEIGHT(&in) == height) {
        *out = in;
        return gst_buffer_ref(buffer);
    }

    GstVideoInfo fromInfo = in;
    GstBuffer* from = scaledFirst(self, buffer, in, *out, &fromInfo);
    if (!from) {
        from = buffer;
        fromInfo = in;
    }
    // Scaled first, the picture is at the shown size: only the colours change.
    const bool byField = from != buffer && convertsByField(fromInfo);
    const GstVideoInfo convertIn = byField ? fieldOf(fromInfo) : fromInfo;
    const GstVideoInfo convertOut = byField ? fieldOf(*out) : *out;
    GstVideoConverter* converter = cachedConverter(&self->converter, &self->converterIn,
                                                   &self->converterOut, convertIn, convertOut);
    if (!converter) {
        GST_WARNING_OBJECT(self, "no conversion from %s to RGBx",
                           gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&in)));
        return nullptr;
    }
    GstBuffer* shown = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(out), nullptr);
    const gboolean converted = byField ? convertFields(converter, fromInfo, from, *out, shown)
                                       : convertFrame(converter, fromInfo, from, *out, shown);
    if (!converted) {
        gst_buffer_unref(shown);
        return nullptr;
    }
    gst_buffer_copy_into(shown, buffer, GST_BUFFER_COPY_TIMESTAMPS, 0, -1);
    return shown;
}

void deliver(KadDisplaySink* self, GstBuffer* buffer, GstVideoInfo* info)
{
    g_mutex_lock(&self->callbackLock);
    KadDisplayFrameFunc func = self->func;
    gpointer userData = self->userData;
    self->inCall = func != nullptr;
    g_mutex_unlock(&self->callbackLock);
    if (!func) return;

    GstVideoInfo shownInfo;
    GstBuffer* shown = shownBuffer(self, buffer, *info, &shownInfo);
    GstVideoFrame frame;
    if (shown && gst_video_frame_map(&frame, &shownInfo, shown, GST_MAP_READ)) {
        KadDisplayFrame view{};
        view.width = GST_VIDEO_FRAME_WIDTH(&frame);
        view.height = GST_VIDEO_FRAME_HEIGHT(&frame);
        view.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        view.data = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        view.par_n = GST_VIDEO_INFO_PAR_N(&shownInfo);
        view.par_d = GST_VIDEO_INFO_PAR_D(&shownInfo);
        view.pts = GST_BUFFER_PTS(buffer);
        view.buffer = shown;
        view.source_width = GST_VIDEO_INFO_WIDTH(info);
        view.source_height = GST_VIDEO_INFO_HEIGHT(info);
        func(&view, userData);
        gst_video_frame_unmap(&frame);
        g_mutex_lock(&self->mailboxLock);
        ++self->delivered;
        g_mutex_unlock(&self->mailboxLock);
    } else {
        GST_WARNING_OBJECT(self, "cannot show frame %" GST_PTR_FORMAT, buffer);
    }
    if (shown) gst_buffer_unref(shown);

    g_mutex_lock(&self->callbackLock);
    self->inCall = FALSE;
    g_cond_broadcast(&self->callbackCond);
    g_mutex_unlock(&self->callbackLock);
}

gpointer deliveryLoop(gpointer data)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(data);
    g_mutex_lock(&self->mailboxLock);
    for (;;) {
        while (!self->pending && !self->stopping)
            g_cond_wait(&self->mailboxCond, &self->mailboxLock);
        if (self->stopping) break;
        GstBuffer* buffer = self->pending;
        GstVideoInfo info = self->pendingInfo;
        self->pending = nullptr;
        g_mutex_unlock(&self->mailboxLock);
        deliver(self, buffer, &info);
        gst_buffer_unref(buffer);
        g_mutex_lock(&self->mailboxLock);
    }
    g_mutex_unlock(&self->mailboxLock);
    return nullptr;
}

void stopDelivery(KadDisplaySink* self)
{
    g_mutex_lock(&self->mailboxLock);
    self->stopping = TRUE;
    g_cond_broadcast(&self->mailboxCond);
    GThread* deliverer = self->deliverer;
    self->deliverer = nullptr;
    g_mutex_unlock(&self->mailboxLock);
    if (deliverer) g_thread_join(deliverer);
    g_mutex_lock(&self->mailboxLock);
    gst_clear_buffer(&self->pending);
    g_mutex_unlock(&self->mailboxLock);
    // The delivery thread has ended: the converters are free to go.
    freeConverters(self);
}

gboolean start(GstBaseSink* sink)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);
    g_mutex_lock(&self->mailboxLock);
    self->stopping = FALSE;
    self->rendered = 0;
    self->delivered = 0;
    self->dropped = 0;
    g_mutex_unlock(&self->mailboxLock);
    GError* error = nullptr;
    GThread* deliverer = g_thread_try_new("kaddisplay", deliveryLoop, self, &error);
    if (!deliverer) {
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("The video display could not be started."),
                          ("cannot start the delivery thread: %s", error->message));
        g_error_free(error);
        return FALSE;
    }
    g_mutex_lock(&self->mailboxLock);
    self->deliverer = deliverer;
    g_mutex_unlock(&self->mailboxLock);
    return TRUE;
}

gboolean stop(GstBaseSink* sink)
{
    stopDelivery(KAD_DISPLAY_SINK(sink));
    return TRUE;
}

gboolean setInfo(GstVideoSink* sink, GstCaps* /*caps*/, const GstVideoInfo* info)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);
    GST_OBJECT_LOCK(self);
    self->info = *info;
    self->haveInfo = TRUE;
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

GstFlowReturn showFrame(GstVideoSink* sink, GstBuffer* buffer)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);
    GST_OBJECT_LOCK(self);
    const GstVideoInfo info = self->info;
    GST_OBJECT_UNLOCK(self);

    g_mutex_lock(&self->mailboxLock);
    if (self->pending) {
        gst_buffer_unref(self->pending);
        ++self->dropped;
    }
    self->pending = gst_buffer_ref(buffer);
    self->pendingInfo = info;
    ++self->rendered;
    g_cond_signal(&self->mailboxCond);
    g_mutex_unlock(&self->mailboxLock);
    return GST_FLOW_OK;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(object);
    switch (id) {
    case PROP_DISPLAY_WIDTH:
        GST_OBJECT_LOCK(self);
        self->displayWidth = g_value_get_int(value);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_DISPLAY_HEIGHT:
        GST_OBJECT_LOCK(self);
        self->displayHeight = g_value_get_int(value);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(object);
    if (id == PROP_DISPLAY_WIDTH || id == PROP_DISPLAY_HEIGHT) {
        GST_OBJECT_LOCK(self);
        g_value_set_int(value, id == PROP_DISPLAY_WIDTH ? self->displayWidth : self->displayHeight);
        GST_OBJECT_UNLOCK(self);
        return;
    }
    g_mutex_lock(&self->mailboxLock);
    switch (id) {
    case PROP_FRAMES_RENDERED:
        g_value_set_uint64(value, self->rendered);
        break;
    case PROP_FRAMES_DELIVERED:
        g_value_set_uint64(value, self->delivered);
        break;
    case PROP_FRAMES_DROPPED:
        g_value_set_uint64(value, self->dropped);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    g_mutex_unlock(&self->mailboxLock);
}

void finalize(GObject* object)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(object);
    stopDelivery(self);
    if (self->destroy) self->destroy(self->userData);
    g_mutex_clear(&self->mailboxLock);
    g_cond_clear(&self->mailboxCond);
    g_mutex_clear(&self->callbackLock);
    g_cond_clear(&self->callbackCond);
    G_OBJECT_CLASS(kad_display_sink_parent_class)->finalize(object);
}

GParamSpec* counterSpec(const char* name, const char* nick, const char* blurb)
{
    return g_param_spec_uint64(name, nick, blurb, 0, G_MAXUINT64, 0,
                               static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));
}

} // namespace

static void kad_display_sink_class_init(KadDisplaySinkClass* klass)
{
    GObjectClass* gobjectClass = G_OBJECT_CLASS(klass);
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    GstBaseSinkClass* baseSinkClass = GST_BASE_SINK_CLASS(klass);
    GstVideoSinkClass* videoSinkClass = GST_VIDEO_SINK_CLASS(klass);

    gobjectClass->set_property = setProperty;
    gobjectClass->get_property = getProperty;
    gobjectClass->finalize = finalize;

    const auto sizeFlags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        gobjectClass, PROP_DISPLAY_WIDTH,
        g_param_spec_int("display-width", "Display width",
                         "Width the frames are shown at (0: the source's)", 0, kMaxDisplaySide, 0,
                         sizeFlags));
    g_object_class_install_property(
        gobjectClass, PROP_DISPLAY_HEIGHT,
        g_param_spec_int("display-height", "Display height",
                         "Height the frames are shown at (0: the source's)", 0, kMaxDisplaySide, 0,
                         sizeFlags));

    g_object_class_install_property(
        gobjectClass, PROP_FRAMES_RENDERED,
        counterSpec("frames-rendered", "Frames rendered", "Frames that reached the display"));
    g_object_class_install_property(
        gobjectClass, PROP_FRAMES_DELIVERED,
        counterSpec("frames-delivered", "Frames delivered", "Frames handed to the callback"));
    g_object_class_install_property(
        gobjectClass, PROP_FRAMES_DROPPED,
        counterSpec("frames-dropped", "Frames dropped",
                    "Frames replaced by a newer one before the callback was free"));

    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_set_static_metadata(
        elementClass, "Kadrillo display sink", "Sink/Video",
        "Shows the preview frames in the video window at its size", "Kadrillo");

    baseSinkClass->start = start;
    baseSinkClass->stop = stop;
    videoSinkClass->set_info = setInfo;
    videoSinkClass->show_frame = showFrame;
}

static void kad_display_sink_init(KadDisplaySink* self)
{
    gst_video_info_init(&self->info);
    gst_video_info_init(&self->pendingInfo);
    self->haveInfo = FALSE;
    self->displayWidth = 0;
    self->displayHeight = 0;
    self->converter = nullptr;
    gst_video_info_init(&self->converterIn);
    gst_video_info_init(&self->converterOut);
    self->scaler = nullptr;
    gst_video_info_init(&self->scalerIn);
    gst_video_info_init(&self->scalerOut);
    self->scaled = nullptr;
    g_mutex_init(&self->mailboxLock);
    g_cond_init(&self->mailboxCond);
    self->pending = nullptr;
    self->stopping = FALSE;
    self->rendered = 0;
    self->delivered = 0;
    self->dropped = 0;
    self->deliverer = nullptr;
    g_mutex_init(&self->callbackLock);
    g_cond_init(&self->callbackCond);
    self->func = nullptr;
    self->userData = nullptr;
    self->destroy = nullptr;
    self->inCall = FALSE;
}

void kad_display_sink_set_callback(GstElement* sink, KadDisplayFrameFunc func, gpointer user_data,
                                   GDestroyNotify destroy)
{
    g_return_if_fail(KAD_IS_DISPLAY_SINK(sink));
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);

    g_mutex_lock(&self->callbackLock);
    while (self->inCall)
        g_cond_wait(&self->callbackCond, &self->callbackLock);
    gpointer oldData = self->userData;
    GDestroyNotify oldDestroy = self->destroy;
    self->func = func;
    self->userData = user_data;
    self->destroy = destroy;
    g_mutex_unlock(&self->callbackLock);
    if (oldDestroy) oldDestroy(oldData);
}

gboolean kad_display_sink_get_aspect(GstElement* sink, gint* width, gint* height, gint* par_n,
                                     gint* par_d)
{
    g_return_val_if_fail(KAD_IS_DISPLAY_SINK(sink), FALSE);
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);
    GST_OBJECT_LOCK(self);
    const gboolean have = self->haveInfo;
    if (have) {
        if (width) *width = GST_VIDEO_INFO_WIDTH(&self->info);
        if (height) *height = GST_VIDEO_INFO_HEIGHT(&self->info);
        if (par_n) *par_n = GST_VIDEO_INFO_PAR_N(&self->info);
        if (par_d) *par_d = GST_VIDEO_INFO_PAR_D(&self->info);
    }
    GST_OBJECT_UNLOCK(self);
    return have;
}

void kad_display_sink_set_display_size(GstElement* sink, gint width, gint height)
{
    g_return_if_fail(KAD_IS_DISPLAY_SINK(sink));
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);
    GST_OBJECT_LOCK(self);
    self->displayWidth = CLAMP(width, 0, kMaxDisplaySide);
    self->displayHeight = CLAMP(height, 0, kMaxDisplaySide);
    GST_OBJECT_UNLOCK(self);
}

gboolean kad_display_sink_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(display_sink_debug, "kaddisplaysink", 0, "Kadrillo display sink");
    return gst_element_register(plugin, "kaddisplaysink", GST_RANK_NONE, KAD_TYPE_DISPLAY_SINK);
}
