#include <gtest/gtest.h>

#include <gst/gst.h>

#include <QTemporaryDir>

#include <unistd.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "dv_avi_writer_helpers.h"
#include "elements/kad_transport.h"
#include "media/dv/dv_packs.h"
#include "support/readers.h"
#include "virtual_devices_support.h"

namespace {

constexpr std::size_t kPal = kad::dv::kFrameSizePal;
constexpr int kFrames = 50; // two seconds of PAL

using Frames = std::vector<std::vector<std::uint8_t>>;

// Material made by other tools once for the whole suite: DV encoded by
// ffmpeg (raw, and as a type-2 AVI muxed by ffmpeg), a type-1 AVI from
// Kadrillo's own writer, and ffmpeg's own reading of each back to raw DV.
class DvFileSource : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        const std::string d = dir_->path().toStdString();
        raw_ = d + "/tape.dv";
        type1_ = d + "/type1.avi";
        type2_ = d + "/type2.avi";
        ntsc_ = d + "/ntsc.dv";
        opendml_ = d + "/opendml.avi";
        bare48_ = d + "/bare48.avi";
        bare44mono_ = d + "/bare44mono.avi";
        // Type-2 AVIs whose DV frames carry no sound (a bare DV video
        // encoder's), the sound only in the PCM stream beside them.
        for (const auto& [file, rate, channels] :
             {std::tuple{bare48_, "48000", "2"}, std::tuple{bare44mono_, "44100", "1"}})
            ffmpeg(QString("-f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i "
                           "sine=frequency=300:sample_rate=%1 -t 2 -c:v dvvideo -pix_fmt yuv420p "
                           "-c:a pcm_s16le -ac %2 -f avi")
                       .arg(rate, channels)
                       .split(u' ')
                   << QString::fromStdString(file));
        kadtest::ffmpegDv(QString::fromStdString(raw_), "2");
        kadtest::ffmpegDv(QString::fromStdString(ntsc_), "0.4", true);
        ffmpeg({"-i", QString::fromStdString(raw_), "-c", "copy", "-f", "avi",
                QString::fromStdString(type2_)});
        kadtest::runLaunch("filesrc location=" + raw_ +
                           " blocksize=144000 ! video/x-dv,systemstream=true ! kaddvaviwriter "
                           "location=" +
                           type1_);
        // Small RIFF chunks: the frames run on in OpenDML 'AVIX' extensions.
        kadtest::runLaunch("filesrc location=" + raw_ +
                           " blocksize=144000 ! video/x-dv,systemstream=true ! kaddvaviwriter "
                           "riff-limit=1048576 location=" +
                           opendml_);
    }
    static void TearDownTestSuite() { dir_.reset(); }

    static void ffmpeg(QStringList args)
    {
        args.prepend("-y");
        args.prepend("error");
        args.prepend("-v");
        kadtest::runTool("ffmpeg", args);
    }

    // The file's frames as ffmpeg reads them, rewritten as raw DV.
    // With videoOnly, the video packets as they are in the file.
    static Frames referenceFrames(const std::string& file, std::size_t frameSize = kPal,
                                  bool videoOnly = false)
    {
        const std::string out = dir_->path().toStdString() + "/reference.dv";
        if (videoOnly)
            ffmpeg({"-i", QString::fromStdString(file), "-map", "0:v", "-c", "copy", "-f",
                    "rawvideo", QString::fromStdString(out)});
        else
            ffmpeg({"-i", QString::fromStdString(file), "-c", "copy", "-f", "dv",
                    QString::fromStdString(out)});
        const QByteArray bytes = kadtest::readAll(out);
        Frames frames;
        for (qsizetype at = 0; at + static_cast<qsizetype>(frameSize) <= bytes.size();
             at += static_cast<qsizetype>(frameSize))
            frames.emplace_back(bytes.constData() + at, bytes.constData() + at + frameSize);
        unlink(out.c_str());
        return frames;
    }

    static kad::ElementRef source(const std::string& file, int numBuffers)
    {
        kad::ElementRef e =
            kad::ElementRef::sink(gst_element_factory_make("kadvirtualdvfilesrc", nullptr));
        if (e)
            g_object_set(e.get(), "location", file.c_str(), "is-live", FALSE, "num-buffers",
                         numBuffers, nullptr);
        return e;
    }

    static std::vector<std::uint8_t> bytesOf(const kad::BufferRef& b)
    {
        kad::BufferMap map(b.get(), GST_MAP_READ);
        return {map.data(), map.data() + map.size()};
    }

    // The picture of a frame: its video DIF blocks (the sound and the packs
    // around them left out).
    static std::vector<std::uint8_t> pictureOf(const std::vector<std::uint8_t>& frame)
    {
        std::vector<std::uint8_t> picture;
        for (std::size_t off = 0; off + 80 <= frame.size(); off += 80)
            if ((frame[off] >> 5) == 4)
                picture.insert(picture.end(), frame.begin() + off, frame.begin() + off + 80);
        return picture;
    }

    static bool soundIsSilent(const std::vector<std::uint8_t>& frame)
    {
        for (std::size_t off = 0; off + 80 <= frame.size(); off += 80)
            if ((frame[off] >> 5) == 3)
                for (std::size_t i = off + 8; i < off + 80; ++i)
                    if (frame[i] != 0) return false;
        return true;
    }

    static inline std::unique_ptr<QTemporaryDir> dir_;
    static inline std::string raw_, type1_, type2_, ntsc_, opendml_, bare48_, bare44mono_;
};

