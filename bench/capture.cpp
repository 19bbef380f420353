// The capture paths, measured.
//
//   bench_capture [--frames N] [--repeat R] [--path NAME]
//       Non-live throughput of each writer path, side by side with ffmpeg
//       doing the same job on the same input files in the same run:
//         dv-type2  DV to type-2 AVI    (ffmpeg -c copy -f avi)
//         dv-type1  DV to type-1 AVI    (ffmpeg -c copy -f avi; raw DV also shown)
//         raw-dv    raw video to DV     (ffmpeg -c:v dvvideo)
//         raw-wmv   raw video to WMV    (ffmpeg -c:v wmv2 -c:a wmav2)
//       The inputs are recorded first from the virtual devices: N frames of
//       the PAL DV camcorder (.dv), N frames of the webcam (640x480 YUY2,
//       .yuv, read as 25 fps) and the microphone (48 kHz stereo, .pcm) as
//       the sound card of the raw paths. Kadrillo reads them through file
//       sources connected as its capture source, so both programs read the
//       same bytes from the page cache. Default N: 1500 (one PAL minute).
//
//       Kadrillo is measured twice per path, both times through the graph
//       BuildCaptureGraph builds on the preview:
//         writer path alone: the preview's own branch (the Smart Tee's
//           preview output for DV kept as it comes, else the decoded video
//           tap's branch to the sample grabber and the display) lets its
//           first frame through and drops the rest, so only what the file
//           needs is done;
//         with its preview: every frame is also decoded (DV), converted for
//           the sample grabber and handed to the display (not synced to the
//           clock), as in the program.
//       Time runs from BuildCaptureGraph to the file complete (the writer's
//       end of stream taken) and, with the preview, every frame shown;
//       ffmpeg's from its start to its exit. Each figure is the fastest of
//       --repeat runs (default 3): the machine is shared.
//
//   bench_capture --live [SECONDS]     (default 60)
//       A live capture of the virtual PAL DV camcorder to DV type 2 with
//       its preview (display synced to the clock), as the program does it:
//       frames produced, captured and lost, the file read by ffprobe, and
//       the process's CPU share.
//
//   bench_capture --big [FRAMES]       (default 31500: 4.5 GB of DV video)
//       Writes a type-2 file over 4 GB through the capture graph's AVI
//       writer (kadaviwriter, OpenDML), fed non-live from memory with the preview showing
//       its first frame only, checks it with ffprobe and deletes it. Needs
//       the room in TMPDIR.
//
// Every figure is printed; none is judged.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "elements/plugin.h"
#include "graph/dm_cam.h"
#include "graph/frame_counter.h"
#include "platform/media/gst_ptr.h"
#include "system/devices/video_sources.h"
#include "virtual/virtual_plugin.h"

namespace {

using kad::bench::cpuSeconds;
using kad::bench::idleFor;
using kad::bench::waitFor;

constexpr int kDvFrameBytes = 144000; // PAL
constexpr int kRawWidth = 640;
constexpr int kRawHeight = 480;
constexpr int kPcmBytesPerFrame = 48000 / 25 * 4;

// ---- Small tools -----------------------------------------------------------------

// Runs a pipeline description to its end; false on an error.
bool launch(const QString& description)
{
    GError* error = nullptr;
    kad::ElementRef p =
        kad::ElementRef::sink(gst_parse_launch(description.toUtf8().constData(), &error));
    if (error) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(description), error->message);
        g_error_free(error);
        return false;
    }
    kad::BusRef bus(gst_element_get_bus(p.get()));
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    kad::MessageRef msg(gst_bus_timed_pop_filtered(
        bus.get(), GST_CLOCK_TIME_NONE, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    const bool ok = msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS;
    gst_element_set_state(p.get(), GST_STATE_NULL);
    if (!ok) std::fprintf(stderr, "%s failed\n", qPrintable(description));
    return ok;
}

GstElement* parseBin(const QString& description)
{
    GError* error = nullptr;
    GstElement* bin =
        gst_parse_bin_from_description(description.toUtf8().constData(), TRUE, &error);
    if (error) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(description), error->message);
        g_error_free(error);
    }
    return bin;
}

void warm(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return;
    while (!f.read(1 << 22).isEmpty()) {
    }
}

// What ffprobe reads of a file, packets counted (no decoding).
struct Probe {
    bool ok = false;
    QString format;
    double duration = 0;
    qint64 size = 0;
    struct Stream {
        QString type;
        QString codec;
        qint64 packets = -1;
        double duration = 0;
    };
    std::vector<Stream> streams;

    qint64 packets(const QString& type) const
    {
        for (const Stream& s : streams)
            if (s.type == type) return s.packets;
        return -1;
    }
    QString summary() const
    {
        QStringList parts;
        for (const Stream& s : streams)
            parts << QStringLiteral("%1 %2 %3 packets").arg(s.type, s.codec).arg(s.packets);
        return parts.join(", ");
    }
};

