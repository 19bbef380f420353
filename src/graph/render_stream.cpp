#include "graph/render_stream.h"

#include "graph/filter_slot.h"
#include "platform/media/element_catalogue.h"
#include "platform/media/gst_ptr.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kad {

namespace {

constexpr const char* kHelperKey = "kad-link-helper";
constexpr const char* kDeferredKey = "kad-deferred-links";

bool capsMatchHint(const GstCaps* caps, MediaHint hint)
{
    if (hint == MediaHint::Any || !caps || gst_caps_is_any(caps)) return true;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const char* name = gst_structure_get_name(gst_caps_get_structure(caps, i));
        if (hint == MediaHint::Video &&
            (g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/")))
            return true;
        if (hint == MediaHint::Audio && g_str_has_prefix(name, "audio/")) return true;
    }
    return false;
}

bool padMatches(GstPad* pad, MediaHint hint)
{
    if (hint == MediaHint::Any) return true;
    CapsRef caps(gst_pad_query_caps(pad, nullptr));
    return capsMatchHint(caps.get(), hint);
}

// Whether element declares source pads of this presence that may carry hint.
bool hasSourceTemplate(GstElement* element, GstPadPresence presence, MediaHint hint)
{
    const GList* l = gst_element_class_get_pad_template_list(GST_ELEMENT_GET_CLASS(element));
    for (; l; l = l->next) {
        GstPadTemplate* tpl = GST_PAD_TEMPLATE(l->data);
        if (GST_PAD_TEMPLATE_DIRECTION(tpl) != GST_PAD_SRC ||
            GST_PAD_TEMPLATE_PRESENCE(tpl) != presence)
            continue;
        CapsRef caps(gst_pad_template_get_caps(tpl));
        if (capsMatchHint(caps.get(), hint)) return true;
    }
    return false;
}

// A demultiplexer offers video before audio: "any pad" of an element that
// makes video pads on the fly means its video pad.
MediaHint effectiveHint(GstElement* element, MediaHint hint)
{
    if (hint == MediaHint::Any && hasSourceTemplate(element, GST_PAD_SOMETIMES, MediaHint::Video))
        return MediaHint::Video;
    return hint;
}

PadRef firstFreeSourcePad(GstElement* element, MediaHint hint)
{
    std::vector<PadRef> pads;
    GST_OBJECT_LOCK(element);
    for (GList* l = element->srcpads; l; l = l->next)
        pads.push_back(PadRef::ref(GST_PAD(l->data)));
    GST_OBJECT_UNLOCK(element);
    for (PadRef& pad : pads)
        if (!gst_pad_is_linked(pad.get()) && padMatches(pad.get(), hint)) return std::move(pad);
    return {};
}

PadRef requestSourcePad(GstElement* element)
{
    const GList* l = gst_element_class_get_pad_template_list(GST_ELEMENT_GET_CLASS(element));
    for (; l; l = l->next) {
        GstPadTemplate* tpl = GST_PAD_TEMPLATE(l->data);
        if (GST_PAD_TEMPLATE_DIRECTION(tpl) == GST_PAD_SRC &&
            GST_PAD_TEMPLATE_PRESENCE(tpl) == GST_PAD_REQUEST)
            return PadRef(gst_element_request_pad(element, tpl, nullptr, nullptr));
    }
    return {};
}

void releaseIfRequested(GstPad* pad)
{
    GstPadTemplate* tpl = GST_PAD_PAD_TEMPLATE(pad);
    ElementRef owner(gst_pad_get_parent_element(pad));
    if (owner && tpl && GST_PAD_TEMPLATE_PRESENCE(tpl) == GST_PAD_REQUEST)
        gst_element_release_request_pad(owner.get(), pad);
}

bool capsFit(GstPad* src, GstPad* sink)
{
    CapsRef srcCaps(gst_pad_query_caps(src, nullptr));
    CapsRef sinkCaps(gst_pad_query_caps(sink, nullptr));
    return srcCaps && sinkCaps && gst_caps_can_intersect(srcCaps.get(), sinkCaps.get());
}

// Whether sink takes everything src may send. A source that could also send
// what the sink wants is not enough: decoders pick their own output format,
// so anything short of "all of it" gets a converter.
bool capsCovered(GstPad* src, GstPad* sink)
{
    CapsRef srcCaps(gst_pad_query_caps(src, nullptr));
    CapsRef sinkCaps(gst_pad_query_caps(sink, nullptr));
    return srcCaps && sinkCaps && gst_caps_is_subset(srcCaps.get(), sinkCaps.get());
}

// The media kind of caps ("video", "audio", "text"...): what a decoder and
// converters keep when they bridge two pads.
std::string mediaKind(const GstCaps* caps)
{
    if (!caps || gst_caps_is_any(caps) || gst_caps_is_empty(caps)) return {};
    const std::string name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    return name.substr(0, name.find('/'));
}

bool sameMediaKind(GstPad* src, GstPad* sink)
{
    CapsRef srcCaps(gst_pad_query_caps(src, nullptr));
    CapsRef sinkCaps(gst_pad_query_caps(sink, nullptr));
    const std::string kind = mediaKind(srcCaps.get());
    if (kind.empty() || !sinkCaps) return false;
    for (guint i = 0; i < gst_caps_get_size(sinkCaps.get()); ++i)
        if (g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(sinkCaps.get(), i)),
                             (kind + '/').c_str()))
            return true;
    return false;
}

