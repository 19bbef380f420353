#pragma once

// kaddump, long name "Dump": a pass-through file writer. It writes the
// stream exactly as it arrives, byte for byte (the MPEG-2 program stream of
// an encoder box, for instance).
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
//
// Locks: properties under the object lock; the file descriptor and the
// carried-over bytes are used only by the streaming thread and start/stop.

#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define KAD_TYPE_DUMP_WRITER (kad_dump_writer_get_type())
G_DECLARE_FINAL_TYPE(KadDumpWriter, kad_dump_writer, KAD, DUMP_WRITER, GstBaseSink)

gboolean kad_dump_writer_register(GstPlugin* plugin);

G_END_DECLS
