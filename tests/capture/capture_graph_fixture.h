#pragma once

// The capture tests' common ground: a data module with a display stand-in,
// the virtual devices run as fast as they can, and ffprobe as the judge of
// every file written.

#include "elements/display_sink.h"
#include "graph/dm_cam.h"
#include "platform/media/gst_ptr.h"
#include "support/edit_options.h"
#include "support/fake_dialogs.h"
#include "support/probe.h"
#include "support/wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>

namespace kad::test {

using kadtest::waitUntil;

using Probed = kadtest::Probe;
using ProbedStream = kadtest::ProbeStream;

// ffprobe reading the whole file (every frame counted).
inline Probed probe(const QString& file)
{
    return kadtest::ffprobe(file.toStdString(), true);
}

// Holds every buffer at a pad until opened. A thread held here lets go when
// its pad is flushed (the graph stopping), as a writer waiting on its other
// input does, so a graph stopped meanwhile never hangs.
class Gate {
public:
    static GstPadProbeReturn hold(GstPad* pad, GstPadProbeInfo*, gpointer self)
    {
        auto* gate = static_cast<Gate*>(self);
        std::unique_lock lock(gate->mutex_);
        gate->held_ = true;
        gate->changed_.notify_all();
        while (!gate->open_ && !GST_PAD_IS_FLUSHING(pad))
            gate->changed_.wait_for(lock, std::chrono::milliseconds(10));
        return GST_PAD_PROBE_OK;
    }
    void open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool held()
    {
        std::lock_guard lock(mutex_);
        return held_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    bool held_ = false;
};

// Buffers that left a pad since its last stream start.
inline GstPadProbeReturn countSinceStart(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    auto* count = static_cast<std::atomic<int>*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER)
        ++*count;
    else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_STREAM_START)
        *count = 0;
    return GST_PAD_PROBE_OK;
}

// The last of `element`'s sink pads whose name begins with `prefix`.
inline PadRef sinkPadNamed(GstElement* element, const char* prefix)
{
    PadRef found;
    GST_OBJECT_LOCK(element);
    for (GList* l = element->sinkpads; l; l = l->next)
        if (g_str_has_prefix(GST_PAD_NAME(l->data), prefix)) found = PadRef::ref(GST_PAD(l->data));
    GST_OBJECT_UNLOCK(element);
    return found;
}

