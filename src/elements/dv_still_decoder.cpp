#include "elements/dv_still_decoder.h"

#include "media/dv/dv_frame.h"
#include "media/dv/dv_frame_screen.h"

#include <memory>
#include <mutex>

GST_DEBUG_CATEGORY_STATIC(dv_still_debug);
#define GST_CAT_DEFAULT dv_still_debug

namespace kad {

namespace {

struct ObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct CapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct MessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
using ElementPtr = std::unique_ptr<GstElement, ObjectUnref>;
using BusPtr = std::unique_ptr<GstBus, ObjectUnref>;
using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;

// Takes ownership of a new element, floating or not.
GstElement* owned(GstElement* element)
{
    return element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr;
}

constexpr GstClockTime kFrameStep = GST_SECOND / 25;

void setIfPresent(GstElement* element, const char* property, const char* value)
{
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), property))
        gst_util_set_object_arg(G_OBJECT(element), property, value);
}

// The decoding pipeline, kept from one still to the next. Locking: lock_
// serialises the stills; everything here is touched only under it.
class StillDecoder {
public:
    ~StillDecoder() { drop(); }

    GstSample* decode(GstBuffer* frame, GstCaps* caps, guint timeoutMs, bool onlyToMake = false)
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (onlyToMake && pipeline_) return nullptr;
        if (!pipeline_ && !make()) return nullptr;
        // What was said about an earlier frame must not fail this one; an
        // error since then calls for a new pipeline.
        if (failure()) {
            drop();
            if (!make()) return nullptr;
        }
        if (!caps_ || !gst_caps_is_equal(caps_.get(), caps)) {
            g_object_set(src_, "caps", caps, nullptr);
            caps_.reset(gst_caps_ref(caps));
        }
        // A sample left over from an earlier still would pass for this one.
        while (GstSample* stale = pull(0))
            gst_sample_unref(stale);

        // The frame goes in with timestamps of this pipeline's own: the
        // preview's mean nothing here. The memory is shared, not copied.
        GstBuffer* in = gst_buffer_copy(frame);
        GST_BUFFER_PTS(in) = next_;
        GST_BUFFER_DTS(in) = GST_CLOCK_TIME_NONE;
        GST_BUFFER_DURATION(in) = kFrameStep;
        GST_BUFFER_FLAG_UNSET(in, GST_BUFFER_FLAG_DISCONT);
        next_ += kFrameStep;
        GstFlowReturn pushed = GST_FLOW_ERROR;
        g_signal_emit_by_name(src_, "push-buffer", in, &pushed);
        gst_buffer_unref(in);
        if (pushed != GST_FLOW_OK) {
            GST_WARNING("the still decoder took no frame: %s", gst_flow_get_name(pushed));
            drop();
            return nullptr;
        }

        const gint64 deadline =
            g_get_monotonic_time() + gint64(timeoutMs) * G_TIME_SPAN_MILLISECOND;
        for (;;) {
            if (GstSample* sample = pull(20 * GST_MSECOND)) return sample;
            if (const char* why = failure()) {
                GST_WARNING("the DV frame was not decoded: %s", why);
                drop();
                return nullptr;
            }
            if (g_get_monotonic_time() >= deadline) {
                GST_WARNING("no decoded DV frame within %u ms", timeoutMs);
                drop();
                return nullptr;
            }
        }
    }

