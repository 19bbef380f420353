#include "elements/smart_tee.h"

GST_DEBUG_CATEGORY_STATIC(kad_smart_tee_debug);
#define GST_CAT_DEFAULT kad_smart_tee_debug

// No lock of its own: the inner elements are created in init and never
// change, the pads are ghost pads that GStreamer itself keeps thread-safe,
// and the one setting changed while streaming (the preview queue's
// "leaky") is a property, which the queue guards itself.
struct _KadSmartTee {
    GstBin parent;
    GstElement* tee;
    GstElement* captureQueue;
    GstElement* previewQueue;
};

G_DEFINE_TYPE(KadSmartTee, kad_smart_tee, GST_TYPE_BIN)

namespace {

// How much the preview may fall behind before it starts dropping: a few
// frames keep the picture smooth without adding visible delay.
constexpr guint kPreviewQueueBuffers = 3;
// The capture output holds up to this much data before it pushes back on
// the source; it never drops.
constexpr guint64 kCaptureQueueTime = 2 * GST_SECOND;

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
GstStaticPadTemplate captureTemplate =
    GST_STATIC_PAD_TEMPLATE("capture", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
GstStaticPadTemplate previewTemplate =
    GST_STATIC_PAD_TEMPLATE("preview", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

void addGhost(GstElement* bin, GstElement* inner, const char* innerPad, GstStaticPadTemplate* tpl)
{
    GstPad* target = gst_element_get_static_pad(inner, innerPad);
    GstPad* ghost = gst_ghost_pad_new_from_template(tpl->name_template, target,
                                                    gst_static_pad_template_get(tpl));
    gst_object_unref(target);
    gst_element_add_pad(bin, ghost);
}

// Links a new tee branch to queue's sink pad.
void linkBranch(GstElement* tee, GstElement* queue)
{
    GstPad* src = gst_element_request_pad_simple(tee, "src_%u");
    GstPad* sink = gst_element_get_static_pad(queue, "sink");
    gst_pad_link(src, sink);
    gst_object_unref(sink);
    gst_object_unref(src);
}

// The preview drops only behind a live source, where a late frame is worth
// nothing. Behind a source that is read as fast as it goes (a file, a test)
// nothing is ever late, so the preview keeps every frame; otherwise it
// would drop nearly all of them. Decided when the stream's format is set
// (sources answer the latency question only once they have one); a source
// that does not answer counts as live.
GstPadProbeReturn onCaps(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
    auto* self = static_cast<KadSmartTee*>(data);
    GstQuery* query = gst_query_new_latency();
    gboolean live = TRUE;
    if (gst_pad_peer_query(pad, query)) gst_query_parse_latency(query, &live, nullptr, nullptr);
    gst_query_unref(query);
    GST_DEBUG_OBJECT(self, "source is %slive: the preview %s", live ? "" : "not ",
                     live ? "drops when late" : "keeps every frame");
    g_object_set(self->previewQueue, "leaky", live ? 2 : 0, NULL);
    return GST_PAD_PROBE_OK;
}

} // namespace

static void kad_smart_tee_class_init(KadSmartTeeClass* klass)
{
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_add_static_pad_template(element, &captureTemplate);
    gst_element_class_add_static_pad_template(element, &previewTemplate);
    gst_element_class_set_static_metadata(
        element, "Smart Tee", "Generic",
        "Splits a stream into a capture output that never drops and a preview output that drops "
        "when late",
        "Kadrillo");
}

static void kad_smart_tee_init(KadSmartTee* self)
{
    self->tee = gst_element_factory_make("tee", "tee");
    self->captureQueue = gst_element_factory_make("queue", "capture-queue");
    self->previewQueue = gst_element_factory_make("queue", "preview-queue");
    // An output nobody links yet (the capture pad during preview set-up)
    // must not stop the other one.
    g_object_set(self->tee, "allow-not-linked", TRUE, NULL);
    g_object_set(self->captureQueue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                 kCaptureQueueTime, NULL);
    g_object_set(self->previewQueue, "max-size-buffers", kPreviewQueueBuffers, "max-size-bytes", 0u,
                 "max-size-time", guint64(0), "leaky", 2 /* downstream: drop the oldest */, NULL);
    gst_bin_add_many(GST_BIN(self), self->tee, self->captureQueue, self->previewQueue, NULL);
    linkBranch(self->tee, self->captureQueue);
    linkBranch(self->tee, self->previewQueue);

    GstElement* bin = GST_ELEMENT(self);
    addGhost(bin, self->tee, "sink", &sinkTemplate);
    GstPad* teeSink = gst_element_get_static_pad(self->tee, "sink");
    gst_pad_add_probe(teeSink, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, onCaps, self, nullptr);
    gst_object_unref(teeSink);
    addGhost(bin, self->captureQueue, "src", &captureTemplate);
    addGhost(bin, self->previewQueue, "src", &previewTemplate);
}

gboolean kad_smart_tee_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kad_smart_tee_debug, "kadsmarttee", 0, "Kadrillo Smart Tee");
    return gst_element_register(plugin, "kadsmarttee", GST_RANK_NONE, KAD_TYPE_SMART_TEE);
}
