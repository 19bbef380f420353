// The DV preview, measured:
//
//  (a) time from ConnectSource to the first previewed frame (the display's
//      frame callback) with the live virtual DV camcorder (PAL), and the
//      time from F5 to the still on disk (grabber copy, stored image,
//      24-bit BMP written), for the first still and the next (a DV preview
//      decoding at half size decodes its stills apart, with a decoder made
//      at the first still);
//  (b) frames per second and CPU time per frame of the DV preview chain
//      (demultiplex, decode, grab, display at the window's 384 x 288) on a
//      DV file read as fast as possible, beside ffmpeg decoding the same
//      file to RGB24 (ffmpeg -f dv -i FILE -f rawvideo -pix_fmt rgb24 -y
//      /dev/null) in the same run, and the ratio of the two; the chain as
//      the program builds it with the decoder it binds (with libav's decoder:
//      the grabber ahead of it, the picture decoded at half size for the
//      window), then the full-size chain of before (the grabber after the
//      decoder), the other decoder and the decoders' reduced modes (libav's
//      half-size decode, libdv's lower qualities) for comparison;
//  (c) CPU time per frame of the live virtual webcam's 640 x 480 preview
//      shown at 320 x 240, and its F5 to still on disk;
//  (d) a DV type-2 capture of the same file with its preview (every frame
//      decoded, grabbed and shown), through the capture graph, beside the
//      same ffmpeg decode; the file's frames counted by ffprobe.
//
// Each CPU figure of (b) and (d) is the lowest of the repeats (the machine
// is shared). Every figure is printed; none is judged.
//
// Usage: bench_preview_dv [frames [repeats [sections]]]   (default 500
// frames, 20 s of PAL DV, 3 repeats and sections "abcd"). sections picks what
// runs, for a profiler's sake: a, b, c, d as above; B is (b) with the bound
// decoder alone and D is (d), both without their paced runs; P is the bound
// decoder's paced run of (b) alone.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gst/gst.h>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "elements/display_sink.h"
#include "elements/plugin.h"
#include "elements/sample_grabber.h"
#include "graph/dm_cam.h"
#include "platform/media/element_catalogue.h"
#include "platform/media/gst_ptr.h"
#include "session/stills.h"
#include "system/devices/video_sources.h"
#include "virtual/virtual_plugin.h"