enum class Source { DvPal, DvNtsc, Webcam, Mpeg2, MovieBox };

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        cam.FilterGraph().CheckOptionalFilters();
        GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
        g_object_set(display, "sync", FALSE, "async", FALSE, NULL);
        cam.FilterGraph().SetVideoWindow(display);
        // The sound card: the virtual microphone.
        cam.FilterGraph().AudioSource.Bind("Virtual Microphone", [] {
            GstElement* mic = gst_element_factory_make("kadvirtualmicsrc", nullptr);
            g_object_set(mic, "is-live", FALSE, NULL);
            return mic;
        });
    }

    QString file(const char* name) const { return dir.filePath(name); }

    // The picture's frames ffprobe decodes from `name`; -1 when it cannot
    // read the file or finds no picture in it.
    static qint64 videoFrames(const QString& name)
    {
        const Probed p = probe(name);
        EXPECT_TRUE(p.ok) << name.toStdString() << ": " << p.error;
        return p.ok && p.first("video") ? p.first("video")->frames : -1;
    }

    GstElement* makeSource(Source kind)
    {
        GstElement* e = nullptr;
        switch (kind) {
        case Source::DvPal:
        case Source::DvNtsc:
            e = gst_element_factory_make_full("kadvirtualdvsrc", "camera", TRUE, "ntsc",
                                              kind == Source::DvNtsc, NULL);
            break;
        case Source::Webcam:
            e = gst_element_factory_make("kadvirtualwebcamsrc", nullptr);
            break;
        case Source::Mpeg2:
        case Source::MovieBox:
            e = gst_element_factory_make_full("kadvirtualmpegsrc", "moviebox",
                                              kind == Source::MovieBox, NULL);
            break;
        }
        if (e) g_object_set(e, "is-live", FALSE, NULL);
        if (e && !sentLocation.isEmpty())
            g_object_set(e, "sent-location", sentLocation.toUtf8().constData(), NULL);
        source = e;
        return e;
    }

    // Connects kind and builds its preview with the taps asked for.
    bool preview(Source kind, bool listen = false, bool soundCard = false)
    {
        TgraphOptions options = cam.Preview().Options();
        options.EcouterAudioInclus = listen;
        options.EnregistrerSourceAudio = soundCard;
        options.Audio = listen      ? AudioKind::akIncluded
                        : soundCard ? AudioKind::akSoundCard
                                    : AudioKind::akNone;
        cam.Preview().SetOptions(options);
        if (!cam.Source().ConnectSourceElement("Virtual", makeSource(kind))) return false;
        // The MovieBox cannot stop and run again: its graph is made anew from
        // the connection on, as the window does it.
        cam.SetMovieBoxRebuild([this, kind] {
            if (cam.Source().ConnectSourceElement("Virtual", makeSource(kind))) {
                cam.Source().SetKind(SourceKind::skMovieBoxB);
                cam.Preview().BuildPreviewGraph();
            }
        });
        if (kind == Source::MovieBox) cam.Source().SetKind(SourceKind::skMovieBoxB);
        if (const char* decoder = std::getenv("KADRILLO_TEST_MPEG2_DECODER"))
            cam.FilterGraph().Mpeg2VideoDec.Bind(
                decoder, [decoder] { return gst_element_factory_make(decoder, nullptr); });
        if (!cam.Preview().BuildPreviewGraph()) return false;
        return cam.FilterGraph().RunGraph();
    }

    // Starts the capture of `format` into `name` from the running preview and
    // waits for `frames` frames to reach the writer; a failure is fatal to
    // the caller through ASSERT_NO_FATAL_FAILURE.
    void beginCapture(int format, const QString& name, guint64 frames = 0)
    {
        kadtest::editOptions(cam.Capture(), [&](auto& options) { options.FormatIndex = format; });
        cam.Capture().SetCurrentVideoFileName(name);
        ASSERT_TRUE(cam.Capture().BuildCaptureGraph());
        ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= frames; }))
            << "only " << cam.Capture().CapturedFrames() << " frames captured";
    }

    // Starts the capture of format into name, lets `frames` frames reach the
    // writer, runs `meanwhile` while the capture still runs, and finishes
    // the file.
    bool capture(int format, const QString& name, guint64 frames = 40,
                 const std::function<void()>& meanwhile = {})
    {
        kadtest::editOptions(cam.Capture(), [&](auto& options) { options.FormatIndex = format; });
        cam.Capture().SetCurrentVideoFileName(name);
        if (!cam.Capture().BuildCaptureGraph()) return false;
        const bool reached = waitUntil([&] { return cam.Capture().CapturedFrames() >= frames; });
        EXPECT_TRUE(reached) << "only " << cam.Capture().CapturedFrames()
                             << " frames captured, graph "
                             << gst_element_state_get_name(cam.FilterGraph().GraphState());
        if (!reached)
            GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(cam.FilterGraph().fg()), GST_DEBUG_GRAPH_SHOW_ALL,
                                      "stuck");
        if (reached && meanwhile) meanwhile();
        return cam.Capture().FinishCapture() && reached;
    }

    // What a sound card unplugged during a capture left: the seconds of
    // sound it sent (20 ms buffers; it may have run ahead of the picture),
    // and the frames the picture reached past them. seconds < 0: the loss
    // went untold.
    struct SoundCardLoss {
        double seconds = -1;
        guint64 frames = 0;
    };

    // Unplugs the sound card of the running capture at `fps` frames a
    // second: the loss must be told with the time it happened, and the
    // picture go on well past the last sound without the capture stopping.
    SoundCardLoss unplugSoundCard(double fps)
    {
        QString lost;
        bool stopped = false;
        const auto told = QObject::connect(&cam.Capture(), &TcaptureRun::CaptureSoundLost,
                                           [&](const QString& text) { lost = text; });
        const auto ended = QObject::connect(&cam.Capture(), &TcaptureRun::CaptureStopped,
                                            [&](const QString&) { stopped = true; });
        SoundCardLoss loss;
        g_object_set(cam.FilterGraph().AudioSource.Element(), "unplug", TRUE, NULL);
        if (waitUntil([&] { return !lost.isEmpty(); }, 10000)) {
            EXPECT_TRUE(lost.contains(QRegularExpression("\\d\\d:\\d\\d:\\d\\d")))
                << lost.toStdString();
            guint64 buffers = 0;
            g_object_get(cam.FilterGraph().AudioSource.Element(), "frames-sent", &buffers, NULL);
            loss.seconds = buffers * 0.02;
            loss.frames = guint64(loss.seconds * fps) + 50;
            EXPECT_TRUE(
                waitUntil([&] { return cam.Capture().CapturedFrames() >= loss.frames; }, 15000))
                << "the picture stopped with the sound at " << cam.Capture().CapturedFrames()
                << " frames";
            EXPECT_TRUE(cam.Capture().Capturing());
            EXPECT_FALSE(stopped);
        } else {
            ADD_FAILURE() << "the lost sound went unseen";
        }
        QObject::disconnect(told);
        QObject::disconnect(ended);
        return loss;
    }

    void TearDown() override
    {
        cam.FilterGraph().FreeAllFilters();
        // Lets a failing run's files be looked at afterwards.
        if (qEnvironmentVariableIsSet("KADRILLO_KEEP_TEST_FILES")) {
            dir.setAutoRemove(false);
            std::fprintf(stderr, "test files kept in %s\n", qPrintable(dir.path()));
        }
    }

    QTemporaryDir dir;
    FakeDialogs boxes;
    TdmCam cam;
    GstElement* source = nullptr;
    // Where the next source records what it sends (empty: nowhere).
    QString sentLocation;
};

} // namespace kad::test
