// Damaged DV frames from the source (cut short, noise over DIF blocks, no
// header block, empty buffers, noise over the sound): the preview and the
// capture go on to the end, every file reads whole, and the frames that never
// reached the file are counted as lost once each.

#include "capture_graph_fixture.h"

#include "elements/dv_avi_writer_helpers.h"
#include "graph/frame_counter.h"
#include "media/dv/dv_frame_screen.h"
#include "system/log.h"
#include "virtual/virtual_dv_src.h"

#include <QFile>
#include <QStringList>

#include <gst/app/gstappsink.h>

#include <atomic>
#include <vector>

namespace kad::test {
namespace {

// Every fifth frame of the camcorder is damaged, the four kinds in turn.
constexpr guint kDamageEvery = 5;

class CaptureDamage : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        // The log keeps which element raised a graph error, and why.
        StartLog(true);
        QObject::connect(&cam.FilterGraph(), &TfilterGraph::GraphError,
                         [this](const QString& text) { errors << "graph error: " + text; });
        QObject::connect(&cam.FilterGraph(), &TfilterGraph::DeviceLost,
                         [this] { errors << "device lost"; });
        QObject::connect(&cam.Capture(), &TcaptureRun::CaptureStopped,
                         [this](const QString& why) { errors << "capture stopped: " + why; });
        QObject::connect(&cam.FilterGraph(), &TfilterGraph::EndOfStream,
                         [this] { errors << "end of stream"; });
    }

    // The camcorder's preview with damaged frames from its first frame on;
    // the environment sets the device's defaults, as for a whole program run.
    bool damagedPreview(Source kind, bool listen)
    {
        qputenv("KADRILLO_VIRTUAL_DV_DAMAGE", QByteArray::number(kDamageEvery));
        const bool ok = preview(kind, listen);
        qunsetenv("KADRILLO_VIRTUAL_DV_DAMAGE");
        if (ok) {
            guint every = 0;
            gint kindOfDamage = -1;
            g_object_get(source, "damage-every", &every, "damage-kind", &kindOfDamage, NULL);
            EXPECT_EQ(every, kDamageEvery);
            EXPECT_EQ(kindOfDamage, KAD_VIRTUAL_DV_DAMAGE_MIXED);
        }
        return ok;
    }

    // Captures frames of format into name from a damaged preview, and checks
    // that nothing stopped, the file reads whole with as many frames as the
    // graph counted, the lost frames are the damaged ones and the preview
    // still runs.
    Probed captureThroughDamage(Source kind, bool listen, int format, const char* name,
                                guint64 frames = 60, const std::function<void()>& meanwhile = {})
    {
        errors.clear();
        EXPECT_TRUE(damagedPreview(kind, listen));
        const guint64 screenedBefore = ScreenedDvFrames(cam.Source().Pin().get());
        EXPECT_TRUE(capture(format, file(name), frames, meanwhile)) << name;
        const guint64 lost = cam.Capture().LostFrames();
        const guint64 screened = ScreenedDvFrames(cam.Source().Pin().get()) - screenedBefore;
        EXPECT_TRUE(errors.isEmpty()) << name << ": " << errors.join("; ").toStdString() << "\n"
                                      << graphErrorsLogged();
        EXPECT_TRUE(boxes.shown.empty()) << name;
        // Three kinds of four are dropped before anything reads them; each
        // dropped frame is one lost frame.
        EXPECT_GE(screened, frames / kDamageEvery / 2) << name;
        EXPECT_GT(lost, 0u) << name;
        EXPECT_LE(lost, screened) << name;
        expectPreviewRuns();
        const Probed p = probe(file(name));
        EXPECT_TRUE(p.ok) << name << ": " << p.error;
        if (const ProbedStream* v = p.first("video")) {
            // Every frame that reached the writer is in the file once. A
            // writer that keeps every frame's slot fills those of the frames
            // that never came with a copy of the one before: they are in the
            // file too, and only frames the screen dropped leave such a slot.
            const guint64 filled = filledSlots();
            EXPECT_EQ(v->frames, qint64(cam.Capture().WrittenFrames().Frames() + filled)) << name;
            EXPECT_LE(filled, screened) << name;
        } else {
            ADD_FAILURE() << name << " has no video";
        }
        return p;
    }

