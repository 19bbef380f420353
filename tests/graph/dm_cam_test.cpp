// The data module: catalogue, connection, previews, running and events.

#include "elements/sample_grabber.h"
#include "graph/frame_counter.h"
#include "graph_fixture.h"
#include "platform/media/element_catalogue.h"
#include "support/edit_options.h"
#include "system/log.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kad {
namespace {

using test::makeDvSource;
using test::makeRawSource;
using test::waitUntil;

QString logText()
{
    QFile f(LogFileName());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class DmCamTest : public test::ShownFramesTest {
protected:
    bool grabbed(int width, int height)
    {
        KadGrabbedFrameInfo info{};
        return cam.FilterGraph().sg.InGraph() &&
               kad_sample_grabber_peek(cam.FilterGraph().sg.Element(), &info) &&
               info.width == width && info.height == height && info.stride >= 3 * width;
    }
};

TEST_F(DmCamTest, FreeAllFiltersOnAnEmptyGraphKeepsTheSourceAndTheWindow)
{
    int errors = 0;
    QObject::connect(&cam.FilterGraph(), &TfilterGraph::GraphError, [&] { ++errors; });
    ASSERT_TRUE(cam.Source().ConnectSourceElement("Raw", makeRawSource(64, 48, "25/1", false)));
    cam.FilterGraph().FreeAllFilters();
    EXPECT_TRUE(cam.FilterGraph().VideoSource.InGraph());
    EXPECT_EQ(GST_BIN(cam.FilterGraph().fg())->numchildren, 2u);
    QCoreApplication::processEvents();
    EXPECT_EQ(errors, 0);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DmCamTest, CatalogueLooksUpByNameIgnoringCaseAndLastWins)
{
    EXPECT_TRUE(cam.FilterGraph().Presence().HorodexPresent);
    EXPECT_TRUE(cam.FilterGraph().hdAudio.Bound());
    EXPECT_TRUE(cam.FilterGraph().hdAuto.Bound());
    EXPECT_EQ(cam.FilterGraph().Presence().DumpPresent, FindFilterByName("Dump").has_value());
    TfilterSlot slot("Dump");
    EXPECT_EQ(cam.FilterGraph().BindFilterByName(FilterCategory::DirectShowFilters, "dUMP", slot),
              cam.FilterGraph().Presence().DumpPresent);
    EXPECT_FALSE(cam.FilterGraph().BindFilterByName(FilterCategory::DirectShowFilters,
                                                    "No such filter", slot));
    EXPECT_FALSE(slot.Bound());

    // Of equal names the one enumerated last is bound ("Identity" and
    // "identity" are the same name; FakeSink's long name is unique).
    const auto entries = EnumerateFilters();
    std::string last;
    for (const TfilterEntry& e : entries)
        if (e.FriendlyName.compare("Tavrel Horodex", Qt::CaseInsensitive) == 0) last = e.Factory;
    ASSERT_TRUE(cam.FilterGraph().BindFilterByName(FilterCategory::DirectShowFilters,
                                                   "TAVREL HORODEX", slot));
    EXPECT_EQ(slot.BoundTo(), last);

    EXPECT_EQ(cam.FilterGraph().Presence().WmvAvailable,
              Installed("asfmux") && Installed("avenc_wmav2") &&
                  (Installed("avenc_wmv1") || Installed("avenc_wmv2")));
    EXPECT_TRUE(cam.FilterGraph().Presence().DeinterlacerPresent); // "deinterlace" stands in for it
    EXPECT_TRUE(cam.FilterGraph().Presence().LumatexPresent);
    EXPECT_TRUE(cam.FilterGraph().Presence().ChronixPresent);
    EXPECT_TRUE(cam.FilterGraph().Presence().InlayFiltersAvailable);
}

TEST_F(DmCamTest, ClassifiesBySourceCapsAndLogs)
{
    ASSERT_TRUE(StartLog(true));
    ASSERT_TRUE(
        cam.Source().ConnectSourceElement("Camcorder", makeDvSource(true, false), "Tape deck"));
    EXPECT_EQ(cam.Source().Kind(), SourceKind::skDV);
    EXPECT_TRUE(cam.Source().Facts().IsVCR); // the PAL camcorder plays a tape
    EXPECT_FALSE(cam.Source().Facts().IsCamera);
    EXPECT_TRUE(cam.Source().Facts().HasExtTransport);
    EXPECT_TRUE(cam.Source().Facts().HasTimecodeReader);

    ASSERT_TRUE(cam.Source().ConnectSourceElement("Webcam", makeRawSource(64, 48, "25/1", false)));
    EXPECT_EQ(cam.Source().Kind(), SourceKind::skAnalog);

    // A program stream is "Stream" even though it also carries video.
    ASSERT_TRUE(cam.Source().ConnectSourceElement(
        "Encoder", test::makeBin("videotestsrc ! mpeg2enc ! mpegpsmux")));
    EXPECT_EQ(cam.Source().Kind(), SourceKind::skMpeg2);
    EXPECT_TRUE(cam.FilterGraph().demux.Bound());

    // Nothing that looks like video: analog, but no capture pin.
    EXPECT_FALSE(cam.Source().ConnectSourceElement("Microphone", test::makeBin("audiotestsrc")));
    EXPECT_EQ(cam.Source().Kind(), SourceKind::skAnalog);
    EXPECT_FALSE(cam.Source().ConnectSourceElement("Gone", nullptr));

    const QString log = logText();
    StopLog();
    for (const char* line :
         {"Try to connect Camcorder", "The connection of Camcorder has succeeded",
          "description = Tape deck", "The source is DV", "The source is analogic",
          "The source is MPGE2", "sourceGUID = ", "##### The connection of Gone has failed #####"})
        EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_EQ(log.count("description = "), 1); // none for a source without one
}

TEST_F(DmCamTest, DvPreviewFailsWithoutTheTimestampFilter)
{
    ASSERT_TRUE(cam.Source().ConnectSourceElement("DV", makeDvSource(true, false)));
    cam.FilterGraph().hdVideo.Unbind();
    EXPECT_FALSE(cam.Preview().BuildPreviewGraph());
    EXPECT_FALSE(cam.Preview().PreviewBuilt());
}

TEST_F(DmCamTest, AnalogPreviewReadsTheRawFormat)
{
    for (bool deinterlace : {false, true}) {
        kadtest::editOptions(cam.Preview(),
                             [&](auto& options) { options.DeinterlacerOn = deinterlace; });
        ASSERT_TRUE(
            cam.Source().ConnectSourceElement("Webcam", makeRawSource(320, 240, "15/1", false)));
        ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
        ASSERT_TRUE(cam.FilterGraph().RunGraph());
        EXPECT_TRUE(waitUntil([&] { return grabbed(320, 240); }));
        EXPECT_TRUE(waitUntil([&] { return cam.Preview().Format().FrameDuration == 666667; }));
        EXPECT_EQ(cam.Preview().Format().VideoWidth, 320);
        EXPECT_EQ(cam.FilterGraph().Deinterlacer.InGraph(), deinterlace);
        cam.FilterGraph().StopGraph();
    }
}

TEST_F(DmCamTest, DvAudioIsPlayedAt44100WhenForcedAndListeningTwiceChangesNothing)
{
    kadtest::editOptions(cam.Preview(), [&](auto& options) {
        options.EcouterAudioInclus = true;
        options.Audio = AudioKind::akIncluded;
        options.ForceDVAudio44100 = true;
    });
    ASSERT_TRUE(cam.Source().ConnectSourceElement("DV", makeDvSource(true, false)));
    kadtest::editOptions(cam.Preview(), [&](auto& options) { options.EcouterAudioInclus = false; });
    ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
    const int picture = GST_BIN(cam.FilterGraph().fg())->numchildren;
    kadtest::editOptions(cam.Preview(), [&](auto& options) { options.EcouterAudioInclus = true; });
    ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
    ASSERT_TRUE(cam.FilterGraph().infinite4.InGraph());
    const int children = GST_BIN(cam.FilterGraph().fg())->numchildren;
    EXPECT_FALSE(cam.Preview().UpdateIncludedAudio());
    EXPECT_EQ(int(GST_BIN(cam.FilterGraph().fg())->numchildren), children);

    std::atomic<int> rate{0};
    PadRef in(gst_element_get_static_pad(cam.FilterGraph().AudioRender.Element(), "sink"));
    gst_pad_add_probe(
        in.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad* pad, GstPadProbeInfo*, gpointer r) {
            CapsRef caps(gst_pad_get_current_caps(pad));
            int value = 0;
            if (caps &&
                gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "rate", &value))
                static_cast<std::atomic<int>*>(r)->store(value);
            return GST_PAD_PROBE_OK;
        },
        &rate, nullptr);
    ASSERT_TRUE(cam.FilterGraph().RunGraph());
    EXPECT_TRUE(waitUntil([&] { return rate.load() != 0; }));
    EXPECT_EQ(rate.load(), 44100);
    cam.FilterGraph().StopGraph();

