// The capture report through the whole program: on by default, naming the
// format as the Sources panel shows it and the device as the list does; the
// settings panel's box turns it off for the next capture and the next run;
// the schedule's end is told as such.

#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QDir>
#include <QFile>

#include "app/program_fixture.h"
#include "app/schedule_binding.h"
#include "graph/capture_report.h"
#include "support/report_reader.h"
#include "ui/options_panel.h"
#include "ui/schedule_panel.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

class ProgramCaptureReport : public ProgramTest {
protected:
    void startDv()
    {
        ASSERT_TRUE(startPreviewing("dv-pal-vcr"));
        ASSERT_TRUE(showActive());
    }

    // Captures about a second into the current name and returns it.
    QString captureOnce(const std::function<void()>& stop)
    {
        const QString file = form().CurrentVideoFileName();
        QTest::keyClick(&form(), Qt::Key_Space);
        EXPECT_EQ(form().State(), CaptureState::csCapturing);
        EXPECT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 25; }));
        stop();
        EXPECT_TRUE(waitStopped());
        EXPECT_EQ(form().State(), CaptureState::csPreview);
        return file;
    }

    static QString reportOf(const QString& video)
    {
        const QFileInfo f(video);
        return f.path() + "/" + f.completeBaseName() + ".txt";
    }

    // The report, once it is there.
    static kadtest::ReadReport read(const QString& path)
    {
        if (!waitUntil([&] { return QFileInfo::exists(path); }, 10000)) return {};
        return kadtest::readReportFile(path);
    }

    QCheckBox& box() { return *program->Parts().OptionsFrame->cbCaptureReport; }
};

TEST_F(ProgramCaptureReport, OnByDefaultOffFromTheSettingsPanelForGood)
{
    startDv();
    EXPECT_TRUE(box().isChecked());
    const QString shown = program->Parts().SourcesFrame->rgFormat->selectedText();
    const QString device = program->Parts().SourcesFrame->cboxvideo->currentText();
    const QString first = captureOnce([&] { QTest::keyClick(&form(), Qt::Key_Space); });
    const auto report = read(reportOf(first));
    ASSERT_TRUE(report.found) << reportOf(first).toStdString();
    EXPECT_EQ(report.value.at("Format"), shown);
    EXPECT_EQ(report.value.at("Source"), device);
    const auto probe = probeVideo(first);
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(int(report.number("Frames written")), probe->frames);
    EXPECT_TRUE(report.value.at("Ended by").startsWith(CaptureEndText(CaptureEnd::Stopped)));

    act(ActionId::acOptionsFrame)->trigger();
    box().click();
    EXPECT_FALSE(program->Parts().Prefs->CaptureReport.Value);
    const QString second = captureOnce([&] { QTest::keyClick(&form(), Qt::Key_Space); });
    ASSERT_TRUE(probeVideo(second).has_value());
    QTest::qWait(500);
    EXPECT_FALSE(QFileInfo::exists(reportOf(second)));
    EXPECT_EQ(QDir(videos).entryList({"*.txt"}, QDir::Files).size(), 1);

    form().close();
    program.reset();
    Naming() = NamingState();
    start();
    EXPECT_FALSE(box().isChecked());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramCaptureReport, TheScheduledEndIsToldAsSuch)
{
    startDv();
    // The end alarm stops a capture on the end date only: late in the
    // evening the preset end, half an hour on, falls on tomorrow.
    program->Parts().ProgrammerFrame1->DateEdit2->setDate(QDate::currentDate());
    TSchedule& schedule = program->Schedule().Schedule();
    const QString file = captureOnce([&] { schedule.StopperEnregistrement(); });
    const auto report = read(reportOf(file));
    ASSERT_TRUE(report.found);
    EXPECT_TRUE(report.value.at("Ended by").startsWith(CaptureEndText(CaptureEnd::ScheduleEnd)))
        << report.value.at("Ended by").toStdString();
}

} // namespace
} // namespace kad::test
