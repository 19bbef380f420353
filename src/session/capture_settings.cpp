#include "session/capture_settings.h"

#include <algorithm>
#include <iterator>

#include "graph/dm_cam.h"
#include "settings/preferences.h"
#include "settings/wm_profiles.h"

namespace kad {

namespace {

// The captions the hive holds for the format and audio-type choices. They
// are what earlier versions wrote and must be read back whatever the panels
// show now, so they live here rather than with the panels' texts. Read
// without regard to case, as they always were.
struct FormatCaption {
    const char* caption;
    CaptureFormat format;
};
constexpr FormatCaption kFormatCaptions[] = {
    {"Native Video", CaptureFormat::cfNativeVideo},
    {"DV type 1 (native)", CaptureFormat::cfDVType1},
    {"DV type 2 (normal)", CaptureFormat::cfDVType2},
    {"DV type 2 (recompressed)", CaptureFormat::cfDVRecompressed},
    {"Wmv", CaptureFormat::cfWmv},
};

struct AudioCaption {
    const char* caption;
    AudioKind audio;
    // The kind whose included sound the caption names; skNoVideo for the
    // captions every kind shares.
    SourceKind kind;
};
constexpr AudioCaption kAudioCaptions[] = {
    {"No Audio", AudioKind::akNone, SourceKind::skNoVideo},
    {"Audio from the DV stream", AudioKind::akIncluded, SourceKind::skDV},
    {"Audio from the MovieBox", AudioKind::akIncluded, SourceKind::skMovieBoxB},
    {"Audio from the MPEG2 stream", AudioKind::akIncluded, SourceKind::skMpeg2},
    {"Add an Audio Source (soundcard)", AudioKind::akSoundCard, SourceKind::skNoVideo},
};

bool sameCaption(const QString& stored, const char* caption)
{
    return stored.compare(QLatin1String(caption), Qt::CaseInsensitive) == 0;
}

bool carriesSound(SourceKind kind)
{
    return kind == SourceKind::skDV || kind == SourceKind::skMovieBoxB ||
           kind == SourceKind::skMpeg2;
}

// The native video of an analog source and the program stream of an MPEG
// source are one choice, the first of their lists, under one caption.
bool isNative(CaptureFormat format)
{
    return format == CaptureFormat::cfNativeVideo || format == CaptureFormat::cfProgramStream;
}

// A stored number that must name one of `count` values from 0; anything
// else gives `fallback`.
template <typename Enum> Enum storedChoice(int stored, int count, Enum fallback)
{
    return stored >= 0 && stored < count ? static_cast<Enum>(stored) : fallback;
}

} // namespace

TCaptureSettings TCaptureSettings::FromPreferences(const Preferences& pr)
{
    TCaptureSettings s;

    for (const FormatCaption& row : kFormatCaptions)
        if (sameCaption(pr.CaptureFormat.Value, row.caption)) s.Format = row.format;
    for (const AudioCaption& row : kAudioCaptions)
        if (sameCaption(pr.AudioType.Value, row.caption)) s.Audio = row.audio;

    s.Standard = storedChoice(pr.StandardDV.Value, 2, s.Standard);
    s.Frequency = storedChoice(pr.FrequenceDV.Value, 3, s.Frequency);
    s.ProfileLevel = storedChoice(pr.ProfileWmv.Value, 4, s.ProfileLevel);
    s.ForceDVAudio44100 = pr.Forcer44100EnDV.Value;
    if (pr.CorrectionSync.Value >= -60 && pr.CorrectionSync.Value <= 60)
        s.CorrectionSync = pr.CorrectionSync.Value;
    s.ListenIncludedAudio = pr.EcouterAudioInclus.Value;
    s.RecordAudioSource = pr.EnregistrerSourceAudio.Value;
    s.UseCirrus = pr.UtiliserCirrus.Value;

    s.Version = storedChoice(pr.VersionWmv.Value, 3, s.Version);
    s.MediaProfile = pr.ProfilWmvFavori.Value;
    if (s.MediaProfile.compare(DefaultProfilesEntry(), Qt::CaseInsensitive) == 0)
        s.MediaProfile.clear();

    s.VideoDirectory = pr.VideoDirectory.Value;
    s.VideoRoot = pr.VideoRacine.Value;
    s.VideoDate = pr.VideoDate.Value;
    s.ImageDirectory = pr.ImageDirectory.Value;
    s.ImageRoot = pr.ImageRacine.Value;
    s.ImageDate = pr.ImageDate.Value;
    s.Image = storedChoice(pr.ExtensionDesImages.Value, 2, s.Image);
    if (pr.QualiteJPeg.Value >= 1 && pr.QualiteJPeg.Value <= 100)
        s.JpegQuality = pr.QualiteJPeg.Value;
    s.CaptureReport = pr.CaptureReport.Value;
    s.SplitAtRecording = pr.SplitAtRecording.Value;
    s.NameByRecordingDate = pr.NameByRecordingDate.Value;
    return s;
}

void TCaptureSettings::ToPreferences(Preferences& pr, SourceKind kind) const
{
    // No format chosen (no video source): the hive keeps the last one.
    for (const FormatCaption& row : kFormatCaptions)
        if (row.format == Format || (isNative(row.format) && isNative(Format)))
            pr.CaptureFormat.Value = QLatin1String(row.caption);
    // Included sound on a source that carries none is the fall-back the
    // empty caption stands for.
    pr.AudioType.Value.clear();
    for (const AudioCaption& row : kAudioCaptions)
        if (row.audio == Audio && (row.kind == SourceKind::skNoVideo || row.kind == kind))
            pr.AudioType.Value = QLatin1String(row.caption);

    pr.StandardDV.Value = static_cast<int>(Standard);
    pr.FrequenceDV.Value = static_cast<int>(Frequency);
    pr.ProfileWmv.Value = static_cast<int>(ProfileLevel);
    pr.Forcer44100EnDV.Value = ForceDVAudio44100;
    pr.CorrectionSync.Value = CorrectionSync;
    pr.EcouterAudioInclus.Value = ListenIncludedAudio;
    pr.EnregistrerSourceAudio.Value = RecordAudioSource;
    pr.UtiliserCirrus.Value = UseCirrus;

    pr.VersionWmv.Value = static_cast<int>(Version);
    const QString profile = MediaProfile.isEmpty() ? DefaultProfilesEntry() : MediaProfile;
    pr.ProfilWmvFavori.Value = profile;
    pr.ProfilWindowsMedia.Value = profile;

    pr.VideoDirectory.Value = VideoDirectory;
    pr.VideoRacine.Value = VideoRoot;
    pr.VideoDate.Value = VideoDate;
    pr.ImageDirectory.Value = ImageDirectory;
    pr.ImageRacine.Value = ImageRoot;
    pr.ImageDate.Value = ImageDate;
    pr.ExtensionDesImages.Value = static_cast<int>(Image);
    pr.QualiteJPeg.Value = JpegQuality;
    pr.CaptureReport.Value = CaptureReport;
    pr.SplitAtRecording.Value = SplitAtRecording;
    pr.NameByRecordingDate.Value = NameByRecordingDate;
}

int TCaptureSettings::FormatPosition(SourceKind kind) const
{
    if (CaptureFormatOf(kind, 0) == CaptureFormat::cfNone) return -1;
    for (int i = 0;; ++i) {
        const CaptureFormat at = CaptureFormatOf(kind, i);
        if (at == CaptureFormat::cfNone) return 0;
        if (at == Format || (isNative(at) && isNative(Format))) return i;
    }
}

int TCaptureSettings::AudioPosition(SourceKind kind, const std::vector<AudioKind>& choices) const
{
    const auto position = [&](AudioKind audio) {
        const auto at = std::find(choices.begin(), choices.end(), audio);
        return at == choices.end() ? -1 : static_cast<int>(std::distance(choices.begin(), at));
    };
    if (const int at = position(Audio); at >= 0) return at;
    if (carriesSound(kind)) return position(AudioKind::akIncluded);
    if (kind == SourceKind::skAnalog) return position(AudioKind::akNone);
    return -1;
}

void TCaptureSettings::FillGraphOptions(TgraphOptions& o) const
{
    o.EcouterAudioInclus = ListenIncludedAudio;
    o.EnregistrerSourceAudio = RecordAudioSource;
    o.CorrectionSync = CorrectionSync;
    o.UtiliserCirrus = UseCirrus;
    o.ForceDVAudio44100 = ForceDVAudio44100;
    o.Audio = AudioInUse;
    o.CaptureReport = CaptureReport;
}

void TCaptureSettings::FillCaptureOptions(TdmCam& cam, SourceKind kind) const
{
    TcaptureOptions c = cam.Capture().Options();
    c.FormatIndex = FormatPosition(kind);
    c.Standard = static_cast<int>(Standard);
    c.FrequencyIndex = static_cast<int>(Frequency);
    c.ProfileLevel = static_cast<int>(ProfileLevel);
    c.MediaEntry = MediaEntry;
    c.VersionIndex = static_cast<int>(Version);
    cam.Capture().SetOptions(c);
}

std::vector<AudioKind> AudioTypeChoices(SourceKind kind, bool haveAudioDevices)
{
    std::vector<AudioKind> choices{AudioKind::akNone};
    if (carriesSound(kind)) choices.push_back(AudioKind::akIncluded);
    if (haveAudioDevices) choices.push_back(AudioKind::akSoundCard);
    return choices;
}

} // namespace kad