    // Native rate: the DV audio's own 48 kHz.
    int native = 0;
    rate = 0;
    cam.FilterGraph().RunGraph();
    EXPECT_TRUE(waitUntil([&] { return rate.load() != 0; }));
    EXPECT_TRUE(cam.Preview().SetDVAudioRate(native));
    EXPECT_EQ(native, 48000);
    cam.FilterGraph().StopGraph();

    kadtest::editOptions(cam.Preview(), [&](auto& options) { options.EcouterAudioInclus = false; });
    EXPECT_TRUE(cam.Preview().UpdateIncludedAudio());
    EXPECT_FALSE(cam.FilterGraph().infinite4.InGraph());
    EXPECT_EQ(int(GST_BIN(cam.FilterGraph().fg())->numchildren),
              picture); // nothing of the sound left
    shown = 0;
    ASSERT_TRUE(cam.FilterGraph().RunGraph()); // the picture goes on after a stop and a run
    EXPECT_TRUE(waitUntil([&] { return shown > 2; }));
    cam.FilterGraph().StopGraph();
    EXPECT_FALSE(cam.Preview().UpdateIncludedAudio());
}

TEST_F(DmCamTest, SoundCardBranchPlacesItsTap)
{
    cam.FilterGraph().AudioSource.Bind("audiotestsrc", [] {
        GstElement* mic = gst_element_factory_make("audiotestsrc", nullptr);
        return mic;
    });
    kadtest::editOptions(cam.Preview(), [&](auto& options) {
        options.EnregistrerSourceAudio = true;
        options.CorrectionSync = -2;
    });
    ASSERT_TRUE(cam.Source().ConnectSourceElement("Webcam", makeRawSource(64, 48, "25/1", false)));
    ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
    EXPECT_TRUE(cam.FilterGraph().AudioSource.InGraph());
    EXPECT_TRUE(cam.FilterGraph().hdAuto.InGraph());
    ASSERT_TRUE(cam.FilterGraph().infinite3.InGraph());
    PadRef tapIn(gst_element_get_static_pad(cam.FilterGraph().infinite3.Element(), "sink"));
    EXPECT_TRUE(gst_pad_is_linked(tapIn.get()));
    gint64 offset = 0;
    g_object_get(cam.FilterGraph().hdAuto.Element(), "offset", &offset, NULL);
    EXPECT_EQ(offset, -2 * 400000);
    ASSERT_TRUE(cam.FilterGraph().RunGraph());
    EXPECT_TRUE(waitUntil([&] { return grabbed(64, 48); }));
    cam.FilterGraph().StopGraph();
}