// A free sink pad of element for src: a fitting always pad first, then one
// of the same media kind (a decoder or converter may bridge it: compressed
// video to an overlay's picture input rather than to its text input), then
// any free one, then a new request pad.
PadRef freeSinkPad(GstElement* element, GstPad* src)
{
    std::vector<PadRef> pads;
    GST_OBJECT_LOCK(element);
    for (GList* l = element->sinkpads; l; l = l->next)
        if (!gst_pad_is_linked(GST_PAD(l->data))) pads.push_back(PadRef::ref(GST_PAD(l->data)));
    GST_OBJECT_UNLOCK(element);
    for (PadRef& pad : pads)
        if (capsFit(src, pad.get())) return std::move(pad);
    for (PadRef& pad : pads)
        if (sameMediaKind(src, pad.get())) return std::move(pad);
    if (!pads.empty()) return std::move(pads.front());
    return PadRef(gst_element_get_compatible_pad(element, src, nullptr));
}

GstElement* addHelper(GstBin* graph, const char* factory, void (*setup)(GstElement*) = nullptr)
{
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (!element) return nullptr;
    if (setup) setup(element);
    g_object_set_data(G_OBJECT(element), kHelperKey, GINT_TO_POINTER(1));
    gst_bin_add(graph, element);
    gst_element_sync_state_with_parent(element);
    return element;
}

void removeHelper(GstBin* graph, GstElement* element)
{
    UnlinkAllPads(element);
    gst_element_set_state(element, GST_STATE_NULL);
    gst_bin_remove(graph, element);
}

const char* outputKind(GstElementFactory* factory)
{
    for (const GList* l = gst_element_factory_get_static_pad_templates(factory); l; l = l->next) {
        auto* tpl = static_cast<GstStaticPadTemplate*>(l->data);
        if (tpl->direction != GST_PAD_SRC) continue;
        CapsRef caps(gst_static_caps_get(&tpl->static_caps));
        if (capsMatchHint(caps.get(), MediaHint::Audio)) return "audio/x-raw";
        return "video/x-raw";
    }
    return "";
}

// The best-ranked decoder of the registry that takes caps.
GstElementFactory* findDecoder(GstCaps* caps)
{
    GList* all =
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
    GList* fitting = gst_element_factory_list_filter(all, caps, GST_PAD_SINK, FALSE);
    fitting = g_list_sort(fitting, gst_plugin_feature_rank_compare_func);
    GstElementFactory* best =
        fitting ? GST_ELEMENT_FACTORY(gst_object_ref(GST_OBJECT(fitting->data))) : nullptr;
    gst_plugin_feature_list_free(fitting);
    gst_plugin_feature_list_free(all);
    return best;
}

