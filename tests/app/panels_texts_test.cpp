// The option panels carry the controls and the texts the user knows, and they
// fit the place beside the preview.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <initializer_list>

#include <gtest/gtest.h>

#include "app/panels_support.h"
#include "session/capture_settings.h"
#include "settings/wm_profiles.h"
#include "system/texts.h"
#include "ui/about_panel.h"
#include "ui/camcorder_window.h"
#include "ui/error_report_panel.h"
#include "ui/folders_panel.h"
#include "ui/grab_panel.h"
#include "ui/help_panel.h"
#include "ui/inlay_panel.h"
#include "ui/moviebox_window.h"
#include "ui/options_panel.h"
#include "ui/schedule_panel.h"
#include "ui/shortcuts.h"
#include "ui/sources_panel.h"

using namespace kad;

namespace {

QStringList comboItems(const QComboBox* box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

// Every entry of the string table replaced by a mark "[#n]" while alive; an
// entry's placeholders follow its mark so texts built on them still take
// their values.
class MarkedTexts {
public:
    MarkedTexts()
    {
        static const QRegularExpression placeholder(QStringLiteral("%\\d"));
        for (int i = 0; i < static_cast<int>(TextId::Count_); ++i) {
            const auto id = static_cast<TextId>(i);
            QString mark = QStringLiteral("[#") + QString::number(i) + u']';
            for (const auto& m : placeholder.globalMatch(Text(id)))
                mark += m.captured();
            SetText(id, mark);
        }
    }
    ~MarkedTexts() { ResetTexts(); }
    MarkedTexts(const MarkedTexts&) = delete;
    MarkedTexts& operator=(const MarkedTexts&) = delete;
};

// What a user can read on a window and the widgets in it: captions, titles,
// hints, contents, list items and the texts of their actions. The values of
// editable fields count only when asked: once typed they are the user's.
QStringList userTexts(QWidget* window, bool fieldValues = true)
{
    QStringList texts;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* w : widgets) {
        if (w->isWindow()) texts << w->windowTitle();
        texts << w->toolTip() << w->statusTip() << w->whatsThis();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            // Qt words the standard buttons of its button boxes itself.
            auto* box = qobject_cast<QDialogButtonBox*>(b->parentWidget());
            if (!box || box->standardButton(b) == QDialogButtonBox::NoButton) texts << b->text();
        }
        if (auto* l = qobject_cast<QLabel*>(w)) texts << l->text();
        if (auto* g = qobject_cast<QGroupBox*>(w)) texts << g->title();
        if (auto* e = qobject_cast<QTextEdit*>(w)) texts << e->toPlainText();
        if (auto* e = qobject_cast<QPlainTextEdit*>(w)) texts << e->toPlainText();
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            texts << e->placeholderText();
            if (fieldValues || e->isReadOnly()) texts << e->text();
        }
        if (auto* c = qobject_cast<QComboBox*>(w)) texts << comboItems(c) << c->placeholderText();
        if (auto* t = qobject_cast<QTabWidget*>(w)) {
            for (int i = 0; i < t->count(); ++i)
                texts << t->tabText(i) << t->tabToolTip(i);
        }
        if (auto* t = qobject_cast<QTreeWidget*>(w)) {
            for (int i = 0; i < t->columnCount(); ++i)
                texts << t->headerItem()->text(i);
        }
        for (QAction* a : w->actions())
            texts << a->text() << a->toolTip() << a->iconText() << a->statusTip();
    }
    return texts;
}

// With the table marked, a word left once the marks are taken out was
// written somewhere else than in the table.
void expectOnlyTableTexts(QWidget* window, bool fieldValues = true)
{
    static const QRegularExpression mark(QStringLiteral("\\[#\\d+\\]"));
    // Web and mail addresses are not worded.
    static const QRegularExpression address(QStringLiteral("^(https?://\\S+|\\S+@\\S+)$"));
    for (const QString& text : userTexts(window, fieldValues)) {
        if (address.match(text).hasMatch()) continue;
        QString rest = text;
        rest.remove(mark);
        const bool word =
            std::any_of(rest.cbegin(), rest.cend(), [](QChar c) { return c.isLetter(); });
        EXPECT_FALSE(word) << window->objectName().toStdString() << " shows \""
                           << text.toStdString() << "\" outside the string table";
    }
}

