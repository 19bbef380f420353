#pragma once

// The capture choices the user makes on the Sources, Folders and Settings
// panels, as typed values. The program keeps one TCaptureSettings, the
// panels' change signals keep it current, and the graph's and capture's
// options are filled from it, never from a widget.
//
// The hive stores some of these as captions (the format and audio-type
// lists' texts as they were once shown) and others as list positions. The
// translation between what the hive holds and the typed values is done by
// FromPreferences and ToPreferences and nowhere else; a caption or number
// the hive holds that is not known gives the value's default, given beside
// each member.

#include <QString>

#include <cstdint>
#include <vector>

#include "system/capture_format.h"
#include "system/kinds.h"

namespace kad {

class Preferences;
class TdmCam;
struct TgraphOptions;

// The type of a grabbed still ("Extension des images": 0, 1).
enum class ImageType : std::uint8_t { Bmp = 0, Jpeg = 1 };

// The television standard of a DV recompression ("Standard DV": 0, 1).
enum class VideoStandard : std::uint8_t { Pal = 0, Ntsc = 1 };

// The sound rate of a DV recompression ("FrequenceDV": 0, 1, 2).
enum class DVAudioFrequency : std::uint8_t { Native = 0, Hz32000 = 1, Hz48000 = 2 };

// The program's own Windows Media levels ("Profile wmv": 0 .. 3).
enum class WmProfileLevel : std::uint8_t { High = 0, Medium = 1, Low = 2, Internet = 3 };

// The Windows Media version whose system profiles are offered ("Version wmv":
// 0 "4", 1 "7", 2 "8").
enum class WmVersion : std::uint8_t { V4 = 0, V7 = 1, V8 = 2 };

struct TCaptureSettings {
    // ---- Sources panel ----
    // The format the Sources panel shows. A new source keeps it where its
    // kind's list has it and takes the list's first otherwise (DV type 1 on
    // an analog source becomes its native video), which is then the format.
    // Hive: "Capture Format", default "native video".
    CaptureFormat Format = CaptureFormat::cfNativeVideo;
    // The audio type picked. It carries over to the next source whose list
    // has it; a list without it falls back to the sound the source carries,
    // or to none when it carries none, and that fall-back is not a pick.
    // Hive: "Audio Type", empty by default, which is that same fall-back:
    // akIncluded.
    AudioKind Audio = AudioKind::akIncluded;
    // The audio type the list shows now, which the graph gets (the pick, its
    // fall-back, or the stream's own sound a format imposes). Not stored.
    AudioKind AudioInUse = AudioKind::akNone;
    VideoStandard Standard = VideoStandard::Pal;
    DVAudioFrequency Frequency = DVAudioFrequency::Native;
    WmProfileLevel ProfileLevel = WmProfileLevel::Medium;
    // The DV sound heard at 44100 Hz instead of its own rate ("Forcer 44100
    // en DV").
    bool ForceDVAudio44100 = false;
    // The sound-card audio moved against the video, in frames, -60 .. 60
    // ("Correction Sync", default 10).
    int CorrectionSync = 10;
    // Listening to the source's own sound, recording a sound card's ("Ecouter
    // Audio inclus" true, "Enregistrer Source Audio" false).
    bool ListenIncludedAudio = true;
    bool RecordAudioSource = false;
    bool UseCirrus = true; // "Utiliser Cirrus"

    // ---- Windows Media (Settings panel) ----
    WmVersion Version = WmVersion::V8;
    // The system profile chosen by name ("Profil wmv favori"); empty or
    // unknown: the levels above are used.
    QString MediaProfile;
    // Its entry in the Settings panel's list: 0 the levels, i >= 1 the
    // version's system profile i - 1. The list depends on the profiles the
    // machine offers, so the panel sets it; the hive keeps the name only.
    int MediaEntry = 0;

    // ---- Files (Folders and Settings panels) ----
    QString VideoDirectory;                      // "Video Directory", with its trailing "/"
    QString VideoRoot = QStringLiteral("Video"); // "Video Racine"
    bool VideoDate = true;                       // "Video Date"
    QString ImageDirectory;                      // "Image Directory"
    QString ImageRoot = QStringLiteral("Image"); // "Image Racine"
    bool ImageDate = false;                      // "Image date"
    ImageType Image = ImageType::Bmp;
    // 1 .. 100 ("Qualité JPeg", default 50).
    int JpegQuality = 50;
    bool CaptureReport = true;        // "Capture report"
    bool SplitAtRecording = false;    // "Split at recording"
    bool NameByRecordingDate = false; // "Name by recording date"

    bool operator==(const TCaptureSettings&) const = default;

    // The values the hive holds; what it cannot tell gives the defaults
    // above (the machine's folders for the folders).
    static TCaptureSettings FromPreferences(const Preferences& preferences);
    // Into the hive's values. The included-audio caption names the source
    // that carries the sound, hence the kind.
    void ToPreferences(Preferences& preferences, SourceKind kind) const;

    // The position of Format in the format list of `kind` (the first when
    // the list lacks it), -1 for no video. The list may be shorter than the
    // position found ("Wmv" is left out when Windows Media is not available):
    // the caller then takes the first.
    int FormatPosition(SourceKind kind) const;
    // The position of Audio among `choices` (an AudioTypeChoices list), else
    // the kind's fall-back; -1 when the list has no fall-back.
    int AudioPosition(SourceKind kind, const std::vector<AudioKind>& choices) const;

    // The graph's and the capture's options that come from these choices.
    // The deinterlacer and the inlay are the switches of their own actions
    // and are not set here.
    void FillGraphOptions(TgraphOptions& options) const;
    void FillCaptureOptions(TdmCam& cam, SourceKind kind) const;
};

// The audio-type list of a kind, in list order: no audio, the sound the
// source carries (DV, MovieBox and MPEG-2 sources only), then a sound card
// when audio devices exist. The Sources panel's captions follow this order.
std::vector<AudioKind> AudioTypeChoices(SourceKind kind, bool haveAudioDevices);

} // namespace kad
