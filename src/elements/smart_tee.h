#pragma once

// kadsmarttee ("Smart Tee"): splits one stream into a "capture" output and a
// "preview" output. The capture output never loses a buffer; the preview
// output sits behind a leaky queue, so a slow display drops preview frames
// instead of holding back the capture. Behind a source that is not live (a
// file read as fast as it goes) nothing is late, and the preview keeps every
// frame.
//
// Queries that travel in the stream (allocation, drain) are answered by the
// capture output alone and never reach the preview, so a preview that sits
// on a query (a paused or busy sink) cannot hold the capture either.
//
// The capture pad is added before the preview pad: a caller that takes "the
// first free source pad" gets the capture output first, then the preview.
//
// Pads: "sink" (always), "capture" (always), "preview" (always); all three
// are ghost pads of the inner tee and queues, so caps pass through unchanged.

#include <gst/gst.h>

G_BEGIN_DECLS

#define KAD_TYPE_SMART_TEE (kad_smart_tee_get_type())
G_DECLARE_FINAL_TYPE(KadSmartTee, kad_smart_tee, KAD, SMART_TEE, GstBin)

gboolean kad_smart_tee_register(GstPlugin* plugin);

G_END_DECLS