// The element factories that turn what src carries into something sink
// may take: converters for raw media, a decoder and converters otherwise.
std::vector<std::string> bridgeFor(GstPad* src)
{
    CapsRef caps(gst_pad_query_caps(src, nullptr));
    if (!caps || gst_caps_is_any(caps.get()) || gst_caps_is_empty(caps.get())) return {};
    std::string kind = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
    std::vector<std::string> chain;
    if (kind != "video/x-raw" && kind != "audio/x-raw") {
        GstElementFactory* decoder = findDecoder(caps.get());
        if (!decoder) return {};
        chain.push_back(GST_OBJECT_NAME(decoder));
        kind = outputKind(decoder);
        gst_object_unref(decoder);
    }
    if (kind == "video/x-raw") {
        chain.push_back("videoconvert");
        chain.push_back("videoscale");
    } else if (kind == "audio/x-raw") {
        chain.push_back("audioconvert");
        chain.push_back("audioresample");
    }
    return chain;
}

// Links src to a free sink pad of c, bridging the two when they do not fit.
LinkResult linkPadTo(GstBin* graph, GstPad* src, GstElement* c)
{
    PadRef sink = freeSinkPad(c, src);
    if (!sink) return LinkResult::NoFreeSinkPad;
    if (capsCovered(src, sink.get()) && gst_pad_link(src, sink.get()) == GST_PAD_LINK_OK)
        return LinkResult::Linked;
    const std::vector<std::string> bridge = bridgeFor(src);
    if (bridge.empty()) {
        if (capsFit(src, sink.get()) && gst_pad_link(src, sink.get()) == GST_PAD_LINK_OK)
            return LinkResult::Linked;
        releaseIfRequested(sink.get());
        return LinkResult::NoConversion;
    }

    std::vector<GstElement*> added;
    bool ok = true;
    GstPad* from = src;
    PadRef lastSrc;
    // A DV decoder found here serves a preview as the DV decoder slot does.
    CapsRef srcCaps(gst_pad_query_caps(src, nullptr));
    const bool dv = srcCaps && !gst_caps_is_any(srcCaps.get()) &&
                    !gst_caps_is_empty(srcCaps.get()) &&
                    gst_structure_has_name(gst_caps_get_structure(srcCaps.get(), 0), "video/x-dv");
    for (const std::string& factory : bridge) {
        GstElement* e = addHelper(graph, factory.c_str(),
                                  dv && from == src ? SetPictureByPictureDecoding : nullptr);
        if (!e) {
            ok = false;
            break;
        }
        added.push_back(e);
        PadRef in(gst_element_get_static_pad(e, "sink"));
        if (!in || gst_pad_link(from, in.get()) != GST_PAD_LINK_OK) {
            ok = false;
            break;
        }
        lastSrc.reset(gst_element_get_static_pad(e, "src"));
        from = lastSrc.get();
    }
    if (ok && !added.empty() && gst_pad_link(from, sink.get()) == GST_PAD_LINK_OK)
        return LinkResult::Linked;
    for (auto it = added.rbegin(); it != added.rend(); ++it)
        removeHelper(graph, *it);
    releaseIfRequested(sink.get());
    return LinkResult::NoConversion;
}

LinkResult linkFrom(GstBin* graph, GstPad* src, bool teeBranch, GstElement* b, GstElement* c);

// Links waiting for pads that a (a demultiplexer) has not made yet.
struct DeferredLink {
    MediaHint hint;
    std::string through; // element name of b, empty for none
    std::string sink;    // element name of c
    PadRef entry;        // the sink pad the source pad was linked to
    std::string current; // name of the source pad linked now
};
struct DeferredLinks {
    std::mutex lock;
    std::vector<DeferredLink> links;
};
using DeferredLinksPtr = std::shared_ptr<DeferredLinks>;

