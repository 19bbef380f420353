#pragma once

// kaddisplaysink: the end of the preview. Takes the decoder's raw frames in
// their own format and size and hands each one, as 32-bit RGBx at the size
// the window shows it ("display-width" x "display-height"; the source's size
// while they are 0), to a registered callback that the video window (or a
// test) provides. The decoders' YUV is scaled and converted to RGBx in one
// pass that reads only the source samples the shown size needs; it happens
// on the delivery thread, so a frame that is dropped is never converted.
//
// The callback runs on a delivery thread of the sink's own, never on the
// streaming thread: the streaming thread only leaves the frame in a one-frame
// mailbox. When the consumer is still busy with an earlier frame, the waiting
// one is replaced by the newer frame and counted in "frames-dropped", so a
// slow window costs frames, never latency.

#include <gst/gst.h>
#include <gst/video/gstvideosink.h>
#include <gst/video/video.h>

G_BEGIN_DECLS

#define KAD_TYPE_DISPLAY_SINK (kad_display_sink_get_type())
G_DECLARE_FINAL_TYPE(KadDisplaySink, kad_display_sink, KAD, DISPLAY_SINK, GstVideoSink)

gboolean kad_display_sink_register(GstPlugin* plugin);

// One frame as the callback sees it. data is valid only during the call.
// To keep the picture longer without copying it, take a reference of buffer
// and map it whole (gst_buffer_map): the pixels start offset bytes in. A
// kept picture stays as it is: the sink draws every picture into a buffer
// of its own pool, which grows rather than waits while pictures are kept,
// and hands a source's frame on as it comes (RGBx at the shown size
// already) only when no pool upstream waits for it back (a capture device
// has few buffers); otherwise it copies it into one of its own.
typedef struct {
    gint width;
    gint height;
    gint stride;        // bytes from one row to the next
    const guint8* data; // width x height pixels, R G B x, top row first
    gint par_n;         // pixel aspect ratio of this picture: width * par / height
    gint par_d;         // is the source's display aspect at any shown size
    GstClockTime pts;
    GstBuffer* buffer;
    gint source_width; // the source's picture before scaling
    gint source_height;
    gsize offset; // where data starts in buffer, mapped whole
} KadDisplayFrame;

typedef void (*KadDisplayFrameFunc)(const KadDisplayFrame* frame, gpointer user_data);

// Registers the frame callback (NULL removes it). When it returns, the
// previous callback is no longer running and will not be called again, and
// its destroy function has run; so it must not be called from inside the
// callback, and the callback must not wait for the thread that calls this.
void kad_display_sink_set_callback(GstElement* sink, KadDisplayFrameFunc func, gpointer user_data,
                                   GDestroyNotify destroy);

// The source's picture: size and pixel aspect ratio of the negotiated
// video. FALSE before the first negotiation.
gboolean kad_display_sink_get_aspect(GstElement* sink, gint* width, gint* height, gint* par_n,
                                     gint* par_d);

// The size the frames are shown at (0 x 0: the source's). Safe from any
// thread; the next frame delivered has it.
void kad_display_sink_set_display_size(GstElement* sink, gint width, gint height);

G_END_DECLS
