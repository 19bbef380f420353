#pragma once

// kadaviwriter: writes video and its sound (audio/x-raw S16LE interleaved,
// any rate and channel count) as one OpenDML AVI file of a 'vids' stream and
// a PCM 'auds' stream, with the same RIFF, index and sync durability as
// kaddvaviwriter. The video is one of:
//  - DV (video/x-dv, systemstream=false): 'dvsd';
//  - raw video as capture cards and webcams deliver it, stored as it comes
//    under its fourcc (YUY2, UYVY, I420, YV12; GRAY8 as 'Y800'; YVYU and
//    NV12, which GStreamer's avidemux does not know, turned into YUY2 and
//    I420), planes one after the other and rows without padding; RGB, BGR,
//    BGRx and BGRA as a DIB (BI_RGB, 24 or 32 bits, rows bottom up and
//    padded to four bytes, RGB turned into the DIB's blue-first order);
//  - JPEG frames (image/jpeg, with width and height): 'MJPG'.
// When raw or JPEG caps give no frame rate (0/1), the file runs at the
// source's nominal rate: the frames' duration, else the spacing of the
// first frames' times (twelve frames, or 0.4 s of them; missing frames seen
// as such), taken to the nearest of the usual camera rates (5 to 60
// frames/s, NTSC's 1000/1001 rates included) within 3 %, else as measured.
//
// Request pads "video" and "audio" (the sound is optional). Picture and
// sound are placed on one time line by running time, from the first frame:
//  - every frame keeps its slot; a frame the source did not deliver is
//    written as a copy of the previous frame, whatever the format (ffmpeg
//    and GStreamer's avidemux both count it as a frame, so the picture keeps
//    its length) and counted in "lost-frames";
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
//                  slot while PLAYING, once the file being written holds a
//                  frame (until then it stays pending: no file is finished
//                  empty); the sound is cut at the first sample of that slot,
//                  so both streams of every file begin together.
//                  Posts "kad-file-switched" (fields "old-location",
//                  "new-location", "frames": frames of the finished file,
//                  "reason": "cut"). The file being written is refused as
//                  its own next file (a warning; the capture goes on in it).
//                  A cut after the picture stalled begins the new file's
//                  sound with silence up to where the sound already written
//                  reached. A cut and a new recording on the same frame make
//                  one file, the cut's.
//   split-recordings  DV: continue into a new file at the first frame of each
//                  new recording on the tape (kad::dv::RecordingWatch), cut
//                  like next-location; "reason" "recording"
//   split-location the file the next new recording goes into, cleared when
//                  used; without one, the number after the last numbered
//                  name. A name whose file exists is passed over, also when
//                  it appears between the choice and the open (O_EXCL).
//   date-name-root DV: when set, each file is renamed at its first frame with
//                  a recording date to <root>_YYYY.MM.DD_HH-MM-SS plus its
//                  extension ("_2", "_3"... when taken, never replacing a
//                  file); posts "kad-file-renamed" ("old-location",
//                  "new-location"). A file without any date keeps its name.
//   riff-limit     largest size of one RIFF chunk in bytes (default 1 GiB)
//   sync-interval  longest time (ns, default 5 s) before what was written is
//                  indexed on disk and synced (fdatasync); 0: never synced.
//                  Posts "kad-file-synced" ("location", "frames")
//   frames-written frames written to the current file, filled ones included
//                  (read only)
//   lost-frames    frame slots of the capture filled because the source did
//                  not deliver their frame (read only)
//
// Action signal:
//   take-next-location  gchar* (): returns the pending next-location (the
//                  caller frees it) and clears it, in one step under the
//                  object lock; NULL when none is pending (the cut was made).
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
