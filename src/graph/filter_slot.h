#pragma once

// A named place for one element of the media graph. The graph builders never
// create elements themselves: they place slots, link them and remove them.
//
// A slot is bound to something that can make its element (an element factory
// of the catalogue, or a capture device); placing it creates the element,
// named after the slot, and adds it to the graph in the graph's state.
// Placing an unbound slot does nothing, so a later link that names it fails.

#include "platform/media/gst_ptr.h"

#include <functional>
#include <string>

namespace kad {

class TfilterSlot {
public:
    // Makes a new (floating or owned) element, or returns null.
    using Maker = std::function<GstElement*()>;

    explicit TfilterSlot(const char* name) : name_(name) {}
    TfilterSlot(const TfilterSlot&) = delete;
    TfilterSlot& operator=(const TfilterSlot&) = delete;
    ~TfilterSlot() { Remove(); }

    const char* Name() const { return name_.c_str(); }

    // what: the factory or device name, for the log and the tests.
    void Bind(std::string what, Maker make);
    // Takes the slot out of the graph and forgets its binding.
    void Unbind();
    bool Bound() const { return static_cast<bool>(make_); }
    const std::string& BoundTo() const { return what_; }

    // Called with each element the slot makes, once it is in the graph and
    // before it takes the graph's state: what the user set on the device
    // (a format, a volume) comes back on the new element. Binding keeps it.
    std::function<void(GstElement*)> OnPlaced;

    // Creates the element and adds it to graph. Does nothing when the slot is
    // unbound or already placed; false when the element could not be made.
    bool Place(GstBin* graph);
    // Sets the element to NULL, unlinks it (giving back request pads it held
    // on its neighbours) and takes it out of the graph. Does nothing when the
    // slot is not placed.
    void Remove();

    bool InGraph() const { return static_cast<bool>(element_); }
    // The element while placed, else null.
    GstElement* Element() const { return element_.get(); }

    // The slot an element of the graph stands for, or null for an element the
    // link helper inserted.
    static TfilterSlot* OfElement(GstElement* element);

private:
    std::string name_;
    std::string what_;
    Maker make_;
    ElementRef element_;
};

// Unlinks every pad of element, releasing the request pads it was linked to
// on other elements (tee branches).
void UnlinkAllPads(GstElement* element);

// Takes every decoder of graph (its direct children) down to NULL and back to
// the graph's state, so that each starts the next run knowing nothing of the
// stream. For a stopped graph only (READY or below).
void RestartDecoders(GstBin* graph);

} // namespace kad
