#include "elements/horodex.h"

#include <gst/audio/audio.h>

GST_DEBUG_CATEGORY_STATIC(horodex_debug);
#define GST_CAT_DEFAULT horodex_debug

// Locking: pendingOffset and activeOffset are written by the application
// thread and read by the streaming thread, under the object lock. The rest
// belongs to the streaming thread (it runs under the sink pad's stream lock).
struct _KadHorodex {
    GstBaseTransform parent;

    gint64 pendingOffset; // ns
    gint64 activeOffset;  // ns

    gint64 offsetInUse; // ns, the offset the segment sent downstream was made for
    GstSegment upstreamSegment;
    gboolean haveSegment;
};

G_DEFINE_TYPE(KadHorodex, kad_horodex, GST_TYPE_BASE_TRANSFORM)

namespace {

enum { PROP_0, PROP_OFFSET, PROP_ACTIVE_OFFSET };
enum { SIGNAL_PREPARE, SIGNAL_APPLY, SIGNAL_SET_OFFSET, LAST_SIGNAL };
guint signals[LAST_SIGNAL];

constexpr gint64 kUnit = 100; // ns per offset unit
constexpr gint64 kMaxOffset = G_MAXINT64 / kUnit / 2;

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

gint64 toNanoseconds(gint64 units)
{
    return CLAMP(units, -kMaxOffset, kMaxOffset) * kUnit;
}

// A time shifted by offset, or nullopt-like NONE when it would fall below 0.
GstClockTime shifted(GstClockTime t, gint64 offset)
{
    if (!GST_CLOCK_TIME_IS_VALID(t)) return t;
    if (offset >= 0) return t + static_cast<GstClockTime>(offset);
    const GstClockTime back = static_cast<GstClockTime>(-offset);
    return t >= back ? t - back : GST_CLOCK_TIME_NONE;
}

gint64 readActiveOffset(KadHorodex* self)
{
    GST_OBJECT_LOCK(self);
    const gint64 offset = self->activeOffset;
    GST_OBJECT_UNLOCK(self);
    return offset;
}

// The upstream segment as it reads once its buffers are shifted: the end
// moves with them, so that the last buffers are not clipped away.
GstEvent* shiftedSegmentEvent(KadHorodex* self, gint64 offset)
{
    GstSegment segment;
    gst_segment_copy_into(&self->upstreamSegment, &segment);
    if (segment.format == GST_FORMAT_TIME && GST_CLOCK_TIME_IS_VALID(segment.stop)) {
        GstClockTime stop = shifted(segment.stop, offset);
        if (!GST_CLOCK_TIME_IS_VALID(stop) || stop < segment.start) stop = segment.start;
        segment.stop = stop;
    }
    return gst_event_new_segment(&segment);
}

// The offset to apply now. When a new one was applied mid-stream, downstream
// first hears where the segment now ends; returns true in *changed then.
gint64 offsetForNextData(KadHorodex* self, gboolean* changed)
{
    const gint64 offset = readActiveOffset(self);
    *changed = offset != self->offsetInUse;
    if (*changed) {
        self->offsetInUse = offset;
        if (self->haveSegment)
            gst_pad_push_event(GST_BASE_TRANSFORM_SRC_PAD(&self->parent),
                               shiftedSegmentEvent(self, offset));
    }
    return offset;
}

gboolean sinkEvent(GstBaseTransform* trans, GstEvent* event)
{
    KadHorodex* self = KAD_HORODEX(trans);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_SEGMENT: {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        gst_segment_copy_into(segment, &self->upstreamSegment);
        self->haveSegment = TRUE;
        self->offsetInUse = readActiveOffset(self);
        GstEvent* replacement = shiftedSegmentEvent(self, self->offsetInUse);
        gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
        gst_event_unref(event);
        event = replacement;
        break;
    }
    case GST_EVENT_GAP: {
        GstClockTime timestamp = GST_CLOCK_TIME_NONE;
        GstClockTime duration = GST_CLOCK_TIME_NONE;
        gst_event_parse_gap(event, &timestamp, &duration);
        gboolean changed = FALSE;
        const gint64 offset = offsetForNextData(self, &changed);
        if (offset != 0 && GST_CLOCK_TIME_IS_VALID(timestamp)) {
            const GstClockTime moved = shifted(timestamp, offset);
            gst_event_unref(event);
            // A gap wholly before time zero has nothing left to announce.
            if (!GST_CLOCK_TIME_IS_VALID(moved)) return TRUE;
            event = gst_event_new_gap(moved, duration);
        }
        break;
    }
    case GST_EVENT_FLUSH_STOP:
        self->haveSegment = FALSE;
        break;
    default:
        break;
    }
    return GST_BASE_TRANSFORM_CLASS(kad_horodex_parent_class)->sink_event(trans, event);
}