Probe probe(const QString& file)
{
    Probe p;
    QProcess ff;
    ff.start("ffprobe", {"-v", "error", "-count_packets", "-show_entries",
                         "stream=codec_type,codec_name,nb_read_packets,duration:format=format_"
                         "name,duration,size",
                         "-of", "json", file});
    if (!ff.waitForFinished(600000)) return p;
    const QJsonObject root = QJsonDocument::fromJson(ff.readAllStandardOutput()).object();
    const QJsonObject format = root["format"].toObject();
    p.format = format["format_name"].toString();
    p.duration = format["duration"].toString().toDouble();
    p.size = format["size"].toString().toLongLong();
    for (const QJsonValue& v : root["streams"].toArray()) {
        const QJsonObject o = v.toObject();
        p.streams.push_back({o["codec_type"].toString(), o["codec_name"].toString(),
                             o["nb_read_packets"].toString().toLongLong(),
                             o["duration"].toString().toDouble()});
    }
    p.ok = ff.exitCode() == 0 && !p.format.isEmpty();
    return p;
}

// The top-level RIFF chunks of an AVI file: "AVI " then any "AVIX".
QStringList riffChunks(const QString& file)
{
    QStringList chunks;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return chunks;
    qint64 at = 0;
    while (at + 12 <= f.size() && f.seek(at)) {
        const QByteArray head = f.read(12);
        if (head.size() < 12 || !head.startsWith("RIFF")) break;
        const auto* b = reinterpret_cast<const unsigned char*>(head.constData());
        const quint32 size = b[4] | (b[5] << 8) | (b[6] << 16) | (quint32(b[7]) << 24);
        chunks << QString::fromLatin1(head.mid(8, 4));
        at += 8 + qint64(size) + (size & 1);
    }
    return chunks;
}

// ---- Figures -----------------------------------------------------------------------

struct Run {
    bool ok = false;
    guint64 frames = 0;
    double wall = 0;
    double cpu = 0;
    qint64 fileFrames = -1; // ffprobe's count of the file's video packets
    qint64 shown = -1;      // frames the preview's display rendered
    double fps() const { return wall > 0 ? frames / wall : 0; }
    double cpuMs() const { return frames > 0 ? 1000.0 * cpu / frames : 0; }
};

void printRun(const char* who, const Run& r, const Run* ffmpeg)
{
    if (!r.ok) {
        std::printf("  %-28s failed\n", who);
        return;
    }
    std::printf("  %-28s %6llu frames %9.1f fps %8.3f ms CPU/frame", who,
                static_cast<unsigned long long>(r.frames), r.fps(), r.cpuMs());
    if (ffmpeg && ffmpeg->ok && ffmpeg->fps() > 0 && ffmpeg->cpuMs() > 0)
        std::printf("  | x%.3f the fps, x%.2f the CPU of ffmpeg", r.fps() / ffmpeg->fps(),
                    r.cpuMs() / ffmpeg->cpuMs());
    std::printf("  (file: %lld frames", static_cast<long long>(r.fileFrames));
    if (r.shown >= 0) std::printf(", shown: %lld", static_cast<long long>(r.shown));
    std::printf(")\n");
}

Run ffmpeg(const QStringList& args, const QString& out, guint64 frames)
{
    Run r;
    QStringList all{"-v", "error", "-nostdin", "-y"};
    all << args << out;
    const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start("ffmpeg", all);
    const bool done = p.waitForFinished(-1);
    r.wall = t.nsecsElapsed() / 1e9;
    r.cpu = cpuSeconds(RUSAGE_CHILDREN) - cpu0;
    r.ok = done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!r.ok)
        std::fprintf(stderr, "ffmpeg %s: %s\n", qPrintable(all.join(' ')),
                     p.readAllStandardError().constData());
    r.frames = frames;
    r.fileFrames = probe(out).packets("video");
    QFile::remove(out);
    return r;
}

// ---- Probes on Kadrillo's graph -------------------------------------------------------

// Lets one buffer through (so a demultiplexer behind makes its pads and
// the branch ends normally), then drops every other buffer; events pass.
struct FirstOnly {
    std::atomic<int> seen{0};
};

