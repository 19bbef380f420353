#pragma once

// Decodes single DV frames at full size for still images. A preview that
// decodes its DV at a reduced size keeps the encoded frames for its stills;
// the one frame a still needs is decoded here, by libav's DV decoder (libdv's
// where libav is missing), at the quality the full-size preview had.
//
// The decoding pipeline (appsrc ! decoder ! appsink) is made once, ahead of
// the first still or at it, and kept, so a still costs the decode alone. One still is
// decoded at a time; a caller waits for the one before it. Every wait is
// bounded: a frame the decoder cannot decode, or a decoder that fails, gives
// NULL, and the pipeline is made anew for the next still.
//
// GStreamer only: callable from any thread but a streaming thread of the
// decoding pipeline itself.

#include <gst/gst.h>

namespace kad {

// The DV frame in buffer (video/x-dv, systemstream=false, as caps say) as
// raw video at the frame's full size, or NULL when the frame is damaged or
// could not be decoded within timeoutMs. Transfer full.
GstSample* DecodeDvStill(GstBuffer* buffer, GstCaps* caps, guint timeoutMs = 2000);

// Makes the decoding pipeline ahead of the first still, by decoding frame
// (whose picture is dropped), so that the first still costs no more than the
// next. Does nothing once the pipeline exists. Blocks for the decode: call
// it away from streaming and GUI threads (gst_element_call_async).
void PrepareDvStillDecoder(GstBuffer* buffer, GstCaps* caps);

// The picture size a whole DV frame decodes to (720 x 576 or 720 x 480),
// from its header block; FALSE when buffer is not one whole DV frame.
gboolean DvFramePictureSize(GstBuffer* buffer, gint* width, gint* height);

} // namespace kad
