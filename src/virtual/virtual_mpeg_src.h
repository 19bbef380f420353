#pragma once

// kadvirtualmpegsrc: a virtual MPEG-2 encoder box sending an MPEG program
// stream (video/mpeg, mpegversion=2, systemstream=true): 720x576 MPEG-2
// video at 25 frames per second and MPEG-1 layer II audio, 48 kHz stereo.
// An ordinary encoder puts its video on stream 0xE0 and its audio on 0xC0;
// with "moviebox" TRUE (the MovieBox model B) they are on 0xE1 and 0xC1.
//
// Frame drops happen before encoding, so the stream stays valid and the
// lost frames show as gaps in the video time stamps. "sent-location"
// records the stream byte for byte as it leaves the device.

#include "virtual/virtual_src.h"

G_BEGIN_DECLS

#define KAD_TYPE_VIRTUAL_MPEG_SRC (kad_virtual_mpeg_src_get_type())
G_DECLARE_FINAL_TYPE(KadVirtualMpegSrc, kad_virtual_mpeg_src, KAD, VIRTUAL_MPEG_SRC, KadVirtualSrc)

gboolean kad_virtual_mpeg_src_register(GstPlugin* plugin);

G_END_DECLS
