#pragma once

#include <QString>

#include <cstdint>

#include "system/kinds.h"

namespace kad {

// What a capture writes. The format list on the Sources panel differs by
// source kind (a DV source has two ways of keeping its stream, the others
// one), so a position in that list means nothing without the kind; the
// position is turned into a CaptureFormat by CaptureFormatOf and nowhere
// else.
enum class CaptureFormat : std::uint8_t {
    cfNone,           // no video source, or a position the kind's list lacks
    cfDVType1,        // a DV stream as it comes, one interleaved AVI stream
    cfDVType2,        // a DV stream as it comes, AVI video and audio streams
    cfNativeVideo,    // an analog source's own video in AVI
    cfProgramStream,  // an MPEG source's program stream as it comes
    cfDVRecompressed, // decoded and encoded again as DV type 2
    cfWmv,            // encoded as Windows Media
};

// The format chosen by the position `formatIndex` of the kind's format list
// (-1: nothing chosen). A stale position left over from another kind, or any
// position while no video source is connected, gives cfNone.
CaptureFormat CaptureFormatOf(SourceKind kind, int formatIndex);

// The extension of the video file, with its dot: ".mpg" for a program
// stream, ".wmv" for Windows Media, ".avi" for everything else (cfNone too:
// the name shown before any source is connected still ends in ".avi").
QString CaptureExtension(CaptureFormat format);

// Whether the capture decodes and encodes the video again, which is what
// lets the date inlay into the file.
bool CaptureReencodes(CaptureFormat format);

} // namespace kad
