#pragma once

// A tape position as a DV frame's subcode stores it, and its packed
// binary-coded-decimal form (hours in the top byte, frames in the lowest),
// which is also how AV/C answers a timecode request.

#include <glib.h>

G_BEGIN_DECLS

typedef struct {
    guint hours;
    guint minutes;
    guint seconds;
    guint frames;
} KadTimecode;

guint32 kad_timecode_to_bcd(const KadTimecode* timecode);
KadTimecode kad_timecode_from_bcd(guint32 bcd);

G_END_DECLS
