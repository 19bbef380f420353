#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "elements/dv_avi_writer_helpers.h"
#include "settings/wm_profiles.h"

using namespace kadtest;
using namespace kad;

namespace {

// Writes an ASF file the way the capture graph does for a profile: scaled,
// rate-converted video and resampled audio into the profile's encoders and
// asfmux.
std::string writeAsf(const WmEncoderSettings& s, const std::string& out)
{
    std::string d;
    if (!s.videoEncoder.isEmpty()) {
        d += "videotestsrc pattern=ball num-buffers=25 ! videoconvert ! videoscale ! videorate ! " +
             s.videoCaps().toStdString() + " ! " + s.videoEncoder.toStdString() +
             " bitrate=" + std::to_string(s.videoBitrate) + " ! queue ! mux. ";
    }
    if (!s.audioEncoder.isEmpty()) {
        d += "audiotestsrc num-buffers=40 ! audioconvert ! audioresample ! " +
             s.audioCaps().toStdString() + " ! " + s.audioEncoder.toStdString() +
             " bitrate=" + std::to_string(s.audioBitrate) + " ! queue ! mux. ";
    }
    d += s.muxer.toStdString() + " name=mux ! filesink location=" + out;
    const RunResult r = runLaunch(d);
    EXPECT_TRUE(r.eos) << r.message << " in " << d;
    return out;
}

std::string ffName(const QString& factory)
{
    return factory.mid(QStringLiteral("avenc_").size()).toStdString();
}

void expectProfile(const WmProfile& p, const std::string& file)
{
    SCOPED_TRACE(p.name.toStdString());
    const Probe probe = ffprobe(file);
    EXPECT_EQ(probe.format, "asf");
    if (p.hasVideo()) {
        const ProbeStream* v = probe.first("video");
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->codec, ffName(p.videoCodec));
        EXPECT_EQ(v->width, p.width);
        EXPECT_EQ(v->height, p.height);
        EXPECT_GT(v->frames, 0);
    } else {
        EXPECT_EQ(probe.count("video"), 0);
    }
    if (p.hasAudio()) {
        const ProbeStream* a = probe.first("audio");
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->codec, ffName(p.audioCodec));
        EXPECT_EQ(a->sampleRate, p.audioRate);
        EXPECT_EQ(a->channels, p.channels);
    } else {
        EXPECT_EQ(probe.count("audio"), 0);
    }
}

} // namespace

TEST(WmProfilesAsf, EveryEncoderTheTableNamesIsInstalled)
{
    for (const QString& f : WmRequiredFactories()) {
        GRef<GstElementFactory> factory(gst_element_factory_find(f.toUtf8().constData()));
        EXPECT_TRUE(factory) << f.toStdString();
    }
}

TEST(WmProfilesAsf, EachLevelWritesAnAsfFileWithItsCodecsSizeAndAudio)
{
    QTemporaryDir dir;
    const WmProfileTable& t = WmProfileTable::builtIn();
    for (int level = 0; level < 4; ++level) {
        const WmProfile p = *CaptureProfile(&t, level, 2, 0, AudioKind::akIncluded);
        const std::string out =
            dir.filePath(QStringLiteral("level%1.wmv").arg(level)).toStdString();
        expectProfile(p, writeAsf(WmEncoderSettingsFor(p), out));
    }
}

TEST(WmProfilesAsf, SystemProfilesOfEachVersionUseTheirGenerationOfCodec)
{
    QTemporaryDir dir;
    const WmProfileTable& t = WmProfileTable::builtIn();
    for (int version = 0; version < 3; ++version) {
        const std::vector<WmProfile>& list = t.systemProfiles(version);
        // The smallest video profile, a mid one and the first audio-only one.
        std::vector<int> entries{1, int(list.size()) / 2};
        for (size_t i = 0; i < list.size(); ++i) {
            if (!list[i].hasVideo()) {
                entries.push_back(int(i) + 1);
                break;
            }
        }
        for (int entry : entries) {
            const WmProfile p = *CaptureProfile(&t, 0, version, entry, AudioKind::akSoundCard);
            const std::string out =
                dir.filePath(QStringLiteral("v%1-%2.wmv").arg(version).arg(entry)).toStdString();
            expectProfile(p, writeAsf(WmEncoderSettingsFor(p), out));
        }
    }
}