TEST_F(DvFileSource, ListedBesideOtherDevicesAsADvCamcorder)
{
    const std::string d = dir_->path().toStdString();
    const std::string text = d + "/notes.txt";
    const std::string empty = d + "/empty.dv";
    ASSERT_TRUE(vtest::writeFile(text, std::vector<std::uint8_t>(4000, 'a')));
    ASSERT_TRUE(vtest::writeFile(empty, {}));
    const std::string list = "dv-pal-vcr, dvfile:" + raw_ + ",dvfile:" + d +
                             "/missing.dv,dvfile:" + text + ",dvfile:" + empty +
                             ",dvfile:" + type2_ + ",mic";
    testing::internal::CaptureStderr();
    std::vector<kad::GRef<GstDevice>> devices;
    {
        vtest::DevicesEnv env(list.c_str());
        devices = vtest::listDevices();
    }
    const std::string said = testing::internal::GetCapturedStderr();
    // Each unusable file is named with its reason; none of them is listed.
    for (const char* unusable : {"missing.dv", "notes.txt", "empty.dv"})
        EXPECT_NE(said.find(unusable), std::string::npos) << said;
    EXPECT_EQ(said.find("tape.dv"), std::string::npos) << said;

    std::vector<std::string> names;
    for (const auto& dev : devices) {
        kad::GCharPtr name(gst_device_get_display_name(dev.get()));
        names.emplace_back(name.get());
    }
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(std::tie(names[1], names[2]),
              std::make_tuple("DV file tape.dv", "DV file type2.avi"));
    EXPECT_EQ(vtest::deviceProperty(devices[2].get(), "device.path"), "/virtual/kadrillo/dvfile/1");
}

