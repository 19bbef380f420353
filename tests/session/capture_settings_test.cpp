// The capture choices through the hive: what one run stores the next reads
// back whole, the captions earlier versions wrote still mean the same
// choice, and what the hive holds that makes no sense gives the defaults.

#include <QFile>
#include <QTemporaryDir>

#include <optional>

#include <gtest/gtest.h>

#include "platform/os/registry.h"
#include "session/capture_settings.h"
#include "settings/preferences.h"

using namespace kad;

namespace {

class CaptureSettingsHive : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // A fresh table over the test's hive, loaded.
    std::unique_ptr<Preferences> load() const
    {
        auto prefs = std::make_unique<Preferences>(defaults, hive);
        prefs->LoadAll();
        return prefs;
    }

    QString hiveText() const
    {
        QFile file(hive);
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll());
    }

    QTemporaryDir dir;
    QString hive = dir.filePath(QStringLiteral("registry.reg"));
    PreferenceDefaults defaults{QSize(1920, 1080), QSize(700, 459), QStringLiteral("/v/"),
                                QStringLiteral("/p/"), QString()};
};

TEST_F(CaptureSettingsHive, EveryChoiceComesBackAtTheNextStart)
{
    TCaptureSettings chosen;
    chosen.Format = CaptureFormat::cfDVRecompressed;
    chosen.Audio = AudioKind::akIncluded;
    chosen.Standard = VideoStandard::Ntsc;
    chosen.Frequency = DVAudioFrequency::Hz32000;
    chosen.ProfileLevel = WmProfileLevel::Internet;
    chosen.ForceDVAudio44100 = true;
    chosen.CorrectionSync = -7;
    chosen.ListenIncludedAudio = false;
    chosen.RecordAudioSource = true;
    chosen.UseCirrus = false;
    chosen.Version = WmVersion::V4;
    chosen.MediaProfile = QStringLiteral("Video for dial-up modems");
    chosen.VideoDirectory = QStringLiteral("/data/Clips/");
    chosen.VideoRoot = QStringLiteral("Clip");
    chosen.VideoDate = false;
    chosen.ImageDirectory = QStringLiteral("/data/Stills/");
    chosen.ImageRoot = QStringLiteral("Still");
    chosen.ImageDate = true;
    chosen.Image = ImageType::Jpeg;
    chosen.JpegQuality = 83;
    chosen.CaptureReport = false;
    chosen.SplitAtRecording = true;
    chosen.NameByRecordingDate = true;
    {
        auto prefs = load();
        chosen.ToPreferences(*prefs, SourceKind::skMpeg2);
        ASSERT_TRUE(SavePreferences(*prefs));
    }
    EXPECT_EQ(TCaptureSettings::FromPreferences(*load()), chosen);
    // The included sound is stored under the caption that names its source,
    // which is what earlier versions read.
    EXPECT_TRUE(
        hiveText().contains(QStringLiteral("\"Audio Type\"=\"Audio from the MPEG2 stream\"")))
        << hiveText().toStdString();
}