TEST_F(DmCamTest, SourceErrorRaisesDeviceLostOnTheGuiThread)
{
    ASSERT_TRUE(StartLog(true));
    ASSERT_TRUE(cam.Source().ConnectSourceElement("DV", makeDvSource(true, true)));
    ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
    QThread* lostOn = nullptr;
    QObject::connect(&cam.FilterGraph(), &TfilterGraph::DeviceLost,
                     [&] { lostOn = QThread::currentThread(); });
    ASSERT_TRUE(cam.FilterGraph().RunGraph());
    ASSERT_TRUE(waitUntil([&] { return shown > 0; }));
    GstElement* source = cam.FilterGraph().VideoSource.Element();
    std::thread unplug([source] {
        GST_ELEMENT_ERROR(source, RESOURCE, NOT_FOUND, ("Device unplugged"), ("test"));
    });
    {
        kadtest::StuckGuard guard("posting the device's error", 10000);
        unplug.join();
    }
    EXPECT_TRUE(waitUntil([&] { return lostOn != nullptr; }));
    EXPECT_EQ(lostOn, QCoreApplication::instance()->thread());
    cam.FilterGraph().StopGraph();
    // The log names the element and keeps its own account of the error.
    const GCharPtr path(gst_object_get_path_string(GST_OBJECT(source)));
    const QString log = logText();
    StopLog();
    const QString line =
        "Graph error from " + QString::fromUtf8(path.get()) + ": Device unplugged (";
    EXPECT_TRUE(log.contains(line)) << log.toStdString();
    EXPECT_TRUE(log.contains(QRegularExpression("Device unplugged \\(.*VideoSource: test\\)\n")))
        << log.toStdString();
}

TEST_F(DmCamTest, StopGraphStopsOnlyARunningGraphAndRebuildsTheMovieBox)
{
    int rebuilds = 0;
    cam.SetMovieBoxRebuild([&] { ++rebuilds; });
    ASSERT_TRUE(cam.Source().ConnectSourceElement("Webcam", makeRawSource(64, 48, "25/1", false)));
    cam.Source().SetKind(SourceKind::skMovieBoxB);
    cam.FilterGraph().StopGraph(); // stopped: nothing happens, also for the MovieBox
    EXPECT_EQ(rebuilds, 0);
    EXPECT_TRUE(cam.FilterGraph().VideoSource.InGraph());

    cam.Source().SetKind(SourceKind::skAnalog);
    ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
    ASSERT_TRUE(cam.FilterGraph().RunGraph());
    cam.Source().SetKind(SourceKind::skMovieBoxB);
    ElementRef before =
        ElementRef::ref(GST_ELEMENT(cam.FilterGraph().fg())); // keeps its address taken
    cam.FilterGraph().StopGraph();
    EXPECT_EQ(rebuilds, 1);
    EXPECT_FALSE(cam.Preview().PreviewBuilt());
    EXPECT_NE(GST_ELEMENT(cam.FilterGraph().fg()), before.get());
    EXPECT_FALSE(cam.FilterGraph().IsRunning());
    EXPECT_EQ(GST_OBJECT_PARENT(cam.FilterGraph().VideoWindowFilter()),
              GST_OBJECT(cam.FilterGraph().fg()));
    EXPECT_FALSE(cam.Preview().BuildPreviewGraph()); // no MPEG-2 preview yet
}

} // namespace
} // namespace kad
