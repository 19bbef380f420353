#include "elements/display_sink.h"

GST_DEBUG_CATEGORY_STATIC(display_sink_debug);
#define GST_CAT_DEFAULT display_sink_debug

// Locking:
// - object lock: info and haveInfo (the negotiated picture, read by the
//   application);
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

enum { PROP_0, PROP_FRAMES_RENDERED, PROP_FRAMES_DELIVERED, PROP_FRAMES_DROPPED };

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("RGBx")));

void deliver(KadDisplaySink* self, GstBuffer* buffer, GstVideoInfo* info)
{
    g_mutex_lock(&self->callbackLock);
    KadDisplayFrameFunc func = self->func;
    gpointer userData = self->userData;
    self->inCall = func != nullptr;
    g_mutex_unlock(&self->callbackLock);
    if (!func) return;

    GstVideoFrame frame;
    if (gst_video_frame_map(&frame, info, buffer, GST_MAP_READ)) {
        KadDisplayFrame shown{};
        shown.width = GST_VIDEO_FRAME_WIDTH(&frame);
        shown.height = GST_VIDEO_FRAME_HEIGHT(&frame);
        shown.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        shown.data = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        shown.par_n = GST_VIDEO_INFO_PAR_N(info);
        shown.par_d = GST_VIDEO_INFO_PAR_D(info);
        shown.pts = GST_BUFFER_PTS(buffer);
        shown.buffer = buffer;
        func(&shown, userData);
        gst_video_frame_unmap(&frame);
        g_mutex_lock(&self->mailboxLock);
        ++self->delivered;
        g_mutex_unlock(&self->mailboxLock);
    } else {
        GST_WARNING_OBJECT(self, "cannot map frame %" GST_PTR_FORMAT, buffer);
    }

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

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(object);
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

    gobjectClass->get_property = getProperty;
    gobjectClass->finalize = finalize;

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
    gst_element_class_set_static_metadata(elementClass, "Kadrillo display sink", "Sink/Video",
                                          "Hands the preview frames to the video window",
                                          "Kadrillo");

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

gboolean kad_display_sink_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(display_sink_debug, "kaddisplaysink", 0, "Kadrillo display sink");
    return gst_element_register(plugin, "kaddisplaysink", GST_RANK_NONE, KAD_TYPE_DISPLAY_SINK);
}
