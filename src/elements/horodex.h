#pragma once

// kadhorodex ("Tavrel Horodex"): shifts the time stamps of everything that
// passes by an offset, so that one stream can be moved against another (the
// sound-card audio against the video, for instance).
//
// The offset is set in two steps so that a running stream only ever sees
// complete settings: "set-offset" (or the "offset" property) stores an
// offset, "apply" makes the stored offset the one in use, "prepare" resets
// both to zero. Offsets are in 100-ns units, as the rest of Kadrillo counts
// frame durations.
//
// What a negative offset moves before zero is dropped: a buffer wholly
// before it, and of a raw sound buffer that straddles it the samples before
// zero (the rest starts at zero, so the sound after it keeps its place).

#include <gst/base/gstbasetransform.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define KAD_TYPE_HORODEX (kad_horodex_get_type())
G_DECLARE_FINAL_TYPE(KadHorodex, kad_horodex, KAD, HORODEX, GstBaseTransform)

gboolean kad_horodex_register(GstPlugin* plugin);

// The operations of IHorodexConfig, callable from any thread. Each is also
// an action signal of the same (dashed) name.
void kad_horodex_prepare(GstElement* horodex);
void kad_horodex_apply(GstElement* horodex);
void kad_horodex_set_offset(GstElement* horodex, gint64 offset100ns);

G_END_DECLS
