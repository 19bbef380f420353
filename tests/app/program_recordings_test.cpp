// The options "Split at each new recording" and "Name videos by recording
// date" through the whole program: the options panel, the preferences, and a
// capture of the virtual camcorder's tape read back with ffprobe and ffmpeg.

#include <QCheckBox>
#include <QDir>
#include <QFile>

#include <functional>

#include "app/capture_control.h"
#include "app/program_fixture.h"
#include "media/dv/recording_watch.h"
#include "support/readers.h"
#include "ui/options_panel.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

using kadtest::firstFrameDate;

class ProgramRecordings : public ProgramTest {
protected:
    // The camcorder's tape, one recording a second, previewed with "Split
    // at each new recording" on; the capture's first file is its _0.
    void previewTapeSplitting()
    {
        ASSERT_TRUE(startPreviewing("dv-pal-vcr"));
        program->Parts().OptionsFrame->cbSplitRecordings->click();
        g_object_set(cam().FilterGraph().VideoSource.Element(), "scene-length", 1u, NULL);
        ASSERT_TRUE(form().CurrentVideoFileName().endsWith(QLatin1String("_0.avi")));
    }

    // One capture by the toggle, stopped once `frames` frames are in;
    // `meanwhile` runs as soon as it has begun.
    void captureByToggle(guint64 frames, const std::function<void()>& meanwhile = {})
    {
        act(ActionId::acCapturerBascule)->trigger();
        ASSERT_EQ(form().State(), CaptureState::csCapturing);
        if (meanwhile) meanwhile();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= frames; }));
        act(ActionId::acCapturerBascule)->trigger();
        ASSERT_TRUE(waitStopped());
        ASSERT_EQ(form().State(), CaptureState::csPreview);
        pump(200);
    }
};

TEST_F(ProgramRecordings, BothOptionsAreSavedAndCutAndNameTheCapture)
{
    ASSERT_TRUE(startPreviewing("dv-pal-vcr"));
    TOptionsFrame* options = program->Parts().OptionsFrame;
    ASSERT_FALSE(options->cbSplitRecordings->isChecked());
    ASSERT_FALSE(options->cbNameByDate->isChecked());
    act(ActionId::acOptionsFrame)->trigger();
    options->cbSplitRecordings->click();
    options->cbNameByDate->click();
    EXPECT_TRUE(program->Parts().Prefs->SplitAtRecording.Value);
    EXPECT_TRUE(program->Parts().Prefs->NameByRecordingDate.Value);

    // One recording a second on the tape.
    g_object_set(cam().FilterGraph().VideoSource.Element(), "scene-length", 1u, NULL);
    const QString numbered = form().CurrentVideoFileName();
    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_EQ(form().State(), CaptureState::csCapturing);
    // The window shows the file being written under its date name.
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 80; }));
    ASSERT_TRUE(waitUntil([&] { return form().CurrentVideoFileName() != numbered; }));
    EXPECT_TRUE(FileNamePart(form().CurrentVideoFileName()).startsWith(QLatin1String("Video_20")));
    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_TRUE(waitStopped());
    ASSERT_EQ(form().State(), CaptureState::csPreview);
    const qint64 captured = static_cast<qint64>(cam().Capture().CapturedFrames());

    const QStringList files =
        QDir(videos).entryList({QStringLiteral("*.avi")}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 3) << files.join(u',').toStdString();
    qint64 total = 0;
    std::optional<dv::RecordingDateTime> before;
    for (const QString& name : files) {
        const QString path = QDir(videos).filePath(name);
        const auto probe = probeVideo(path);
        ASSERT_TRUE(probe.has_value()) << name.toStdString();
        total += probe->frames;
        // Every file is named after its first frame; the files after the
        // first begin a recording, a jump from the one before.
        const auto date = firstFrameDate(path);
        ASSERT_TRUE(date.has_value()) << name.toStdString();
        EXPECT_EQ(
            name,
            QStringLiteral("Video_%1.avi").arg(QString::fromStdString(dv::fileNameStamp(*date))));
        if (before) {
            EXPECT_GT(dv::secondsOf(*date) - dv::secondsOf(*before), 90000);
        }
        before = date;
    }
    EXPECT_EQ(total, captured);
    EXPECT_TRUE(dialogs.shown.empty());

    // Saved with the preferences, and shown again at the next start.
    form().close();
    program.reset();
    auto prefs = CreatePreferences(QSize(700, 459), hive);
    EXPECT_TRUE(prefs->SplitAtRecording.Value);
    EXPECT_TRUE(prefs->NameByRecordingDate.Value);
    Naming() = NamingState();
    start();
    EXPECT_TRUE(program->Parts().OptionsFrame->cbSplitRecordings->isChecked());
    EXPECT_TRUE(program->Parts().OptionsFrame->cbNameByDate->isChecked());
}

