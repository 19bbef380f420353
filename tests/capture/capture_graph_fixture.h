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
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace kad::test {

using kadtest::waitUntil;

// What ffprobe reads of one stream.
struct ProbedStream {
    QString type; // "video", "audio"
    QString codec;
    QString tag;
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    qint64 frames = -1;
};

struct Probed {
    bool ok = false;
    QString format;
    std::vector<ProbedStream> streams;
    QString error;

    const ProbedStream* first(const QString& type) const
    {
        for (const ProbedStream& s : streams)
            if (s.type == type) return &s;
        return nullptr;
    }
    int count(const QString& type) const
    {
        int n = 0;
        for (const ProbedStream& s : streams)
            n += s.type == type;
        return n;
    }
};

// ffprobe reading the whole file (every frame counted).
inline Probed probe(const QString& file)
{
    const kadtest::Probe read = kadtest::ffprobe(file.toStdString(), true);
    Probed p;
    p.ok = read.ok;
    p.format = QString::fromStdString(read.format);
    p.error = QString::fromStdString(read.error);
    for (const kadtest::ProbeStream& s : read.streams) {
        p.streams.push_back({QString::fromStdString(s.type), QString::fromStdString(s.codec),
                             QString::fromStdString(s.codecTag), s.width, s.height, s.sampleRate,
                             std::max(s.frames, 0LL)});
    }
    return p;
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
