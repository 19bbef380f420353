// Failures during a capture never pass unseen: a failing encoder ends the
// capture with a finished file and a message naming it, a failing sound card
// leaves the picture going (a lost camera: capture_report_test).

#include "capture_graph_fixture.h"
#include "elements/dv_avi_writer_helpers.h"
#include "support/edit_options.h"
#include "support/encoder_fault.h"

#include <atomic>
#include <utility>

namespace kad::test {
namespace {

class CaptureErrors : public CaptureTest {
protected:
    // The sound's length, and how long the microphone is heard in it (from
    // its first sample that is not silence to its last), in seconds of
    // 48 kHz stereo.
    static std::pair<double, double> soundAndHeard(const QString& name)
    {
        const QByteArray pcm = kadtest::audioSamples(name.toStdString());
        qsizetype first = 0;
        qsizetype last = pcm.size();
        while (first < last && pcm[first] == '\0')
            ++first;
        while (last > first && pcm[last - 1] == '\0')
            --last;
        return {double(pcm.size()) / (4.0 * 48000), double(last - first) / (4.0 * 48000)};
    }
};

TEST_F(CaptureErrors, AFailingEncoderEndsTheCaptureWithAFinishedFileAndSaysWhich)
{
    struct Case {
        int format;
        const char* name;
    };
    std::vector<Case> cases{{2, "recompressed.avi"}};
    if (cam.FilterGraph().Presence().WmvAvailable) cases.push_back({3, "profile.wmv"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        ASSERT_TRUE(preview(Source::DvPal, true));
        QString reason;
        const auto stopped = QObject::connect(&cam.Capture(), &TcaptureRun::CaptureStopped,
                                              [&](const QString& why) { reason = why; });
        const QString name = file(c.name);
        ASSERT_NO_FATAL_FAILURE(beginCapture(c.format, name, 20));

        const ElementRef encoder = findVideoEncoder(cam.FilterGraph().Graph());
        ASSERT_TRUE(encoder);
        const QString encoderName = QString::fromUtf8(GST_OBJECT_NAME(encoder.get()));
        std::atomic<bool> failed{false};
        PadRef in(gst_element_get_static_pad(encoder.get(), "sink"));
        ASSERT_TRUE(in);
        const gulong failing =
            gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_BUFFER, failEncoding, &failed, nullptr);

        EXPECT_TRUE(waitUntil([&] { return !reason.isEmpty(); }, 15000))
            << "the capture went on with a failed encoder";
        QObject::disconnect(stopped);
        gst_pad_remove_probe(in.get(), failing);
        EXPECT_TRUE(reason.contains(encoderName)) << reason.toStdString();
        EXPECT_TRUE(reason.contains("Could not encode the frame")) << reason.toStdString();
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_EQ(boxes.shown.back().text, reason);
        EXPECT_FALSE(cam.Capture().Capturing());
        EXPECT_TRUE(cam.Capture().FinishCapture());

        const Probed p = probe(name);
        ASSERT_TRUE(p.ok) << p.error;
        ASSERT_NE(p.first("video"), nullptr);
        EXPECT_GE(p.first("video")->frames, 15);
        EXPECT_EQ(p.count("audio"), 1);
    }
}

TEST_F(CaptureErrors, AFailingMicrophoneLeavesThePictureGoingAndSaysFromWhen)
{
    // A microphone paced by the clock, as a sound card is: one running as
    // fast as it can would have sent the whole test's sound before failing.
    cam.FilterGraph().AudioSource.Bind(
        "Virtual Microphone", [] { return gst_element_factory_make("kadvirtualmicsrc", nullptr); });
    ASSERT_TRUE(preview(Source::Webcam, false, true));
    const QString name = file("native-mic.avi");
    ASSERT_NO_FATAL_FAILURE(beginCapture(0, name, 25));

    // The picture goes on well past the last sound the microphone sent.
    const SoundCardLoss loss = unplugSoundCard(30);
    ASSERT_GE(loss.seconds, 0);
    const double soundSent = loss.seconds;
    const guint64 wanted = loss.frames;
    EXPECT_TRUE(boxes.shown.empty());
    ASSERT_TRUE(cam.Capture().FinishCapture());

    const Probed p = probe(name);
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_NE(p.first("video"), nullptr);
    ASSERT_EQ(p.count("audio"), 1);
    const double picture = p.first("video")->frames / 30.0;
    EXPECT_GE(p.first("video")->frames, qint64(wanted));
    // The sound the microphone gave before failing is kept, the picture
    // runs on past it, and the sound track goes on as silence to its end.
    const auto [sound, heard] = soundAndHeard(name);
    EXPECT_GT(heard, 0.5);
    EXPECT_LE(heard, soundSent + 0.001);
    EXPECT_GT(picture, heard + 1.5);
    EXPECT_NEAR(sound, picture, 1.0 / 30);
}

} // namespace
} // namespace kad::test