TEST_F(DvFileSource, RawAndBothAviTypesPlayTheFramesOfTheFile)
{
    const Frames expected = referenceFrames(raw_);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kFrames));
    ASSERT_TRUE(kadtest::readAll(opendml_).contains("AVIX"));
    for (const std::string& file : {raw_, type1_, type2_, opendml_}) {
        SCOPED_TRACE(file);
        // ffmpeg reads each container back to the same frames.
        ASSERT_EQ(referenceFrames(file), expected);
        kad::ElementRef src = source(file, kFrames);
        ASSERT_TRUE(src);
        const std::string sent = file + ".sent.dv";
        g_object_set(src.get(), "sent-location", sent.c_str(), nullptr);
        const vtest::Run run = vtest::runDevice(src.get());
        ASSERT_TRUE(run.eos) << run.error;
        ASSERT_EQ(run.buffers.size(), expected.size());
        guint64 count = 0;
        g_object_get(src.get(), "frame-count", &count, nullptr);
        EXPECT_EQ(count, static_cast<guint64>(kFrames));
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_TRUE(bytesOf(run.buffers[i]) == expected[i]) << "frame " << i;
        // What left the device is a DV stream ffprobe decodes whole.
        const kadtest::Probe probe = kadtest::ffprobe(sent, true);
        ASSERT_TRUE(probe.ok) << probe.error;
        ASSERT_FALSE(probe.streams.empty());
        EXPECT_EQ(probe.streams[0].codec, "dvvideo");
        EXPECT_EQ(probe.streams[0].frames, kFrames);
    }

    // An NTSC file plays as NTSC: its own frame size and rate.
    const Frames ntsc = referenceFrames(ntsc_, kad::dv::kFrameSizeNtsc);
    ASSERT_FALSE(ntsc.empty());
    kad::ElementRef src = source(ntsc_, static_cast<int>(ntsc.size()));
    const vtest::Run run = vtest::runDevice(src.get());
    ASSERT_TRUE(run.eos) << run.error;
    ASSERT_EQ(run.buffers.size(), ntsc.size());
    for (std::size_t i = 0; i < ntsc.size(); ++i)
        ASSERT_TRUE(bytesOf(run.buffers[i]) == ntsc[i]) << "NTSC frame " << i;
    const GstClockTime second =
        GST_BUFFER_PTS(run.buffers[1].get()) - GST_BUFFER_PTS(run.buffers[0].get());
    EXPECT_NEAR(static_cast<double>(second), 1e9 * 1001 / 30000, 1e3);
}

TEST_F(DvFileSource, Type2FramesWithoutSoundGetTheSoundOfTheAudioStream)
{
    for (const std::string& file : {bare48_, bare44mono_}) {
        SCOPED_TRACE(file);
        const bool mono = file == bare44mono_;
        // The pictures of the file's video packets, as ffmpeg reads them.
        const Frames reference = referenceFrames(file, kPal, true);
        ASSERT_EQ(reference.size(), static_cast<std::size_t>(kFrames));
        kad::ElementRef src = source(file, kFrames);
        const std::string sent = file + ".sent.dv";
        g_object_set(src.get(), "sent-location", sent.c_str(), nullptr);
        const vtest::Run run = vtest::runDevice(src.get());
        ASSERT_TRUE(run.eos) << run.error;
        ASSERT_EQ(run.buffers.size(), reference.size());
        for (std::size_t i = 0; i < reference.size(); ++i)
            ASSERT_TRUE(pictureOf(bytesOf(run.buffers[i])) == pictureOf(reference[i])) << i;

        // ffmpeg decodes from the frames sent the samples of the AVI's
        // audio stream (a mono stream on both channels).
        const kadtest::Probe probe = kadtest::ffprobe(sent, true);
        ASSERT_TRUE(probe.ok) << probe.error;
        const QByteArray got = kadtest::audioSamples(sent);
        QByteArray want = kadtest::audioSamples(file);
        if (mono) {
            QByteArray both;
            for (qsizetype i = 0; i + 1 < want.size(); i += 2)
                both.append(want.mid(i, 2)).append(want.mid(i, 2));
            want = both;
        }
        const qsizetype n = std::min(got.size(), want.size());
        ASSERT_GT(n, 4 * 48000); // more than a second of stereo
        EXPECT_TRUE(got.left(n) == want.left(n));
        // Not silence: the tone is there.
        EXPECT_NE(got.left(n).count('\0'), n);
    }
}