    void TearDown() override
    {
        StopLog();
        CaptureTest::TearDown();
    }

    static std::string graphErrorsLogged()
    {
        QFile f(LogFileName());
        if (!f.open(QIODevice::ReadOnly)) return {};
        QStringList lines;
        for (const QString& line : QString::fromUtf8(f.readAll()).split('\n'))
            if (line.startsWith("Graph error")) lines << line;
        return lines.join('\n').toStdString();
    }

    // Frame slots the writer filled for frames the source did not deliver
    // (0 for a writer that does not keep slots).
    guint64 filledSlots()
    {
        GstElement* writer = cam.Capture().CaptureFileSink();
        guint64 filled = 0;
        if (writer && g_object_class_find_property(G_OBJECT_GET_CLASS(writer), "lost-frames"))
            g_object_get(writer, "lost-frames", &filled, NULL);
        return filled;
    }

    guint64 shownFrames()
    {
        GstStructure* stats = nullptr;
        g_object_get(cam.FilterGraph().VideoWindowFilter(), "stats", &stats, NULL);
        guint64 rendered = 0;
        if (stats) {
            gst_structure_get_uint64(stats, "rendered", &rendered);
            gst_structure_free(stats);
        }
        return rendered;
    }

    void expectPreviewRuns()
    {
        const guint64 before = shownFrames();
        EXPECT_TRUE(waitUntil([&] { return shownFrames() >= before + 10; }, 10000))
            << "the preview stopped at frame " << before;
    }

    // The DV muxer makes a frame of every picture it gets: none is thrown
    // away for want of sound. Called while the capture runs. Counted where the pictures enter it
    // and where its frames leave the splitter behind it, which follows it directly.
    void expectMuxerKeepsEveryFrame()
    {
        GstElement* mux = cam.FilterGraph().DVmuxer.Element();
        GstElement* splitter = cam.FilterGraph().DVsplitter2.Element();
        ASSERT_TRUE(mux && splitter);
        const PadRef in = sinkPadNamed(mux, "video");
        PadRef out(gst_element_get_static_pad(splitter, "video"));
        ASSERT_TRUE(in && out);
        std::atomic<guint64> entered{0}, left{0};
        auto count = +[](GstPad*, GstPadProbeInfo*, gpointer n) {
            ++*static_cast<std::atomic<guint64>*>(n);
            return GST_PAD_PROBE_OK;
        };
        const gulong a =
            gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, count, &left, nullptr);
        const gulong b =
            gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_BUFFER, count, &entered, nullptr);
        EXPECT_TRUE(waitUntil([&] { return left >= 40; }, 10000));
        gst_pad_remove_probe(in.get(), b);
        gst_pad_remove_probe(out.get(), a);
        // Frames already inside the muxer when counting began leave it
        // uncounted on the way in, so only a surplus of pictures is a loss.
        EXPECT_LE(qint64(entered.load()) - qint64(left.load()), 2)
            << entered << " pictures in, " << left << " frames out";
    }

    QStringList errors;
};

