#include "settings/options_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/sources_panel.h"
#include "settings/preferences.h"

namespace kad {

namespace {

void tighten(QLayout* layout)
{
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
}

// Inside a titled group the title and the frame already leave room above and
// below, and the rows are single lines that need no gap between them.
void snug(QLayout* layout)
{
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(0);
}

QToolButton* iconButton(QWidget* parent, const char* themeIcon, QStyle::StandardPixmap fallback)
{
    auto* b = new QToolButton(parent);
    b->setIcon(QIcon::fromTheme(QLatin1String(themeIcon), parent->style()->standardIcon(fallback)));
    b->setAutoRaise(true);
    b->setIconSize(QSize(16, 16));
    return b;
}

} // namespace

TOptionsFrame::TOptionsFrame(QWidget* parent)
    : QWidget(parent), naming_(&Naming()), table_(&WmProfileTable::builtIn())
{
    setObjectName(QStringLiteral("OptionsFrame"));
    resize(kPanelSize);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    GroupBox1 = new QGroupBox(tr("Settings (F10)"), this);
    outer->addWidget(GroupBox1);
    auto* main = new QVBoxLayout(GroupBox1);
    tighten(main);

    // Still images.
    auto* imageRow = new QHBoxLayout;
    imageRow->setSpacing(2);
    rgExtension = new TRadioGroup(tr("Images"), GroupBox1);
    rgExtension->setItems({tr("bmp"), tr("jpeg")});
    // Both types on one line leave room for the quality beside them, and the
    // group keeps that width when the quality is hidden.
    rgExtension->setColumns(2);
    rgExtension->layout()->setContentsMargins(4, 0, 4, 0);
    rgExtension->setItemIndex(0);
    rgExtension->setToolTip(tr("Choose the type of snapshots"));
    imageRow->addWidget(rgExtension);
    gbQuality = new QGroupBox(tr("Jpeg quality"), GroupBox1);
    gbQuality->setToolTip(tr("Set the quality of Jpeg.\nmini at left - maxi at right"));
    auto* quality = new QHBoxLayout(gbQuality);
    tighten(quality);
    TrackBar1 = new QSlider(Qt::Horizontal, gbQuality);
    TrackBar1->setRange(1, 100);
    TrackBar1->setValue(50);
    TrackBar1->setToolTip(gbQuality->toolTip());
    labQuality = new QLabel(tr("50"), gbQuality);
    labQuality->setMinimumWidth(labQuality->fontMetrics().horizontalAdvance(QStringLiteral("100")));
    quality->addWidget(TrackBar1, 1);
    quality->addWidget(labQuality);
    gbQuality->hide();
    imageRow->addWidget(gbQuality, 1);
    imageRow->addStretch();
    main->addLayout(imageRow);
    cbConfirmer = new QCheckBox(tr("Confirm before replacing an existing image"), GroupBox1);
    cbConfirmer->setChecked(true);
    cbConfirmer->setToolTip(tr("Ask before a grabbed image replaces a file of the same name"));
    main->addWidget(cbConfirmer);

    // Preferences.
    gbPrefs = new QGroupBox(tr("Preferences"), GroupBox1);
    auto* prefs = new QVBoxLayout(gbPrefs);
    snug(prefs);
    auto* saveRow = new QHBoxLayout;
    SpeedButton1 = iconButton(gbPrefs, "document-save", QStyle::SP_DialogSaveButton);
    LabelSauverNow = new TClickLabel(tr("Save the preferences now"), gbPrefs);
    LabelSauverNow->setToolTip(tr("Save the current preferences.\nCaution: all future "
                                  "modifications will not be saved."));
    SpeedButton1->setToolTip(LabelSauverNow->toolTip());
    saveRow->addWidget(SpeedButton1);
    saveRow->addWidget(LabelSauverNow, 1);
    prefs->addLayout(saveRow);
    auto* deleteRow = new QHBoxLayout;
    SpeedButton2 = iconButton(gbPrefs, "edit-delete", QStyle::SP_TrashIcon);
    LabelEffacerPrefs = new TClickLabel(tr("Delete the preferences"), gbPrefs);
    LabelEffacerPrefs->setToolTip(
        tr("Delete all preferences of Kadrillo from the registry. At next start,\nthe default "
           "values will be loaded.\nRecommended before uninstalling the program."));
    SpeedButton2->setToolTip(LabelEffacerPrefs->toolTip());
    deleteRow->addWidget(SpeedButton2);
    deleteRow->addWidget(LabelEffacerPrefs, 1);
    prefs->addLayout(deleteRow);
    cbPrefsQuittant = new QCheckBox(tr("Save the preferences when quit"), gbPrefs);
    cbPrefsQuittant->setChecked(true);
    cbPrefsQuittant->setToolTip(
        tr("Save the preferences when quitting the application.\nRecommended."));
    prefs->addWidget(cbPrefsQuittant);
    main->addWidget(gbPrefs);

    // Filters and what is written beside the videos: rows of check boxes
    // that need no gap between them.
    auto* switches = new QVBoxLayout;
    switches->setSpacing(0);
    auto* filterRow = new QHBoxLayout;
    cbDeinterlacer = new QCheckBox(tr("Deinterlace"), GroupBox1);
    cbDeinterlacer->setToolTip(tr("Add or remove the filter Pinnacle Video Deinterlacer"));
    cbDeinterlacer->setEnabled(false);
    cbAllowIncrust = new QCheckBox(tr("Allow inlays"), GroupBox1);
    cbAllowIncrust->setToolTip(tr("Allows to insert inlays into the video.\nIf you do not use this "
                                  "feature, uncheck this box to spare resources"));
    cbAllowIncrust->setEnabled(false);
    filterRow->addWidget(cbDeinterlacer);
    filterRow->addWidget(cbAllowIncrust);
    switches->addLayout(filterRow);
    cbCaptureReport = new QCheckBox(tr("Write a capture report beside each video"), GroupBox1);
    cbCaptureReport->setChecked(true);
    cbCaptureReport->setToolTip(
        tr("When a video file ends, a text file of the same name beside it tells\nwhen it was "
           "recorded, the frames written and lost, and why it ended"));
    switches->addWidget(cbCaptureReport);
    cbSplitRecordings = new QCheckBox(tr("Split at each new recording"), GroupBox1);
    cbSplitRecordings->setToolTip(
        tr("DV captures (type 1 or 2): each new recording on the tape starts a\nnew numbered "
           "file at its first frame, without losing a frame"));
    switches->addWidget(cbSplitRecordings);
    cbNameByDate = new QCheckBox(tr("Name videos by recording date"), GroupBox1);
    cbNameByDate->setToolTip(
        tr("DV captures: each file is named root_YYYY.MM.DD_HH-MM-SS after the\nrecording date "
           "of its first frame (\"_2\" when taken); a file without\nrecording date keeps its "
           "numbered name"));
    switches->addWidget(cbNameByDate);
    main->addLayout(switches);

    // Windows Media.
    gbCodecs = new QGroupBox(tr("Windows Media"), GroupBox1);
    gbCodecs->setToolTip(tr("Profile used when capturing in the Windows Media format"));
    auto* codecs = new QVBoxLayout(gbCodecs);
    snug(codecs);
    auto* versionRow = new QHBoxLayout;
    Label1 = new QLabel(tr("Version\nof Windows Media"), gbCodecs);
    rgversion = new TRadioGroup(QString(), gbCodecs);
    rgversion->setItems({tr("4"), tr("7"), tr("8")});
    rgversion->setColumns(3);
    rgversion->setItemIndex(2);
    rgversion->setFlat(true);
    rgversion->layout()->setContentsMargins(0, 0, 0, 0);
    rgversion->setToolTip(tr("Version of Windows Media of the system profiles"));
    versionRow->addWidget(Label1);
    versionRow->addWidget(rgversion, 1);
    codecs->addLayout(versionRow);
    cboxMedia = new QComboBox(gbCodecs);
    cboxMedia->setToolTip(tr("Windows Media profile for the capture"));
    cboxMedia->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboxMedia->setMinimumContentsLength(10);
    codecs->addWidget(cboxMedia);
    main->addWidget(gbCodecs);
    main->addStretch(1);

    RefillProfiles();

    connect(TrackBar1, &QSlider::valueChanged, this,
            [this](int value) { labQuality->setText(QString::number(value)); });
    connect(rgExtension, &TRadioGroup::clicked, this, [this](int index) {
        SelectExtension(index);
        emit extensionChanged(index);
    });
    connect(cbConfirmer, &QCheckBox::clicked, this, &TOptionsFrame::confirmerChanged);
    connect(cbCaptureReport, &QCheckBox::clicked, this, &TOptionsFrame::captureReportChanged);
    connect(cbSplitRecordings, &QCheckBox::clicked, this, &TOptionsFrame::splitRecordingsChanged);
    connect(cbNameByDate, &QCheckBox::clicked, this, &TOptionsFrame::nameByDateChanged);
    connect(SpeedButton1, &QToolButton::clicked, this, &TOptionsFrame::SavePreferencesNow);
    connect(LabelSauverNow, &TClickLabel::clicked, this, &TOptionsFrame::SavePreferencesNow);
    connect(SpeedButton2, &QToolButton::clicked, this, &TOptionsFrame::DeletePreferencesNow);
    connect(LabelEffacerPrefs, &TClickLabel::clicked, this, &TOptionsFrame::DeletePreferencesNow);
    connect(cbDeinterlacer, &QCheckBox::clicked, this, &TOptionsFrame::deinterlacerClicked);
    connect(cbAllowIncrust, &QCheckBox::clicked, this, &TOptionsFrame::allowIncrustClicked);
    connect(rgversion, &TRadioGroup::clicked, this, [this] {
        RefillProfiles();
        OptionsframecboxdivxChange();
        emit profileChoiceChanged(ChosenProfileEntry());
    });
    connect(cboxMedia, &QComboBox::activated, this, [this](int entry) {
        OptionsframecboxdivxChange();
        emit profileChoiceChanged(entry);
    });
}

void TOptionsFrame::setSourcesFrame(TSourcesFrame* sources)
{
    sources_ = sources;
    if (sources_) AttachProfilesMenu(sources_->pmProfiles);
    OptionsframecboxdivxChange();
}

void TOptionsFrame::setNamingState(NamingState* state)
{
    naming_ = state ? state : &Naming();
}

void TOptionsFrame::setProfileTable(const WmProfileTable* table)
{
    table_ = table;
    RefillProfiles();
    OptionsframecboxdivxChange();
}

void TOptionsFrame::SelectExtension(int index)
{
    if (index < 0 || index >= rgExtension->count()) return;
    rgExtension->setItemIndex(index);
    gbQuality->setVisible(index == 1);
    naming_->imageExtension = index;
    emit nextImageFileNameChanged(RebuildImageName(*naming_));
}

void TOptionsFrame::SavePreferencesNow()
{
    emit savePreferencesRequested();
    cbPrefsQuittant->setChecked(false);
}

void TOptionsFrame::DeletePreferencesNow()
{
    // Unchecked only after a deletion: a user who answered No keeps saving
    // at exit.
    if (DeletePreferences(hiveFile_)) cbPrefsQuittant->setChecked(false);
}

void TOptionsFrame::RefillProfiles()
{
    cboxMedia->clear();
    cboxMedia->addItems(kad::RefillProfiles(table_, rgversion->itemIndex()));
    cboxMedia->setCurrentIndex(0);
}

void TOptionsFrame::SelectProfile(const QString& text)
{
    QStringList entries;
    for (int i = 0; i < cboxMedia->count(); ++i)
        entries << cboxMedia->itemText(i);
    cboxMedia->setCurrentIndex(IndexOrFirst(text, entries));
}

int TOptionsFrame::ChosenProfileEntry() const
{
    return cboxMedia->currentIndex();
}

void TOptionsFrame::SetCaptureFormat(CaptureFormat format)
{
    format_ = format;
}

void TOptionsFrame::OptionsframecboxdivxChange()
{
    if (!sources_) return;
    const ProfileControls shown = kad::OptionsframecboxdivxChange(format_, ChosenProfileEntry());
    sources_->rgProfiles->setVisible(shown.rgProfilesVisible);
    sources_->Label1->setVisible(shown.label1Visible);
}

void TOptionsFrame::AttachProfilesMenu(QMenu* menu)
{
    if (!menu) return;
    disconnect(menu, &QMenu::aboutToShow, this, nullptr);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        menu->clear();
        for (int i = 0; i < cboxMedia->count(); ++i) {
            QAction* item = menu->addAction(cboxMedia->itemText(i));
            item->setData(i);
            connect(item, &QAction::triggered, this, [this, i] {
                cboxMedia->setCurrentIndex(i);
                OptionsframecboxdivxChange();
                emit profileChoiceChanged(i);
            });
        }
    });
}

} // namespace kad
