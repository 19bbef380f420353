#pragma once

// kadlumatex3 ("Tavrel Lumatex3"): draws the date and time into the picture
// and turns the picture upside down on request.
//
// Pads: "video_sink" (raw video), "datecode_sink" (text/x-raw,format=utf8
// from kadchronix2, one buffer per frame with that frame's timestamp; may
// stay unlinked) and "src". With the text "%N" the element draws the
// computer's date and time at the frame's capture time, formatted with the
// date format; with "%D" it draws the datecode text received for the frame
// (an empty text draws nothing). The video never waits for the datecode.
//
// Every operation below is callable from any thread and is also an action
// signal of the same dashed name ("set-text", "set-enabled", ...).

#include <gst/gst.h>
#include <gst/video/video.h>

G_BEGIN_DECLS

#define KAD_TYPE_LUMATEX3 (kad_lumatex3_get_type())
G_DECLARE_FINAL_TYPE(KadLumatex3, kad_lumatex3, KAD, LUMATEX3, GstElement)

gboolean kad_lumatex3_register(GstPlugin* plugin);

void kad_lumatex3_set_text(GstElement* overlay, const gchar* text); // "%N" or "%D"
void kad_lumatex3_set_enabled(GstElement* overlay, gint enabled);
void kad_lumatex3_set_auto_font_size(GstElement* overlay, gboolean automatic);
void kad_lumatex3_set_font_size(GstElement* overlay, gint points);
void kad_lumatex3_set_font_name(GstElement* overlay, const gchar* face);
void kad_lumatex3_set_font_color(GstElement* overlay, guint32 bbggrr); // 0x00BBGGRR
void kad_lumatex3_set_font_bold(GstElement* overlay, gboolean on);
void kad_lumatex3_set_font_italic(GstElement* overlay, gboolean on);
void kad_lumatex3_set_font_underline(GstElement* overlay, gboolean on);
void kad_lumatex3_set_font_strike_out(GstElement* overlay, gboolean on);
// A newly allocated version text; g_free() it.
gchar* kad_lumatex3_get_version(GstElement* overlay);
void kad_lumatex3_set_flip(GstElement* overlay, gboolean flip);
// Where the text's box goes, in thousandths of the picture: its left edge x
// (0..970) from the left, its top edge y (0..930) from the BOTTOM, so that
// 930 is near the top and 0 puts the text on the bottom edge; the box then
// moves left and up as far as needed to stay inside the picture. The
// default, (930, 860), is the top right. Out-of-range values are clamped,
// reserved is ignored.
void kad_lumatex3_set_position(GstElement* overlay, gint x, gint y, gint reserved);
void kad_lumatex3_set_date_format(GstElement* overlay, const gchar* pattern);

G_END_DECLS
