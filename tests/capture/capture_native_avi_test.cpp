// The native-video AVI capture of a webcam or analog card, through the real
// capture graph: frames the source fails to deliver keep their slots, so
// the picture lasts as long as the sound, and the sound keeps its place
// against the picture (the sync correction included). ffprobe and
// GStreamer's avidemux read every file.

#include "capture_graph_fixture.h"
#include "elements/dv_avi_writer_helpers.h"
#include "support/edit_options.h"
#include "support/readers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cmath>

namespace kad::test {
namespace {

class CaptureNativeAvi : public CaptureTest {
protected:
    // As capture(), with the GUI thread busy elsewhere until the frames are
    // written: nothing the bus tells (the source's format among it) reaches
    // it meanwhile, as on a loaded machine.
    bool captureWhileBusy(const QString& name, guint64 frames)
    {
        TcaptureOptions options = cam.Capture().Options();
        options.FormatIndex = 0;
        cam.Capture().SetOptions(options);
        cam.Capture().SetCurrentVideoFileName(name);
        if (!cam.Capture().BuildCaptureGraph()) return false;
        QElapsedTimer busy;
        busy.start();
        while (cam.Capture().CapturedFrames() < frames && busy.elapsed() < 20000)
            QThread::msleep(5);
        const bool reached = cam.Capture().CapturedFrames() >= frames;
        EXPECT_TRUE(reached) << "only " << cam.Capture().CapturedFrames() << " frames captured";
        return cam.Capture().FinishCapture() && reached;
    }
};

} // namespace

// A webcam that drops one frame in five: avimux used to shorten the picture
// by as much; now every missing slot is filled and counted as lost.
TEST_F(CaptureNativeAvi, DroppedFramesKeepThePictureAsLongAsTheSound)
{
    ASSERT_TRUE(preview(Source::Webcam, false, true));
    g_object_set(source, "drop-frames", 5, NULL);
    const QString name = file("dropping.avi");
    ASSERT_TRUE(capture(0, name, 120));

    const Probed p = probe(name);
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_NE(p.first("video"), nullptr);
    ASSERT_NE(p.first("audio"), nullptr);
    EXPECT_EQ(p.first("video")->codec, "rawvideo");
    const qint64 frames = p.first("video")->frames;
    // The writer's own counts: the slots it filled are the frames the source
    // did not deliver, one in five give or take the start and the stop.
    guint64 written = 0, lost = 0;
    g_object_get(cam.Capture().CaptureMux(), "frames-written", &written, "lost-frames", &lost,
                 NULL);
    EXPECT_EQ(qint64(written), frames);
    EXPECT_NEAR(double(lost), frames / 5.0, 2.0);
    EXPECT_GE(cam.Capture().LostFrames(), lost);
    EXPECT_GE(qint64(cam.Capture().CapturedFrames()), frames - qint64(lost));
    // GStreamer's AVI reader, which reads through the index only.
    EXPECT_EQ(kadtest::demuxRead(name, "avidemux", true).frames, frames);

    const kadtest::StreamTimes t = kadtest::streamTimes(name);
    const double frame = 1.0 / 30;
    EXPECT_NEAR(t.videoStart, 0, 0.001);
    EXPECT_NEAR(t.audioStart, 0, 0.001);
    EXPECT_NEAR(t.videoLength, frames * frame, 0.001);
    EXPECT_NEAR(t.audioLength, t.videoLength, frame);
}

// The sound keeps its place against the picture: the sync correction moves
// it later (silence first) or earlier (its first moment cut) in the file,
// by frames of the source's own rate also when the GUI thread learns that
// rate only after the capture.
TEST_F(CaptureNativeAvi, TheSoundKeepsItsPlaceAndTheSyncCorrection)
{
    // Not a whole number of periods of the microphone's tone.
    constexpr int kFrames = 5;
    QByteArray sound[3];
    int shift = 0;       // bytes of the file's sound in kFrames of correction
    int secondBytes = 0; // bytes of the file's sound in one second
    gint64 frame = 0;    // the source's frame duration, as heard by the GUI thread
    const int corrections[3] = {0, kFrames, -kFrames};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(corrections[i]);
        kadtest::editOptions(cam.Preview(),
                             [&](auto& options) { options.CorrectionSync = corrections[i]; });
        ASSERT_TRUE(preview(Source::Webcam, false, true));
        const QString name = file(QString("sync%1.avi").arg(i).toUtf8());
        if (i == 0) {
            ASSERT_TRUE(capture(0, name, 120));
            frame = cam.Preview().Format().FrameDuration;
        } else {
            ASSERT_TRUE(captureWhileBusy(name, 120));
        }
        const kadtest::Probe p = kadtest::ffprobe(name.toStdString());
        ASSERT_NE(p.first("audio"), nullptr);
        const int rate = p.first("audio")->sampleRate;
        shift =
            int(std::lround(kFrames * double(frame) * rate / 1e7)) * 2 * p.first("audio")->channels;
        secondBytes = rate * 2 * p.first("audio")->channels;
        const kadtest::StreamTimes t = kadtest::streamTimes(name);
        EXPECT_NEAR(t.videoStart, 0, 0.001);
        EXPECT_NEAR(t.audioStart, 0, 0.001);
        EXPECT_NEAR(t.audioLength, t.videoLength, 1.0 / 30);
        sound[i] = kadtest::audioSamples(name.toStdString());
        ASSERT_GT(sound[i].size(), 3 * secondBytes + 3 * shift);
        cam.FilterGraph().FreeAllFilters();
    }
    // Compared three seconds in: sound the non-live microphone sent long
    // before the first picture (a loaded machine) is not kept, its place is
    // silence, and what follows keeps its place all the same.
    const int window = 2 * shift;
    const int at = 3 * secondBytes;
    EXPECT_NE(sound[0].mid(at, shift), QByteArray(shift, '\0'));
    EXPECT_EQ(sound[1].left(shift), QByteArray(shift, '\0'));
    EXPECT_EQ(sound[1].mid(at + shift, window), sound[0].mid(at, window));
    EXPECT_EQ(sound[2].mid(at, window), sound[0].mid(at + shift, window));
}

} // namespace kad::test