// Quality reports from downstream speak of shifted times; upstream knows
// only its own.
gboolean srcEvent(GstBaseTransform* trans, GstEvent* event)
{
    KadHorodex* self = KAD_HORODEX(trans);
    if (GST_EVENT_TYPE(event) == GST_EVENT_QOS) {
        const gint64 offset = readActiveOffset(self);
        if (offset != 0) {
            GstQOSType type;
            gdouble proportion;
            GstClockTimeDiff diff;
            GstClockTime timestamp;
            gst_event_parse_qos(event, &type, &proportion, &diff, &timestamp);
            GstClockTime back = shifted(timestamp, -offset);
            if (!GST_CLOCK_TIME_IS_VALID(back)) back = 0;
            GstEvent* replacement = gst_event_new_qos(type, proportion, diff, back);
            gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
            gst_event_unref(event);
            event = replacement;
        }
    }
    return GST_BASE_TRANSFORM_CLASS(kad_horodex_parent_class)->src_event(trans, event);
}

// Drops the first `lead` of a raw sound buffer: samples before zero would
// otherwise play at zero and push the rest of the sound late.
void dropLeadingSound(GstBaseTransform* trans, GstBuffer* buffer, GstClockTime lead)
{
    GstCaps* caps = gst_pad_get_current_caps(GST_BASE_TRANSFORM_SINK_PAD(trans));
    if (!caps) return;
    GstAudioInfo info;
    const bool sound = gst_structure_has_name(gst_caps_get_structure(caps, 0), "audio/x-raw") &&
                       gst_audio_info_from_caps(&info, caps) && GST_AUDIO_INFO_BPF(&info) > 0 &&
                       GST_AUDIO_INFO_LAYOUT(&info) == GST_AUDIO_LAYOUT_INTERLEAVED;
    gst_caps_unref(caps);
    if (!sound) return;
    const gsize bytes =
        gsize(gst_util_uint64_scale_round(lead, guint64(GST_AUDIO_INFO_RATE(&info)), GST_SECOND)) *
        gsize(GST_AUDIO_INFO_BPF(&info));
    const gsize size = gst_buffer_get_size(buffer);
    if (bytes > 0 && bytes < size) gst_buffer_resize(buffer, gssize(bytes), gssize(size - bytes));
}

GstFlowReturn transformIp(GstBaseTransform* trans, GstBuffer* buffer)
{
    KadHorodex* self = KAD_HORODEX(trans);
    gboolean changed = FALSE;
    const gint64 offset = offsetForNextData(self, &changed);
    if (changed) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    if (offset == 0) return GST_FLOW_OK;

    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (GST_CLOCK_TIME_IS_VALID(pts)) {
        GstClockTime moved = shifted(pts, offset);
        if (!GST_CLOCK_TIME_IS_VALID(moved)) {
            // Moved below zero. Keep the part that still lies after zero;
            // a buffer entirely before it has no time to be played at.
            const GstClockTime duration = GST_BUFFER_DURATION(buffer);
            const GstClockTime end =
                GST_CLOCK_TIME_IS_VALID(duration) ? shifted(pts + duration, offset) : 0;
            if (!GST_CLOCK_TIME_IS_VALID(end) || end == 0) {
                GST_LOG_OBJECT(self, "dropping buffer at %" GST_TIME_FORMAT " (before zero)",
                               GST_TIME_ARGS(pts));
                return GST_BASE_TRANSFORM_FLOW_DROPPED;
            }
            moved = 0;
            GST_BUFFER_DURATION(buffer) = end;
            dropLeadingSound(trans, buffer, static_cast<GstClockTime>(-offset) - pts);
        }
        GST_BUFFER_PTS(buffer) = moved;
    }
    GST_BUFFER_DTS(buffer) = shifted(GST_BUFFER_DTS(buffer), offset);
    return GST_FLOW_OK;
}

