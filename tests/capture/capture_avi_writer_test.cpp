// Captures written by kadaviwriter (DV type 2 and the recompressed paths)
// through the real capture graph: cuts that keep picture and sound together
// in every file and lose or repeat no frame, a file of many RIFF chunks, a
// capture killed outright, the sync correction and a failing sound card.
// ffprobe and GStreamer's avidemux read every file.

#include "capture_graph_fixture.h"
#include "elements/dv_avi_writer_helpers.h"
#include "support/edit_options.h"
#include "support/kill_child.h"
#include "support/readers.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace kad::test {
namespace {

constexpr const char* kKillChildEnv = "KAD_CAPTURE_KILL_CHILD_OUT";

// Video frames and sound bytes GStreamer's AVI reader gives out of `name`
// (it reads through the index only); -1 frames when it does not read to
// the end.
std::pair<qint64, qint64> avidemuxRead(const QString& name)
{
    const kadtest::Demuxed d = kadtest::demuxRead(name, "avidemux", true);
    return {d.frames, d.soundBytes};
}

// The OpenDML total frame count ('dmlh' in the first chunk's headers), which
// holds one super index slot for every RIFF chunk the writer may need.
qint64 dmlhFrames(const QString& name)
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray head = f.read(4 * 1024 * 1024);
    const int at = head.indexOf("dmlh");
    return at < 0 || at + 12 > head.size()
               ? -1
               : qint64(qFromLittleEndian<quint32>(head.constData() + at + 8));
}

// The whole top-level RIFF chunks a killed capture's file begins with: each
// with its form inside and its end within the file. What follows them is
// what was written after the last sync, outside every size and index.
QByteArray syncedRiffChunks(const QString& name, int* count)
{
    *count = 0;
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray all = f.readAll();
    qint64 at = 0;
    while (at + 12 <= all.size() && all.mid(int(at), 4) == "RIFF") {
        const auto size = qFromLittleEndian<quint32>(all.constData() + at + 4);
        const qint64 end = at + 8 + qint64(size) + (size & 1);
        if (size < 4 || end > all.size()) break;
        at = end;
        ++*count;
    }
    return all.left(int(at));
}

// Buffers that enter each queue of the graph, counted from the moment the
// queue joins it: the frames that reached the queue in front of the
// writer's picture input, whether or not the writer had taken them yet
// when the capture stopped.
struct QueueInputs {
    std::mutex lock;
    std::map<GstElement*, std::unique_ptr<std::atomic<guint64>>> counts;

    static void watch(GstBin*, GstBin*, GstElement* e, gpointer self)
    {
        GstElementFactory* f = gst_element_get_factory(e);
        if (!f || g_strcmp0(GST_OBJECT_NAME(f), "queue") != 0) return;
        auto* inputs = static_cast<QueueInputs*>(self);
        std::atomic<guint64>* count = nullptr;
        {
            std::lock_guard guard(inputs->lock);
            auto& slot = inputs->counts[e];
            slot = std::make_unique<std::atomic<guint64>>(0);
            count = slot.get();
        }
        PadRef in(gst_element_get_static_pad(e, "sink"));
        gst_pad_add_probe(
            in.get(), GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad*, GstPadProbeInfo*, gpointer n) {
                ++*static_cast<std::atomic<guint64>*>(n);
                return GST_PAD_PROBE_OK;
            },
            count, nullptr);
    }

    // The frames that entered the queue feeding `writer`'s picture input.
    qint64 framesFor(GstElement* writer)
    {
        PadRef video(writer ? gst_element_get_static_pad(writer, "video") : nullptr);
        PadRef feeder(video ? gst_pad_get_peer(video.get()) : nullptr);
        ElementRef queue(feeder ? gst_pad_get_parent_element(feeder.get()) : nullptr);
        std::lock_guard guard(lock);
        const auto found = counts.find(queue.get());
        return found == counts.end() ? -1 : qint64(found->second->load());
    }
};

class CaptureAviWriter : public CaptureTest {
protected:
    // The writer's filled slots: frames the source did not deliver.
    guint64 filledSlots()
    {
        guint64 filled = 0;
        if (GstElement* w = cam.Capture().CaptureFileSink())
            g_object_get(w, "lost-frames", &filled, NULL);
        return filled;
    }

