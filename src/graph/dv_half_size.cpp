#include "graph/dv_half_size.h"

#include "platform/media/gst_ptr.h"

#include <atomic>
#include <memory>

namespace kad {

namespace {

constexpr const char* kFollowerKey = "kad-display-follower";
constexpr int kFullSize = 0;
constexpr int kHalfSize = 1;

// What a decoder following a display knows. The sizes are the streaming
// thread's; held and applied are also touched by the GUI thread, with the
// graph stopped.
struct Follower {
    ElementRef display;
    std::atomic<bool> held{false};
    std::atomic<int> applied{kFullSize}; // the decoder's "lowres" as last set
    int sourceWidth = 0;
    int sourceHeight = 0;
    int parN = 1;
    int parD = 1;
};

void deleteFollower(gpointer data)
{
    // GLib hands the follower back here; adopting it frees it.
    std::unique_ptr<Follower> owned(static_cast<Follower*>(data));
}

Follower* followerOf(GstElement* decoder)
{
    if (!decoder) return nullptr;
    PadRef sink(gst_element_get_static_pad(decoder, "sink"));
    return sink ? static_cast<Follower*>(g_object_get_data(G_OBJECT(sink.get()), kFollowerKey))
                : nullptr;
}

void readSource(Follower* f, const GstCaps* caps)
{
    f->sourceWidth = f->sourceHeight = 0;
    f->parN = f->parD = 1;
    if (!caps || gst_caps_is_empty(caps)) return;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_get_int(s, "width", &f->sourceWidth);
    gst_structure_get_int(s, "height", &f->sourceHeight);
    if (!gst_structure_get_fraction(s, "pixel-aspect-ratio", &f->parN, &f->parD))
        f->parN = f->parD = 1;
}

int wanted(Follower* f)
{
    if (f->held) return kFullSize;
    int width = 0, height = 0;
    g_object_get(f->display.get(), "display-width", &width, "display-height", &height, NULL);
    return HalfSizeFits(width, height, f->sourceWidth, f->sourceHeight, f->parN, f->parD)
               ? kHalfSize
               : kFullSize;
}

void apply(Follower* f, GstElement* decoder, int lowres)
{
    g_object_set(decoder, "lowres", lowres, NULL);
    f->applied = lowres;
}

GstPadProbeReturn followDisplay(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    auto* f = static_cast<Follower*>(data);
    GstElement* decoder = GST_PAD_PARENT(pad);
    if (!decoder) return GST_PAD_PROBE_OK;
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        // New caps reopen the decoder anyway: the size is set on the way.
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            readSource(f, caps);
            apply(f, decoder, wanted(f));
        }
        return GST_PAD_PROBE_OK;
    }
    const int lowres = wanted(f);
    if (lowres == f->applied) return GST_PAD_PROBE_OK;
    // The decoder reads its size when it opens, which new caps make it do:
    // the same caps, marked with the size so they differ from the last.
    CapsRef current(gst_pad_get_current_caps(pad));
    if (!current) return GST_PAD_PROBE_OK;
    apply(f, decoder, lowres);
    CapsRef renewed(gst_caps_copy(current.get()));
    gst_caps_set_simple(renewed.get(), "kad-lowres", G_TYPE_INT, lowres, NULL);
    gst_pad_send_event(pad, gst_event_new_caps(renewed.get()));
    return GST_PAD_PROBE_OK;
}

} // namespace

bool CanDecodeDvAtHalfSize(GstElement* decoder)
{
    return decoder && g_object_class_find_property(G_OBJECT_GET_CLASS(decoder), "lowres");
}

bool HalfSizeFits(int displayWidth, int displayHeight, int sourceWidth, int sourceHeight, int parN,
                  int parD)
{
    if (displayWidth <= 0 || displayHeight <= 0 || sourceWidth <= 0 || sourceHeight <= 0)
        return false;
    if (parN <= 0 || parD <= 0) parN = parD = 1;
    // The source's width as it is shown: 720 PAL pixels of 16:15 are 768.
    const gint64 shownWidth = (gint64(sourceWidth) * parN + parD / 2) / parD;
    return 2 * gint64(displayWidth) <= shownWidth && 2 * displayHeight <= sourceHeight;
}

void FollowDisplaySize(GstElement* decoder, GstElement* display)
{
    if (!CanDecodeDvAtHalfSize(decoder) || !display || followerOf(decoder)) return;
    PadRef sink(gst_element_get_static_pad(decoder, "sink"));
    if (!sink) return;
    auto* f = std::make_unique<Follower>().release();
    f->display = ElementRef::ref(display);
    apply(f, decoder, kFullSize);
    // The pad keeps the follower for as long as the probe may run.
    g_object_set_data(G_OBJECT(sink.get()), kFollowerKey, f);
    gst_pad_add_probe(
        sink.get(),
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        followDisplay, f, deleteFollower);
}

void HoldFullSize(GstElement* decoder)
{
    Follower* f = followerOf(decoder);
    if (!f) return;
    f->held = true;
    apply(f, decoder, kFullSize);
}

void ReleaseFullSize(GstElement* decoder)
{
    if (Follower* f = followerOf(decoder)) f->held = false;
}

} // namespace kad
