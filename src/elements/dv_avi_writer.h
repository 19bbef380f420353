#pragma once

// kaddvaviwriter: writes an interleaved DV stream (video/x-dv,
// systemstream=true) as a type-1 DV AVI file: one 'iavs' stream with the
// 'dvsd' handler and a DVINFO block taken from the stream's own packs, a
// legacy 'idx1' index for the first RIFF and OpenDML ('AVIX' RIFFs, 'indx'
// super index, 'ix00' standard indexes, 'dmlh') beyond it, so files of any
// length read whole.
//
// Properties:
//   location       the file to write (settable in NULL/READY)
//   next-location  the file to continue into: applied before the next frame
//                  while PLAYING, the current file being finalised first; the
//                  element then posts an element message "kad-file-switched"
//                  (fields "old-location", "new-location", "frames": frames of
//                  the finished file, "reason": "cut"). The file being written
//                  is refused as its own next file (a warning; the capture
//                  goes on in it).
//   split-recordings  continue into a new file at the first frame of each new
//                  recording on the tape (kad::dv::RecordingWatch: a jump of
//                  the recording clock, or a recording start flagged with a
//                  readable date); "kad-file-switched" follows with "reason"
//                  "recording"
//   split-location the file the next new recording goes into, cleared when
//                  used; without one, the number after the last numbered
//                  name. A name whose file exists is passed over, also when
//                  it appears between the choice and the open (O_EXCL).
//   date-name-root when set, each file is renamed at its first frame with a
//                  recording date to <root>_YYYY.MM.DD_HH-MM-SS plus its
//                  extension ("_2", "_3"... when taken, never replacing a
//                  file); the element posts "kad-file-renamed" (fields
//                  "old-location", "new-location"). A file without any date
//                  keeps its name.
//   riff-limit     largest size of one RIFF chunk in bytes (default 1 GiB)
//   sync-interval  longest time (ns, default 5 s) before the frames written
//                  are indexed on disk and synced (fdatasync), whether frames
//                  flow or not; each RIFF chunk is synced as it closes too. A
//                  capture killed or cut from power at any moment then reads
//                  (ffprobe, avidemux) up to its last sync. 0: indexes only at
//                  the end of each chunk and file, never synced. After each
//                  sync the element posts "kad-file-synced" (fields
//                  "location", "frames": frames the file on disk indexes).
//                  Intervals below 10 ms count as 10 ms.
//   frames-written frames written to the current file (read only)
//   frames-rejected damaged or partial buffers skipped (read only)
//
// Action signal:
//   take-next-location  gchar* (): returns the pending next-location (the
//                  caller frees it) and clears it, in one step under the
//                  object lock; NULL when none is pending (the cut was made).
//
// The super index has room for 16 TiB (the largest file ext4 holds) at any
// riff-limit of 512 MiB or more: 16384 entries, 256 KiB of header, at the
// default 1 GiB, so a ten-hour capture (~130 GB) is a small part of it.
// Smaller limits (for tests) get 32768 entries, after which the last chunk
// grows up to the 32-bit size limit.
//
// Locks: the properties are guarded by the object lock; the file by a lock
// of its own, shared by the streaming thread, the "kadavisync" thread that
// syncs every sync-interval, and start/stop. The object lock is never held
// while taking the file's.

#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define KAD_TYPE_DV_AVI_WRITER (kad_dv_avi_writer_get_type())
G_DECLARE_FINAL_TYPE(KadDvAviWriter, kad_dv_avi_writer, KAD, DV_AVI_WRITER, GstBaseSink)

gboolean kad_dv_avi_writer_register(GstPlugin* plugin);

G_END_DECLS
