#pragma once

// kadaviwriter: writes DV video (video/x-dv, systemstream=false) and its
// sound (audio/x-raw S16LE interleaved, any rate and channel count) as one
// OpenDML AVI file of a 'vids'/'dvsd' stream and a PCM 'auds' stream, with
// the same RIFF, index and sync durability as kaddvaviwriter.
//
// Request pads "video" and "audio" (the sound is optional). Picture and
// sound are placed on one time line by running time, from the first frame:
//  - every frame keeps its slot; a frame the source did not deliver is
//    written as a copy of the previous frame (every reader counts it as a
//    frame, so the picture keeps its length) and counted in "lost-frames";
//  - a gap in the sound is written as silence, sound that overlaps what is
//    written already is dropped, so the sound stays as long as the picture;
//  - chunks are interleaved in time order: a frame is written once the sound
//    has reached its time, or the end of the sound, or when the sound has
//    been missing for a second (a stalled pad never holds the other back).
// The file ends with the last frame; the sound is cut or padded with silence
// to the end of that frame.
//
// Properties:
//   location       the file to write (settable in NULL/READY)
//   next-location  the file to continue into: applied before the next frame
//                  slot while PLAYING; the sound is cut at the first sample of
//                  that slot, so both streams of every file begin together.
//                  Posts "kad-file-switched" (fields "old-location",
//                  "new-location", "frames": frames of the finished file)
//   riff-limit     largest size of one RIFF chunk in bytes (default 1 GiB)
//   sync-interval  longest time (ns, default 5 s) before what was written is
//                  indexed on disk and synced (fdatasync); 0: never synced.
//                  Posts "kad-file-synced" ("location", "frames")
//   frames-written frames written to the current file, filled ones included
//                  (read only)
//   lost-frames    frame slots of the capture filled because the source did
//                  not deliver their frame (read only)
//
// Locks: properties under the object lock; the queues, the time line and the
// file under the writer's data lock, shared by both streaming threads, the
// "kadavisync" thread and state changes. The object lock may be taken inside
// the data lock, never the other way round.

#include <gst/gst.h>

G_BEGIN_DECLS

#define KAD_TYPE_AVI_WRITER (kad_avi_writer_get_type())
G_DECLARE_FINAL_TYPE(KadAviWriter, kad_avi_writer, KAD, AVI_WRITER, GstElement)

gboolean kad_avi_writer_register(GstPlugin* plugin);

G_END_DECLS
