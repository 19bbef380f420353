#include "virtual/virtual_frame_src.h"

#include "platform/media/gst_ptr.h"

#include <memory>

GST_DEBUG_CATEGORY_STATIC(virtual_frame_src_debug);
#define GST_CAT_DEFAULT virtual_frame_src_debug

namespace {

struct State {
    kad::CapsRef allowed;
    kad::CapsRef negotiated;
    GstVideoInfo info{};
    bool rawVideo = false;
    gint fpsN = 25;
    gint fpsD = 1;
    kad::FrameProducer producer;
    guint64 frame = 0;
    gint64 frameLimit = -1; // object lock
    GstClockTime start = GST_CLOCK_TIME_NONE;
};

} // namespace

// Locking: allowed caps and the producer are set before streaming starts; the
// rest is touched only by the streaming thread (and reset in start()).
struct _KadVirtualFrameSrc {
    GstPushSrc parent;
    State* state;
    alignas(State) unsigned char storage[sizeof(State)];
};

G_DEFINE_TYPE(KadVirtualFrameSrc, kad_virtual_frame_src, GST_TYPE_PUSH_SRC)

namespace {

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

GstCaps* getCaps(GstBaseSrc* base, GstCaps* filter)
{
    auto* self = KAD_VIRTUAL_FRAME_SRC(base);
    GST_OBJECT_LOCK(self);
    GstCaps* caps =
        self->state->allowed ? gst_caps_ref(self->state->allowed.get()) : gst_caps_new_any();
    GST_OBJECT_UNLOCK(self);
    if (filter) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

gboolean setCaps(GstBaseSrc* base, GstCaps* caps)
{
    auto* self = KAD_VIRTUAL_FRAME_SRC(base);
    State& s = *self->state;
    s.negotiated = kad::CapsRef::ref(caps);
    s.rawVideo = gst_video_info_from_caps(&s.info, caps);
    const GstStructure* st = gst_caps_get_structure(caps, 0);
    if (!gst_structure_get_fraction(st, "framerate", &s.fpsN, &s.fpsD) || s.fpsN <= 0 ||
        s.fpsD <= 0) {
        s.fpsN = 25;
        s.fpsD = 1;
    }
    return TRUE;
}

gboolean start(GstBaseSrc* base)
{
    auto* self = KAD_VIRTUAL_FRAME_SRC(base);
    self->state->frame = 0;
    self->state->start = GST_CLOCK_TIME_NONE;
    return TRUE;
}

void getTimes(GstBaseSrc* base, GstBuffer* buffer, GstClockTime* start, GstClockTime* end)
{
    // Only a live source waits for the clock; otherwise frames go as fast
    // as downstream takes them.
    if (gst_base_src_is_live(base)) {
        *start = GST_BUFFER_PTS(buffer);
        *end = GST_CLOCK_TIME_IS_VALID(*start) && GST_BUFFER_DURATION_IS_VALID(buffer)
                   ? *start + GST_BUFFER_DURATION(buffer)
                   : GST_CLOCK_TIME_NONE;
    } else {
        *start = GST_CLOCK_TIME_NONE;
        *end = GST_CLOCK_TIME_NONE;
    }
}

GstClockTime runningTimeNow(GstElement* element)
{
    kad::GRef<GstClock> clock(gst_element_get_clock(element));
    if (!clock) return 0;
    const GstClockTime now = gst_clock_get_time(clock.get());
    const GstClockTime base = gst_element_get_base_time(element);
    return now > base ? now - base : 0;
}

GstFlowReturn create(GstPushSrc* push, GstBuffer** out)
{
    auto* self = KAD_VIRTUAL_FRAME_SRC(push);
    State& s = *self->state;
    if (!s.producer) return GST_FLOW_NOT_NEGOTIATED;
    if (!GST_CLOCK_TIME_IS_VALID(s.start))
        s.start = gst_base_src_is_live(GST_BASE_SRC(push)) ? runningTimeNow(GST_ELEMENT(push)) : 0;
    GST_OBJECT_LOCK(self);
    const gint64 limit = s.frameLimit;
    GST_OBJECT_UNLOCK(self);
    for (;;) {
        // Skipped frames count: the limit is on frames made, sent or not.
        if (limit >= 0 && s.frame >= static_cast<guint64>(limit)) return GST_FLOW_EOS;
        const guint64 n = s.frame++;
        const GstClockTime pts =
            s.start + gst_util_uint64_scale(n, GST_SECOND * static_cast<guint64>(s.fpsD),
                                            static_cast<guint64>(s.fpsN));
        const GstClockTime next =
            s.start + gst_util_uint64_scale(n + 1, GST_SECOND * static_cast<guint64>(s.fpsD),
                                            static_cast<guint64>(s.fpsN));
        const kad::FrameSlot slot{n, pts, next - pts};
        GstBuffer* buffer = nullptr;
        const GstFlowReturn ret =
            s.producer(slot, s.negotiated.get(), s.rawVideo ? &s.info : nullptr, &buffer);
        if (ret != GST_FLOW_OK) return ret;
        if (!buffer) continue;
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = next - pts;
        GST_BUFFER_OFFSET(buffer) = n;
        GST_BUFFER_OFFSET_END(buffer) = n + 1;
        *out = buffer;
        return GST_FLOW_OK;
    }
}

enum { PROP_0, PROP_IS_LIVE, PROP_FRAME_LIMIT };

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    if (id == PROP_IS_LIVE) {
        gst_base_src_set_live(GST_BASE_SRC(object), g_value_get_boolean(value));
    } else if (id == PROP_FRAME_LIMIT) {
        GST_OBJECT_LOCK(object);
        KAD_VIRTUAL_FRAME_SRC(object)->state->frameLimit = g_value_get_int64(value);
        GST_OBJECT_UNLOCK(object);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    if (id == PROP_IS_LIVE) {
        g_value_set_boolean(value, gst_base_src_is_live(GST_BASE_SRC(object)));
    } else if (id == PROP_FRAME_LIMIT) {
        GST_OBJECT_LOCK(object);
        g_value_set_int64(value, KAD_VIRTUAL_FRAME_SRC(object)->state->frameLimit);
        GST_OBJECT_UNLOCK(object);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void finalize(GObject* object)
{
    auto* self = KAD_VIRTUAL_FRAME_SRC(object);
    std::destroy_at(self->state);
    G_OBJECT_CLASS(kad_virtual_frame_src_parent_class)->finalize(object);
}

} // namespace

static void kad_virtual_frame_src_class_init(KadVirtualFrameSrcClass* klass)
{
    GST_DEBUG_CATEGORY_INIT(virtual_frame_src_debug, "kadvirtualframesrc", 0,
                            "Kadrillo virtual device frame clock");
    auto* gobject = G_OBJECT_CLASS(klass);
    auto* element = GST_ELEMENT_CLASS(klass);
    auto* base = GST_BASE_SRC_CLASS(klass);
    gobject->finalize = finalize;
    gobject->set_property = setProperty;
    gobject->get_property = getProperty;
    g_object_class_install_property(
        gobject, PROP_IS_LIVE,
        g_param_spec_boolean("is-live", "Is live",
                             "Paced by the clock (FALSE: as fast as possible)", TRUE,
                             static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_FRAME_LIMIT,
        g_param_spec_int64(
            "frame-limit", "Frame limit",
            "Frames to make (skipped ones included) before end of stream, -1 = endless", -1,
            G_MAXINT64, -1, static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "Kadrillo virtual frame source", "Source/Video",
                                          "Produces the frames of a virtual capture device",
                                          "Kadrillo");
    base->get_caps = getCaps;
    base->set_caps = setCaps;
    base->start = start;
    base->get_times = getTimes;
    GST_PUSH_SRC_CLASS(klass)->create = create;
}

static void kad_virtual_frame_src_init(KadVirtualFrameSrc* self)
{
    self->state = std::construct_at(reinterpret_cast<State*>(self->storage));
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
}

namespace kad {

void virtualFrameSrcSetCaps(KadVirtualFrameSrc* src, GstCaps* caps)
{
    GST_OBJECT_LOCK(src);
    src->state->allowed = CapsRef::ref(caps);
    GST_OBJECT_UNLOCK(src);
}

void virtualFrameSrcSetProducer(KadVirtualFrameSrc* src, FrameProducer producer)
{
    GST_OBJECT_LOCK(src);
    src->state->producer = std::move(producer);
    GST_OBJECT_UNLOCK(src);
}

} // namespace kad