TEST_F(DvFileSource, LoopsAtTheEndAndKeepsTheTimecodeOfTheFrames)
{
    const Frames expected = referenceFrames(raw_);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kFrames));
    kad::ElementRef src = source(raw_, 2 * kFrames + 7);
    KadTransport* transport = kad_transport_find(G_OBJECT(src.get()));
    ASSERT_NE(transport, nullptr);
    const vtest::Run run = vtest::runDevice(src.get());
    ASSERT_TRUE(run.eos) << run.error;
    ASSERT_EQ(run.buffers.size(), static_cast<std::size_t>(2 * kFrames + 7));
    for (std::size_t i = 0; i < run.buffers.size(); ++i)
        ASSERT_TRUE(bytesOf(run.buffers[i]) == expected[i % kFrames]) << "buffer " << i;
    // Time stamps run on across the loop, a frame period apart.
    for (std::size_t i = 1; i < run.buffers.size(); ++i)
        ASSERT_EQ(GST_BUFFER_PTS(run.buffers[i].get()) - GST_BUFFER_PTS(run.buffers[i - 1].get()),
                  GST_SECOND / 25);
    // The transport reports the timecode the file's frames carry (or their
    // position when they carry none): it goes back with the loop.
    const auto frameOf = [](const KadTimecode& tc) {
        return ((tc.hours * 60 + tc.minutes) * 60 + tc.seconds) * 25 + tc.frames;
    };
    KadTimecode last{};
    ASSERT_TRUE(kad_transport_get_timecode(transport, &last));
    const auto fileTc = kad::dv::readTimecode(expected[6].data(), kPal);
    EXPECT_EQ(frameOf(last), fileTc ? frameOf(*fileTc) : 6u);
}

TEST_F(DvFileSource, TransportFreezesStopsAndWinds)
{
    const Frames expected = referenceFrames(raw_);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kFrames));

    // Fast forward: 30 frames further at each frame sent, looping, no sound.
    {
        kad::ElementRef src = source(raw_, 8);
        g_object_set(src.get(), "transport-mode", KAD_TRANSPORT_FAST_FORWARD, nullptr);
        const vtest::Run run = vtest::runDevice(src.get());
        ASSERT_TRUE(run.eos) << run.error;
        ASSERT_EQ(run.buffers.size(), 8u);
        for (std::size_t i = 0; i < run.buffers.size(); ++i) {
            const auto frame = bytesOf(run.buffers[i]);
            EXPECT_TRUE(pictureOf(frame) == pictureOf(expected[(30 * i) % kFrames])) << i;
            EXPECT_TRUE(soundIsSilent(frame)) << i;
        }
    }

    // Play, then freeze: the same picture again and again, silent; then
    // rewind back to the start of the tape, where it stops by itself.
    {
        kad::ElementRef src = source(raw_, 60);
        KadTransport* transport = kad_transport_find(G_OBJECT(src.get()));
        ASSERT_NE(transport, nullptr);
        const vtest::Run run = vtest::runDevice(src.get(), [&](std::size_t i) {
            if (i == 10) kad_transport_set_mode(transport, KAD_TRANSPORT_FREEZE);
            if (i == 30) kad_transport_set_mode(transport, KAD_TRANSPORT_REWIND);
        });
        ASSERT_TRUE(run.eos) << run.error;
        ASSERT_EQ(run.buffers.size(), 60u);
        // The source runs at most a few frames ahead of the test.
        for (std::size_t i = 16; i < 30; ++i) {
            EXPECT_TRUE(bytesOf(run.buffers[i]) == bytesOf(run.buffers[15])) << i;
            EXPECT_TRUE(soundIsSilent(bytesOf(run.buffers[i]))) << i;
        }
        const auto frozen = pictureOf(bytesOf(run.buffers[15]));
        bool found = false;
        for (std::size_t f = 10; f < 20 && !found; ++f)
            found = frozen == pictureOf(expected[f]);
        EXPECT_TRUE(found) << "the frozen picture is a frame near the tenth";
        gint mode = 0;
        kad_transport_get_mode(transport, &mode);
        EXPECT_EQ(mode, KAD_TRANSPORT_STOP);
        // Stopped at the start: the first frame again and again, silent.
        for (std::size_t i = 50; i < 60; ++i) {
            EXPECT_TRUE(pictureOf(bytesOf(run.buffers[i])) == pictureOf(expected[0])) << i;
            EXPECT_TRUE(soundIsSilent(bytesOf(run.buffers[i]))) << i;
        }
    }

    // Live, paced by the clock, the tape plays the same frames.
    {
        kad::ElementRef src = source(raw_, 5);
        g_object_set(src.get(), "is-live", TRUE, nullptr);
        const vtest::Run run = vtest::runDevice(src.get(), {}, 20 * GST_SECOND);
        ASSERT_TRUE(run.eos) << run.error;
        ASSERT_EQ(run.buffers.size(), 5u);
        for (std::size_t i = 0; i < 5; ++i)
            EXPECT_TRUE(bytesOf(run.buffers[i]) == expected[i]) << i;
    }
}