GstPadProbeReturn onPreviewBuffer(GstPad*, GstPadProbeInfo*, gpointer data)
{
    auto* f = static_cast<FirstOnly*>(data);
    return f->seen.fetch_add(1) == 0 ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

// True when the stream leaving src reaches target (a short walk downstream).
bool leadsTo(GstPad* src, GstElement* target, int depth = 10)
{
    kad::PadRef peer(gst_pad_get_peer(src));
    if (!peer || depth == 0) return false;
    kad::ElementRef next(gst_pad_get_parent_element(peer.get()));
    if (!next) return false;
    if (next.get() == target) return true;
    bool found = false;
    GstIterator* it = gst_element_iterate_src_pads(next.get());
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        found = leadsTo(GST_PAD(g_value_get_object(&item)), target, depth - 1);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

// The pad where the preview's own work begins: the Smart Tee's preview
// output when the file takes the stream as it comes, else the decoded video
// tap's output towards the sample grabber.
kad::PadRef previewOnlyPad(kad::TdmCam& cam, bool streamKept)
{
    if (streamKept && cam.FilterGraph().Smarttee.InGraph())
        return kad::PadRef(
            gst_element_get_static_pad(cam.FilterGraph().Smarttee.Element(), "preview"));
    if (!cam.FilterGraph().Infinite2.InGraph() || !cam.FilterGraph().sg.InGraph()) return {};
    kad::PadRef found;
    GstIterator* it = gst_element_iterate_src_pads(cam.FilterGraph().Infinite2.Element());
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* pad = GST_PAD(g_value_get_object(&item));
        if (leadsTo(pad, cam.FilterGraph().sg.Element())) found = kad::PadRef::ref(pad);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

// Holds the source's buffers until released (events pass), so the clock of
// a run starts with every probe in place. `holding` tells whether a buffer
// waits at the gate (the source pad's frame counter has counted it).
struct Gate {
    kad::PadRef pad;
    gulong id = 0;
    std::atomic<bool> holding{false};
    void close(GstPad* p)
    {
        pad = kad::PadRef::ref(p);
        id = gst_pad_add_probe(
            p, GstPadProbeType(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER),
            [](GstPad*, GstPadProbeInfo*, gpointer self) {
                static_cast<Gate*>(self)->holding = true;
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
    }
    void open()
    {
        if (pad && id) gst_pad_remove_probe(pad.get(), id);
        id = 0;
    }
    ~Gate() { open(); }
};

// The writer's end of stream: seen on the file sink's input, handed to the
// GUI thread's event loop.
struct EndWatch {
    std::atomic<bool> ended{false};
    std::atomic<int> open{0}; // writer inputs not yet ended
    QEventLoop* loop = nullptr;
};

// Every input of the writer (a file sink has one, kadaviwriter one for the
// picture and one for the sound): the file is complete once all ended.
std::vector<kad::PadRef> writerInputs(GstElement* writer)
{
    std::vector<kad::PadRef> pads;
    if (!writer) return pads;
    GST_OBJECT_LOCK(writer);
    for (GList* l = writer->sinkpads; l; l = l->next)
        pads.push_back(kad::PadRef::ref(GST_PAD(l->data)));
    GST_OBJECT_UNLOCK(writer);
    return pads;
}

GstPadProbeReturn onSinkEvent(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS) return GST_PAD_PROBE_OK;
    auto* w = static_cast<EndWatch*>(data);
    if (--w->open > 0) return GST_PAD_PROBE_OK;
    if (!w->ended.exchange(true) && w->loop)
        QMetaObject::invokeMethod(
            w->loop, [loop = w->loop] { loop->exit(0); }, Qt::QueuedConnection);
    return GST_PAD_PROBE_OK;
}

// ---- Throughput ---------------------------------------------------------------------

struct Inputs {
    QString dv, yuv, pcm;
    guint64 frames = 0;
};

struct Path {
    const char* key;
    const char* title;
    kad::SourceKind kind;
    int format;
    bool soundCard;
    const char* extension;
    QStringList ffmpegArgs;
    QString ffmpegNote;
};

QString dvSource(const Inputs& in)
{
    return "filesrc location=\"" + in.dv + "\" blocksize=" + QString::number(kDvFrameBytes) +
           " ! capsfilter caps=\"video/x-dv,systemstream=true,format=PAL\"";
}

QString rawSource(const Inputs& in)
{
    return QStringLiteral("filesrc location=\"%1\" blocksize=%2 ! rawvideoparse width=%3 "
                          "height=%4 format=yuy2 framerate=25/1")
        .arg(in.yuv)
        .arg(kRawWidth * kRawHeight * 2)
        .arg(kRawWidth)
        .arg(kRawHeight);
}

QString pcmSource(const Inputs& in)
{
    return "filesrc location=\"" + in.pcm +
           "\" ! rawaudioparse format=pcm pcm-format=s16le sample-rate=48000 num-channels=2";
}

// Seconds FinishCapture took after the writer had ended by itself, from
// the first run (the program's stop after a source that ended).
double gFinishAfterEnd = -1;

Run kadrillo(const Path& path, const Inputs& in, bool withPreview, const QString& out)
{
    Run r;
    // What the graph's probes use outlives the graph.
    QEventLoop loop;
    EndWatch end;
    end.loop = &loop;
    FirstOnly firstOnly;
    Gate gate;
    kad::TdmCam cam;
    cam.FilterGraph().CheckOptionalFilters();
    GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
    g_object_set(display, "sync", FALSE, "async", FALSE, NULL);
    cam.FilterGraph().SetVideoWindow(display);
    if (path.soundCard) {
        {
            kad::TgraphOptions options = cam.Preview().Options();
            options.EnregistrerSourceAudio = true;
            options.Audio = kad::AudioKind::akSoundCard;
            cam.Preview().SetOptions(options);
        }
        const QString pcm = pcmSource(in);
        cam.FilterGraph().AudioSource.Bind("PCM file", [pcm] { return parseBin(pcm); });
    }
    const QString source = path.kind == kad::SourceKind::skDV ? dvSource(in) : rawSource(in);
    if (!cam.Source().ConnectSourceElement("File", parseBin(source)) ||
        cam.Source().Kind() != path.kind || !cam.Preview().BuildPreviewGraph()) {
        std::fprintf(stderr, "no preview of %s\n", qPrintable(source));
        return r;
    }
    if (!withPreview) {
        const bool streamKept = path.kind == kad::SourceKind::skDV && path.format <= 1;
        kad::PadRef cut = previewOnlyPad(cam, streamKept);
        if (!cut) {
            std::fprintf(stderr, "no preview branch found to leave out\n");
            return r;
        }
        gst_pad_add_probe(cut.get(), GST_PAD_PROBE_TYPE_BUFFER, onPreviewBuffer, &firstOnly,
                          nullptr);
    }
    gate.close(cam.Source().Pin().get());
    {
        kad::TcaptureOptions options = cam.Capture().Options();
        options.FormatIndex = path.format;
        cam.Capture().SetOptions(options);
    }
    cam.Capture().SetCurrentVideoFileName(out);

    QObject::connect(&cam.FilterGraph(), &kad::TfilterGraph::GraphError, &loop,
                     [&](const QString& text) {
                         std::fprintf(stderr, "graph error: %s\n", qPrintable(text));
                         loop.exit(1);
                     });
    QObject::connect(&cam.Capture(), &kad::TcaptureRun::CaptureStopped, &loop,
                     [&](const QString& text) {
                         std::fprintf(stderr, "capture stopped: %s\n", qPrintable(text));
                         loop.exit(1);
                     });

    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    if (!cam.Capture().BuildCaptureGraph()) {
        std::fprintf(stderr, "no capture into %s\n", qPrintable(out));
        return r;
    }
    const std::vector<kad::PadRef> sinkIns = writerInputs(cam.Capture().CaptureFileSink());
    if (sinkIns.empty()) return r;
    end.open = int(sinkIns.size());
    for (const kad::PadRef& in : sinkIns)
        gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, onSinkEvent, &end,
                          nullptr);
    gate.open();
    // A stall shows as no new frame for a while.
    guint64 lastFrames = 0;
    QElapsedTimer still;
    still.start();
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
        if (cam.Capture().CapturedFrames() != lastFrames) {
            lastFrames = cam.Capture().CapturedFrames();
            still.restart();
        } else if (still.elapsed() > 20000) {
            std::fprintf(stderr, "stalled after %llu frames\n",
                         static_cast<unsigned long long>(lastFrames));
            loop.exit(1);
        }
    });
    watchdog.start(500);
    // With the preview, the run ends when the file is complete and every
    // frame has been shown as well.
    bool graphEnded = false;
    QObject::connect(&cam.FilterGraph(), &kad::TfilterGraph::EndOfStream, &loop, [&] {
        graphEnded = true;
        loop.exit(0);
    });
    auto done = [&] { return end.ended && (!withPreview || graphEnded); };
    bool ended = true;
    while (!done())
        if (loop.exec() != 0) {
            ended = false;
            break;
        }
    watchdog.stop();
    if (ended) {
        // The writer is done with its end of stream once its inputs' stream
        // locks are free.
        for (const kad::PadRef& in : sinkIns) {
            GST_PAD_STREAM_LOCK(in.get());
            GST_PAD_STREAM_UNLOCK(in.get());
        }
    }
    r.wall = t.nsecsElapsed() / 1e9;
    r.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    r.frames = cam.Capture().CapturedFrames();
    r.ok = ended && r.frames > 0;
    guint64 rendered = 0;
    g_object_get(cam.FilterGraph().VideoWindowFilter(), "frames-rendered", &rendered, NULL);
    r.shown = qint64(rendered);

    // Measured once; later runs do not wait the whole time again.
    QElapsedTimer finish;
    finish.start();
    cam.Capture().FinishCapture(gFinishAfterEnd < 0 ? 5000 : 100);
    if (gFinishAfterEnd < 0 && ended) gFinishAfterEnd = finish.nsecsElapsed() / 1e9;
    cam.FilterGraph().StopGraph();
    cam.FilterGraph().FreeAllFilters();
    r.fileFrames = probe(out).packets("video");
    QFile::remove(out);
    return r;
}

bool makeInputs(const QString& dir, guint64 frames, Inputs& in)
{
    in.frames = frames;
    in.dv = dir + "/in.dv";
    in.yuv = dir + "/in.yuv";
    in.pcm = dir + "/in.pcm";
    const QString n = QString::number(frames);
    const bool ok =
        launch("kadvirtualdvsrc is-live=false num-buffers=" + n + " ! filesink location=\"" +
               in.dv + "\"") &&
        launch("kadvirtualwebcamsrc is-live=false num-buffers=" + n +
               QStringLiteral(" ! video/x-raw,format=YUY2,width=%1,height=%2 ! filesink "
                              "location=\"%3\"")
                   .arg(kRawWidth)
                   .arg(kRawHeight)
                   .arg(in.yuv)) &&
        // The microphone sends 20 ms a buffer: two a PAL frame.
        launch("kadvirtualmicsrc is-live=false num-buffers=" + QString::number(2 * frames) +
               " ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! filesink location=\"" + in.pcm +
               "\"");
    if (!ok) return false;
    const bool sizes = QFile(in.dv).size() == qint64(frames) * kDvFrameBytes &&
                       QFile(in.yuv).size() == qint64(frames) * kRawWidth * kRawHeight * 2 &&
                       QFile(in.pcm).size() == qint64(frames) * kPcmBytesPerFrame;
    if (!sizes) std::fprintf(stderr, "the recorded inputs do not have the expected sizes\n");
    warm(in.dv);
    warm(in.yuv);
    warm(in.pcm);
    return sizes;
}

// The fastest of `repeats` runs (others' work on the machine only slows).
Run best(const std::function<Run()>& once, int repeats)
{
    Run b;
    for (int i = 0; i < repeats; ++i) {
        const Run r = once();
        if (!b.ok || (r.ok && r.wall < b.wall)) b = r;
    }
    return b;
}

QString loadAverage()
{
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readLine()).section(' ', 0, 2)
                                       : QString();
}

