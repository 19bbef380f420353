#pragma once

// kadsamplegrabber: a pass-through for raw video or DV (video/x-dv,
// systemstream=false) that keeps the latest frame, so the application can
// take a still image of the preview at any time. The frame is kept as it
// came (the decoder's own format at full size, or the encoded DV frame): it
// is turned into 24-bit RGB only when someone asks for it, so a preview
// nobody grabs from costs a reference per frame and nothing more.
//
// On DV the grabber sits before the preview's decoder, which may decode at a
// reduced size: a still decodes its one frame at full size on the asking
// thread (elements/dv_still_decoder.h), so every size below is the frame's
// full picture. The first DV frame after a start readies that decoder on a
// thread of GStreamer's pool, so the first still is as quick as the next.
// A DV frame that is damaged or cannot be decoded gives no still: the calls
// below return FALSE (NULL).

#include <gst/base/gstbasetransform.h>
#include <gst/gst.h>
#include <gst/video/video.h>

G_BEGIN_DECLS

#define KAD_TYPE_SAMPLE_GRABBER (kad_sample_grabber_get_type())
G_DECLARE_FINAL_TYPE(KadSampleGrabber, kad_sample_grabber, KAD, SAMPLE_GRABBER, GstBaseTransform)

gboolean kad_sample_grabber_register(GstPlugin* plugin);

// The shape of a copied frame: rows of 3 * width bytes (R, G, B), top row
// first, each row stride bytes apart (stride is 3 * width rounded up to a
// multiple of 4, as in a bitmap).
typedef struct {
    gint width;
    gint height;
    gint stride;
    gsize size;           // stride * height
    guint64 frame_number; // the frame's place in the count of "frame-count"
} KadGrabbedFrameInfo;

// Describes the latest frame without copying it. FALSE when no frame has
// passed since the grabber started.
gboolean kad_sample_grabber_peek(GstElement* grabber, KadGrabbedFrameInfo* info);

// Copies the latest frame into dest, converted to 24-bit RGB. Fills info in any case when a frame
// exists; returns FALSE when there is none or dest_size is below info->size
// (the frame may have changed size since a peek: call again with a bigger
// buffer). Safe from any thread.
gboolean kad_sample_grabber_copy_frame(GstElement* grabber, guint8* dest, gsize dest_size,
                                       KadGrabbedFrameInfo* info);

// The latest frame as a sample of 24-bit RGB (converted on the caller's
// thread when the stream carries another format), or NULL. Transfer full.
GstSample* kad_sample_grabber_get_last_sample(GstElement* grabber);

// The latest frame as it came (the stream's own format and caps, with its
// "frame-number" in the sample's info), or NULL: only a reference is taken,
// so it is cheap enough for the moment a still is due. Transfer full.
GstSample* kad_sample_grabber_take_frame(GstElement* grabber);

// Converts a frame taken by kad_sample_grabber_take_frame into dest as
// kad_sample_grabber_copy_frame does, with the same rules for info and
// dest_size. Safe from any thread, so a still can be converted away from the
// thread that took it.
gboolean kad_sample_grabber_frame_to_rgb(GstSample* frame, guint8* dest, gsize dest_size,
                                         KadGrabbedFrameInfo* info);

// Frames that passed since the grabber started ("frame-count").
guint64 kad_sample_grabber_frame_count(GstElement* grabber);

G_END_DECLS
