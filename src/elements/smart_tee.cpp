#include "elements/smart_tee.h"

#include "platform/media/gst_ptr.h"

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

GstPad* addGhost(GstElement* bin, GstElement* inner, const char* innerPad,
                 GstStaticPadTemplate* tpl)
{
    kad::PadRef target(gst_element_get_static_pad(inner, innerPad));
    GstPad* ghost = gst_ghost_pad_new_from_template(tpl->name_template, target.get(),
                                                    gst_static_pad_template_get(tpl));
    gst_element_add_pad(bin, ghost);
    return ghost;
}

// Links a new tee branch to queue's sink pad.
void linkBranch(GstElement* tee, GstElement* queue)
{
    kad::PadRef src(gst_element_request_pad_simple(tee, "src_%u"));
    kad::PadRef sink(gst_element_get_static_pad(queue, "sink"));
    gst_pad_link(src.get(), sink.get());
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
    kad::GstMini<GstQuery> query(gst_query_new_latency());
    gboolean live = TRUE;
    if (gst_pad_peer_query(pad, query.get()))
        gst_query_parse_latency(query.get(), &live, nullptr, nullptr);
    GST_DEBUG_OBJECT(self, "source is %slive: the preview %s", live ? "" : "not ",
                     live ? "drops when late" : "keeps every frame");
    g_object_set(self->previewQueue, "leaky", live ? 2 : 0, NULL);
    return GST_PAD_PROBE_OK;
}

// The buffers of an allocation answered by the capture output alone also go
// to the preview, which was not asked. What the capture side proposes for
// them is kept only where the preview cannot be hurt by it: a pool of its own
// (a pool runs dry while a paused preview keeps frames, and the source waits
// for one), its allocators (memory the preview may not be able to read) and
// its metas (a frame laid out differently from what its caps say, which a
// preview that reads plain frames would read wrong) go; the size, buffer
// count and alignment stay, for a pool the source makes itself and never
// limits.
void keepWhatThePreviewCanTake(GstQuery* query)
{
    guint size = 0, minBuffers = 0;
    const bool hadPool = gst_query_get_n_allocation_pools(query) > 0;
    if (hadPool)
        gst_query_parse_nth_allocation_pool(query, 0, nullptr, &size, &minBuffers, nullptr);
    while (gst_query_get_n_allocation_pools(query) > 0)
        gst_query_remove_nth_allocation_pool(query, 0);
    if (hadPool) gst_query_add_allocation_pool(query, nullptr, size, minBuffers, 0);
    for (guint i = 0; i < gst_query_get_n_allocation_params(query); ++i) {
        GstAllocator* allocator = nullptr;
        GstAllocationParams params;
        gst_query_parse_nth_allocation_param(query, i, &allocator, &params);
        if (allocator) gst_object_unref(allocator);
        gst_query_set_nth_allocation_param(query, i, nullptr, &params);
    }
    while (gst_query_get_n_allocation_metas(query) > 0)
        gst_query_remove_nth_allocation_meta(query, 0);
}

// A serialized query (allocation, drain, ...) travels in the stream and is
// answered only once everything before it has gone downstream. Through the
// tee it would also go down the preview, and wait there behind whatever the
// preview is stuck on (a paused sink sitting on its frame, a sink busy with
// its own allocation), holding the source's thread, and the capture with it.
// So it goes to the capture output alone, behind the frames the tee already
// gave it (the tee hands buffers on in the thread that sends the query), and
// the preview never sees it. Queries that are not serialized are answered
// at once by both outputs, as the tee does.
gboolean onSinkQuery(GstPad* pad, GstObject* parent, GstQuery* query)
{
    if (!GST_QUERY_IS_SERIALIZED(query)) return gst_pad_query_default(pad, parent, query);
    auto* self = KAD_SMART_TEE(parent);
    kad::PadRef capture(gst_element_get_static_pad(self->captureQueue, "sink"));
    const gboolean answered = gst_pad_query(capture.get(), query);
    GST_LOG_OBJECT(self, "%s query answered by the capture output: %d", GST_QUERY_TYPE_NAME(query),
                   answered);
    if (answered && GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION) keepWhatThePreviewCanTake(query);
    return answered;
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
    GstPad* sink = addGhost(bin, self->tee, "sink", &sinkTemplate);
    gst_pad_set_query_function(sink, onSinkQuery);
    kad::PadRef teeSink(gst_element_get_static_pad(self->tee, "sink"));
    gst_pad_add_probe(teeSink.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, onCaps, self, nullptr);
    addGhost(bin, self->captureQueue, "src", &captureTemplate);
    addGhost(bin, self->previewQueue, "src", &previewTemplate);
}

gboolean kad_smart_tee_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kad_smart_tee_debug, "kadsmarttee", 0, "Kadrillo Smart Tee");
    return gst_element_register(plugin, "kadsmarttee", GST_RANK_NONE, KAD_TYPE_SMART_TEE);
}