int throughput(guint64 frames, const QString& only, int repeats)
{
    QTemporaryDir dir;
    Inputs in;
    std::printf("recording %llu frames of the virtual devices...\n",
                static_cast<unsigned long long>(frames));
    if (!makeInputs(dir.path(), frames, in)) return 1;

    const QStringList dvIn{"-f", "dv", "-i", in.dv};
    const QStringList rawIn{
        "-f",         "rawvideo",    "-pix_fmt",
        "yuyv422",    "-video_size", QStringLiteral("%1x%2").arg(kRawWidth).arg(kRawHeight),
        "-framerate", "25",          "-i",
        in.yuv,       "-f",          "s16le",
        "-ar",        "48000",       "-ac",
        "2",          "-i",          in.pcm};
    // Kadrillo's DV encoder makes PAL 4:2:0 at 720x576; its Windows Media
    // writer takes the "High" level: WMV 8 at 2000 kbit/s, 720x576, 25 fps,
    // WMA 2 at 128 kbit/s, 48 kHz stereo.
    const std::vector<Path> paths{
        {"dv-type2", "DV -> type-2 AVI", kad::SourceKind::skDV, 1, false, "avi",
         dvIn + QStringList{"-c", "copy", "-f", "avi"}, "ffmpeg -f dv -i in.dv -c copy -f avi"},
        {"dv-type1", "DV -> type-1 AVI", kad::SourceKind::skDV, 0, false, "avi",
         dvIn + QStringList{"-c", "copy", "-f", "avi"}, "ffmpeg -f dv -i in.dv -c copy -f avi"},
        {"raw-dv", "raw 640x480 + PCM -> DV (type-2 AVI)", kad::SourceKind::skAnalog, 1, true,
         "avi",
         rawIn + QStringList{"-vf", "scale=720:576", "-pix_fmt", "yuv420p", "-c:v", "dvvideo",
                             "-c:a", "pcm_s16le", "-f", "avi"},
         "ffmpeg raw+pcm -vf scale=720:576 -c:v dvvideo -c:a pcm_s16le -f avi"},
        {"raw-wmv", "raw 640x480 + PCM -> WMV", kad::SourceKind::skAnalog, 2, true, "wmv",
         rawIn + QStringList{"-vf", "scale=720:576", "-c:v", "wmv2", "-b:v", "2000k", "-c:a",
                             "wmav2", "-b:a", "128k", "-ar", "48000", "-ac", "2", "-f", "asf"},
         "ffmpeg raw+pcm -vf scale=720:576 -c:v wmv2 -b:v 2000k -c:a wmav2 -b:a 128k -f asf"},
    };
    std::printf("%llu frames a run, non-live, fastest of %d runs; CPU = user + system of every "
                "thread; load average %s\n",
                static_cast<unsigned long long>(frames), repeats, qPrintable(loadAverage()));
    for (const Path& p : paths) {
        if (!only.isEmpty() && only != QLatin1String(p.key)) continue;
        const QString kOut = dir.filePath(QStringLiteral("k.") + p.extension);
        const QString fOut = dir.filePath(QStringLiteral("f.") + p.extension);
        std::printf("\n%s  [ffmpeg: %s]\n", p.title, qPrintable(p.ffmpegNote));
        const Run f = best([&] { return ffmpeg(p.ffmpegArgs, fOut, frames); }, repeats);
        const Run alone = best([&] { return kadrillo(p, in, false, kOut); }, repeats);
        const Run whole = best([&] { return kadrillo(p, in, true, kOut); }, repeats);
        printRun("kadrillo, writer path alone", alone, &f);
        printRun("kadrillo, with its preview", whole, &f);
        printRun("ffmpeg", f, nullptr);
        if (QLatin1String(p.key) == QLatin1String("dv-type1")) {
            const Run raw = best(
                [&] {
                    return ffmpeg(dvIn + QStringList{"-c", "copy", "-f", "dv"},
                                  dir.filePath("f.dv"), frames);
                },
                repeats);
            printRun("ffmpeg -c copy -f dv (raw)", raw, nullptr);
        }
    }
    std::printf("\nload average at the end: %s\n", qPrintable(loadAverage()));
    if (gFinishAfterEnd >= 0)
        std::printf("FinishCapture after the writer had ended by itself took %.3f s\n",
                    gFinishAfterEnd);
    return 0;
}

