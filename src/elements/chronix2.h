#pragma once

// kadchronix2 ("Tavrel Chronix2"): reads the recording date and time that a
// DV camcorder stores in every frame and turns it into the text the overlay
// draws.
//
// Pads: "sink" (video/x-dv, whole frames) and "src" (text/x-raw,
// format=utf8): one buffer per frame with the frame's timestamp and
// duration, holding the formatted datecode, or nothing (an empty buffer)
// when there is nothing to show for that frame.
//
// A frame whose packs cannot be read (damaged, truncated, or no DV frame at
// all) shows the last date read in the same recording, and nothing before
// the first good one; it never stops the stream. A date counts only when most
// of the frame agrees on it and it is a real date from 1995 on (earlier ones
// are a clock never set, or the epoch other tools stamp on DV they make). A new recording begins
// where the recording clock jumps (backwards, or ahead by more than the time that passed plus a
// second) or where the camcorder flags a recording start (REC ST in the source-control packs of
// most DIF sequences).
//
// Every operation below is callable from any thread and is also an action
// signal of the same dashed name ("set-hour-offset", ...). Each has a
// property of the same name without "set-" as well.

#include <gst/gst.h>

G_BEGIN_DECLS

#define KAD_TYPE_CHRONIX2 (kad_chronix2_get_type())
G_DECLARE_FINAL_TYPE(KadChronix2, kad_chronix2, KAD, CHRONIX2, GstElement)

gboolean kad_chronix2_register(GstPlugin* plugin);

void kad_chronix2_set_hour_offset(GstElement* datecode, gint hours); // -23..23
void kad_chronix2_set_format(GstElement* datecode, const gchar* pattern);
void kad_chronix2_set_enabled(GstElement* datecode, gint enabled);
// Frames one automatic inlay lasts.
void kad_chronix2_set_inlay_frames(GstElement* datecode, gint frames);
// TRUE: show the date only for the inlay frames at each new recording, and
// once right away, for the recording playing, each time it is set to TRUE.
void kad_chronix2_set_automatic(GstElement* datecode, gboolean automatic);

G_END_DECLS
