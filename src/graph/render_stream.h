#pragma once

// The link helper: Kadrillo's RenderStream. RenderStream(graph, a, b, c)
// links the first free source pad of a, through b when given, to c:
//
// - a source pad is "free" when it is not linked; an element with request
//   source pads (a tee) gives a new one, and a queue is put after it so each
//   branch runs in its own thread and one slow branch never holds back
//   another;
// - when a has no free pad yet but makes pads on the fly (dvdemux makes its
//   video and audio pads only once data flows), the link is remembered and
//   made as soon as a fitting pad appears; it is made again each time the
//   pad comes back (after the graph was stopped and run);
// - when the two ends do not fit, the decoder and the converters GStreamer
//   needs are inserted: decoders are found in the registry by caps, raw
//   video gets videoconvert ! videoscale, raw audio audioconvert !
//   audioresample.
//
// Elements the helper inserts belong to no slot; they are removed when the
// graph is cleared or when the branch they served is gone.
//
// GUI thread, except the deferred links, which GStreamer requires to be made
// from the streaming thread that announces the pad; they touch only the
// elements of their own link.

#include <gst/gst.h>

#include <QString>

namespace kad {

enum class LinkResult {
    Linked,
    // The source has no fitting pad yet; the link is made when it appears.
    Deferred,
    // a, b or c is missing (an unbound slot, a slot not in the graph).
    MissingElement,
    // a has no free source pad of the wanted kind and makes none.
    NoFreeSourcePad,
    // c (or b) has no free sink pad.
    NoFreeSinkPad,
    // The two ends do not fit and no decoder or converter bridges them.
    NoConversion,
};

// Which pads of the source may be taken: any, or only video or audio ones
// (RenderStream's media type argument).
enum class MediaHint { Any, Video, Audio };

inline bool Succeeded(LinkResult r)
{
    return r == LinkResult::Linked || r == LinkResult::Deferred;
}

// A short English text naming the result, for the log.
QString LinkResultText(LinkResult r);

// Links a (its first free source pad) through b (may be null: none) to c.
LinkResult RenderStream(GstBin* graph, GstElement* a, GstElement* b, GstElement* c,
                        MediaHint hint = MediaHint::Any);
// The same from a given source pad, which must be free.
LinkResult RenderStreamFromPad(GstBin* graph, GstPad* a, GstElement* b, GstElement* c);

// Forgets the deferred links waiting on element's future pads.
void ForgetDeferredLinks(GstElement* element);

// True for elements the link helper inserted (queues after tee branches,
// decoders, converters).
bool IsLinkHelperElement(GstElement* element);

} // namespace kad
