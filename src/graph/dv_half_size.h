#pragma once

// The DV preview decoded at half size while the window is small. libav's DV
// decoder can decode a frame at half its size ("lowres") in about two thirds
// of the time; the normal window shows a PAL picture at 384 x 288, which is
// exactly half of 720 x 576 at the picture's 4:3 aspect. Stills are not
// concerned: the sample grabber keeps the encoded frames ahead of the
// decoder and decodes a still at full size.
//
// The decoder follows the display: whenever the window shows the picture at
// no more than half the source's size in both directions (the width taken at
// the source's display aspect), it decodes at half size, otherwise at full
// size; a window made larger (full screen) gets the full picture from the
// next frame on, without rebuilding the graph.

#include <gst/gst.h>

namespace kad {

// True when decoder can decode at half size (libav's "lowres").
bool CanDecodeDvAtHalfSize(GstElement* decoder);

// Whether a picture of sourceWidth x sourceHeight pixels of parN:parD,
// shown at displayWidth x displayHeight, loses nothing when decoded at half
// size. A display of 0 x 0 shows the source's size: it does not.
bool HalfSizeFits(int displayWidth, int displayHeight, int sourceWidth, int sourceHeight, int parN,
                  int parD);

// Makes decoder follow the size display ("display-width", "display-height")
// shows the picture at. Checked on the decoder's streaming thread at each
// frame: a change reopens the decoder at its next frame (a renewed caps
// event). Once per decoder; the decoder keeps what it needs.
void FollowDisplaySize(GstElement* decoder, GstElement* display);

// Full size from now on, whatever the display: for a capture that takes the
// decoded picture. For a stopped graph (READY or below), so the decoder
// starts the next run at full size. Does nothing to a decoder that does not
// follow a display.
void HoldFullSize(GstElement* decoder);

// Back to following the display, once such a capture has ended.
void ReleaseFullSize(GstElement* decoder);

} // namespace kad