// The device itself: which frames leave damaged, and how the screen judges
// them (frames with noise further in are whole frames a decoder conceals).
TEST(VirtualDvDamage, EveryKindOfDamageReachesTheScreenAsItShould)
{
    struct Case {
        KadVirtualDvDamage kind;
        bool kept;
    };
    for (const Case c :
         {Case{KAD_VIRTUAL_DV_DAMAGE_TRUNCATED, false}, Case{KAD_VIRTUAL_DV_DAMAGE_GARBAGE, true},
          Case{KAD_VIRTUAL_DV_DAMAGE_BAD_HEADER, false},
          Case{KAD_VIRTUAL_DV_DAMAGE_EMPTY, false}}) {
        for (const bool ntsc : {false, true}) {
            ElementRef pipeline(gst_pipeline_new(nullptr));
            GstElement* dv = gst_element_factory_make_full(
                "kadvirtualdvsrc", "ntsc", gboolean(ntsc), "is-live", FALSE, "num-buffers", 12,
                "damage-every", kDamageEvery, "damage-kind", c.kind, NULL);
            GstElement* sink = gst_element_factory_make("appsink", nullptr);
            ASSERT_TRUE(dv && sink);
            g_object_set(sink, "sync", FALSE, "max-buffers", 0u, NULL);
            gst_bin_add_many(GST_BIN(pipeline.get()), dv, sink, NULL);
            ASSERT_TRUE(gst_element_link(dv, sink));
            ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING),
                      GST_STATE_CHANGE_FAILURE);
            std::vector<std::pair<gsize, bool>> frames; // size, whole
            while (GstSample* sample =
                       gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
                GstBuffer* buffer = gst_sample_get_buffer(sample);
                GstMapInfo map;
                ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
                frames.emplace_back(map.size, IsWholeDvData(map.data, map.size));
                gst_buffer_unmap(buffer, &map);
                gst_sample_unref(sample);
            }
            EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(sink)))
                << "no frame for 10 s and no end of stream, kind " << c.kind;
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
            ASSERT_EQ(frames.size(), 12u) << "kind " << c.kind;
            const gsize whole = ntsc ? 120000 : 144000;
            for (gsize n = 0; n < frames.size(); ++n) {
                const bool damaged = n % kDamageEvery == 0;
                EXPECT_EQ(frames[n].second, !damaged || c.kept)
                    << "kind " << c.kind << " frame " << n;
                if (!damaged || c.kind == KAD_VIRTUAL_DV_DAMAGE_GARBAGE) {
                    EXPECT_EQ(frames[n].first, whole) << "frame " << n;
                } else if (c.kind == KAD_VIRTUAL_DV_DAMAGE_EMPTY) {
                    EXPECT_EQ(frames[n].first, 0u) << "frame " << n;
                } else if (c.kind == KAD_VIRTUAL_DV_DAMAGE_TRUNCATED) {
                    EXPECT_LT(frames[n].first, whole) << "frame " << n;
                }
            }
        }
    }
}

TEST_F(CaptureDamage, DvType1GoesOnPastDamagedFramesInBothStandards)
{
    for (const Source kind : {Source::DvPal, Source::DvNtsc}) {
        const char* name = kind == Source::DvPal ? "t1-pal.avi" : "t1-ntsc.avi";
        const Probed p = captureThroughDamage(kind, false, 0, name);
        ASSERT_NE(p.first("video"), nullptr);
        EXPECT_EQ(p.first("video")->height, kind == Source::DvPal ? 576 : 480);
        // The interleaved stream's own sound.
        EXPECT_EQ(p.count("audio"), 1);
        guint64 rejected = 0;
        g_object_get(cam.Capture().CaptureFileSink(), "frames-rejected", &rejected, NULL);
        EXPECT_EQ(rejected, 0u) << "damaged frames reached the writer";
    }
}

TEST_F(CaptureDamage, DvType2GoesOnPastDamagedFrames)
{
    const Probed p = captureThroughDamage(Source::DvPal, true, 1, "t2.avi");
    ASSERT_NE(p.first("video"), nullptr);
    ASSERT_EQ(p.count("audio"), 1);
    EXPECT_EQ(p.first("audio")->sampleRate, 48000);
    // The dropped frames' slots are kept, so the picture keeps its length
    // against the sound.
    EXPECT_GT(filledSlots(), 0u);
    const double seconds =
        double(kadtest::audioSamples(file("t2.avi").toStdString()).size()) / (4.0 * 48000);
    EXPECT_NEAR(p.first("video")->frames * 0.04, seconds, 0.04);
}

