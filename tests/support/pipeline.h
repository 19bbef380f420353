#pragma once

// Building GStreamer pipelines in tests and playing them to their end, each
// run with a deadline.

#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/media/gst_ptr.h"

namespace kadtest {

// Frees what was handed to GLib with std::make_unique(...).release(), as
// its destroy notify.
template <class T> void freeHandedOver(gpointer data)
{
    std::unique_ptr<T> owned(static_cast<T*>(data));
}

// A pipeline from its launch text; a parse error fails the test.
inline kad::ElementRef launch(const std::string& description)
{
    GError* err = nullptr;
    GstElement* p = gst_parse_launch(description.c_str(), &err);
    if (err) {
        ADD_FAILURE() << "parse: " << err->message << " in " << description;
        g_error_free(err);
    }
    return kad::ElementRef::sink(p);
}

inline kad::ElementRef byName(GstElement* bin, const char* name)
{
    return kad::ElementRef(gst_bin_get_by_name(GST_BIN(bin), name));
}

// Plays `pipeline` until its end and leaves it there, so its sinks still
// hold their last sample; false, with the reason in `why`, on an error or
// when no end came within `seconds`.
inline bool playToEnd(GstElement* pipeline, std::string* why = nullptr, int seconds = 30)
{
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    kad::BusRef bus(gst_element_get_bus(pipeline));
    kad::MessageRef msg(
        gst_bus_timed_pop_filtered(bus.get(), GstClockTime(seconds) * GST_SECOND,
                                   GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    std::string reason;
    if (!msg) {
        reason = "no end of stream in " + std::to_string(seconds) + " s";
    } else if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
        GError* err = nullptr;
        gst_message_parse_error(msg.get(), &err, nullptr);
        reason = err ? err->message : "error";
        if (err) g_error_free(err);
    }
    if (why) *why = reason;
    return msg && reason.empty();
}

// Calls `onBuffer(index)` on the streaming thread for every buffer leaving
// `element`'s src pad, before the element downstream gets it; true drops
// the buffer. `onBuffer` must outlive the pipeline's run.
inline void onEachBuffer(GstElement* pipeline, const char* element,
                         std::function<bool(int)>* onBuffer)
{
    using State = std::pair<std::function<bool(int)>*, int>;
    kad::ElementRef e = byName(pipeline, element);
    kad::PadRef pad(gst_element_get_static_pad(e.get(), "src"));
    gst_pad_add_probe(
        pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            auto* state = static_cast<State*>(data);
            return (*state->first)(state->second++) ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
        },
        std::make_unique<State>(onBuffer, 0).release(), &freeHandedOver<State>);
}

// The last frame a fakesink kept (enable-last-sample=true), as rows of
// `bpp`-byte pixels without padding; empty when it kept none.
inline std::vector<guint8> lastPixels(GstElement* fakesink, int* width, int* height, int bpp)
{
    GstSample* raw = nullptr;
    g_object_get(fakesink, "last-sample", &raw, nullptr);
    kad::SampleRef sample(raw);
    std::vector<guint8> out;
    GstVideoInfo info;
    if (!sample || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get()))) return out;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample.get()), GST_MAP_READ))
        return out;
    *width = GST_VIDEO_INFO_WIDTH(&info);
    *height = GST_VIDEO_INFO_HEIGHT(&info);
    const auto* data = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    for (int y = 0; y < *height; ++y)
        out.insert(out.end(), data + y * stride, data + y * stride + *width * bpp);
    gst_video_frame_unmap(&frame);
    return out;
}

} // namespace kadtest
