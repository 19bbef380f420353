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
//   frames-written frames written to the current file (read only)
//   frames-rejected damaged or partial buffers skipped (read only)
//
// Locks: the properties are guarded by the object lock; the file itself is
// touched only by the streaming thread and by start/stop, which never run at
// the same time.

#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define KAD_TYPE_DV_AVI_WRITER (kad_dv_avi_writer_get_type())
G_DECLARE_FINAL_TYPE(KadDvAviWriter, kad_dv_avi_writer, KAD, DV_AVI_WRITER, GstBaseSink)

gboolean kad_dv_avi_writer_register(GstPlugin* plugin);

G_END_DECLS