// Without sound the DV muxer gets no audio input at all (one left waiting
// would hold the file at its first frame).
TEST_F(CaptureDamage, RecompressedDvGoesOnPastDamagedFramesWithAndWithoutSound)
{
    for (const bool listen : {false, true}) {
        const char* name = listen ? "re-sound.avi" : "re-silent.avi";
        const Probed p = captureThroughDamage(Source::DvPal, listen, 2, name, 60,
                                              [this] { expectMuxerKeepsEveryFrame(); });
        EXPECT_EQ(p.count("audio"), listen ? 1 : 0) << name;
    }
}

TEST_F(CaptureDamage, WindowsMediaGoesOnPastDamagedFrames)
{
    if (!cam.FilterGraph().Presence().WmvAvailable) GTEST_SKIP() << "no Windows Media encoders";
    const Probed p = captureThroughDamage(Source::DvPal, true, 3, "dv.wmv", 40);
    EXPECT_EQ(p.format, "asf");
    EXPECT_EQ(p.count("video"), 1);
    EXPECT_EQ(p.count("audio"), 1);
}

// Noise over the sound of every fifth frame, AAUX packs included (frame 0
// among them): the frames are whole, so none is lost, and every writer keeps
// the stream's own sound format.
TEST_F(CaptureDamage, NoiseOverTheSoundLosesNoFrameInAnyDvFormat)
{
    struct Case {
        int format;
        bool listen;
        const char* name;
        const char* container;
    };
    std::vector<Case> cases = {{0, false, "snd-t1.avi", "avi"},
                               {1, true, "snd-t2.avi", "avi"},
                               {2, true, "snd-re.avi", "avi"}};
    if (cam.FilterGraph().Presence().WmvAvailable) cases.push_back({3, true, "snd.wmv", "asf"});
    for (const Case& c : cases) {
        errors.clear();
        qputenv("KADRILLO_VIRTUAL_DV_DAMAGE", QByteArray::number(kDamageEvery) + ":sound");
        const bool previewing = preview(Source::DvPal, c.listen);
        qunsetenv("KADRILLO_VIRTUAL_DV_DAMAGE");
        ASSERT_TRUE(previewing) << c.name;
        const guint64 screenedBefore = ScreenedDvFrames(cam.Source().Pin().get());
        EXPECT_TRUE(capture(c.format, file(c.name), 50)) << c.name;
        EXPECT_TRUE(errors.isEmpty()) << c.name << ": " << errors.join("; ").toStdString();
        EXPECT_TRUE(boxes.shown.empty()) << c.name;
        EXPECT_EQ(cam.Capture().LostFrames(), 0u) << c.name;
        EXPECT_EQ(ScreenedDvFrames(cam.Source().Pin().get()), screenedBefore) << c.name;
        expectPreviewRuns();
        const Probed p = probe(file(c.name));
        EXPECT_TRUE(p.ok) << c.name << ": " << p.error;
        EXPECT_EQ(p.format, c.container) << c.name;
        const ProbedStream* v = p.first("video");
        const ProbedStream* a = p.first("audio");
        ASSERT_TRUE(v && a) << c.name;
        EXPECT_EQ(v->frames, qint64(cam.Capture().CapturedFrames())) << c.name;
        EXPECT_EQ(a->sampleRate, 48000) << c.name;
        if (c.format == 1 || c.format == 2) {
            // The sound keeps step with the picture: noise is still sound.
            const double seconds =
                double(kadtest::audioSamples(file(c.name).toStdString()).size()) / (4.0 * 48000);
            EXPECT_NEAR(v->frames * 0.04, seconds, 0.081) << c.name;
        }
    }
}

} // namespace
} // namespace kad::test
