#include "graph/filter_slot.h"

#include <vector>

namespace kad {

namespace {

constexpr const char* kSlotKey = "kad-slot";

std::vector<PadRef> padsOf(GstElement* element)
{
    std::vector<PadRef> pads;
    GST_OBJECT_LOCK(element);
    for (GList* l = element->pads; l; l = l->next)
        pads.push_back(PadRef::ref(GST_PAD(l->data)));
    GST_OBJECT_UNLOCK(element);
    return pads;
}

} // namespace

void UnlinkAllPads(GstElement* element)
{
    for (const PadRef& pad : padsOf(element)) {
        PadRef peer(gst_pad_get_peer(pad.get()));
        if (!peer) continue;
        if (GST_PAD_IS_SRC(pad.get()))
            gst_pad_unlink(pad.get(), peer.get());
        else
            gst_pad_unlink(peer.get(), pad.get());
        GstPadTemplate* tpl = GST_PAD_PAD_TEMPLATE(peer.get());
        ElementRef owner(gst_pad_get_parent_element(peer.get()));
        if (owner && tpl && GST_PAD_TEMPLATE_PRESENCE(tpl) == GST_PAD_REQUEST)
            gst_element_release_request_pad(owner.get(), peer.get());
    }
}

void RestartDecoders(GstBin* graph)
{
    // A stream starts over each time the graph runs, but a decoder does not
    // forget it by going to READY only: mpeg2dec keeps the last sequence
    // header while its base class drops the output format made from it, so
    // the same header coming again counts as a repeat and the first picture
    // finds no output format (the decoder then stalls). Leaving READY for
    // NULL closes the codec for good.
    std::vector<ElementRef> decoders;
    GST_OBJECT_LOCK(graph);
    for (GList* l = graph->children; l; l = l->next) {
        GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(l->data));
        if (factory && gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_DECODER))
            decoders.push_back(ElementRef::ref(GST_ELEMENT(l->data)));
    }
    GST_OBJECT_UNLOCK(graph);
    for (const ElementRef& decoder : decoders) {
        if (GST_STATE(decoder.get()) == GST_STATE_NULL) continue;
        gst_element_set_state(decoder.get(), GST_STATE_NULL);
        gst_element_sync_state_with_parent(decoder.get());
    }
}

void TfilterSlot::Bind(std::string what, Maker make)
{
    Remove();
    what_ = std::move(what);
    make_ = std::move(make);
}

void TfilterSlot::Unbind()
{
    Bind({}, {});
}

bool TfilterSlot::Place(GstBin* graph)
{
    if (!make_ || element_) return true;
    // A maker hands over its own reference, floating or not: sinking an
    // owned one would add a reference nobody drops.
    GstElement* raw = make_();
    ElementRef made = raw && g_object_is_floating(raw) ? ElementRef::sink(raw) : ElementRef(raw);
    if (!made) return false;
    gst_object_set_name(GST_OBJECT(made.get()), name_.c_str());
    g_object_set_data(G_OBJECT(made.get()), kSlotKey, this);
    if (!gst_bin_add(graph, made.get())) return false;
    if (OnPlaced) OnPlaced(made.get());
    gst_element_sync_state_with_parent(made.get());
    element_ = std::move(made);
    return true;
}

void TfilterSlot::Remove()
{
    if (!element_) return;
    ElementRef element = std::move(element_);
    g_object_set_data(G_OBJECT(element.get()), kSlotKey, nullptr);
    UnlinkAllPads(element.get());
    gst_element_set_state(element.get(), GST_STATE_NULL);
    if (GstObject* parent = gst_object_get_parent(GST_OBJECT(element.get()))) {
        gst_bin_remove(GST_BIN(parent), element.get());
        gst_object_unref(parent);
    }
}

TfilterSlot* TfilterSlot::OfElement(GstElement* element)
{
    return static_cast<TfilterSlot*>(g_object_get_data(G_OBJECT(element), kSlotKey));
}

} // namespace kad