TEST_F(ProgramRecordings, SplitFilesTakeTheNextNumbersAndTheNextCaptureNoneOfThem)
{
    ASSERT_NO_FATAL_FAILURE(previewTapeSplitting());
    const QString first = form().CurrentVideoFileName();
    ASSERT_NO_FATAL_FAILURE(captureByToggle(70));

    const QStringList files =
        QDir(videos).entryList({QStringLiteral("*.avi")}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 3) << files.join(u',').toStdString();
    qint64 total = 0;
    for (int k = 0; k < files.size(); ++k) {
        EXPECT_EQ(QDir(videos).filePath(files[k]),
                  first.left(first.size() - 5) + QString("%1.avi").arg(k));
        const auto probe = probeVideo(QDir(videos).filePath(files[k]));
        ASSERT_TRUE(probe.has_value()) << files[k].toStdString();
        total += probe->frames;
    }
    EXPECT_EQ(total, static_cast<qint64>(cam().Capture().CapturedFrames()));
    // The next capture's name is none of the files just written.
    EXPECT_EQ(form().CurrentVideoFileName(),
              first.left(first.size() - 5) + QString("%1.avi").arg(files.size()));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramRecordings, ACutNeverDrawsTheNameTheNextRecordingWillTake)
{
    ASSERT_NO_FATAL_FAILURE(previewTapeSplitting());
    const QString first = form().CurrentVideoFileName();
    const QString stem = first.left(first.size() - 5);
    QString cut;
    ASSERT_NO_FATAL_FAILURE(captureByToggle(70, [&] {
        ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 5; }));
        // _1 waits for the tape's next recording: the cut takes _2, or _3
        // when the tape has already reached that recording (_2 waits then).
        const bool reachedNextRecording = QFile::exists(stem + "1.avi");
        act(ActionId::acCouper)->trigger();
        cut = program->Capture().PendingCut();
        EXPECT_EQ(cut.toStdString(),
                  (stem + (reachedNextRecording ? "3.avi" : "2.avi")).toStdString());
    }));

    // Every file holds frames, and together all that was captured.
    const QStringList files =
        QDir(videos).entryList({QStringLiteral("*.avi")}, QDir::Files, QDir::Name);
    EXPECT_TRUE(files.contains(FileNamePart(cut))) << files.join(u',').toStdString();
    qint64 total = 0;
    for (const QString& name : files) {
        const auto probe = probeVideo(QDir(videos).filePath(name));
        ASSERT_TRUE(probe.has_value()) << name.toStdString();
        EXPECT_GT(probe->frames, 0) << name.toStdString();
        total += probe->frames;
    }
    EXPECT_EQ(total, static_cast<qint64>(cam().Capture().CapturedFrames()));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramRecordings, WithTheOptionsOffTheTapeStaysInOneNumberedFile)
{
    ASSERT_TRUE(startPreviewing("dv-pal-vcr"));
    g_object_set(cam().FilterGraph().VideoSource.Element(), "scene-length", 1u, NULL);
    const QString numbered = form().CurrentVideoFileName();
    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_EQ(form().State(), CaptureState::csCapturing);
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 60; }));
    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_TRUE(waitStopped());
    EXPECT_EQ(QDir(videos).entryList({QStringLiteral("*.avi")}, QDir::Files),
              QStringList{FileNamePart(numbered)});
    const auto probe = probeVideo(numbered);
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(probe->frames, static_cast<int>(cam().Capture().CapturedFrames()));
}

} // namespace
} // namespace kad::test