    // Starts a capture of `format` into `name`, counting what enters the
    // queues placed with the writer.
    bool startCapture(int format, const QString& name, QueueInputs* queued = nullptr)
    {
        kadtest::editOptions(cam.Capture(), [&](auto& options) { options.FormatIndex = format; });
        cam.Capture().SetCurrentVideoFileName(name);
        const gulong id = queued ? g_signal_connect(cam.FilterGraph().Graph(), "deep-element-added",
                                                    G_CALLBACK(QueueInputs::watch), queued)
                                 : 0;
        const bool built = cam.Capture().BuildCaptureGraph();
        if (id) g_signal_handler_disconnect(cam.FilterGraph().Graph(), id);
        if (built) {
            GstElementFactory* f = cam.Capture().CaptureFileSink()
                                       ? gst_element_get_factory(cam.Capture().CaptureFileSink())
                                       : nullptr;
            EXPECT_TRUE(f && g_strcmp0(GST_OBJECT_NAME(f), "kadaviwriter") == 0)
                << "the capture is not written by kadaviwriter";
        }
        return built;
    }
};

// ---- The cut --------------------------------------------------------------------

TEST_F(CaptureAviWriter, TwoCutsKeepPictureAndSoundTogetherInEveryFile)
{
    struct Case {
        const char* name;
        Source source;
        bool listen;
        bool soundCard;
        int format;
    };
    // Every path writes PAL DV.
    constexpr double frame = 0.04;
    const Case cases[] = {
        {"dv-type2", Source::DvPal, true, false, 1},
        {"dv-recompressed", Source::DvPal, true, false, 2},
        {"analog-recompressed", Source::Webcam, false, true, 1},
        {"mpeg2-recompressed", Source::Mpeg2, true, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(preview(c.source, c.listen, c.soundCard));
        const QString names[] = {file((QString(c.name) + "-a.avi").toUtf8()),
                                 file((QString(c.name) + "-b.avi").toUtf8()),
                                 file((QString(c.name) + "-c.avi").toUtf8())};
        QueueInputs queued;
        ASSERT_TRUE(startCapture(c.format, names[0], &queued));
        QStringList switched;
        const auto connection =
            QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFileSwitched,
                             [&](const QString&, const QString& to) { switched << to; });
        guint64 target = 20;
        for (int cut = 1; cut <= 2; ++cut) {
            ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= target; }))
                << cam.Capture().CapturedFrames() << " frames";
            ASSERT_TRUE(cam.Capture().SwitchCaptureFile(names[cut]));
            ASSERT_TRUE(waitUntil([&] { return switched.size() == cut; }));
            EXPECT_EQ(switched.back(), names[cut]);
            target = cam.Capture().CapturedFrames() + 20;
        }
        ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= target; }));
        ASSERT_TRUE(cam.Capture().FinishCapture());
        QObject::disconnect(connection);
        const guint64 captured = cam.Capture().CapturedFrames();
        EXPECT_EQ(filledSlots(), 0u);
        EXPECT_EQ(cam.Capture().LostFrames(), 0u);

        qint64 total = 0;
        std::set<std::string> packets;
        size_t packetCount = 0;
        for (const QString& name : names) {
            SCOPED_TRACE(name.toStdString());
            const Probed p = probe(name);
            ASSERT_TRUE(p.ok) << p.error;
            ASSERT_NE(p.first("video"), nullptr);
            ASSERT_EQ(p.count("audio"), 1);
            EXPECT_EQ(p.first("video")->codec, "dvvideo");
            EXPECT_EQ(p.first("video")->height, 576);
            EXPECT_EQ(p.first("audio")->sampleRate, 48000);
            const qint64 frames = p.first("video")->frames;
            EXPECT_GE(frames, 10);
            total += frames;
            const kadtest::StreamTimes t = kadtest::streamTimes(name);
            EXPECT_NEAR(t.videoStart, t.audioStart, frame);
            EXPECT_NEAR(t.videoLength, frames * frame, frame / 2);
            // The sound decoded by ffmpeg lasts as long as the picture.
            const double sound =
                double(kadtest::audioSamples(name.toStdString()).size()) / (4.0 * 48000);
            EXPECT_NEAR(sound, frames * frame, frame);
            EXPECT_EQ(avidemuxRead(name).first, frames);
            for (const std::string& md5 : kadtest::packetMd5s(name.toStdString())) {
                packets.insert(md5);
                ++packetCount;
            }
        }
        // Every frame that reached the queue in front of the writer is in
        // exactly one file, those it still held at the stop included.
        EXPECT_EQ(total, queued.framesFor(cam.Capture().CaptureFileSink()));
        EXPECT_EQ(total, qint64(captured));
        if (c.format == 1 && c.source == Source::DvPal) {
            // The camcorder's frames differ by their timecode: one written
            // twice would show as a repeated packet.
            EXPECT_EQ(packets.size(), packetCount);
        }
        cam.FilterGraph().FreeAllFilters();
    }
}

