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
//                  the finished file)
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