void runTextRoutine(QWidget* window)
{
    ASSERT_TRUE(QMetaObject::invokeMethod(window, "ApplyTexts"))
        << window->objectName().toStdString();
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

// A translation replacing the table's entries reaches every text of the
// camcorder and MovieBox windows, whether they are built after it or are
// already open when the text pass runs; back to English, they read as before.
TEST(PanelsTexts, CamcorderAndMovieBoxTextsFollowTheTable)
{
    // The source names are the user's own; digits keep them apart from words.
    TcamForm driving;
    driving.SetSourceDescription(QStringLiteral("1394"));
    TamorcerForm priming;
    priming.OpenPrimingDialog(QStringLiteral("2"));
    ASSERT_NE(priming.PrimingDialog(), nullptr);
    const QStringList drivingEnglish = userTexts(&driving);
    const QStringList primingEnglish = userTexts(&priming);
    {
        MarkedTexts marked;
        TcamForm idle;
        expectOnlyTableTexts(&idle);
        TamorcerForm instructions;
        expectOnlyTableTexts(&instructions);

        runTextRoutine(&driving);
        runTextRoutine(&priming);
        expectOnlyTableTexts(&driving);
        expectOnlyTableTexts(&priming);
        // The caption still names the camcorder driven.
        EXPECT_TRUE(driving.windowTitle().endsWith(QStringLiteral("1394")));
    }
    runTextRoutine(&driving);
    runTextRoutine(&priming);
    EXPECT_EQ(userTexts(&driving), drivingEnglish);
    EXPECT_EQ(userTexts(&priming), primingEnglish);
}

// The same for the option panels that take their texts from the table, and
// for the note the Inlay panel shows without its filters. The text pass
// rewords lists in place: what the user picked or typed stays, and each
// position keeps the meaning the capture settings give it.
TEST(PanelsTexts, PanelTextsFollowTheTable)
{
    TDossiersFrame folders;
    TExtraireFrame grab;
    grab.RxSwitch1->click();
    TProgrammerFrame schedule;
    // The example under the date format names the day; a format of figures
    // keeps it in figures.
    TIncrusterFrame inlay;
    inlay.AdaptPanel(true, true);
    inlay.edFormat->setText(QStringLiteral("hh:nn:ss"));
    TIncrusterFrame noFilters;
    noFilters.AdaptPanel(false, true);
    noFilters.edFormat->setText(QStringLiteral("hh:nn:ss"));
    THelpFrame help;
    TAproposFrame about;
    TErreurFrame report;

    // A DV camcorder with a sound card, recompressed, everything picked away
    // from its first value. Device and file names are the user's own;
    // digits keep them apart from words.
    TSourcesFrame sources;
    sources.cboxvideo->addItem(QStringLiteral("1394"));
    sources.cboxvideo->setCurrentIndex(-1);
    sources.ShowVideoPlaceholder();
    sources.cboxAudio->addItem(QStringLiteral("0"));
    sources.ShowFormatItems(SourceKind::skDV, true);
    sources.rgFormat->setItemIndex(2);
    const std::vector<AudioKind> audioChoices = AudioTypeChoices(SourceKind::skDV, true);
    const auto soundCard =
        std::find(audioChoices.begin(), audioChoices.end(), AudioKind::akSoundCard);
    ASSERT_NE(soundCard, audioChoices.end());
    const int soundCardAt = static_cast<int>(soundCard - audioChoices.begin());
    sources.ShowAudioTypeItems(SourceKind::skDV, true);
    sources.cboxAudioType->setCurrentIndex(soundCardAt);
    sources.rgStandard->setItemIndex(1);
    sources.rgProfiles->setItemIndex(3);
    sources.rgEcouterDV->setItemIndex(1);
    sources.rgFrequenceDV->setItemIndex(2);
    sources.RXspinCorrEdit->setValue(-7);
    TSourcesFrame unnamed;
    unnamed.ShowVideoName(QStringLiteral("0001"));

    // System profile names are the system's, not Kadrillo's wording.
    const auto profile = [](const char* name) {
        WmProfile p;
        p.name = QString::fromLatin1(name);
        return p;
    };
    const WmProfileTable profiles({}, {profile("41")}, {profile("71")},
                                  {profile("81"), profile("82")});
    TOptionsFrame options;
    options.setProfileTable(&profiles);
    options.SelectExtension(1);
    options.rgversion->setItemIndex(2);
    options.RefillProfiles();
    options.cboxMedia->setCurrentIndex(2);
    options.cbConfirmer->setChecked(false);
    options.TrackBar1->setValue(73);

    const QList<QWidget*> built{&folders, &grab,   &schedule, &inlay,   &noFilters, &help,
                                &about,   &report, &sources,  &unnamed, &options};

    MarkedTexts marked;
    for (QWidget* panel : built) {
        runTextRoutine(panel);
        expectOnlyTableTexts(panel, false);
    }
    EXPECT_EQ(sources.rgFormat->count(),
              static_cast<int>(TSourcesFrame::FormatItems(SourceKind::skDV, true).size()));
    EXPECT_EQ(sources.rgFormat->itemIndex(), 2);
    ASSERT_EQ(sources.cboxAudioType->count(), static_cast<int>(audioChoices.size()));
    EXPECT_EQ(sources.cboxAudioType->currentIndex(), soundCardAt);
    // The window knows the sound-card choice by this entry.
    EXPECT_EQ(sources.cboxAudioType->currentText(), Text(TextId::AudioTypeSoundCard));
    EXPECT_EQ(sources.rgStandard->itemIndex(), 1);
    EXPECT_EQ(sources.rgProfiles->itemIndex(), 3);
    EXPECT_EQ(sources.rgEcouterDV->itemIndex(), 1);
    EXPECT_EQ(sources.rgFrequenceDV->itemIndex(), 2);
    EXPECT_EQ(sources.RXspinCorrEdit->value(), -7);
    EXPECT_EQ(sources.cboxvideo->currentIndex(), -1);
    EXPECT_EQ(sources.cboxvideo->itemText(0), "1394");
    EXPECT_EQ(unnamed.LabelVideo->text(), "0001");
    EXPECT_EQ(options.rgExtension->itemIndex(), 1);
    EXPECT_FALSE(options.gbQuality->isHidden());
    EXPECT_EQ(options.labQuality->text(), "73");
    EXPECT_FALSE(options.cbConfirmer->isChecked());
    EXPECT_EQ(options.rgversion->itemIndex(), 2);
    EXPECT_EQ(options.ChosenProfileEntry(), 2);
    EXPECT_EQ(options.cboxMedia->currentText(), "82");

    TDossiersFrame newFolders;
    TExtraireFrame newGrab;
    TProgrammerFrame newSchedule;
    TIncrusterFrame newNoFilters;
    newNoFilters.AdaptPanel(false, false);
    THelpFrame newHelp;
    TAproposFrame newAbout;
    TErreurFrame newReport;
    // Hidden controls count too; these lists are the ones other kinds of
    // source show.
    TSourcesFrame newSources;
    TSourcesFrame newAnalog;
    newAnalog.ShowFormatItems(SourceKind::skAnalog, true);
    newAnalog.ShowAudioTypeItems(SourceKind::skMpeg2, true);
    TSourcesFrame newMovieBox;
    newMovieBox.ShowAudioTypeItems(SourceKind::skMovieBoxB, false);
    TOptionsFrame newOptions;
    newOptions.setProfileTable(nullptr);
    for (QWidget* panel : std::initializer_list<QWidget*>{
             &newFolders, &newGrab, &newNoFilters, &newHelp, &newAbout, &newReport, &newSources,
             &newAnalog, &newMovieBox, &newOptions})
        expectOnlyTableTexts(panel);
    // Its date fields show the dates in the table's date format, which a
    // mark is not; the next test follows that format.
    expectOnlyTableTexts(&newSchedule, false);
}

// The schedule's dates read in the table's date format, and keep the dates
// entered; the shortcut names of the help lists are built from the table's
// key names.
TEST(PanelsTexts, DateFormatAndKeyNamesFollowTheTable)
{
    struct Restore {
        ~Restore() { ResetTexts(); }
    } restore;

    TProgrammerFrame schedule;
    schedule.DateEdit1->setDate(QDate(2031, 2, 3));
    schedule.DateEdit2->setDate(QDate(2031, 2, 4));
    SetText(TextId::ScheduleDateFormat, QStringLiteral("yyyy-MM-dd"));
    runTextRoutine(&schedule);
    EXPECT_EQ(schedule.DateEdit1->date(), QDate(2031, 2, 3));
    EXPECT_EQ(schedule.DateEdit2->date(), QDate(2031, 2, 4));
    EXPECT_EQ(schedule.DateEdit1->text(), "2031-02-03");
    EXPECT_EQ(schedule.DateEdit2->text(), "2031-02-04");
    TProgrammerFrame newSchedule;
    EXPECT_EQ(newSchedule.DateEdit1->text(), newSchedule.DateEdit1->date().toString("yyyy-MM-dd"));

    MarkedTexts marked;
    static const QRegularExpression mark(QStringLiteral("\\[#\\d+\\]"));
    // Shift, Ctrl and Alt with F5: four entries, and the key's number.
    QString keys = ShortCutToText(kShiftBit | kCtrlBit | kAltBit | 0x74);
    EXPECT_EQ(keys.count(mark), 4) << keys.toStdString();
    keys.remove(mark);
    EXPECT_EQ(keys, "5");
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
