#pragma once

// kaddump, long name "Dump": a pass-through file writer. It writes the
// stream exactly as it arrives, byte for byte (the MPEG-2 program stream of
// an encoder box, for instance).
//
// The file is created with the first data, not when the element starts: a
// writer placed in a graph that never sends it anything (a capture stopped
// before its first buffer) leaves no empty file behind.
//
// Properties:
//   location       the file to write (settable in NULL/READY)
//   next-location  the file to continue into while PLAYING. The switch
//                  happens at the next buffer boundary; for an MPEG program
//                  stream (video/mpeg, systemstream=true) at the next pack
//                  header (00 00 01 BA), so that the new file starts with a
//                  whole pack. The old file is closed first and the element
//                  posts an element message "kad-file-switched" (fields
//                  "old-location", "new-location", "bytes": size of the
//                  finished file).
//   bytes-written  bytes written to the current file (read only)
//   sync-interval  longest time (ns, default 5 s, 0 = never) before what was
//                  written is synced to the disk (fdatasync) by a thread of
//                  the element's own, so a stopped source is covered too;
//                  each sync posts "kad-file-synced" ("location", "bytes").
//
// After a crash: every buffer goes to the file with write() as it comes, so
// a capture whose process is killed (SIGKILL) keeps everything received up
// to the kill, and one cut from power everything up to its last sync. A
// program stream needs no index or header at its end: readers (ffprobe,
// mpegpsdemux) take such a file as it is, its last pack possibly cut short.
//
// Locks: properties under the object lock; the carried-over bytes are used
// only by the streaming thread and start/stop; the file descriptor, its path
// and the syncer's fields also under fileLock, which the syncer takes only to
// borrow the descriptor (the sync itself runs without it).

#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define KAD_TYPE_DUMP_WRITER (kad_dump_writer_get_type())
G_DECLARE_FINAL_TYPE(KadDumpWriter, kad_dump_writer, KAD, DUMP_WRITER, GstBaseSink)

gboolean kad_dump_writer_register(GstPlugin* plugin);

G_END_DECLS