// ---- Live ----------------------------------------------------------------------------

int live(int seconds)
{
    kad::TvideoSourceList sources;
    if (!kad::bench::listVirtualCamcorder(sources)) return 1;
    std::atomic<guint64> shown{0};
    QTemporaryDir dir;
    const QString file = dir.filePath("live.avi");
    double wall = 0, cpu = 0, finishSeconds = 0;
    guint64 produced = 0, reached = 0, captured = 0, lost = 0, gaps = 0;
    guint64 rendered0 = 0, dropped0 = 0, rendered = 0, dropped = 0;
    {
        kad::TdmCam cam;
        GstElement* display = kad::bench::startLivePreview(cam, *sources.At(0), shown);
        if (!display) return 1;
        const kad::bench::CpuClock clock;
        if (!kad::bench::startDvCapture(cam, file)) return 1;
        g_object_get(display, "frames-rendered", &rendered0, "frames-dropped", &dropped0, NULL);
        idleFor(seconds * 1000);
        wall = clock.seconds();
        cpu = clock.cpu();
        g_object_get(display, "frames-rendered", &rendered, "frames-dropped", &dropped, NULL);
        // The stop: no frame leaves the source any more; once the graph has
        // moved what it can, count, then end the file as the program does.
        // What the source produced and the file lacks is lost.
        Gate gate;
        gate.close(cam.Source().Pin().get());
        guint64 last = ~0ull;
        waitFor(
            [&] {
                const guint64 now = cam.Capture().CapturedFrames();
                const bool still = now == last;
                last = now;
                return still;
            },
            5000, 500);
        produced = cam.Preview().SourceFrames().Frames() - (gate.holding ? 1 : 0);
        gaps = cam.Preview().SourceFrames().Gaps();
        reached = cam.Capture().CapturedFrames();
        QElapsedTimer finish;
        finish.start();
        cam.Capture().FinishCapture();
        finishSeconds = finish.nsecsElapsed() / 1e9;
        captured = cam.Capture().CapturedFrames();
        lost = cam.Capture().LostFrames();
        gate.open();
        kad::bench::stopLivePreview(cam);
    }
    const Probe p = probe(file);
    const qint64 inFile = p.packets("video");
    const double device = kad::bench::deviceCpuShare(std::min(seconds, 10));
    auto u = [](guint64 v) { return static_cast<unsigned long long>(v); };
    std::printf("live DV type-2 capture with preview, virtual PAL camcorder, %.1f s (%.0f frames "
                "at 25 fps); load average %s\n",
                wall, wall * 25, qPrintable(loadAverage()));
    std::printf("  frames the source produced     : %llu (frame numbers skipped: %llu)\n",
                u(produced), u(gaps));
    std::printf("  reached the writer by the stop : %llu (%llu still held in the graph)\n",
                u(reached), u(produced - std::min(produced, reached)));
    std::printf("  captured (CapturedFrames)      : %llu; LostFrames() (status bar): %llu\n",
                u(captured), u(lost));
    std::printf("  ffprobe: %s, %s, duration %.2f s, %lld bytes; video frames == captured: "
                "%s\n",
                qPrintable(p.format), qPrintable(p.summary()), p.duration,
                static_cast<long long>(p.size), inFile == qint64(captured) ? "yes" : "NO");
    const long long missing = static_cast<long long>(produced) - inFile;
    if (missing >= 0)
        std::printf("  produced but not in the file   : %lld\n", missing);
    else
        std::printf("  produced but not in the file   : 0 (the file also holds %lld frame(s) "
                    "already on their way when the capture began)\n",
                    -missing);
    std::printf("  preview while capturing        : %llu frames shown, %llu dropped (display "
                "callbacks in all: %llu)\n",
                u(rendered - rendered0), u(dropped - dropped0), u(shown.load()));
    kad::bench::printCpu(cpu, wall, device);
    std::printf("  FinishCapture took %.3f s\n", finishSeconds);
    return 0;
}

