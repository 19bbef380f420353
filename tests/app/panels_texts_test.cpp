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

// The Sources panel's lists for the cases the program-level tests do not
// meet (no Windows Media, no sound card, no video), its collapsing audio
// group, and its own text pass winning over the window's.
TEST(PanelsTexts, SourcesPanelListsAudioGroupAndOwnTextPass)
{
    EXPECT_EQ(TSourcesFrame::FormatItems(SourceKind::skDV, false).size(), 3);
    EXPECT_TRUE(TSourcesFrame::FormatItems(SourceKind::skNoVideo, true).isEmpty());
    EXPECT_EQ(TSourcesFrame::AudioTypeItems(SourceKind::skMpeg2, false).size(), 2);
    EXPECT_EQ(TSourcesFrame::AudioTypeItems(SourceKind::skAnalog, false).size(), 1);

    TSourcesFrame p;
    // A stored DV frequency index of 2 means 48000 Hz.
    EXPECT_EQ(p.rgFrequenceDV->count(), 3);
    EXPECT_TRUE(p.AudioGroupCollapsed());
    p.SetAudioSettingsShown(true);
    EXPECT_FALSE(p.AudioGroupCollapsed());
    p.sbDone->click();
    EXPECT_TRUE(p.AudioGroupCollapsed());

    // The window's text routine runs first; the panel's own routine wins.
    p.rgFrequenceDV->setTitle(Text(TextId::rgFrequenceDVCaption));
    p.PilotSpeedBtn->setToolTip(QString());
    p.gbAudio->setToolTip(QString());
    runTextRoutine(&p);
    EXPECT_EQ(p.rgFrequenceDV->title(), Text(TextId::SourcesFrequenceDVCaption));
    EXPECT_EQ(p.PilotSpeedBtn->toolTip(), Text(TextId::PilotSpeedBtnHint));
    EXPECT_EQ(p.gbAudio->toolTip(), Text(TextId::gbAudioHint));
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

    // A DV camcorder with a sound card, recompressed: the format (its radio
    // group rewords as the others do) and the audio type picked away from
    // their first values. Device and file names are the user's own; digits
    // keep them apart from words.
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
    // Each panel in the window's font, in the arrangement `arrange` leaves.
    const auto fits = [](QWidget* panel, const QSize& place, const auto& arrange) {
        test::useWindowFont(panel);
        arrange();
        test::expectFitsPanelPlace(panel, place);
    };
    TSourcesFrame sources;
    // The tallest arrangement: recompressed DV with a sound card.
    fits(&sources, kPanelSize, [&] {
        sources.rgFormat->setItems(TSourcesFrame::FormatItems(SourceKind::skDV, true));
        sources.rgStandard->show();
        sources.SetAudioSettingsShown(true);
        sources.rgFrequenceDV->show();
        sources.PilotSpeedBtn->show();
    });
    // DV with its own audio listened to, and Windows Media with its note.
    fits(&sources, compact, [&] {
        sources.SetAudioSettingsShown(false);
        sources.rgEcouterDV->show();
        sources.rgStandard->hide();
        sources.ShowProfileControls(true, true);
    });
    TDossiersFrame folders;
    fits(&folders, compact, [&] {
        folders.ShowVideoName("Video_051226_134805_10.avi");
        folders.ShowImageName("Image_051226_134805_0010.jpg");
    });
    TOptionsFrame options;
    fits(&options, compact, [&] { options.SelectExtension(1); });
    TExtraireFrame grab;
    fits(&grab, compact, [&] {
        grab.chronoLab->setText("10");
        grab.chronoLab->show();
    });
    TIncrusterFrame inlay;
    fits(&inlay, compact, [&] {
        inlay.AdaptPanel(true, true);
        inlay.gbDuree->show();
        inlay.gbDecalage->show();
    });
    TIncrusterFrame noInlay;
    fits(&noInlay, compact, [&] { noInlay.AdaptPanel(false, false); });
    TProgrammerFrame schedule;
    THelpFrame help;
    TAproposFrame about;
    for (QWidget* panel : std::initializer_list<QWidget*>{&schedule, &help, &about})
        fits(panel, compact, [] {});
}