void destroyDeferred(gpointer data)
{
    // GLib hands the user data back here; adopting it frees it.
    std::unique_ptr<DeferredLinksPtr> owned(static_cast<DeferredLinksPtr*>(data));
}

DeferredLinksPtr deferredOf(GstElement* element)
{
    GST_OBJECT_LOCK(element);
    auto* held = static_cast<DeferredLinksPtr*>(g_object_get_data(G_OBJECT(element), kDeferredKey));
    DeferredLinksPtr links = held ? *held : nullptr;
    GST_OBJECT_UNLOCK(element);
    return links;
}

bool stillInGraph(GstPad* pad, GstBin* graph)
{
    ElementRef owner(gst_pad_get_parent_element(pad));
    return owner && GST_OBJECT_PARENT(owner.get()) == GST_OBJECT(graph);
}

// Makes link d from pad; true when it is made.
bool makeDeferred(GstBin* graph, DeferredLink& d, GstPad* pad)
{
    if (d.entry && stillInGraph(d.entry.get(), graph) && !gst_pad_is_linked(d.entry.get()) &&
        gst_pad_link(pad, d.entry.get()) == GST_PAD_LINK_OK) {
        d.current = GST_PAD_NAME(pad);
        return true;
    }
    ElementRef c(gst_bin_get_by_name(graph, d.sink.c_str()));
    ElementRef b(d.through.empty() ? nullptr : gst_bin_get_by_name(graph, d.through.c_str()));
    if (!c || (!d.through.empty() && !b)) return false;
    if (!Succeeded(linkFrom(graph, pad, false, b.get(), c.get()))) return false;
    d.entry.reset(gst_pad_get_peer(pad));
    d.current = GST_PAD_NAME(pad);
    return true;
}

void onPadAdded(GstElement* element, GstPad* pad, gpointer)
{
    DeferredLinksPtr links = deferredOf(element);
    GRef<GstObject> parent(gst_object_get_parent(GST_OBJECT(element)));
    if (!links || !parent || !GST_PAD_IS_SRC(pad)) return;
    std::lock_guard guard(links->lock);
    for (DeferredLink& d : links->links) {
        if (d.current.empty() && padMatches(pad, d.hint) &&
            makeDeferred(GST_BIN(parent.get()), d, pad))
            return;
    }
}

void onPadRemoved(GstElement* element, GstPad* pad, gpointer)
{
    DeferredLinksPtr links = deferredOf(element);
    if (!links) return;
    std::lock_guard guard(links->lock);
    for (DeferredLink& d : links->links)
        if (d.current == GST_PAD_NAME(pad)) d.current.clear();
}

DeferredLinksPtr deferredFor(GstElement* element)
{
    if (DeferredLinksPtr links = deferredOf(element)) return links;
    auto links = std::make_shared<DeferredLinks>();
    GST_OBJECT_LOCK(element);
    g_object_set_data_full(G_OBJECT(element), kDeferredKey,
                           std::make_unique<DeferredLinksPtr>(links).release(), destroyDeferred);
    GST_OBJECT_UNLOCK(element);
    g_signal_connect(element, "pad-added", G_CALLBACK(onPadAdded), nullptr);
    g_signal_connect(element, "pad-removed", G_CALLBACK(onPadRemoved), nullptr);
    return links;
}

std::string nameOf(GstElement* e)
{
    if (!e) return {};
    GCharPtr name(gst_object_get_name(GST_OBJECT(e)));
    return name.get();
}

