#include "settings/wm_profiles.h"

#include "system/texts.h"

namespace kad {

namespace {

const QString kWmv1 = QStringLiteral("avenc_wmv1");
const QString kWmv2 = QStringLiteral("avenc_wmv2");
const QString kWma1 = QStringLiteral("avenc_wmav1");
const QString kWma2 = QStringLiteral("avenc_wmav2");

WmProfile video(const char* name, const QString& codec, int kbps, int w, int h, int fps,
                const QString& audio, int audioKbps, int rate, int channels)
{
    WmProfile p;
    p.name = QString::fromUtf8(name);
    p.videoCodec = codec;
    p.videoBitrate = kbps * 1000;
    p.width = w;
    p.height = h;
    p.fpsNum = fps;
    p.fpsDen = 1;
    p.audioCodec = audio;
    p.audioBitrate = audioKbps * 1000;
    p.audioRate = rate;
    p.channels = channels;
    return p;
}

WmProfile audioOnly(const char* name, const QString& codec, int kbps, int rate, int channels)
{
    WmProfile p;
    p.name = QString::fromUtf8(name);
    p.audioCodec = codec;
    p.audioBitrate = kbps * 1000;
    p.audioRate = rate;
    p.channels = channels;
    return p;
}

// Bit rates in the names are the profile's total (video plus audio).
std::vector<WmProfile> version4Profiles()
{
    return {
        video("Video for 28.8 Kbps modems (52 Kbps)", kWmv1, 28, 160, 120, 8, kWma1, 24, 8000, 1),
        video("Video for 56 Kbps modems (64 Kbps)", kWmv1, 40, 176, 144, 10, kWma1, 24, 11025, 1),
        video("Video for single-channel ISDN (88 Kbps)", kWmv1, 64, 176, 144, 15, kWma1, 24, 16000,
              1),
        video("Video for dual-channel ISDN (132 Kbps)", kWmv1, 100, 240, 176, 15, kWma1, 32, 22050,
              1),
        video("Video for LAN, cable modem or xDSL (300 Kbps)", kWmv1, 236, 320, 240, 15, kWma1, 64,
              44100, 2),
        video("Video for broadband, near VHS quality (564 Kbps)", kWmv1, 500, 320, 240, 25, kWma1,
              64, 44100, 2),
        audioOnly("Audio for 28.8 Kbps modems, voice (24 Kbps)", kWma1, 24, 8000, 1),
        audioOnly("Audio for broadband, near CD quality (64 Kbps)", kWma1, 64, 44100, 2),
    };
}

std::vector<WmProfile> version7Profiles()
{
    return {
        video("Video for 28.8 Kbps modems (48 Kbps)", kWmv1, 24, 160, 120, 8, kWma2, 24, 8000, 1),
        video("Video for 56 Kbps modems (64 Kbps)", kWmv1, 40, 176, 144, 15, kWma2, 24, 11025, 1),
        video("Video for single-channel ISDN (88 Kbps)", kWmv1, 64, 240, 176, 15, kWma2, 24, 16000,
              1),
        video("Video for dual-channel ISDN (132 Kbps)", kWmv1, 100, 320, 240, 15, kWma2, 32, 22050,
              2),
        video("Video for LAN, cable modem or xDSL (350 Kbps)", kWmv1, 286, 320, 240, 25, kWma2, 64,
              44100, 2),
        video("Video for broadband, VHS quality (764 Kbps)", kWmv1, 700, 384, 288, 25, kWma2, 64,
              44100, 2),
        video("Video for broadband, high quality (1.6 Mbps)", kWmv1, 1472, 640, 480, 25, kWma2, 128,
              44100, 2),
        audioOnly("Audio for 56 Kbps modems, FM radio quality (32 Kbps)", kWma2, 32, 22050, 2),
        audioOnly("Audio for broadband, CD quality (128 Kbps)", kWma2, 128, 44100, 2),
    };
}

std::vector<WmProfile> version8Profiles()
{
    return {
        video("Video for 28.8 Kbps modems (48 Kbps)", kWmv2, 24, 160, 120, 10, kWma2, 24, 8000, 1),
        video("Video for 56 Kbps modems (64 Kbps)", kWmv2, 40, 176, 144, 15, kWma2, 24, 11025, 1),
        video("Video for single-channel ISDN (88 Kbps)", kWmv2, 64, 240, 176, 15, kWma2, 24, 16000,
              1),
        video("Video for dual-channel ISDN (132 Kbps)", kWmv2, 100, 320, 240, 15, kWma2, 32, 22050,
              2),
        video("Video for LAN, cable modem or xDSL (350 Kbps)", kWmv2, 286, 320, 240, 25, kWma2, 64,
              44100, 2),
        video("Video for broadband, VHS quality (764 Kbps)", kWmv2, 700, 384, 288, 25, kWma2, 64,
              44100, 2),
        video("Video for broadband, high quality (1.6 Mbps)", kWmv2, 1472, 640, 480, 25, kWma2, 128,
              44100, 2),
        video("Video for LAN, full size (2.1 Mbps)", kWmv2, 1936, 720, 576, 25, kWma2, 160, 48000,
              2),
        video("Video for local playback, full size (5.2 Mbps)", kWmv2, 5000, 720, 576, 25, kWma2,
              192, 48000, 2),
        audioOnly("Audio for 28.8 Kbps modems, voice (24 Kbps)", kWma2, 24, 16000, 1),
        audioOnly("Audio for broadband, CD quality (128 Kbps)", kWma2, 128, 44100, 2),
        audioOnly("Audio for archiving, high quality (192 Kbps)", kWma2, 192, 48000, 2),
    };
}

std::vector<WmLevel> builtInLevels()
{
    return {
        {QStringLiteral("High"), QStringLiteral("{0B89164A-5490-4686-9E37-5A80884E5146}"),
         video("High quality (2.1 Mbps)", kWmv2, 2000, 720, 576, 25, kWma2, 128, 48000, 2)},
        {QStringLiteral("Medium"), QStringLiteral("{EC298949-639B-45E2-96FD-4AB32D5919C2}"),
         video("Medium quality (764 Kbps)", kWmv2, 700, 384, 288, 25, kWma2, 64, 44100, 2)},
        {QStringLiteral("Low"), QStringLiteral("{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}"),
         video("Low quality (288 Kbps)", kWmv2, 256, 320, 240, 15, kWma2, 32, 22050, 2)},
        {QStringLiteral("Internet"), QStringLiteral("{A2E300B4-C2D4-4FC0-B5DD-ECBD948DC0DF}"),
         video("Internet (124 Kbps)", kWmv2, 100, 176, 144, 15, kWma2, 24, 16000, 1)},
    };
}

QString normalisedId(QString id)
{
    id = id.trimmed();
    if (id.startsWith(QLatin1Char('{'))) id.remove(0, 1);
    if (id.endsWith(QLatin1Char('}'))) id.chop(1);
    return id.toUpper();
}

} // namespace

QString DefaultProfilesEntry()
{
    return Text(TextId::WmDefaultProfiles);
}

unsigned WmVersionCode(int versionIndex)
{
    switch (versionIndex) {
    case 0:
        return WMT_VER_4_0;
    case 1:
        return WMT_VER_7_0;
    default:
        return WMT_VER_8_0;
    }
}

WmProfileTable::WmProfileTable(std::vector<WmLevel> levels, std::vector<WmProfile> version4,
                               std::vector<WmProfile> version7, std::vector<WmProfile> version8)
    : levels_(std::move(levels))
{
    versions_[0] = std::move(version4);
    versions_[1] = std::move(version7);
    versions_[2] = std::move(version8);
}

const WmProfileTable& WmProfileTable::builtIn()
{
    static const WmProfileTable table(builtInLevels(), version4Profiles(), version7Profiles(),
                                      version8Profiles());
    return table;
}

const std::vector<WmProfile>& WmProfileTable::systemProfiles(int versionIndex) const
{
    static const std::vector<WmProfile> none;
    if (versionIndex < 0 || versionIndex > 2) return none;
    return versions_[versionIndex];
}

std::optional<WmProfile> WmProfileTable::LoadProfileByID(const QString& id) const
{
    const QString wanted = normalisedId(id);
    for (const WmLevel& level : levels_) {
        if (normalisedId(level.id) == wanted) return level.profile;
    }
    return std::nullopt;
}

QString WmLevelId(int levelIndex)
{
    const std::vector<WmLevel>& levels = WmProfileTable::builtIn().levels();
    if (levelIndex < 0 || levelIndex >= int(levels.size())) return {};
    return levels[size_t(levelIndex)].id;
}

QStringList RefillProfiles(const WmProfileTable* table, int versionIndex)
{
    QStringList entries{DefaultProfilesEntry()};
    if (!table) return entries;
    for (const WmProfile& p : table->systemProfiles(versionIndex))
        entries << p.name;
    return entries;
}

QStringList WmSystemProfileNames(int versionIndex)
{
    QStringList names = RefillProfiles(&WmProfileTable::builtIn(), versionIndex);
    names.removeFirst();
    return names;
}

std::optional<WmProfile> LoadChosenProfile(const WmProfileTable* table, int versionIndex, int entry)
{
    if (!table || entry < 1) return std::nullopt;
    const std::vector<WmProfile>& profiles = table->systemProfiles(versionIndex);
    if (entry - 1 >= int(profiles.size())) return std::nullopt;
    return profiles[size_t(entry - 1)];
}

void RemoveAudioStreams(WmProfile& profile)
{
    profile.audioCodec.clear();
    profile.audioBitrate = 0;
    profile.audioRate = 0;
    profile.channels = 0;
}

std::optional<WmProfile> CaptureProfile(const WmProfileTable* table, int levelIndex,
                                        int versionIndex, int entry, AudioKind audio)
{
    if (!table) return std::nullopt;
    std::optional<WmProfile> profile;
    if (entry <= 0) {
        const std::vector<WmLevel>& levels = table->levels();
        if (levelIndex >= 0 && levelIndex < int(levels.size()))
            profile = table->LoadProfileByID(levels[size_t(levelIndex)].id);
    } else {
        profile = LoadChosenProfile(table, versionIndex, entry);
    }
    if (profile && audio == AudioKind::akNone) RemoveAudioStreams(*profile);
    return profile;
}

ProfileControls OptionsframecboxdivxChange(CaptureFormat format, int entry)
{
    ProfileControls c;
    if (format != CaptureFormat::cfWmv) return c;
    c.rgProfilesVisible = entry <= 0;
    c.label1Visible = entry >= 1;
    return c;
}

QString WmEncoderSettings::videoCaps() const
{
    if (videoEncoder.isEmpty()) return {};
    return QStringLiteral("video/x-raw,width=%1,height=%2,framerate=%3/%4,pixel-aspect-ratio=1/1")
        .arg(width)
        .arg(height)
        .arg(fpsNum)
        .arg(fpsDen);
}

QString WmEncoderSettings::audioCaps() const
{
    if (audioEncoder.isEmpty()) return {};
    return QStringLiteral("audio/x-raw,rate=%1,channels=%2").arg(audioRate).arg(channels);
}

WmEncoderSettings WmEncoderSettingsFor(const WmProfile& profile)
{
    WmEncoderSettings s;
    if (profile.hasVideo()) {
        s.videoEncoder = profile.videoCodec;
        s.videoBitrate = profile.videoBitrate;
        s.width = profile.width;
        s.height = profile.height;
        s.fpsNum = profile.fpsNum;
        s.fpsDen = profile.fpsDen;
    }
    if (profile.hasAudio()) {
        s.audioEncoder = profile.audioCodec;
        s.audioBitrate = profile.audioBitrate;
        s.audioRate = profile.audioRate;
        s.channels = profile.channels;
    }
    return s;
}

QStringList WmRequiredFactories()
{
    return {QStringLiteral("asfmux"), kWmv1, kWmv2, kWma1, kWma2};
}

} // namespace kad
