#pragma once

// Drives one element by hand, all on the test's thread: a pad of ours feeds
// its sink pad, another collects what its source pad sends, so a push
// returns once the element has passed on what it makes of the buffer.

#include <gst/gst.h>

#include <string>
#include <vector>

#include "platform/media/gst_ptr.h"

namespace kadtest {

class PadHarness {
public:
    // Starts `factory`'s element and sends its `sinkPad` a stream start and
    // `caps`, and with `segment` an open time segment.
    PadHarness(const char* factory, const char* caps, bool segment, const char* sinkPad = "sink")
        : element_(kad::ElementRef::sink(gst_element_factory_make(factory, nullptr)))
    {
        if (!element_) return;
        src_ = kad::PadRef::sink(gst_pad_new("testsrc", GST_PAD_SRC));
        sink_ = kad::PadRef::sink(gst_pad_new("testsink", GST_PAD_SINK));
        g_object_set_data(G_OBJECT(sink_.get()), "harness", this);
        gst_pad_set_chain_function(sink_.get(), chain);
        gst_pad_set_event_function(sink_.get(), event);
        kad::PadRef elementSink(gst_element_get_static_pad(element_.get(), sinkPad));
        kad::PadRef elementSrc(gst_element_get_static_pad(element_.get(), "src"));
        linked_ = gst_pad_link(src_.get(), elementSink.get()) == GST_PAD_LINK_OK &&
                  gst_pad_link(elementSrc.get(), sink_.get()) == GST_PAD_LINK_OK;
        gst_pad_set_active(src_.get(), TRUE);
        gst_pad_set_active(sink_.get(), TRUE);
        gst_element_set_state(element_.get(), GST_STATE_PLAYING);
        gst_pad_push_event(src_.get(), gst_event_new_stream_start(factory));
        kad::CapsRef c(gst_caps_from_string(caps));
        capsAccepted_ = gst_pad_push_event(src_.get(), gst_event_new_caps(c.get()));
        if (segment) this->segment(0, GST_CLOCK_TIME_NONE);
    }
    ~PadHarness()
    {
        if (!element_) return;
        gst_element_set_state(element_.get(), GST_STATE_NULL);
        gst_pad_set_active(src_.get(), FALSE);
        gst_pad_set_active(sink_.get(), FALSE);
    }
    PadHarness(const PadHarness&) = delete;
    PadHarness& operator=(const PadHarness&) = delete;

    bool ready() const { return element_ && linked_ && capsAccepted_; }
    GstElement* element() const { return element_.get(); }
    GstPad* outputPad() const { return sink_.get(); }

    GstFlowReturn push(GstBuffer* buffer) { return gst_pad_push(src_.get(), buffer); }
    bool sendEvent(GstEvent* event) { return gst_pad_push_event(src_.get(), event); }
    void segment(GstClockTime start, GstClockTime stop)
    {
        GstSegment seg;
        gst_segment_init(&seg, GST_FORMAT_TIME);
        seg.start = start;
        seg.stop = stop;
        seg.time = start;
        sendEvent(gst_event_new_segment(&seg));
    }

    std::vector<kad::BufferRef> buffers;
    std::vector<GstSegment> segments;
    std::vector<GstClockTime> gaps;
    // What arrived, in order: 'S' stream start, 'c' caps, 's' segment,
    // 'b' buffer, 'g' gap, 'e' end of stream, 'f' flush stop.
    std::string order;

private:
    static PadHarness* self(GstPad* pad)
    {
        return static_cast<PadHarness*>(g_object_get_data(G_OBJECT(pad), "harness"));
    }
    static GstFlowReturn chain(GstPad* pad, GstObject*, GstBuffer* buffer)
    {
        self(pad)->buffers.emplace_back(buffer);
        self(pad)->order += 'b';
        return GST_FLOW_OK;
    }
    static gboolean event(GstPad* pad, GstObject*, GstEvent* event)
    {
        PadHarness* h = self(pad);
        switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_STREAM_START:
            h->order += 'S';
            break;
        case GST_EVENT_CAPS:
            h->order += 'c';
            break;
        case GST_EVENT_SEGMENT: {
            const GstSegment* seg = nullptr;
            gst_event_parse_segment(event, &seg);
            h->segments.push_back(*seg);
            h->order += 's';
            break;
        }
        case GST_EVENT_GAP: {
            GstClockTime ts = 0;
            gst_event_parse_gap(event, &ts, nullptr);
            h->gaps.push_back(ts);
            h->order += 'g';
            break;
        }
        case GST_EVENT_EOS:
            h->order += 'e';
            break;
        case GST_EVENT_FLUSH_STOP:
            h->order += 'f';
            break;
        default:
            break;
        }
        gst_event_unref(event);
        return TRUE;
    }

    kad::ElementRef element_;
    kad::PadRef src_;
    kad::PadRef sink_;
    bool linked_ = false;
    bool capsAccepted_ = false;
};

} // namespace kadtest
