#pragma once

// kadvirtualdvfilesrc: a DV file played as the tape of a DV camcorder in VCR
// mode. It sends the file's frames unchanged (video/x-dv,
// systemstream=true), one per frame period: live like the other virtual
// devices, or as fast as downstream takes them when not live. The file may
// be raw DV, a type-1 or a type-2 DV AVI (see dv_file_reader.h); PAL or NTSC
// follows the file.
//
// The transport of KadTransport moves through the file as through a tape:
// play, slow and fast play both ways, freeze (the frame repeats), stop and
// wind/rewind (the position moves 30 frames per frame sent). A frame goes
// out in every mode, so a live stream keeps its pace; outside plain play its
// sound is silenced, as a camcorder plays no sound then. Going forward past
// the last frame goes on from the first (the tape loops); going backward
// stops at the first frame. The timecode is the one in the subcode of the
// frame at the position, or the position itself counted in frames when the
// file carries none.
//
// Properties besides those of KadVirtualSrc: "location" (the file; set in
// the NULL state), "transport-mode" (same as KadTransport's mode) and
// "frame-count" (read only, frames in the file once it has been opened).
//
// The file is opened and indexed on the way from NULL to READY; a file that
// cannot be read as DV fails that change with a resource error. A file that
// stops giving frames while playing ends the stream with a resource read
// error.
//
// Locking: the transport (mode, position, last timecode) and the location
// are under the object lock; the reader belongs to the streaming thread
// between READY and PAUSED.

#include "virtual/virtual_src.h"

G_BEGIN_DECLS

#define KAD_TYPE_VIRTUAL_DVFILE_SRC (kad_virtual_dvfile_src_get_type())
G_DECLARE_FINAL_TYPE(KadVirtualDvFileSrc, kad_virtual_dvfile_src, KAD, VIRTUAL_DVFILE_SRC,
                     KadVirtualSrc)

gboolean kad_virtual_dvfile_src_register(GstPlugin* plugin);

G_END_DECLS
