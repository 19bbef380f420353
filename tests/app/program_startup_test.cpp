// Start-up of the assembled program: first start, no device, a device list
// that cannot be loaded, the virtual DV camcorder, and the log switch.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QSlider>

#include "app/program_fixture.h"
#include "system/log.h"
#include "ui/error_report_panel.h"
#include "ui/help_panel.h"
#include "ui/options_panel.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

using ProgramStartup = ProgramTest;

// A machine without any capture device.
std::optional<std::vector<TdeviceEntry>> noDevices(DeviceCategory)
{
    return std::vector<TdeviceEntry>{};
}

TEST_F(ProgramStartup, FirstStartWithAnEmptyHiveShowsTheDefaultsCentred)
{
    SetDeviceEnumerator(noDevices);
    ASSERT_FALSE(QFileInfo::exists(hive));
    start();

    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(form().x(), (screen.width() - form().width()) / 2);
    EXPECT_EQ(form().y(), (screen.height() - form().height()) / 2);
    EXPECT_EQ(form().ActivePanel(), 0);
    EXPECT_TRUE(form().Panel(0)->isVisible());
    EXPECT_EQ(form().tb->value(), 10000);
    EXPECT_FALSE(act(ActionId::acMute)->isChecked());
    EXPECT_FALSE(act(ActionId::acReduire)->isChecked());
    EXPECT_TRUE(program->Parts().OptionsFrame->cbPrefsQuittant->isChecked());
    EXPECT_TRUE(program->Parts().OptionsFrame->cbConfirmer->isChecked());
    EXPECT_EQ(program->Parts().SourcesFrame->RXspinCorrEdit->value(), 10);
    EXPECT_FALSE(LogOpen());
    // The camcorder window sits just under the main window, left-aligned.
    EXPECT_EQ(program->Prefs().CamformLeft.Value, program->Prefs().Left.Value);
    EXPECT_EQ(program->Prefs().CamformTop.Value,
              program->Prefs().Top.Value + program->Prefs().Defaults.WindowSize.height());
    // The first video name of the run is number 0.
    EXPECT_TRUE(form().CurrentVideoFileName().endsWith(QLatin1String("_0.avi")))
        << form().CurrentVideoFileName().toStdString();
    // No message at all on a clean start.
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramStartup, NoVideoDeviceGivesTheIdleStateWithAGreyFrame)
{
    SetDeviceEnumerator(noDevices);
    start();

    EXPECT_EQ(form().State(), CaptureState::csIdle);
    EXPECT_EQ(form().FrameColour(), kIdleColour);
    const QComboBox* video = program->Parts().SourcesFrame->cboxvideo;
    EXPECT_EQ(video->count(), 0);
    EXPECT_EQ(video->placeholderText(), QStringLiteral("No video source"));
    EXPECT_FALSE(act(ActionId::acCapturerBascule)->isEnabled());
    EXPECT_FALSE(program->Parts().SourcesFrame->rgFormat->isVisibleTo(form().Panel(0)));
    // An empty list is no loading failure: no report.
    EXPECT_FALSE(program->Parts().ErreurFrame1->isVisible());
    // Without audio devices the sound-card item is not offered.
    EXPECT_EQ(program->Parts().SourcesFrame->cboxAudioType->findText(
                  QStringLiteral("Add an Audio Source (soundcard)")),
              -1);
}

TEST_F(ProgramStartup, AFailingDeviceListGivesAFatalReportAndClosingEndsTheProgram)
{
    SetDeviceEnumerator([](DeviceCategory c) -> std::optional<std::vector<TdeviceEntry>> {
        if (c == DeviceCategory::Video) return std::nullopt;
        return std::vector<TdeviceEntry>{};
    });
    start();

    TErreurFrame* report = program->Parts().ErreurFrame1;
    ASSERT_TRUE(report->isVisible());
    EXPECT_TRUE(report->ErrorIsFatal());
    const QString text = report->Memo1->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("Impossible to load the Video sources")));
    EXPECT_FALSE(text.contains(QStringLiteral("Impossible to load the Audio sources")));
    EXPECT_EQ(form().State(), CaptureState::csIdle);

    // Closing the report closes the window the normal way, which saves the
    // preferences (save at exit is on by default).
    const auto saved = [this] {
        QFile file(hive);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains("Signature");
    };
    ASSERT_FALSE(saved());
    QTest::mouseClick(report->FermerErreurBtn, Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return !form().isVisible(); }, 5000));
    EXPECT_TRUE(saved());
}

TEST_F(ProgramStartup, TheVirtualDvCamcorderIsPreviewedWithItsStatusTexts)
{
    useDevices("dv-pal-vcr");
    SetDeviceEnumerator([](DeviceCategory c) -> std::optional<std::vector<TdeviceEntry>> {
        if (c == DeviceCategory::Audio) return std::vector<TdeviceEntry>{};
        return EnumerateDevices(c);
    });
    start();

    ASSERT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skDV);
    EXPECT_TRUE(cam().Source().Facts().IsVCR);
    // Inlays are allowed by default and both inlay elements are ours, so the
    // preview says it can carry one.
    EXPECT_EQ(form().StatusText(1), QStringLiteral("Preview INC DV VCR"));
    EXPECT_EQ(form().StatusText(2), QStringLiteral("Vid: DV type 1  - Aud:  DV"));
    EXPECT_TRUE(form().StatusText(3).contains(QStringLiteral(" MB free on ")));
    EXPECT_EQ(form().FrameColour(), form().palette().color(QPalette::Button));
    EXPECT_TRUE(act(ActionId::acCapturerBascule)->isEnabled());
    EXPECT_TRUE(form().windowTitle().endsWith(QStringLiteral(" - Virtual DV Camcorder (PAL)")))
        << form().windowTitle().toStdString();
    EXPECT_TRUE(program->Parts().SourcesFrame->PilotSpeedBtn->isVisibleTo(form().Panel(0)));
    EXPECT_TRUE(waitForPicture());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ProgramStartup, TheLogSwitchWritesTheSourceListAndTheSystemReport)
{
    useDevices("dv-pal-vcr");
    start();
    THelpFrame* help = program->Parts().HelpFrame1;
    ASSERT_FALSE(LogOpen());

    help->cbLog->click();
    ASSERT_TRUE(LogOpen());
    EXPECT_TRUE(act(ActionId::acLog)->isChecked());
    QFile file(LogFileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(file.readAll());
    file.close();
    EXPECT_TRUE(log.contains(QStringLiteral("List of displayed video sources:")));
    EXPECT_TRUE(log.contains(QStringLiteral("Virtual DV Camcorder (PAL)")));
    EXPECT_TRUE(log.contains(QStringLiteral("   >>> Select = Virtual DV Camcorder (PAL)")));
    EXPECT_TRUE(log.contains(QStringLiteral("Filters:")));

    help->cbLog->click();
    EXPECT_FALSE(LogOpen());
    EXPECT_FALSE(act(ActionId::acLog)->isChecked());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(
        QString::fromUtf8(file.readAll()).contains(QStringLiteral("Log file terminated on ")));
}

} // namespace
} // namespace kad::test