LinkResult linkFrom(GstBin* graph, GstPad* src, bool teeBranch, GstElement* b, GstElement* c)
{
    PadRef branch;
    GstElement* queue = nullptr;
    if (teeBranch) {
        queue = addHelper(graph, "queue");
        PadRef in(queue ? gst_element_get_static_pad(queue, "sink") : nullptr);
        if (!in || gst_pad_link(src, in.get()) != GST_PAD_LINK_OK) {
            if (queue) removeHelper(graph, queue);
            return LinkResult::NoConversion;
        }
        branch.reset(gst_element_get_static_pad(queue, "src"));
        src = branch.get();
    }
    LinkResult r = b ? linkPadTo(graph, src, b) : linkPadTo(graph, src, c);
    if (Succeeded(r) && b)
        r = RenderStream(graph, b, nullptr, c);
    else if (!Succeeded(r) && queue)
        removeHelper(graph, queue);
    return r;
}

} // namespace

QString LinkResultText(LinkResult r)
{
    switch (r) {
    case LinkResult::Linked:
        return QStringLiteral("linked");
    case LinkResult::Deferred:
        return QStringLiteral("linked when the source pad appears");
    case LinkResult::MissingElement:
        return QStringLiteral("a filter of the link is not in the graph");
    case LinkResult::NoFreeSourcePad:
        return QStringLiteral("no free output pin");
    case LinkResult::NoFreeSinkPad:
        return QStringLiteral("no free input pin");
    case LinkResult::NoConversion:
        return QStringLiteral("no combination of intermediate filters could be found");
    }
    return {};
}

LinkResult RenderStream(GstBin* graph, GstElement* a, GstElement* b, GstElement* c, MediaHint hint)
{
    if (!graph || !a || !c) return LinkResult::MissingElement;
    hint = effectiveHint(a, hint);
    const bool dynamic = hasSourceTemplate(a, GST_PAD_SOMETIMES, hint);
    if (PadRef src = firstFreeSourcePad(a, hint)) {
        LinkResult r = linkFrom(graph, src.get(), false, b, c);
        if (Succeeded(r) && dynamic) {
            DeferredLinksPtr links = deferredFor(a);
            std::lock_guard guard(links->lock);
            links->links.push_back({hint, nameOf(b), nameOf(c), PadRef(gst_pad_get_peer(src.get())),
                                    GST_PAD_NAME(src.get())});
        }
        return r;
    }
    if (PadRef src = requestSourcePad(a)) {
        LinkResult r = linkFrom(graph, src.get(), true, b, c);
        // Taking the failed branch apart may have given the pad back already.
        if (!Succeeded(r) && GST_PAD_PARENT(src.get()) == a)
            gst_element_release_request_pad(a, src.get());
        return r;
    }
    if (!dynamic) return LinkResult::NoFreeSourcePad;
    DeferredLinksPtr links = deferredFor(a);
    std::lock_guard guard(links->lock);
    links->links.push_back({hint, nameOf(b), nameOf(c), {}, {}});
    return LinkResult::Deferred;
}

LinkResult RenderStreamFromPad(GstBin* graph, GstPad* a, GstElement* b, GstElement* c)
{
    if (!graph || !a || !c) return LinkResult::MissingElement;
    if (GST_PAD_IS_SINK(a) || gst_pad_is_linked(a)) return LinkResult::NoFreeSourcePad;
    return linkFrom(graph, a, false, b, c);
}

void ForgetDeferredLinks(GstElement* element)
{
    GST_OBJECT_LOCK(element);
    const bool had = g_object_get_data(G_OBJECT(element), kDeferredKey) != nullptr;
    GST_OBJECT_UNLOCK(element);
    if (!had) return;
    g_signal_handlers_disconnect_by_func(element, gpointer(onPadAdded), nullptr);
    g_signal_handlers_disconnect_by_func(element, gpointer(onPadRemoved), nullptr);
    GST_OBJECT_LOCK(element);
    g_object_set_data(G_OBJECT(element), kDeferredKey, nullptr);
    GST_OBJECT_UNLOCK(element);
}

bool IsLinkHelperElement(GstElement* element)
{
    return g_object_get_data(G_OBJECT(element), kHelperKey) != nullptr;
}

} // namespace kad
