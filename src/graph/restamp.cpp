#include "graph/restamp.h"

#include "platform/media/gst_ptr.h"

#include <memory>

namespace kad {

namespace {

struct Restamp {
    GstSegment segment;
    bool known = false;
};

GstPadProbeReturn onEncoded(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    auto* r = static_cast<Restamp*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
        const GstSegment* in = nullptr;
        gst_event_parse_segment(event, &in);
        if (in->format != GST_FORMAT_TIME) return GST_PAD_PROBE_OK;
        gst_segment_copy_into(in, &r->segment);
        r->known = true;
        GstSegment zero;
        gst_segment_init(&zero, GST_FORMAT_TIME);
        GstEvent* out = gst_event_new_segment(&zero);
        gst_event_set_seqnum(out, gst_event_get_seqnum(event));
        gst_event_unref(event);
        GST_PAD_PROBE_INFO_DATA(info) = out;
        return GST_PAD_PROBE_OK;
    }
    if (!r->known) return GST_PAD_PROBE_OK;
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    auto toRunning = [r](GstClockTime t) {
        if (!GST_CLOCK_TIME_IS_VALID(t) || t < r->segment.start) return t;
        return gst_segment_to_running_time(&r->segment, GST_FORMAT_TIME, t);
    };
    GST_BUFFER_PTS(buffer) = toRunning(GST_BUFFER_PTS(buffer));
    GST_BUFFER_DTS(buffer) = toRunning(GST_BUFFER_DTS(buffer));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

void deleteRestamp(gpointer data)
{
    // The probe's user data comes back here; adopting it frees it.
    std::unique_ptr<Restamp> owned(static_cast<Restamp*>(data));
}

} // namespace

void RestampToRunningTime(GstElement* encoder)
{
    if (!encoder) return;
    PadRef out(gst_element_get_static_pad(encoder, "src"));
    if (out)
        gst_pad_add_probe(
            out.get(),
            GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            onEncoded, std::make_unique<Restamp>().release(), deleteRestamp);
}

} // namespace kad
