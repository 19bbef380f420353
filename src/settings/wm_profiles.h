#pragma once

// Windows Media profiles. There is no platform profile manager here, so
// Kadrillo carries its own table: the four levels of the Sources panel
// ("High", "Medium", "Low", "Internet", looked up by identifier) and, for
// each Windows Media version ("4", "7", "8"), a fixed list of system
// profiles. A profile says which GStreamer encoders write its streams and
// with what settings; the capture graph applies them to asfmux's inputs.
//
// Codec generations: version 8 profiles use avenc_wmv2 (WMV 8) and
// avenc_wmav2; version 7 profiles avenc_wmv1 (WMV 7) and avenc_wmav2. The
// version 4 codec (MS-MPEG-4 v3) cannot go into asfmux, so version 4 profiles
// use the oldest codec that can, avenc_wmv1, with avenc_wmav1 audio.

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "system/capture_format.h"
#include "system/kinds.h"

namespace kad {

// The first entry of the profile list: use the level of the Sources panel.
QString DefaultProfilesEntry(); // "Use the default profiles"

// Version codes of the Windows Media versions (rgversion index 0, 1, 2).
constexpr unsigned WMT_VER_4_0 = 0x00040000;
constexpr unsigned WMT_VER_7_0 = 0x00070000;
constexpr unsigned WMT_VER_8_0 = 0x00080000;
// The code of an rgversion index; indexes outside 0..2 give version 8.
unsigned WmVersionCode(int versionIndex);

struct WmProfile {
    QString name;
    // Video stream: encoder factory (empty when the profile has no video),
    // bit rate in bits per second, picture size and frame rate.
    QString videoCodec;
    int videoBitrate = 0;
    int width = 0;
    int height = 0;
    int fpsNum = 0;
    int fpsDen = 1;
    // Audio stream: encoder factory (empty when the profile has no audio),
    // bit rate in bits per second, sample rate and channels.
    QString audioCodec;
    int audioBitrate = 0;
    int audioRate = 0;
    int channels = 0;

    bool hasVideo() const { return !videoCodec.isEmpty(); }
    bool hasAudio() const { return !audioCodec.isEmpty(); }
};

struct WmLevel {
    QString name; // "High", "Medium", "Low", "Internet"
    QString id;   // the level's profile identifier
    WmProfile profile;
};

// The profiles known to the program: the levels and the system profiles of
// each version. builtIn() is Kadrillo's table; tests may build their own.
class WmProfileTable {
public:
    WmProfileTable(std::vector<WmLevel> levels, std::vector<WmProfile> version4,
                   std::vector<WmProfile> version7, std::vector<WmProfile> version8);

    static const WmProfileTable& builtIn();

    const std::vector<WmLevel>& levels() const { return levels_; }
    // The system profiles of an rgversion index (0 "4", 1 "7", 2 "8"), in
    // their fixed order; an index outside 0..2 gives no profiles.
    const std::vector<WmProfile>& systemProfiles(int versionIndex) const;
    // LoadProfileByID: the level with this identifier (braces and case do
    // not matter).
    std::optional<WmProfile> LoadProfileByID(const QString& id) const;

private:
    std::vector<WmLevel> levels_;
    std::vector<WmProfile> versions_[3];
};

// The identifiers of the levels by their rgProfiles index (0 "High",
// 1 "Medium", 2 "Low", 3 "Internet"); empty outside 0..3.
QString WmLevelId(int levelIndex);

// The entries of cboxMedia for a version: "Use the default profiles", then
// exactly one entry per system profile in order (a profile without video
// included). Without Windows Media (`table` null: no asfmux or encoders),
// only the first entry.
QStringList RefillProfiles(const WmProfileTable* table, int versionIndex);

// The system profile names of a version, as the options panel's profile
// lister wants them (the built-in table).
QStringList WmSystemProfileNames(int versionIndex);

// The system profile that cboxMedia entry `entry` (>= 1) stands for:
// profile entry - 1 of the version. None for entry 0, a negative entry, an
// entry past the list, or no table.
std::optional<WmProfile> LoadChosenProfile(const WmProfileTable* table, int versionIndex,
                                           int entry);

// Drops the audio stream of a profile (the audio type is akNone).
void RemoveAudioStreams(WmProfile& profile);

// The profile a Windows Media capture uses: the level of `levelIndex` by
// identifier when `entry` is 0 or negative (none), else the chosen system
// profile; without audio when `audio` is akNone.
std::optional<WmProfile> CaptureProfile(const WmProfileTable* table, int levelIndex,
                                        int versionIndex, int entry, AudioKind audio);

// What OptionsframecboxdivxChange shows on the Sources panel.
struct ProfileControls {
    bool rgProfilesVisible = false;
    bool label1Visible = false;
};
ProfileControls OptionsframecboxdivxChange(CaptureFormat format, int entry);

// The GStreamer settings a capture graph applies for a profile.
struct WmEncoderSettings {
    QString videoEncoder; // factory; empty: no video branch
    int videoBitrate = 0; // the encoder's "bitrate" property, bits/s
    int width = 0;
    int height = 0;
    int fpsNum = 0;
    int fpsDen = 1;
    QString audioEncoder; // factory; empty: no audio branch
    int audioBitrate = 0; // the encoder's "bitrate" property, bits/s
    int audioRate = 0;
    int channels = 0;
    QString muxer = QStringLiteral("asfmux");

    // Caps for the capsfilter before each encoder (after videoscale and
    // videorate, audioresample and audioconvert); empty for a missing stream.
    QString videoCaps() const;
    QString audioCaps() const;
};
WmEncoderSettings WmEncoderSettingsFor(const WmProfile& profile);

// Every factory the built-in table needs; Windows Media is available when
// all of them are installed.
QStringList WmRequiredFactories();

} // namespace kad