namespace {

using kad::bench::cpuSeconds;
using kad::bench::waitFor;

void countFrame(const KadDisplayFrame*, gpointer counter)
{
    ++*static_cast<std::atomic<int>*>(counter);
}

// A display counting its frames into counter. The run holds it to the end
// and takes the callback back from it itself: the graph may have let the
// display go by then, and counter lives no longer than the run.
kad::ElementRef makeDisplay(std::atomic<int>* counter, bool sync, int width, int height)
{
    kad::ElementRef display =
        kad::ElementRef::sink(gst_element_factory_make("kaddisplaysink", nullptr));
    g_object_set(display.get(), "sync", sync, "display-width", width, "display-height", height,
                 NULL);
    kad_display_sink_set_callback(display.get(), countFrame, counter, nullptr);
    return display;
}

// F5: the grabber's frame to a stored 4:3 image to a BMP on disk, as the
// program does it. Milliseconds, or a negative number on failure; the part
// spent getting the RGB picture out of the grabber goes to *grabMs.
double stillToDisk(GstElement* grabber, const QString& path, double* grabMs)
{
    QElapsedTimer t;
    t.start();
    KadGrabbedFrameInfo info{};
    if (!kad_sample_grabber_peek(grabber, &info)) return -1;
    std::vector<guint8> bytes(info.size);
    if (!kad_sample_grabber_copy_frame(grabber, bytes.data(), bytes.size(), &info)) return -1;
    *grabMs = t.nsecsElapsed() / 1e6;
    kad::RgbFrame frame;
    frame.Data = bytes.data();
    frame.Width = info.width;
    frame.Height = info.height;
    frame.Stride = info.stride;
    const QImage stored = kad::MakeStoredImage(frame, true);
    if (stored.isNull() || !kad::WriteBmp24(stored, path)) return -1;
    return t.nsecsElapsed() / 1e6;
}

struct LiveRun {
    double firstFrameMs = -1;
    double stillMs = -1;
    double nextStillMs = -1;
    double grabMs = -1; // of stillMs and nextStillMs, the RGB picture out of the grabber
    double nextGrabMs = -1;
    int frames = 0;
    double cpu = 0;
};

// A live virtual device previewed at width x height for seconds: time to
// the first frame, CPU per shown frame, F5 to the still on disk.
LiveRun previewLive(const char* device, int width, int height, int seconds, const QString& still)
{
    LiveRun run;
    qputenv("KADRILLO_VIRTUAL_DEVICES", device);
    kad::TvideoSourceList sources;
    kad::TvideoItems items;
    if (!kad::LoadVideoSources(sources, items) || sources.Count() == 0) return run;
    std::atomic<int> shown{0};
    kad::TdmCam cam;
    cam.FilterGraph().CheckOptionalFilters();
    const kad::ElementRef display = makeDisplay(&shown, true, width, height);
    cam.FilterGraph().SetVideoWindow(display.get());
    QElapsedTimer t;
    t.start();
    if (!cam.Source().ConnectSource(*sources.At(0)) || !cam.Preview().BuildPreviewGraph() ||
        !cam.FilterGraph().RunGraph())
        return run;
    if (waitFor([&] { return shown > 0; }, 10000)) {
        run.firstFrameMs = t.nsecsElapsed() / 1e6;
        const int shown0 = shown;
        const double cpu0 = cpuSeconds(RUSAGE_SELF);
        kad::bench::idleFor(seconds * 1000);
        run.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
        run.frames = shown - shown0;
        run.stillMs = stillToDisk(cam.FilterGraph().sg.Element(), still, &run.grabMs);
        kad::bench::idleFor(200);
        run.nextStillMs = stillToDisk(cam.FilterGraph().sg.Element(), still, &run.nextGrabMs);
    }
    cam.FilterGraph().StopGraph();
    kad_display_sink_set_callback(display.get(), nullptr, nullptr, nullptr);
    return run;
}

void printLive(const char* what, const LiveRun& r)
{
    if (r.firstFrameMs < 0) {
        std::printf("  %s: no frame previewed\n", what);
        return;
    }
    std::printf("  %s: first frame after %.1f ms; %d frames shown, %.3f ms CPU/frame; "
                "F5 to still on disk %.1f ms (grab %.1f ms), the next %.1f ms (grab %.1f ms)\n",
                what, r.firstFrameMs, r.frames, r.frames > 0 ? 1000.0 * r.cpu / r.frames : 0.0,
                r.stillMs, r.grabMs, r.nextStillMs, r.nextGrabMs);
}

// Records frames of the virtual camcorder's DV stream into path.
bool writeDvFile(const QString& path, int frames)
{
    const QByteArray description =
        "kadvirtualdvsrc is-live=false num-buffers=" + QByteArray::number(frames) +
        " ! filesink location=\"" + path.toUtf8() + "\"";
    GstElement* pipeline = gst_parse_launch(description.constData(), nullptr);
    if (!pipeline) return false;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 120 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

struct Run {
    int frames = 0;
    double wall = 0;
    double cpu = 0;
    qint64 fileFrames = -1; // (d): ffprobe's count of the file's video frames
    int shown = -1;         // frames the display converted and handed on
    std::string writer;     // (d): the element that wrote the file
    double cpuMs() const { return frames > 0 ? 1000.0 * cpu / frames : 0; }
};

// The lowest CPU of repeats runs of run(); a failed run fails it all.
template <typename F> Run best(int repeats, F run)
{
    Run kept;
    for (int i = 0; i < repeats; ++i) {
        const Run r = run();
        if (r.frames == 0) return r;
        if (kept.frames == 0 || r.cpuMs() < kept.cpuMs()) kept = r;
    }
    return kept;
}

// A DV decoder for the preview chain other than the one the program binds:
// a factory and its property settings ("name=value"), or none to keep the
// program's.
struct Decoder {
    const char* title;
    const char* factory; // null: as bound by the program
    std::vector<std::pair<const char*, const char*>> settings;
    // In a bin of its own: the program then sees a decoder without a
    // half-size mode and builds the chain of before, the grabber after it.
    bool wrapped = false;
};

void bindDecoder(kad::TdmCam& cam, const Decoder& d)
{
    if (!d.factory) return;
    const std::string factory = d.factory;
    const auto settings = d.settings;
    const bool wrapped = d.wrapped;
    cam.FilterGraph().DVDEcoder.Bind(factory, [factory, settings, wrapped]() -> GstElement* {
        GstElement* e = gst_element_factory_make(factory.c_str(), nullptr);
        if (!e) return nullptr;
        kad::SetPictureByPictureDecoding(e);
        for (const auto& [name, value] : settings)
            gst_util_set_object_arg(G_OBJECT(e), name, value);
        if (!wrapped) return e;
        GstElement* bin = gst_bin_new(nullptr);
        gst_bin_add(GST_BIN(bin), e);
        for (const char* name : {"sink", "src"}) {
            kad::PadRef pad(gst_element_get_static_pad(e, name));
            gst_element_add_pad(bin, gst_ghost_pad_new(name, pad.get()));
        }
        return bin;
    });
}

GstElement* fileSource(const QString& path)
{
    const QByteArray description =
        "filesrc blocksize=144000 location=\"" + path.toUtf8() +
        "\" ! capsfilter caps=\"video/x-dv,systemstream=true,format=PAL\"";
    return gst_parse_bin_from_description(description.constData(), TRUE, nullptr);
}

// (b) The preview chain over the file, as fast as it goes.
Run previewFile(const QString& path, const Decoder& decoder, KadGrabbedFrameInfo* kept,
                bool paced = false)
{
    std::atomic<int> shown{0};
    kad::TdmCam cam;
    cam.FilterGraph().CheckOptionalFilters();
    bindDecoder(cam, decoder);
    const kad::ElementRef display = makeDisplay(&shown, paced, 384, 288);
    cam.FilterGraph().SetVideoWindow(display.get());
    Run run;
    if (!cam.Source().ConnectSourceElement("DV file", fileSource(path)) ||
        !cam.Preview().BuildPreviewGraph())
        return run;
    bool ended = false;
    QObject::connect(&cam.FilterGraph(), &kad::TfilterGraph::EndOfStream, [&] { ended = true; });
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    cam.FilterGraph().RunGraph();
    // A look every 50 ms: the waiting thread's CPU is counted as well.
    if (!waitFor([&] { return ended; }, 300000, 50)) return run;
    run.wall = t.nsecsElapsed() / 1e9;
    run.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    run.frames = static_cast<int>(kad_sample_grabber_frame_count(cam.FilterGraph().sg.Element()));
    run.shown = shown;
    if (kept && !kad_sample_grabber_peek(cam.FilterGraph().sg.Element(), kept)) *kept = {};
    cam.FilterGraph().StopGraph();
    kad_display_sink_set_callback(display.get(), nullptr, nullptr, nullptr);
    return run;
}

// Video frames of a file as ffprobe counts them, or -1.
qint64 probeFrames(const QString& path)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                        "stream=nb_read_packets", "-of", "csv=p=0", path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return -1;
    bool ok = false;
    const qint64 n = p.readAllStandardOutput().trimmed().toLongLong(&ok);
    return ok ? n : -1;
}

// (d) The file captured to DV type 2 with its preview, as fast as it goes:
// the run ends when the graph has ended (the file complete, every frame
// shown).
Run captureType2(const QString& path, const QString& out, bool paced)
{
    std::atomic<int> shown{0};
    kad::TdmCam cam;
    cam.FilterGraph().CheckOptionalFilters();
    const kad::ElementRef display = makeDisplay(&shown, paced, 384, 288);
    cam.FilterGraph().SetVideoWindow(display.get());
    Run run;
    if (!cam.Source().ConnectSourceElement("DV file", fileSource(path)) ||
        !cam.Preview().BuildPreviewGraph())
        return run;
    {
        kad::TcaptureOptions options = cam.Capture().Options();
        options.FormatIndex = 1;
        cam.Capture().SetOptions(options);
    }
    cam.Capture().SetCurrentVideoFileName(out);
    bool ended = false;
    bool failed = false;
    QObject::connect(&cam.FilterGraph(), &kad::TfilterGraph::EndOfStream, [&] { ended = true; });
    QObject::connect(&cam.FilterGraph(), &kad::TfilterGraph::GraphError, [&](const QString& text) {
        std::fprintf(stderr, "graph error: %s\n", qPrintable(text));
        failed = true;
    });
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    if (!cam.Capture().BuildCaptureGraph()) return run;
    const bool done = waitFor([&] { return ended || failed; }, 300000, 50) && ended;
    run.wall = t.nsecsElapsed() / 1e9;
    run.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    run.frames = done ? static_cast<int>(cam.Capture().CapturedFrames()) : 0;
    run.shown = shown;
    if (GstElement* writer = cam.Capture().CaptureFileSink())
        if (GstElementFactory* factory = gst_element_get_factory(writer))
            run.writer = GST_OBJECT_NAME(factory);
    cam.Capture().FinishCapture();
    cam.FilterGraph().StopGraph();
    kad_display_sink_set_callback(display.get(), nullptr, nullptr, nullptr);
    cam.FilterGraph().FreeAllFilters();
    run.fileFrames = probeFrames(out);
    QFile::remove(out);
    return run;
}

// The floor under (b): the file demultiplexed and decoded by the bound
// decoder into a fakesink, with nothing else.
Run decodeOnly(const QString& path, const std::string& decoder, int frames)
{
    Run run;
    const QByteArray description = "filesrc blocksize=144000 location=\"" + path.toUtf8() +
                                   "\" ! video/x-dv,systemstream=true,format=PAL ! dvdemux ! " +
                                   QByteArray::fromStdString(decoder) +
                                   " name=decoder ! fakesink sync=false";
    GstElement* pipeline = gst_parse_launch(description.constData(), nullptr);
    if (!pipeline) return run;
    if (GstElement* d = gst_bin_get_by_name(GST_BIN(pipeline), "decoder")) {
        kad::SetPictureByPictureDecoding(d);
        gst_object_unref(d);
    }
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 300 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    run.wall = t.nsecsElapsed() / 1e9;
    run.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    run.frames = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS ? frames : 0;
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return run;
}

Run ffmpegFile(const QString& path, int frames)
{
    Run run;
    const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer t;
    t.start();
    const int rc =
        QProcess::execute("ffmpeg", {"-v", "error", "-f", "dv", "-i", path, "-f", "rawvideo",
                                     "-pix_fmt", "rgb24", "-y", "/dev/null"});
    run.wall = t.nsecsElapsed() / 1e9;
    run.cpu = cpuSeconds(RUSAGE_CHILDREN) - cpu0;
    run.frames = rc == 0 ? frames : 0;
    return run;
}

void print(const std::string& what, const Run& r, const Run* ffmpeg = nullptr)
{
    if (r.frames == 0 || r.wall <= 0) {
        std::printf("  %-44s failed\n", what.c_str());
        return;
    }
    std::printf("  %-44s %5d frames %7.1f fps %7.3f ms CPU/frame", what.c_str(), r.frames,
                r.frames / r.wall, r.cpuMs());
    if (ffmpeg && ffmpeg->frames > 0) std::printf("  %.2fx ffmpeg", r.cpuMs() / ffmpeg->cpuMs());
    if (r.shown >= 0) std::printf("  (%d shown)", r.shown);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    kad::registerElements();
    kad::registerVirtualDevices();
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(25, std::atoi(argv[1])) : 500;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string sections = argc > 3 ? argv[3] : "abcd";
    const auto runs = [&](char section) { return sections.find(section) != std::string::npos; };
    const bool fileRuns = runs('b') || runs('B') || runs('P') || runs('d') || runs('D');

    std::printf("DV preview benchmark\n");
    QTemporaryDir dir;
    if (runs('a')) {
        std::printf("(a) live virtual DV camcorder (PAL), shown at 384 x 288:\n");
        printLive("DV", previewLive("dv-pal-vcr", 384, 288, 2, dir.filePath("dv.bmp")));
    }
    if (!fileRuns) {
        if (runs('c')) {
            std::printf("(c) live virtual webcam, 640 x 480 shown at 320 x 240:\n");
            printLive("webcam", previewLive("webcam", 320, 240, 4, dir.filePath("webcam.bmp")));
        }
        return 0;
    }

    const QString file = dir.filePath("bench.dv");
    if (!writeDvFile(file, frames)) {
        std::printf("(b) could not write the DV file\n");
        return 1;
    }
    const bool chains = runs('b') || runs('B');
    if (chains)
        std::printf("(b) %d PAL DV frames as fast as possible (preview shown at 384 x 288), "
                    "lowest CPU of %d runs:\n",
                    frames, repeats);
    const Run ffmpeg = best(repeats, [&] { return ffmpegFile(file, frames); });
    print("ffmpeg -f dv ... rgb24", ffmpeg);
    kad::TdmCam probe;
    const std::string bound = probe.FilterGraph().DVDEcoder.BoundTo();
    if (chains)
        print("decode alone, " + bound + " to fakesink",
              best(repeats, [&] { return decodeOnly(file, bound, frames); }), &ffmpeg);
    const Decoder decoders[] = {
        {"as bound", nullptr, {}},
        {"avdec_dvvideo, full size, grabber after it", "avdec_dvvideo", {}, true},
        {"avdec_dvvideo lowres=1, grabber after it", "avdec_dvvideo", {{"lowres", "1"}}, true},
        {"dvdec", "dvdec", {}},
        {"dvdec quality=colour-ac", "dvdec", {{"quality", "colour-ac"}}},
        {"dvdec quality=colour-fastest", "dvdec", {{"quality", "colour-fastest"}}},
    };
    for (const Decoder& d : decoders) {
        if (!runs('b') && (d.factory || !runs('B'))) continue;
        if (d.factory && !kad::Installed(d.factory)) continue;
        KadGrabbedFrameInfo kept{};
        const Run r = best(repeats, [&] { return previewFile(file, d, &kept); });
        std::string what =
            "chain, " + (d.factory ? std::string(d.title) : bound + " (bound, as built)");
        what += " [still " + std::to_string(kept.width) + "x" + std::to_string(kept.height) + "]";
        print(what, r, &ffmpeg);
    }
    // As fast as it goes, the display drops the frames that come while it
    // is still busy with one; at the file's own pace (the display synced to
    // the clock, as behind a camcorder) it shows every frame.
    if (runs('b') || runs('P'))
        std::printf("  at the file's pace (%.0f s a run), every frame shown:\n", frames / 25.0);
    for (const Decoder& d : {decoders[0], decoders[3]}) {
        if (!runs('b') && (d.factory || !runs('P'))) continue;
        if (d.factory && !kad::Installed(d.factory)) continue;
        const Run r = previewFile(file, d, nullptr, true);
        print("chain, " + (d.factory ? std::string(d.title) : bound + " (bound)") + ", paced", r,
              &ffmpeg);
    }
    if (runs('c')) {
        std::printf("(c) live virtual webcam, 640 x 480 shown at 320 x 240:\n");
        printLive("webcam", previewLive("webcam", 320, 240, 4, dir.filePath("webcam.bmp")));
    }
    if (!runs('d') && !runs('D')) return 0;

    std::printf(
        "(d) the same file captured to DV type 2 with its preview, lowest CPU of %d runs:\n",
        repeats);
    const Run capture =
        best(repeats, [&] { return captureType2(file, dir.filePath("capture.avi"), false); });
    print("capture DV type 2 + preview (" + bound + ")", capture, &ffmpeg);
    std::printf("  file: %lld frames (ffprobe), written by %s\n",
                static_cast<long long>(capture.fileFrames), capture.writer.c_str());
    if (!runs('d')) return 0;
    const Run pacedCapture = captureType2(file, dir.filePath("paced.avi"), true);
    print("capture DV type 2 + preview, paced", pacedCapture, &ffmpeg);
    std::printf("  file: %lld frames (ffprobe)\n", static_cast<long long>(pacedCapture.fileFrames));
    return 0;
}