TEST_F(CaptureAviWriter, AStopRightAfterACutLeavesEveryFileIndexed)
{
    ASSERT_TRUE(preview(Source::DvPal, true));
    const QString a = file("a.avi"), b = file("b.avi");
    ASSERT_TRUE(startCapture(1, a));
    ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= 15; }));
    ASSERT_TRUE(cam.Capture().SwitchCaptureFile(b));
    ASSERT_TRUE(cam.Capture().FinishCapture());
    // Whether the cut was made before the stop or given up, the capture's
    // file is the one the writer ended in, and every file made is whole.
    EXPECT_FALSE(cam.Capture().CaptureSwitchBusy());
    EXPECT_TRUE(QFile::exists(cam.Capture().CaptureFileName()));
    qint64 total = 0;
    for (const QString& name : {a, b}) {
        if (!QFile::exists(name)) continue;
        const qint64 frames = videoFrames(name);
        EXPECT_EQ(avidemuxRead(name).first, frames) << name.toStdString();
        total += frames;
    }
    EXPECT_EQ(total, qint64(cam.Capture().CapturedFrames()));
}

// ---- Many RIFF chunks ---------------------------------------------------------

TEST_F(CaptureAviWriter, ACaptureThroughMoreThanFortyRiffChunksReadsWhole)
{
    ASSERT_TRUE(preview(Source::DvPal, true));
    // The smallest chunk the writer takes holds three PAL frames.
    kadtest::editOptions(cam.Capture(), [&](auto& options) { options.AviRiffLimit = 512 * 1024; });
    const QString name = file("riffs.avi");
    ASSERT_TRUE(startCapture(1, name));
    ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= 150; }));
    ASSERT_TRUE(cam.Capture().FinishCapture());
    const qint64 captured = qint64(cam.Capture().CapturedFrames());

    // The chunks tile the file: the first with the headers, every later one
    // an OpenDML extension, the total frame count in the headers.
    const kadtest::RiffTiles tiles = kadtest::riffTiles(name);
    EXPECT_TRUE(tiles.whole);
    EXPECT_GT(tiles.forms.size(), 40);
    EXPECT_EQ(tiles.forms.value(0), "AVI ");
    EXPECT_EQ(tiles.forms.count("AVIX"), tiles.forms.size() - 1);
    EXPECT_EQ(dmlhFrames(name), captured);
    EXPECT_EQ(videoFrames(name), captured);
    const auto [frames, bytes] = avidemuxRead(name);
    EXPECT_EQ(frames, captured);
    // 1920 stereo samples of 16 bits per PAL frame.
    EXPECT_EQ(bytes, captured * 1920 * 4);
}

// ---- A capture killed outright ------------------------------------------------

// Run only as the child of the kill test: a live camcorder captured to DV
// type 2 in small chunks, synced ten times a second, until killed. Prints
// each sync's frame count.
TEST_F(CaptureAviWriter, KilledChildCapturesUntilKilled)
{
    const QByteArray out = qgetenv(kKillChildEnv);
    if (out.isEmpty()) GTEST_SKIP() << "runs only as the child of the kill test";
    ASSERT_TRUE(preview(Source::DvPal, true));
    g_object_set(source, "is-live", TRUE, NULL);
    kadtest::editOptions(cam.Capture(), [&](auto& options) {
        options.AviRiffLimit = 512 * 1024;
        options.AviSyncInterval = 100 * GST_MSECOND;
    });
    BusRef bus(gst_pipeline_get_bus(cam.FilterGraph().fg()));
    kadtest::tellSyncs(bus.get(), "frames");
    ASSERT_TRUE(startCapture(1, QString::fromUtf8(out)));
    kadtest::pump(60000);
    ADD_FAILURE() << "the child capture was not killed";
}

TEST_F(CaptureAviWriter, AKilledCaptureReadsBackUpToItsLastSync)
{
    const QString out = file("killed.avi");
    // Well past a dozen chunks of three frames, inside an open one.
    constexpr qint64 kUntil = 50;
    const kadtest::KilledChild k = kadtest::killChildWhen(
        "CaptureAviWriter.KilledChildCapturesUntilKilled", {{kKillChildEnv, out}},
        [](const kadtest::KilledChild& told) { return told.last("synced") >= kUntil; }, 60);
    ASSERT_TRUE(k.started);
    ASSERT_TRUE(k.runningAtKill) << k.errors;
    const qint64 synced = k.last("synced");
    ASSERT_GE(synced, kUntil);

    // The chunks written after the last sync lie outside every size and
    // index: the file as killed and its synced chunks alone, cut from it, both
    // read every synced frame.
    int chunks = 0;
    const QByteArray head = syncedRiffChunks(out, &chunks);
    EXPECT_GT(chunks, 10);
    const QString cut = file("killed-synced.avi");
    {
        QFile c(cut);
        ASSERT_TRUE(c.open(QIODevice::WriteOnly));
        ASSERT_EQ(c.write(head), head.size());
    }
    for (const QString& name : {out, cut}) {
        SCOPED_TRACE(name.toStdString());
        const Probed p = probe(name);
        ASSERT_TRUE(p.ok) << p.error;
        ASSERT_NE(p.first("video"), nullptr);
        ASSERT_NE(p.first("audio"), nullptr);
        EXPECT_GE(p.first("video")->frames, synced);
        // The sound indexed with those frames (1920 stereo samples a frame),
        // the last frame's maybe not yet written when it was synced.
        EXPECT_GE(kadtest::audioSamples(name.toStdString()).size(), (synced - 1) * 1920 * 4);
        const auto [frames, bytes] = avidemuxRead(name);
        EXPECT_GE(frames, synced);
        EXPECT_GE(bytes, (synced - 1) * 1920 * 4);
    }
}

