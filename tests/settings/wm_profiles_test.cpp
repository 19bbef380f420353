#include <gtest/gtest.h>

#include <QSet>

#include "settings/wm_profiles.h"

using namespace kad;

namespace {

WmProfile named(const QString& name, bool withVideo)
{
    WmProfile p;
    p.name = name;
    if (withVideo) {
        p.videoCodec = QStringLiteral("avenc_wmv2");
        p.width = 320;
        p.height = 240;
        p.fpsNum = 25;
    }
    p.audioCodec = QStringLiteral("avenc_wmav2");
    p.audioRate = 44100;
    p.channels = 2;
    return p;
}

// A manager offering 25 system profiles for version 8, every fifth one
// audio only.
WmProfileTable twentyFive()
{
    std::vector<WmProfile> v8;
    for (int i = 0; i < 25; ++i)
        v8.push_back(named(QStringLiteral("Profile %1").arg(i), i % 5 != 4));
    return WmProfileTable(WmProfileTable::builtIn().levels(), {}, {}, v8);
}

} // namespace

TEST(WmProfiles, LevelsAreFoundByTheirIdentifiersInPanelOrder)
{
    const WmProfileTable& t = WmProfileTable::builtIn();
    ASSERT_EQ(t.levels().size(), 4u);
    int previousBitrate = 1 << 30;
    for (int i = 0; i < 4; ++i) {
        const std::optional<WmProfile> p = t.LoadProfileByID(WmLevelId(i));
        ASSERT_TRUE(p) << i;
        EXPECT_EQ(p->name, t.levels()[size_t(i)].profile.name);
        EXPECT_TRUE(p->hasVideo());
        EXPECT_TRUE(p->hasAudio());
        EXPECT_LT(p->videoBitrate, previousBitrate) << i;
        previousBitrate = p->videoBitrate;
    }
    // Identifiers are told apart whatever their case.
    EXPECT_TRUE(t.LoadProfileByID(WmLevelId(1).toLower()));
    EXPECT_FALSE(t.LoadProfileByID(QStringLiteral("{00000000-0000-0000-0000-000000000000}")));
    EXPECT_TRUE(WmLevelId(4).isEmpty());
    EXPECT_TRUE(WmLevelId(-1).isEmpty());
}

TEST(WmProfiles, EveryVersionUsesItsGenerationOfCodecAndNamesSayUseAndRate)
{
    const WmProfileTable& t = WmProfileTable::builtIn();
    const QString video[] = {"avenc_wmv1", "avenc_wmv1", "avenc_wmv2"};
    const QString audio[] = {"avenc_wmav1", "avenc_wmav2", "avenc_wmav2"};
    for (int v = 0; v < 3; ++v) {
        const std::vector<WmProfile>& list = t.systemProfiles(v);
        ASSERT_GE(list.size(), 6u);
        QSet<QString> names;
        bool audioOnly = false;
        for (const WmProfile& p : list) {
            names.insert(p.name);
            EXPECT_TRUE(p.name.contains(QStringLiteral("Kbps")) ||
                        p.name.contains(QStringLiteral("Mbps")))
                << p.name.toStdString();
            EXPECT_TRUE(p.hasAudio());
            EXPECT_EQ(p.audioCodec, audio[v]);
            EXPECT_GE(p.audioBitrate, 24000); // the WMA encoders' floor
            if (!p.hasVideo()) {
                audioOnly = true;
                continue;
            }
            EXPECT_EQ(p.videoCodec, video[v]);
            EXPECT_EQ(p.width % 2, 0);
            EXPECT_EQ(p.height % 2, 0);
            EXPECT_GT(p.fpsNum, 0);
            EXPECT_GT(p.videoBitrate, 0);
        }
        EXPECT_EQ(names.size(), qsizetype(list.size())) << "names are unique per version";
        EXPECT_TRUE(audioOnly);
    }
    EXPECT_TRUE(t.systemProfiles(3).empty());
}