TEST_F(DvFileSource, UnusableFilesFailCleanly)
{
    const std::string d = dir_->path().toStdString();
    const std::string text = d + "/readme.txt";
    const std::string empty = d + "/nothing.dv";
    const std::string shortAvi = d + "/header-only.avi";
    ASSERT_TRUE(vtest::writeFile(text, std::vector<std::uint8_t>(200000, 'x')));
    ASSERT_TRUE(vtest::writeFile(empty, {}));
    // A type-2 AVI cut inside its header: no frame left.
    const QByteArray avi = kadtest::readAll(type2_);
    ASSERT_GT(avi.size(), 3000);
    ASSERT_TRUE(
        vtest::writeFile(shortAvi, std::vector<std::uint8_t>(avi.begin(), avi.begin() + 3000)));
    for (const std::string& file : {d + "/missing.dv", text, empty, shortAvi, d}) {
        SCOPED_TRACE(file);
        kad::ElementRef src = source(file, 5);
        const vtest::Run run = vtest::runDevice(src.get());
        EXPECT_FALSE(run.eos);
        EXPECT_TRUE(run.buffers.empty());
        EXPECT_EQ(run.errorDomain, GST_RESOURCE_ERROR);
        EXPECT_NE(run.error.find(file), std::string::npos) << run.error;
    }
}

TEST_F(DvFileSource, AFileCutShortWhilePlayingEndsWithAnError)
{
    const std::string copy = dir_->path().toStdString() + "/shrinking.avi";
    const QByteArray avi = kadtest::readAll(type2_);
    ASSERT_TRUE(vtest::writeFile(copy, std::vector<std::uint8_t>(avi.begin(), avi.end())));
    kad::ElementRef src = source(copy, kFrames);
    // Indexed whole, then cut to about a third before the frames are read.
    ASSERT_EQ(gst_element_set_state(src.get(), GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    ASSERT_EQ(truncate(copy.c_str(), avi.size() / 3), 0);
    {
        // The bus, not the sink: the error comes before the end of stream.
        kad::ElementRef pipeline = kad::ElementRef::sink(gst_pipeline_new("cut"));
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        gst_bin_add_many(GST_BIN(pipeline.get()), GST_ELEMENT(gst_object_ref(src.get())), sink,
                         nullptr);
        ASSERT_TRUE(gst_element_link(src.get(), sink));
        const kadtest::RunResult r = kadtest::runPipeline(pipeline.get(), {}, 30);
        EXPECT_TRUE(r.error);
        EXPECT_EQ(r.domain, GST_RESOURCE_ERROR);
        EXPECT_EQ(r.code, GST_RESOURCE_ERROR_READ);
        EXPECT_NE(r.message.find("shrinking.avi"), std::string::npos) << r.message;
        guint64 sent = 0;
        g_object_get(src.get(), "frames-sent", &sent, nullptr);
        EXPECT_GT(sent, 5u);
        EXPECT_LT(sent, static_cast<guint64>(kFrames));
        gst_bin_remove(GST_BIN(pipeline.get()), src.get());
    }
    // Played again after the cut, the shorter file plays whole frames only.
    const vtest::Run again = vtest::runDevice(src.get());
    EXPECT_TRUE(again.eos) << again.error;
    EXPECT_EQ(again.buffers.size(), static_cast<std::size_t>(kFrames));
    for (const auto& b : again.buffers)
        EXPECT_EQ(gst_buffer_get_size(b.get()), kPal);
}

} // namespace