// ---- Over 4 GB ---------------------------------------------------------------------------

// An application source that plays DV frames from memory, cycled, numbered
// like a device's (offset = frame number).
struct Feeder {
    QByteArray frames;
    guint64 total = 0;
    guint64 next = 0;
    bool ended = false;
};

void onNeedData(GstAppSrc* src, guint, gpointer data)
{
    auto* f = static_cast<Feeder*>(data);
    if (f->next >= f->total) {
        if (!f->ended) gst_app_src_end_of_stream(src);
        f->ended = true;
        return;
    }
    const guint64 have = guint64(f->frames.size()) / kDvFrameBytes;
    auto* at = const_cast<char*>(f->frames.constData()) + (f->next % have) * kDvFrameBytes;
    GstBuffer* b = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, at, kDvFrameBytes, 0,
                                               kDvFrameBytes, nullptr, nullptr);
    GST_BUFFER_PTS(b) = gst_util_uint64_scale(f->next, GST_SECOND, 25);
    GST_BUFFER_DURATION(b) = GST_SECOND / 25;
    GST_BUFFER_OFFSET(b) = f->next;
    ++f->next;
    gst_app_src_push_buffer(src, b);
}

int big(guint64 frames)
{
    QTemporaryDir dir;
    const QString dv = dir.filePath("in.dv");
    const QString out = dir.filePath("big.avi");
    const qint64 need = qint64(frames) * (kDvFrameBytes + kPcmBytesPerFrame) + (512ll << 20);
    if (QStorageInfo(dir.path()).bytesAvailable() < need) {
        std::printf("not enough room in %s (%lld bytes needed)\n", qPrintable(dir.path()),
                    static_cast<long long>(need));
        return 1;
    }
    if (!launch("kadvirtualdvsrc is-live=false num-buffers=250 ! filesink location=\"" + dv + "\""))
        return 1;
    Feeder feeder;
    {
        QFile f(dv);
        if (!f.open(QIODevice::ReadOnly) || f.size() < kDvFrameBytes) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(dv));
            return 1;
        }
        feeder.frames = f.readAll();
    }
    feeder.total = frames;

    FirstOnly firstOnly;
    EndWatch end;
    kad::TdmCam cam;
    cam.FilterGraph().CheckOptionalFilters();
    GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
    g_object_set(display, "sync", FALSE, "async", FALSE, NULL);
    cam.FilterGraph().SetVideoWindow(display);
    // The caps filter tells the source's kind before any data: an appsrc
    // answers a caps query with ANY until it has negotiated.
    GstElement* bin = parseBin(QStringLiteral("appsrc name=feed format=time is-live=false "
                                              "max-bytes=%1 ! capsfilter "
                                              "caps=\"video/x-dv,systemstream=true,format=PAL\"")
                                   .arg(25 * kDvFrameBytes));
    if (!bin) return 1;
    {
        kad::ElementRef src(gst_bin_get_by_name(GST_BIN(bin), "feed"));
        kad::CapsRef caps(gst_caps_from_string("video/x-dv,systemstream=true,format=PAL"));
        g_object_set(src.get(), "caps", caps.get(), NULL);
        GstAppSrcCallbacks callbacks{};
        callbacks.need_data = onNeedData;
        gst_app_src_set_callbacks(GST_APP_SRC(src.get()), &callbacks, &feeder, nullptr);
    }
    if (!cam.Source().ConnectSourceElement("DV frames", bin) ||
        cam.Source().Kind() != kad::SourceKind::skDV || !cam.Preview().BuildPreviewGraph()) {
        std::fprintf(stderr, "no DV preview of the frames\n");
        return 1;
    }
    // The file is the point here: the preview shows its first frame only.
    kad::PadRef cut = previewOnlyPad(cam, true);
    if (cut)
        gst_pad_add_probe(cut.get(), GST_PAD_PROBE_TYPE_BUFFER, onPreviewBuffer, &firstOnly,
                          nullptr);
    {
        kad::TcaptureOptions options = cam.Capture().Options();
        options.FormatIndex = 1;
        cam.Capture().SetOptions(options);
    }
    cam.Capture().SetCurrentVideoFileName(out);
    std::printf(
        "writing %llu PAL DV frames (%.2f GB of video) to DV type 2 through kadaviwriter...\n",
        static_cast<unsigned long long>(frames), frames * double(kDvFrameBytes) / 1e9);
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    if (!cam.Capture().BuildCaptureGraph()) {
        std::fprintf(stderr, "no capture into %s\n", qPrintable(out));
        return 1;
    }
    const std::vector<kad::PadRef> sinkIns = writerInputs(cam.Capture().CaptureFileSink());
    if (sinkIns.empty()) return 1;
    end.open = int(sinkIns.size());
    for (const kad::PadRef& in : sinkIns)
        gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, onSinkEvent, &end,
                          nullptr);
    bool stopped = false;
    QObject::connect(&cam.Capture(), &kad::TcaptureRun::CaptureStopped, [&](const QString& text) {
        std::fprintf(stderr, "capture stopped: %s\n", qPrintable(text));
        stopped = true;
    });
    const bool ended =
        waitFor([&] { return end.ended.load() || stopped; }, 3600000, 100) && end.ended.load();
    for (const kad::PadRef& in : sinkIns) {
        GST_PAD_STREAM_LOCK(in.get());
        GST_PAD_STREAM_UNLOCK(in.get());
    }
    const double wall = t.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    const guint64 captured = cam.Capture().CapturedFrames();
    const guint64 lost = cam.Capture().LostFrames();
    cam.Capture().FinishCapture();
    cam.FilterGraph().StopGraph();
    cam.FilterGraph().FreeAllFilters();

    const qint64 size = QFile(out).size();
    std::printf("  written: %s in %.1f s (%.1f fps, %.1f MB/s, %.3f ms CPU/frame)\n",
                ended ? "ended normally" : "NOT ended", wall, captured / wall, size / wall / 1e6,
                1000 * cpu / std::max<guint64>(captured, 1));
    std::printf("  frames captured %llu, lost %llu; file %lld bytes (%.2f GB, %.2f GiB)\n",
                static_cast<unsigned long long>(captured), static_cast<unsigned long long>(lost),
                static_cast<long long>(size), size / 1e9, size / double(1ll << 30));
    const QStringList riff = riffChunks(out);
    std::printf("  RIFF chunks: %lld (%s)\n", static_cast<long long>(riff.size()),
                qPrintable(riff.mid(0, 3).join(", ") + (riff.size() > 3 ? ", ..." : "")));
    QElapsedTimer pt;
    pt.start();
    const Probe p = probe(out);
    std::printf("  ffprobe (%.0f s): %s; %s; duration %.2f s (expected %.2f)\n",
                pt.nsecsElapsed() / 1e9, qPrintable(p.format), qPrintable(p.summary()), p.duration,
                frames / 25.0);
    const bool whole = p.ok && p.packets("video") == qint64(frames) &&
                       p.packets("video") == qint64(captured) && p.packets("audio") > 0;
    std::printf("  read whole (video packets == frames written, audio present): %s\n",
                whole ? "yes" : "NO");
    QFile::remove(out);
    return whole && ended ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    gst_init(&argc, &argv);
    kad::registerElements();
    kad::registerVirtualDevices();
    QCoreApplication app(argc, argv);
    guint64 frames = 1500;
    int liveSeconds = 0;
    guint64 bigFrames = 0;
    QString only;
    int repeats = 3;
    auto number = [&](int& i, long long fallback) {
        if (i + 1 < argc && std::atoll(argv[i + 1]) > 0) return std::atoll(argv[++i]);
        return fallback;
    };
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--live") == 0)
            liveSeconds = int(number(i, 60));
        else if (std::strcmp(argv[i], "--big") == 0)
            bigFrames = guint64(number(i, 31500));
        else if (std::strcmp(argv[i], "--frames") == 0)
            frames = guint64(std::max(25ll, number(i, 1500)));
        else if (std::strcmp(argv[i], "--repeat") == 0)
            repeats = int(number(i, 3));
        else if (std::strcmp(argv[i], "--path") == 0 && i + 1 < argc)
            only = QString::fromUtf8(argv[++i]);
        else {
            std::fprintf(stderr, "usage: bench_capture [--frames N] [--repeat R] [--path dv-type2|"
                                 "dv-type1|raw-dv|raw-wmv] | --live [SECONDS] | --big [FRAMES]\n");
            return 2;
        }
    }
    if (liveSeconds > 0) return live(liveSeconds);
    if (bigFrames > 0) return big(bigFrames);
    return throughput(frames, only, repeats);
}
