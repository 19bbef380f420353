// The one place a position of the format list becomes a capture format:
// every kind's list, the extension each entry gives, which entries re-encode,
// and the positions that mean nothing (no source, past the end of a list).

#include <gtest/gtest.h>

#include "system/capture_format.h"

namespace kad::test {
namespace {

struct Entry {
    SourceKind kind;
    int index;
    CaptureFormat format;
    const char* extension;
    bool reencodes;
};

// The Sources panel's lists, in order: a DV source has "DV type 1
// (native)", "DV type 2 (normal)", "DV type 2 (recompressed)", "Wmv"; the
// others "Native Video", "DV type 2 (recompressed)", "Wmv".
const Entry kEntries[] = {
    {SourceKind::skDV, 0, CaptureFormat::cfDVType1, ".avi", false},
    {SourceKind::skDV, 1, CaptureFormat::cfDVType2, ".avi", false},
    {SourceKind::skDV, 2, CaptureFormat::cfDVRecompressed, ".avi", true},
    {SourceKind::skDV, 3, CaptureFormat::cfWmv, ".wmv", true},
    {SourceKind::skAnalog, 0, CaptureFormat::cfNativeVideo, ".avi", false},
    {SourceKind::skAnalog, 1, CaptureFormat::cfDVRecompressed, ".avi", true},
    {SourceKind::skAnalog, 2, CaptureFormat::cfWmv, ".wmv", true},
    {SourceKind::skMovieBoxB, 0, CaptureFormat::cfProgramStream, ".mpg", false},
    {SourceKind::skMovieBoxB, 1, CaptureFormat::cfDVRecompressed, ".avi", true},
    {SourceKind::skMovieBoxB, 2, CaptureFormat::cfWmv, ".wmv", true},
    {SourceKind::skMpeg2, 0, CaptureFormat::cfProgramStream, ".mpg", false},
    {SourceKind::skMpeg2, 1, CaptureFormat::cfDVRecompressed, ".avi", true},
    {SourceKind::skMpeg2, 2, CaptureFormat::cfWmv, ".wmv", true},
};

TEST(CaptureFormat, EachEntryOfEachKindsListGivesItsFormatAndExtension)
{
    for (const Entry& e : kEntries) {
        const CaptureFormat f = CaptureFormatOf(e.kind, e.index);
        EXPECT_EQ(f, e.format) << "kind " << int(e.kind) << " index " << e.index;
        EXPECT_EQ(CaptureExtension(f), QLatin1String(e.extension))
            << "kind " << int(e.kind) << " index " << e.index;
        EXPECT_EQ(CaptureReencodes(f), e.reencodes)
            << "kind " << int(e.kind) << " index " << e.index;
    }
}

TEST(CaptureFormat, PositionsOutsideAKindsListChooseNothing)
{
    // Without a source the radio group can keep the previous source's
    // position; nothing chosen, the DV list's fourth entry seen with a
    // shorter list and a kind read from a damaged setting are no formats
    // either: no builder may be picked, and the name shown ends in ".avi".
    for (SourceKind k : {SourceKind::skNoVideo, SourceKind::skDV, SourceKind::skAnalog,
                         SourceKind::skMovieBoxB, SourceKind::skMpeg2, static_cast<SourceKind>(9)})
        for (int index : {-1, 3, 4, 1000}) {
            if (k == SourceKind::skDV && index == 3) continue;
            const CaptureFormat f = CaptureFormatOf(k, index);
            EXPECT_EQ(f, CaptureFormat::cfNone) << int(k) << " " << index;
            EXPECT_EQ(CaptureExtension(f), QStringLiteral(".avi"));
            EXPECT_FALSE(CaptureReencodes(f));
        }
    EXPECT_EQ(CaptureFormatOf(SourceKind::skNoVideo, 0), CaptureFormat::cfNone);
    EXPECT_EQ(CaptureFormatOf(static_cast<SourceKind>(9), 0), CaptureFormat::cfNone);
}

} // namespace
} // namespace kad::test