// A choice stored on one kind of source finds its place in another kind's
// list, or that list's first (or fall-back) entry.
TEST_F(CaptureSettingsHive, StoredChoicesLandOnTheSameChoiceForEveryKind)
{
    const auto roundTrip = [this](TCaptureSettings s, SourceKind storedOn) {
        auto prefs = load();
        s.ToPreferences(*prefs, storedOn);
        EXPECT_TRUE(SavePreferences(*prefs));
        return TCaptureSettings::FromPreferences(*load());
    };
    const auto formatOn = [](const TCaptureSettings& s, SourceKind kind) {
        return CaptureFormatOf(kind, s.FormatPosition(kind));
    };
    const auto audioOn = [](const TCaptureSettings& s, SourceKind kind) {
        const std::vector<AudioKind> choices = AudioTypeChoices(kind, true);
        const int at = s.AudioPosition(kind, choices);
        return at < 0 ? std::optional<AudioKind>() : choices[static_cast<std::size_t>(at)];
    };

    // The MPEG source's own stream is the native video of an analog one.
    TCaptureSettings s;
    s.Format = CaptureFormat::cfProgramStream;
    TCaptureSettings back = roundTrip(s, SourceKind::skMpeg2);
    EXPECT_EQ(formatOn(back, SourceKind::skMpeg2), CaptureFormat::cfProgramStream);
    EXPECT_EQ(formatOn(back, SourceKind::skAnalog), CaptureFormat::cfNativeVideo);
    EXPECT_EQ(formatOn(back, SourceKind::skDV), CaptureFormat::cfDVType1);
    EXPECT_EQ(back.FormatPosition(SourceKind::skNoVideo), -1);

    s.Format = CaptureFormat::cfWmv;
    back = roundTrip(s, SourceKind::skDV);
    EXPECT_EQ(formatOn(back, SourceKind::skMovieBoxB), CaptureFormat::cfWmv);
    s.Format = CaptureFormat::cfDVType2;
    back = roundTrip(s, SourceKind::skDV);
    EXPECT_EQ(formatOn(back, SourceKind::skDV), CaptureFormat::cfDVType2);
    EXPECT_EQ(formatOn(back, SourceKind::skMpeg2), CaptureFormat::cfProgramStream);

    // The sound a DV camcorder carries is the sound a MovieBox carries; an
    // analog source has none and falls back to no audio.
    for (SourceKind carrier : {SourceKind::skDV, SourceKind::skMovieBoxB, SourceKind::skMpeg2}) {
        SCOPED_TRACE(static_cast<int>(carrier));
        s.Audio = AudioKind::akIncluded;
        back = roundTrip(s, carrier);
        EXPECT_EQ(audioOn(back, SourceKind::skMovieBoxB), AudioKind::akIncluded);
        EXPECT_EQ(audioOn(back, SourceKind::skAnalog), AudioKind::akNone);
        EXPECT_EQ(audioOn(back, SourceKind::skNoVideo), std::nullopt);
    }
    for (AudioKind audio : {AudioKind::akNone, AudioKind::akSoundCard}) {
        s.Audio = audio;
        back = roundTrip(s, SourceKind::skAnalog);
        EXPECT_EQ(audioOn(back, SourceKind::skDV), audio);
        EXPECT_EQ(audioOn(back, SourceKind::skAnalog), audio);
    }
    // Without a sound card the sound-card pick falls back like any other.
    EXPECT_EQ(back.AudioPosition(SourceKind::skDV, AudioTypeChoices(SourceKind::skDV, false)), 1);
}

TEST_F(CaptureSettingsHive, UnknownOrCorruptValuesGiveTheDefaults)
{
    {
        Registry reg(hive);
        ASSERT_TRUE(reg.openKey(PreferencesKeyPath(), true));
        ASSERT_TRUE(reg.writeString(QStringLiteral("Capture Format"), QStringLiteral("Betamax")));
        ASSERT_TRUE(
            reg.writeString(QStringLiteral("Audio Type"), QStringLiteral("Sound from Mars")));
        ASSERT_TRUE(reg.writeDword(QStringLiteral("Extension des images"), 7));
        ASSERT_TRUE(reg.writeDword(QString::fromUtf8("Qualité JPeg"), 0));
        ASSERT_TRUE(reg.writeDword(QStringLiteral("Standard DV"), 0xffffffffU));
        ASSERT_TRUE(reg.writeDword(QStringLiteral("FrequenceDV"), 3));
        ASSERT_TRUE(reg.writeDword(QStringLiteral("Profile wmv"), 4));
        ASSERT_TRUE(reg.writeDword(QStringLiteral("Version wmv"), 9));
        ASSERT_TRUE(reg.writeDword(QStringLiteral("Correction Sync"), 500));
        ASSERT_TRUE(reg.writeString(QStringLiteral("Profil wmv favori"),
                                    QStringLiteral("use the DEFAULT profiles")));
        ASSERT_TRUE(reg.flush());
    }
    const TCaptureSettings read = TCaptureSettings::FromPreferences(*load());
    TCaptureSettings expected;
    expected.VideoDirectory = defaults.VideoDirectory;
    expected.ImageDirectory = defaults.ImageDirectory;
    EXPECT_EQ(read, expected);
    // The unknown audio type is the fall-back of each kind.
    EXPECT_EQ(read.AudioPosition(SourceKind::skDV, AudioTypeChoices(SourceKind::skDV, true)), 1);
    EXPECT_EQ(
        read.AudioPosition(SourceKind::skAnalog, AudioTypeChoices(SourceKind::skAnalog, true)), 0);

    // The captions are read without regard to case, as they always were.
    {
        Registry reg(hive);
        ASSERT_TRUE(reg.openKey(PreferencesKeyPath(), true));
        ASSERT_TRUE(reg.writeString(QStringLiteral("Capture Format"),
                                    QStringLiteral("dv TYPE 2 (normal)")));
        ASSERT_TRUE(reg.writeString(QStringLiteral("Audio Type"), QStringLiteral("no audio")));
        ASSERT_TRUE(reg.flush());
    }
    const TCaptureSettings cased = TCaptureSettings::FromPreferences(*load());
    EXPECT_EQ(cased.Format, CaptureFormat::cfDVType2);
    EXPECT_EQ(cased.Audio, AudioKind::akNone);
}

} // namespace