gboolean start(GstBaseTransform* trans)
{
    KadHorodex* self = KAD_HORODEX(trans);
    gst_segment_init(&self->upstreamSegment, GST_FORMAT_TIME);
    self->haveSegment = FALSE;
    self->offsetInUse = readActiveOffset(self);
    return TRUE;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    KadHorodex* self = KAD_HORODEX(object);
    switch (id) {
    case PROP_OFFSET:
        kad_horodex_set_offset(GST_ELEMENT(self), g_value_get_int64(value));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    KadHorodex* self = KAD_HORODEX(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_OFFSET:
        g_value_set_int64(value, self->pendingOffset / kUnit);
        break;
    case PROP_ACTIVE_OFFSET:
        g_value_set_int64(value, self->activeOffset / kUnit);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

void prepareAction(KadHorodex* self)
{
    kad_horodex_prepare(GST_ELEMENT(self));
}

void applyAction(KadHorodex* self)
{
    kad_horodex_apply(GST_ELEMENT(self));
}

void setOffsetAction(KadHorodex* self, gint64 offset)
{
    kad_horodex_set_offset(GST_ELEMENT(self), offset);
}

} // namespace

static void kad_horodex_class_init(KadHorodexClass* klass)
{
    GObjectClass* gobjectClass = G_OBJECT_CLASS(klass);
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass* transClass = GST_BASE_TRANSFORM_CLASS(klass);

    gobjectClass->set_property = setProperty;
    gobjectClass->get_property = getProperty;

    g_object_class_install_property(
        gobjectClass, PROP_OFFSET,
        g_param_spec_int64("offset", "Offset",
                           "Stored time-stamp offset in 100-ns units; in use after \"apply\"",
                           -kMaxOffset, kMaxOffset, 0,
                           static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobjectClass, PROP_ACTIVE_OFFSET,
        g_param_spec_int64("active-offset", "Active offset",
                           "Time-stamp offset in 100-ns units applied to what passes", -kMaxOffset,
                           kMaxOffset, 0,
                           static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    const auto actionFlags = static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION);
    signals[SIGNAL_PREPARE] = g_signal_new_class_handler("prepare", G_TYPE_FROM_CLASS(klass),
                                                         actionFlags, G_CALLBACK(prepareAction),
                                                         nullptr, nullptr, nullptr, G_TYPE_NONE, 0);
    signals[SIGNAL_APPLY] = g_signal_new_class_handler("apply", G_TYPE_FROM_CLASS(klass),
                                                       actionFlags, G_CALLBACK(applyAction),
                                                       nullptr, nullptr, nullptr, G_TYPE_NONE, 0);
    signals[SIGNAL_SET_OFFSET] = g_signal_new_class_handler(
        "set-offset", G_TYPE_FROM_CLASS(klass), actionFlags, G_CALLBACK(setOffsetAction), nullptr,
        nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_INT64);

    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(elementClass, "Tavrel Horodex", "Filter",
                                          "Shifts the time stamps of a stream by a settable offset",
                                          "Kadrillo");

    transClass->transform_ip = transformIp;
    transClass->sink_event = sinkEvent;
    transClass->src_event = srcEvent;
    transClass->start = start;
}

static void kad_horodex_init(KadHorodex* self)
{
    self->pendingOffset = 0;
    self->activeOffset = 0;
    self->offsetInUse = 0;
    self->haveSegment = FALSE;
    gst_segment_init(&self->upstreamSegment, GST_FORMAT_TIME);
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(self), TRUE);
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(self), FALSE);
}

void kad_horodex_prepare(GstElement* horodex)
{
    g_return_if_fail(KAD_IS_HORODEX(horodex));
    KadHorodex* self = KAD_HORODEX(horodex);
    GST_OBJECT_LOCK(self);
    self->pendingOffset = 0;
    self->activeOffset = 0;
    GST_OBJECT_UNLOCK(self);
}

void kad_horodex_apply(GstElement* horodex)
{
    g_return_if_fail(KAD_IS_HORODEX(horodex));
    KadHorodex* self = KAD_HORODEX(horodex);
    GST_OBJECT_LOCK(self);
    self->activeOffset = self->pendingOffset;
    GST_OBJECT_UNLOCK(self);
}

void kad_horodex_set_offset(GstElement* horodex, gint64 offset100ns)
{
    g_return_if_fail(KAD_IS_HORODEX(horodex));
    KadHorodex* self = KAD_HORODEX(horodex);
    GST_OBJECT_LOCK(self);
    self->pendingOffset = toNanoseconds(offset100ns);
    GST_OBJECT_UNLOCK(self);
}

gboolean kad_horodex_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(horodex_debug, "kadhorodex", 0, "Kadrillo time-stamp shifter");
    return gst_element_register(plugin, "kadhorodex", GST_RANK_NONE, KAD_TYPE_HORODEX);
}