// ---- The sound card --------------------------------------------------------------

// "Correction Sync" moves the sound card's sound against the picture by
// whole frames: later (silence first) or earlier (its first moment cut).
TEST_F(CaptureAviWriter, TheSyncCorrectionShiftsTheSoundInTheFile)
{
    constexpr int kFrames = 5;
    constexpr int kShift = kFrames * 1920 * 4; // bytes of 48 kHz stereo sound
    QByteArray sound[3];
    const int corrections[3] = {0, kFrames, -kFrames};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(corrections[i]);
        kadtest::editOptions(cam.Preview(),
                             [&](auto& options) { options.CorrectionSync = corrections[i]; });
        ASSERT_TRUE(preview(Source::DvPal, false, true));
        const QString name = file(QString("sync%1.avi").arg(i).toUtf8());
        ASSERT_TRUE(startCapture(2, name));
        ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= 50; }));
        ASSERT_TRUE(cam.Capture().FinishCapture());
        // Both streams begin at the file's start; the shift is in the sound.
        const kadtest::StreamTimes t = kadtest::streamTimes(name);
        EXPECT_NEAR(t.videoStart, 0, 0.001);
        EXPECT_NEAR(t.audioStart, 0, 0.001);
        sound[i] = kadtest::audioSamples(name.toStdString());
        EXPECT_NEAR(sound[i].size() / (4.0 * 48000), t.videoLength, 0.04);
        ASSERT_GT(sound[i].size(), 4 * kShift);
        cam.FilterGraph().FreeAllFilters();
    }
    const int window = 2 * kShift;
    // Later: silence, then the sound as it was without correction.
    EXPECT_EQ(sound[1].left(kShift), QByteArray(kShift, '\0'));
    EXPECT_EQ(sound[1].mid(kShift, window), sound[0].left(window));
    // Earlier: what came after the first frames from the start.
    EXPECT_EQ(sound[2].left(window), sound[0].mid(kShift, window));
    EXPECT_NE(sound[0].left(kShift), QByteArray(kShift, '\0'));
}

// A sound card that fails during a recompressed DV capture: the picture
// goes on, the file's sound is silence from then on to the picture's end,
// and the loss is told.
TEST_F(CaptureAviWriter, AFailingSoundCardLeavesThePictureGoingWithSilence)
{
    // Paced by the clock, as a sound card is.
    cam.FilterGraph().AudioSource.Bind(
        "Virtual Microphone", [] { return gst_element_factory_make("kadvirtualmicsrc", nullptr); });
    ASSERT_TRUE(preview(Source::DvPal, false, true));
    g_object_set(source, "is-live", TRUE, NULL);
    const QString name = file("mic-lost.avi");
    ASSERT_TRUE(startCapture(2, name));
    ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= 25; }));
    // Two seconds of picture past the last sound.
    const SoundCardLoss loss = unplugSoundCard(25);
    ASSERT_GE(loss.seconds, 0);
    const guint64 wanted = loss.frames;
    ASSERT_TRUE(cam.Capture().FinishCapture());

    const Probed p = probe(name);
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_NE(p.first("video"), nullptr);
    ASSERT_EQ(p.count("audio"), 1);
    const qint64 frames = p.first("video")->frames;
    EXPECT_GE(frames, qint64(wanted));
    const QByteArray sound = kadtest::audioSamples(name.toStdString());
    EXPECT_NEAR(double(sound.size()) / (4.0 * 48000), frames * 0.04, 0.04);
    // Sound at the start, silence over the last second.
    const int second = 48000 * 4;
    EXPECT_NE(sound.left(second), QByteArray(second, '\0'));
    EXPECT_EQ(sound.right(second), QByteArray(second, '\0'));
    EXPECT_EQ(avidemuxRead(name).first, frames);
}

} // namespace
} // namespace kad::test
