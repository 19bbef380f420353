#pragma once

// Makes a capture's video encoder fail mid-stream, as a broken one does, so
// that tests can see what the program does with an encoder error.

#include "platform/media/gst_ptr.h"

#include <gst/gst.h>

#include <atomic>

namespace kad::test {

// The first video encoder anywhere in bin.
inline ElementRef findVideoEncoder(GstBin* bin)
{
    ElementRef found;
    GstIterator* it = gst_bin_iterate_recurse(bin);
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* e = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* f = gst_element_get_factory(e);
        const char* klass =
            f ? gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_KLASS) : nullptr;
        if (klass && g_strrstr(klass, "Encoder") && g_strrstr(klass, "Video"))
            found = ElementRef::ref(e);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

// A buffer probe for the encoder's sink pad, its data a std::atomic<bool>:
// the encoder says why once, then refuses every frame.
inline GstPadProbeReturn failEncoding(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    if (!static_cast<std::atomic<bool>*>(data)->exchange(true))
        GST_ELEMENT_ERROR(GST_PAD_PARENT(pad), STREAM, ENCODE, ("Could not encode the frame."),
                          ("failure made by the test"));
    gst_buffer_unref(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
    return GST_PAD_PROBE_HANDLED;
}

} // namespace kad::test
