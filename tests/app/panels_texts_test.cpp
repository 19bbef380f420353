// The option panels carry the controls and the texts the user knows, and they
// fit the place beside the preview.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "app/panels_support.h"
#include "app/sources_panel.h"
#include "features/camcorder_window.h"
#include "features/grab_panel.h"
#include "features/inlay_panel.h"
#include "features/moviebox_window.h"
#include "features/schedule_panel.h"
#include "settings/folders_panel.h"
#include "settings/options_panel.h"
#include "system/about_panel.h"
#include "system/error_report_panel.h"
#include "system/help_panel.h"

using namespace kad;

namespace {

QStringList comboItems(const QComboBox* box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

} // namespace

TEST(PanelsTexts, SourcesPanelControlsAndLists)
{
    TSourcesFrame p;
    EXPECT_EQ(p.GroupBox2->title(), "Sources (F2)");
    EXPECT_EQ(p.gbVideo->title(), "Video source");
    EXPECT_EQ(p.gbAudio->title(), "Audio sources");
    EXPECT_EQ(p.rgFormat->title(), "Format of capture");
    EXPECT_EQ(p.rgEcouterDV->title(), "Listen audio DV");
    EXPECT_EQ(p.rgFrequenceDV->title(), "Frequency");
    EXPECT_EQ(p.rgProfiles->title(), "Standard profiles of wmv");
    EXPECT_EQ(p.rgProfiles->items(), QStringList({"High", "Medium", "Low", "Internet"}));
    EXPECT_EQ(p.rgProfiles->itemIndex(), 1);
    EXPECT_EQ(p.rgStandard->items(), QStringList({"Pal", "NTSC"}));
    EXPECT_FALSE(p.rgStandard->isEnabled());
    EXPECT_EQ(p.rgFormat->items(), QStringList({"video native", "DV type 2"}));
    EXPECT_EQ(p.rgEcouterDV->items(), QStringList({"DV native frequency", "force 44100 Hz"}));
    EXPECT_EQ(p.rgEcouterDV->itemIndex(), 0);
    // Exactly three, so a stored index 2 means 48000 Hz.
    EXPECT_EQ(p.rgFrequenceDV->items(), QStringList({"native", "32000 Hz", "48000 Hz"}));
    EXPECT_EQ(comboItems(p.cboxAudioType),
              QStringList({"No Audio", "Audio included in the stream of  MovieBox",
                           "Add an audio source"}));
    EXPECT_EQ(p.cboxAudioType->currentText(), "No Audio");
    EXPECT_EQ(p.Label1->text(), "Windows Media\nprofile set in\nthe Settings\npanel\n (F10).");
    EXPECT_EQ(p.Label2->text(), "Settings of the\nsound card");
    EXPECT_EQ(p.sbDone->toolTip(), "Hide the settings buttons");
    EXPECT_EQ(p.PilotSpeedBtn->toolTip(), "Display or hide the camcorder driver");
    EXPECT_EQ(p.RXspinCorrEdit->minimum(), -60);
    EXPECT_EQ(p.RXspinCorrEdit->maximum(), 60);
    EXPECT_EQ(p.sbVideo->text(), " ");
    EXPECT_EQ(p.sbFerrovue->text(), " ");
    ASSERT_NE(p.pmProfiles, nullptr);

    // The window's text routine runs first; the panel's own routine wins.
    p.rgFrequenceDV->setTitle("DV Frequency");
    p.PilotSpeedBtn->setToolTip(QString());
    p.gbAudio->setToolTip(QString());
    ASSERT_TRUE(QMetaObject::invokeMethod(&p, "ApplyTexts"));
    EXPECT_EQ(p.rgFrequenceDV->title(), "Frequency");
    EXPECT_EQ(p.PilotSpeedBtn->toolTip(), "Display or hide the camcorder driver");
    EXPECT_EQ(p.gbAudio->toolTip(), "Whether to add an audio source");
}

TEST(PanelsTexts, SourcesListsPerSourceKind)
{
    EXPECT_EQ(TSourcesFrame::FormatItems(SourceKind::skDV, true),
              QStringList(
                  {"DV type 1 (native)", "DV type 2 (normal)", "DV type 2 (recompressed)", "Wmv"}));
    // Without Windows Media a DV source offers three formats.
    EXPECT_EQ(TSourcesFrame::FormatItems(SourceKind::skDV, false).size(), 3);
    EXPECT_EQ(TSourcesFrame::FormatItems(SourceKind::skAnalog, true),
              QStringList({"Native Video", "DV type 2 (recompressed)", "Wmv"}));
    EXPECT_TRUE(TSourcesFrame::FormatItems(SourceKind::skNoVideo, true).isEmpty());
    EXPECT_EQ(
        TSourcesFrame::AudioTypeItems(SourceKind::skMovieBoxB, true),
        QStringList({"No Audio", "Audio from the MovieBox", "Add an Audio Source (soundcard)"}));
    EXPECT_EQ(TSourcesFrame::AudioTypeItems(SourceKind::skMpeg2, false),
              QStringList({"No Audio", "Audio from the MPEG2 stream"}));
    // No audio device: no sound-card item.
    EXPECT_EQ(TSourcesFrame::AudioTypeItems(SourceKind::skAnalog, false),
              QStringList({"No Audio"}));
    EXPECT_EQ(TSourcesFrame::AudioTypeItems(SourceKind::skDV, true)[1], "Audio from the DV stream");
}

TEST(PanelsTexts, SourcesAudioGroupCollapsesAndProfilesFollowTheFormat)
{
    TSourcesFrame p;
    EXPECT_TRUE(p.AudioGroupCollapsed());
    p.SetAudioSettingsShown(true);
    EXPECT_FALSE(p.AudioGroupCollapsed());
    p.sbDone->click();
    EXPECT_TRUE(p.AudioGroupCollapsed());

    p.ShowProfileControls(true, false);
    EXPECT_FALSE(p.rgProfiles->isHidden());
    EXPECT_TRUE(p.Label1->isHidden());
    p.ShowProfileControls(true, true);
    EXPECT_TRUE(p.rgProfiles->isHidden());
    EXPECT_FALSE(p.Label1->isHidden());
    p.ShowProfileControls(false, true);
    EXPECT_TRUE(p.rgProfiles->isHidden());
    EXPECT_TRUE(p.Label1->isHidden());
}

TEST(PanelsTexts, FoldersGrabScheduleInlayTexts)
{
    TDossiersFrame d;
    EXPECT_EQ(d.GroupBox1->title(), "Directories (Alt+D)");
    EXPECT_EQ(d.gbFichier->title(), "Video Files");
    EXPECT_EQ(d.gbFichierImages->title(), "Image Files");
    EXPECT_EQ(d.GroupBox2->title(), "Ferrovue");
    EXPECT_EQ(d.VideoRacineEdit->text(), "Video");
    EXPECT_EQ(d.ImageRacineEdit->text(), "Image");
    EXPECT_EQ(d.cbVideoDate->text(), "Include date");
    EXPECT_EQ(d.cbImageDate->text(), "Include date");
    EXPECT_TRUE(d.cbVideoDate->isChecked());
    EXPECT_FALSE(d.cbImageDate->isChecked());
    EXPECT_EQ(d.feFerrovue->text(), "feFerrovue");
    EXPECT_TRUE(d.VideoDirEdit->isReadOnly());
    EXPECT_TRUE(d.ImageDirEdit->isReadOnly());
    EXPECT_EQ(d.LabelVideo->toolTip(),
              "Indicates the next name for capture,\nor the current name if capture is beeing "
              "processed.\nClick here to go to the Sources panel.");

    TExtraireFrame g;
    EXPECT_EQ(g.GroupBox2->title(), "Grab images (F5)");
    EXPECT_EQ(g.gbIntervallo->title(), "Intervalometer");
    EXPECT_EQ(g.GroupBox1->title(), "Next image");
    EXPECT_EQ(comboItems(g.cbUnites), QStringList({"seconds", "frames", "minutes", "hours"}));
    EXPECT_EQ(g.cbUnites->currentText(), "seconds");
    EXPECT_EQ(g.cbBeeps->text(), "Beeps");
    EXPECT_EQ(g.RxSpinEdit7->value(), 10);
    EXPECT_EQ(g.RxSpinEdit7->maximum(), 999999);
    EXPECT_EQ(g.Image->toolTip(), "Last grabbed image");
    EXPECT_EQ(g.chronoLab->toolTip(), "Delay in seconds till the next snapshot.");
    EXPECT_EQ(g.destlabel->toolTip(),
              "Name of the file for the next grabbed picture.\nClic on it to change the folder.");
    EXPECT_FALSE(g.RxSwitch1->isChecked());

    TProgrammerFrame s;
    EXPECT_EQ(s.gbProgrammer->title(), "Schedule (Alt+P)");
    EXPECT_EQ(s.gbDebut->title(), "Start");
    EXPECT_EQ(s.gbFin->title(), "End");
    EXPECT_EQ(s.ProgBtn->text(), "Schedule");
    EXPECT_EQ(s.ProgBtn->toolTip(), "Start scheduling");
    EXPECT_EQ(s.StopprogBtn->text(), "Stop Sched");
    EXPECT_EQ(s.StopprogBtn->toolTip(), "Stop scheduling");
    EXPECT_TRUE(s.StopprogBtn->isHidden());
    EXPECT_EQ(s.RxClock2->font().family(), "Rockwell");
    EXPECT_EQ(s.RxClock2->toolTip(), "real time from computer");
    EXPECT_EQ(s.DateEdit1->toolTip(), "date du début de la capture programmée.");
    EXPECT_EQ(s.RxSpinEdit1->maximum(), 23);
    EXPECT_EQ(s.RxSpinEdit6->maximum(), 59);

    TIncrusterFrame i;
    EXPECT_EQ(i.GroupBox1->title(), "Inlay (Alt+I)");
    EXPECT_EQ(i.cbAllowIncrust->text(), "Allow inlays");
    EXPECT_EQ(i.rgMode->items(), QStringList({"Manual", "Auto"}));
    EXPECT_EQ(i.rgChoix->items(), QStringList({"Real date and time", "DV datecode"}));
    EXPECT_EQ(i.Label2->text(), "Duration in seconds");
    EXPECT_EQ(i.Label1->text(), "Time difference");
    EXPECT_EQ(i.LabelFormat->text(), "Format for displaying the datecode");
    EXPECT_EQ(i.Label7->text(), "Choose the font.");
    EXPECT_EQ(i.cbAutoFontSize->text(), "Automatic size");
    EXPECT_EQ(i.IncrusterBtn->text(), "Inlay");
    EXPECT_EQ(i.RxSpinEdit2->minimum(), -23);
}

TEST(PanelsTexts, InlayPanelAdaptsToFiltersAndSource)
{
    TIncrusterFrame i;
    i.AdaptPanel(false, true);
    EXPECT_TRUE(i.rgMode->isHidden());
    EXPECT_TRUE(i.IncrusterBtn->isHidden());
    EXPECT_FALSE(i.Memo1->isHidden());
    EXPECT_EQ(i.Memo1->toPlainText(),
              "If you want to enable the datetime inlays you must install some directshow "
              "filters from Tavrel.\nTo do so, download the latest version of Kadrillo, and make "
              "a full installation.");
    EXPECT_EQ(i.LnkUrlLabel1->text(), "Homegepage de Kadrillo");

    TIncrusterFrame dv;
    dv.AdaptPanel(true, true);
    dv.rgChoix->button(1)->click();
    EXPECT_FALSE(dv.gbDecalage->isHidden());
    // A webcam offers only the computer's clock; the datecode choice falls
    // back to the first item.
    dv.AdaptPanel(true, false);
    EXPECT_EQ(dv.rgChoix->items(), QStringList({"Real date and time"}));
    EXPECT_EQ(dv.rgChoix->itemIndex(), 0);
    EXPECT_TRUE(dv.gbDecalage->isHidden());
    EXPECT_TRUE(dv.Memo1->isHidden());
}

TEST(PanelsTexts, OptionsHelpAboutErrorTexts)
{
    TOptionsFrame o;
    EXPECT_EQ(o.GroupBox1->title(), "Settings (F10)");
    EXPECT_EQ(o.rgExtension->items(), QStringList({"bmp", "jpeg"}));
    EXPECT_EQ(o.rgExtension->toolTip(), "Choose the type of snapshots");
    EXPECT_EQ(o.gbQuality->title(), "Jpeg quality");
    EXPECT_EQ(o.gbQuality->toolTip(), "Set the quality of Jpeg.\nmini at left - maxi at right");
    EXPECT_EQ(o.labQuality->text(), "50");
    EXPECT_EQ(o.TrackBar1->minimum(), 1);
    EXPECT_EQ(o.TrackBar1->maximum(), 100);
    EXPECT_EQ(o.gbPrefs->title(), "Preferences");
    EXPECT_EQ(o.LabelSauverNow->text(), "Save the preferences now");
    EXPECT_EQ(o.LabelEffacerPrefs->text(), "Delete the preferences");
    EXPECT_EQ(o.cbPrefsQuittant->text(), "Save the preferences when quit");
    EXPECT_EQ(o.cbConfirmer->text(), "Confirm before replacing an existing image");
    EXPECT_EQ(o.cbDeinterlacer->text(), "Deinterlace");
    EXPECT_EQ(o.cbAllowIncrust->text(), "Allow inlays");
    EXPECT_EQ(o.Label1->text(), "Version\nof Windows Media");
    EXPECT_EQ(o.rgversion->items(), QStringList({"4", "7", "8"}));
    EXPECT_EQ(o.rgversion->itemIndex(), 2);
    EXPECT_EQ(o.cboxMedia->itemText(0), "Use the default profiles");

    THelpFrame h;
    ASSERT_EQ(h.PageControl1->count(), 3);
    EXPECT_EQ(h.PageControl1->tabText(0), "Keyboard shortcuts");
    EXPECT_EQ(h.PageControl1->tabText(1), "Camcorder");
    EXPECT_EQ(h.PageControl1->tabText(2), "System");
    EXPECT_EQ(h.cbLog->text(), "save a log file");
    EXPECT_EQ(h.Label2->text(), "Drive a DV camcorder");
    EXPECT_EQ(h.ValueListEditor1->headerItem()->text(0), "Function");
    EXPECT_EQ(h.ValueListEditor1->headerItem()->text(1), "Keyboards");
    EXPECT_EQ(h.ValueListEditor3->headerItem()->text(1), "Keyboards");
    h.show();
    EXPECT_EQ(h.Memo1->toPlainText(), "These commands are only active\nif a digital camcorder is "
                                      "connected\nto a firewire plug,\nand if it is set on in VCR "
                                      "mode.");

    TAproposFrame a;
    EXPECT_EQ(a.RxLabel1->text(), "Kadrillo 3.3c En");
    EXPECT_EQ(a.LnkUrlLabel1->text(), "Homepage of Tavrel");
    EXPECT_EQ(a.LnkUrlLabel1->font().family(), "Verdana");
    EXPECT_EQ(a.LnkUrlLabel2->text(), "e-mail of Tavrel");
    EXPECT_EQ(a.Image1->toolTip(), "Yes, I have a big nose!?");
    EXPECT_EQ(a.sbFerrovue->toolTip(), "Click to open the captured clips with Ferrovue.");
    EXPECT_TRUE(a.Memo1->toPlainText().contains("26th of October, 2005"));

    TErreurFrame e;
    EXPECT_EQ(e.LnkUrlLabel1->text(), "Homepage of Tavrel");
    EXPECT_EQ(e.LnkUrlLabel2->text(), "Send an error report by  e-mail");
    EXPECT_EQ(e.LnkUrlLabel2->font().family(), "Verdana");
    EXPECT_EQ(e.FermerErreurBtn->text(), "Close");
    EXPECT_TRUE(e.isHidden());
}

TEST(PanelsTexts, CamcorderAndMovieBoxWindows)
{
    TcamForm c;
    EXPECT_EQ(c.windowTitle(), "camForm");
    EXPECT_EQ(c.TimecodePanel->text(), "0:00:00:00");
    EXPECT_EQ(c.TimecodePanel->toolTip(), "Timecode on the DV tape");
    EXPECT_EQ(c.cbStopQuittant->text(), "Stop when quit");
    EXPECT_EQ(c.cbStopQuittant->toolTip(),
              "If checked, the DV camcorder will automatically stop when the application closes");
    EXPECT_EQ(c.size(), QSize(481, 74));
    auto* nav = c.nav_captureframe1;
    EXPECT_EQ(nav->PlayBtn->text(), "Play");
    EXPECT_EQ(nav->PauseBtn->text(), "Pause");
    EXPECT_EQ(nav->StopBtn->text(), "Stop");
    EXPECT_EQ(nav->ReculeRapideBtn->toolTip(), "Fast rewind");
    EXPECT_EQ(nav->ReculeLentBtn->toolTip(), "Slow rewind");
    EXPECT_EQ(nav->AvanceLentBtn->toolTip(), "Slow forward");
    EXPECT_EQ(nav->AvanceRapideBtn->toolTip(), "Fast forward");
    EXPECT_EQ(nav->PlayAction->shortcuts(),
              QList<QKeySequence>(
                  {QKeySequence(Qt::Key_Insert), QKeySequence(Qt::SHIFT | Qt::Key_Space)}));
    EXPECT_EQ(nav->PauseAction->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_EQ(nav->AvanceRapideAction->shortcut(), QKeySequence(Qt::Key_Up));
    c.SetSourceDescription("Virtual DV camcorder");
    EXPECT_EQ(c.windowTitle(), "Drive the camcorder: Virtual DV camcorder");

    TamorcerForm m;
    EXPECT_EQ(m.windowTitle(), "Launch the MovieBox USB - to make it active with Kadrillo");
    EXPECT_EQ(m.size(), QSize(700, 400));
    EXPECT_EQ(m.re->size(), QSize(276, 296));
    const QString text = m.re->toPlainText();
    EXPECT_TRUE(text.startsWith("Check if the Moviebox is well launched.\n\nLaunch first Studio of "
                                "Pinnacle and verify"));
    EXPECT_TRUE(text.contains(" then Kadrillo 3.3c.\n\nYou can also verify"));
    EXPECT_TRUE(text.endsWith("bitrate of the Mpeg2 stream  (value Bitrate)."));
    EXPECT_TRUE(m.Memo2->isHidden());
}

// Every panel reads whole in a place of 265 x 330; the Sources panel's
// tallest arrangement needs the window's full panel place.
TEST(PanelsTexts, EveryPanelFitsItsPlaceWithNothingClipped)
{
    const QSize compact(265, 330);
    TSourcesFrame sources;
    test::useWindowFont(&sources);
    // The tallest arrangement: recompressed DV with a sound card.
    sources.rgFormat->setItems(TSourcesFrame::FormatItems(SourceKind::skDV, true));
    sources.rgStandard->show();
    sources.SetAudioSettingsShown(true);
    sources.rgFrequenceDV->show();
    sources.PilotSpeedBtn->show();
    test::expectFitsPanelPlace(&sources, kPanelSize);
    // DV with its own audio listened to, and Windows Media with its note.
    sources.SetAudioSettingsShown(false);
    sources.rgEcouterDV->show();
    sources.rgStandard->hide();
    sources.ShowProfileControls(true, true);
    test::expectFitsPanelPlace(&sources, compact);

    TDossiersFrame folders;
    test::useWindowFont(&folders);
    folders.ShowVideoName("Video_051226_134805_10.avi");
    folders.ShowImageName("Image_051226_134805_0010.jpg");
    test::expectFitsPanelPlace(&folders, compact);

    TOptionsFrame options;
    test::useWindowFont(&options);
    options.SelectExtension(1);
    test::expectFitsPanelPlace(&options, compact);

    TExtraireFrame grab;
    test::useWindowFont(&grab);
    grab.chronoLab->setText("10");
    grab.chronoLab->show();
    test::expectFitsPanelPlace(&grab, compact);

    TProgrammerFrame schedule;
    test::useWindowFont(&schedule);
    test::expectFitsPanelPlace(&schedule, compact);

    TIncrusterFrame inlay;
    test::useWindowFont(&inlay);
    inlay.AdaptPanel(true, true);
    inlay.gbDuree->show();
    inlay.gbDecalage->show();
    test::expectFitsPanelPlace(&inlay, compact);
    TIncrusterFrame noInlay;
    test::useWindowFont(&noInlay);
    noInlay.AdaptPanel(false, false);
    test::expectFitsPanelPlace(&noInlay, compact);

    THelpFrame help;
    test::useWindowFont(&help);
    test::expectFitsPanelPlace(&help, compact);

    TAproposFrame about;
    test::useWindowFont(&about);
    test::expectFitsPanelPlace(&about, compact);
}
