#include "system/capture_format.h"

namespace kad {

CaptureFormat CaptureFormatOf(SourceKind kind, int formatIndex)
{
    switch (kind) {
    case SourceKind::skDV:
        switch (formatIndex) {
        case 0:
            return CaptureFormat::cfDVType1;
        case 1:
            return CaptureFormat::cfDVType2;
        case 2:
            return CaptureFormat::cfDVRecompressed;
        case 3:
            return CaptureFormat::cfWmv;
        default:
            return CaptureFormat::cfNone;
        }
    case SourceKind::skAnalog:
    case SourceKind::skMovieBoxB:
    case SourceKind::skMpeg2:
        switch (formatIndex) {
        case 0:
            return kind == SourceKind::skAnalog ? CaptureFormat::cfNativeVideo
                                                : CaptureFormat::cfProgramStream;
        case 1:
            return CaptureFormat::cfDVRecompressed;
        case 2:
            return CaptureFormat::cfWmv;
        default:
            return CaptureFormat::cfNone;
        }
    case SourceKind::skNoVideo:
        break;
    }
    return CaptureFormat::cfNone;
}

QString CaptureExtension(CaptureFormat format)
{
    switch (format) {
    case CaptureFormat::cfProgramStream:
        return QStringLiteral(".mpg");
    case CaptureFormat::cfWmv:
        return QStringLiteral(".wmv");
    default:
        return QStringLiteral(".avi");
    }
}

bool CaptureReencodes(CaptureFormat format)
{
    return format == CaptureFormat::cfDVRecompressed || format == CaptureFormat::cfWmv;
}

} // namespace kad