TEST(WmProfiles, RefillKeepsOneEntryPerSystemProfileAudioOnlyIncluded)
{
    const WmProfileTable t = twentyFive();
    const QStringList entries = RefillProfiles(&t, 2);
    ASSERT_EQ(entries.size(), 26);
    EXPECT_EQ(entries[0], QStringLiteral("Use the default profiles"));
    EXPECT_EQ(entries[5], QStringLiteral("Profile 4")); // audio only, still listed
    EXPECT_EQ(entries[25], QStringLiteral("Profile 24"));

    const std::optional<WmProfile> last = LoadChosenProfile(&t, 2, 25);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->name, QStringLiteral("Profile 24"));
    EXPECT_FALSE(LoadChosenProfile(&t, 2, 26));
    EXPECT_FALSE(LoadChosenProfile(&t, 2, 0));
    EXPECT_FALSE(LoadChosenProfile(&t, 2, -1));
    // Version 4 of this manager has no profiles: only the first entry.
    EXPECT_EQ(RefillProfiles(&t, 0), QStringList{QStringLiteral("Use the default profiles")});

    const WmProfileTable& builtIn = WmProfileTable::builtIn();
    for (int v = 0; v < 3; ++v) {
        const QStringList list = RefillProfiles(&builtIn, v);
        ASSERT_EQ(list.size(), qsizetype(builtIn.systemProfiles(v).size() + 1));
        EXPECT_EQ(WmSystemProfileNames(v), list.mid(1));
        for (int i = 1; i < list.size(); ++i)
            EXPECT_EQ(LoadChosenProfile(&builtIn, v, i)->name, list[i]);
    }
}

TEST(WmProfiles, WithoutWindowsMediaOnlyTheDefaultEntryRemains)
{
    EXPECT_EQ(RefillProfiles(nullptr, 2), QStringList{QStringLiteral("Use the default profiles")});
    EXPECT_FALSE(LoadChosenProfile(nullptr, 2, 1));
    EXPECT_FALSE(CaptureProfile(nullptr, 0, 2, 0, AudioKind::akIncluded));
}

TEST(WmProfiles, CaptureProfileTakesTheLevelOrTheSystemProfileAndDropsAudioForAkNone)
{
    const WmProfileTable& t = WmProfileTable::builtIn();
    const std::optional<WmProfile> low = CaptureProfile(&t, 2, 2, 0, AudioKind::akSoundCard);
    ASSERT_TRUE(low);
    EXPECT_EQ(low->name, t.levels()[2].profile.name);
    EXPECT_TRUE(low->hasAudio());
    // No entry selected counts as the first one.
    EXPECT_EQ(CaptureProfile(&t, 1, 2, -1, AudioKind::akIncluded)->name,
              t.levels()[1].profile.name);

    const std::optional<WmProfile> sys = CaptureProfile(&t, 0, 1, 3, AudioKind::akNone);
    ASSERT_TRUE(sys);
    EXPECT_EQ(sys->name, t.systemProfiles(1)[2].name);
    EXPECT_TRUE(sys->hasVideo());
    EXPECT_FALSE(sys->hasAudio());
    const WmEncoderSettings s = WmEncoderSettingsFor(*sys);
    EXPECT_TRUE(s.audioEncoder.isEmpty());
    EXPECT_TRUE(s.audioCaps().isEmpty());
    EXPECT_EQ(s.videoEncoder, QStringLiteral("avenc_wmv1"));
    EXPECT_FALSE(CaptureProfile(&t, 7, 2, 0, AudioKind::akNone));
}

TEST(WmProfiles, ProfileControlsShowOnlyForTheWindowsMediaFormat)
{
    ProfileControls c = OptionsframecboxdivxChange(CaptureFormat::cfWmv, 0);
    EXPECT_TRUE(c.rgProfilesVisible);
    EXPECT_FALSE(c.label1Visible);
    c = OptionsframecboxdivxChange(CaptureFormat::cfWmv, 5);
    EXPECT_FALSE(c.rgProfilesVisible);
    EXPECT_TRUE(c.label1Visible);
    c = OptionsframecboxdivxChange(CaptureFormat::cfWmv, -1);
    EXPECT_TRUE(c.rgProfilesVisible);
    for (int entry : {-1, 0, 1, 5}) {
        for (CaptureFormat f : {CaptureFormat::cfNone, CaptureFormat::cfNativeVideo,
                                CaptureFormat::cfDVRecompressed, CaptureFormat::cfDVType2}) {
            c = OptionsframecboxdivxChange(f, entry);
            EXPECT_FALSE(c.rgProfilesVisible || c.label1Visible) << int(f) << " " << entry;
        }
    }
}