private:
    bool make()
    {
        const char* factory = "avdec_dvvideo";
        ElementPtr decoder(owned(gst_element_factory_make(factory, nullptr)));
        if (!decoder) {
            factory = "dvdec";
            decoder.reset(owned(gst_element_factory_make(factory, nullptr)));
        }
        ElementPtr src(owned(gst_element_factory_make("appsrc", nullptr)));
        ElementPtr sink(owned(gst_element_factory_make("appsink", nullptr)));
        if (!decoder || !src || !sink) {
            GST_WARNING("no DV decoder for stills");
            return false;
        }
        // One frame in, one picture out at once: frame threads would hold
        // the picture until more frames came. Full size, and a picture the
        // decoder knows to be broken is no still.
        setIfPresent(decoder.get(), "thread-type", "slice");
        setIfPresent(decoder.get(), "lowres", "full");
        setIfPresent(decoder.get(), "output-corrupt", "false");
        g_object_set(src.get(), "format", GST_FORMAT_TIME, "is-live", FALSE, nullptr);
        g_object_set(sink.get(), "sync", FALSE, "max-buffers", 2u, "enable-last-sample", FALSE,
                     nullptr);

        ElementPtr pipeline(owned(gst_pipeline_new("kad-dv-still")));
        gst_bin_add_many(GST_BIN(pipeline.get()), src.get(), decoder.get(), sink.get(), nullptr);
        if (!gst_element_link_many(src.get(), decoder.get(), sink.get(), nullptr) ||
            gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            GST_WARNING("the still decoder (%s) cannot start", factory);
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
            return false;
        }
        GST_DEBUG("still decoder made with %s", factory);
        pipeline_ = std::move(pipeline);
        // The pipeline holds them from here on.
        src_ = src.get();
        sink_ = sink.get();
        decoder_ = decoder.get();
        next_ = 0;
        return true;
    }

    void drop()
    {
        if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
        pipeline_.reset();
        src_ = sink_ = decoder_ = nullptr;
        caps_.reset();
    }

    GstSample* pull(GstClockTime timeout)
    {
        GstSample* sample = nullptr;
        g_signal_emit_by_name(sink_, "try-pull-sample", timeout, &sample);
        return sample;
    }

    // Why the frame pushed last will give no picture, from what the pipeline
    // has said since: an error, or the decoder's warning or dropped frame.
    // Null while nothing says so. Reads every message, so none pile up.
    const char* failure()
    {
        BusPtr bus(gst_element_get_bus(pipeline_.get()));
        const char* why = nullptr;
        while (MessagePtr message{gst_bus_pop(bus.get())}) {
            switch (GST_MESSAGE_TYPE(message.get())) {
            case GST_MESSAGE_ERROR:
                why = "decoding pipeline error";
                break;
            case GST_MESSAGE_WARNING:
                if (GST_MESSAGE_SRC(message.get()) == GST_OBJECT(decoder_))
                    why = "the decoder refused the frame";
                break;
            case GST_MESSAGE_QOS:
                if (GST_MESSAGE_SRC(message.get()) == GST_OBJECT(decoder_))
                    why = "the decoder dropped the frame";
                break;
            default:
                break;
            }
        }
        return why;
    }

    std::mutex lock_;
    ElementPtr pipeline_;
    GstElement* src_ = nullptr; // these three belong to pipeline_
    GstElement* sink_ = nullptr;
    GstElement* decoder_ = nullptr;
    CapsPtr caps_;
    GstClockTime next_ = 0;
};

} // namespace

gboolean DvFramePictureSize(GstBuffer* buffer, gint* width, gint* height)
{
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return FALSE;
    const bool whole =
        IsWholeDvData(map.data, map.size) && dv::announcedFrameSize(map.data) == map.size;
    const bool pal = whole && dv::headerSaysPal(map.data);
    gst_buffer_unmap(buffer, &map);
    if (!whole) return FALSE;
    *width = 720;
    *height = pal ? 576 : 480;
    return TRUE;
}

namespace {

// Kept for the life of the process: stills come one after another for as
// long as the program runs.
StillDecoder& stillDecoder()
{
    static std::once_flag debugOnce;
    std::call_once(debugOnce, [] {
        GST_DEBUG_CATEGORY_INIT(dv_still_debug, "kaddvstill", 0, "Kadrillo DV still decoder");
    });
    static StillDecoder decoder;
    return decoder;
}

bool wholeFrame(GstBuffer* buffer, GstCaps* caps)
{
    gint width = 0, height = 0;
    return buffer && caps && DvFramePictureSize(buffer, &width, &height);
}

} // namespace

GstSample* DecodeDvStill(GstBuffer* buffer, GstCaps* caps, guint timeoutMs)
{
    StillDecoder& decoder = stillDecoder();
    if (!wholeFrame(buffer, caps)) {
        GST_WARNING("not a whole DV frame: no still");
        return nullptr;
    }
    return decoder.decode(buffer, caps, timeoutMs);
}

void PrepareDvStillDecoder(GstBuffer* buffer, GstCaps* caps)
{
    StillDecoder& decoder = stillDecoder();
    if (!wholeFrame(buffer, caps)) return;
    if (GstSample* dropped = decoder.decode(buffer, caps, 2000, true)) gst_sample_unref(dropped);
}

} // namespace kad
