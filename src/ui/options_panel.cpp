#include "ui/options_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <iterator>

#include "settings/preferences.h"
#include "system/texts.h"
#include "ui/panel_layout.h"
#include "ui/sources_panel.h"

namespace kad {

namespace {

// Inside a titled group the title and the frame already leave room above and
// below, and the rows are single lines that need no gap between them.
void snug(QLayout* layout)
{
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(0);
}

} // namespace

TOptionsFrame::TOptionsFrame(QWidget* parent)
    : QWidget(parent), naming_(&Naming()), table_(&WmProfileTable::builtIn())
{
    setObjectName(QStringLiteral("OptionsFrame"));
    resize(kPanelSize);

    auto* main = groupColumn(this, GroupBox1);

    // Still images.
    auto* imageRow = new QHBoxLayout;
    imageRow->setSpacing(2);
    rgExtension = new TRadioGroup(QString(), GroupBox1);
    rgExtension->setItems(QStringList(2, QString()));
    // Both types on one line leave room for the quality beside them, and the
    // group keeps that width when the quality is hidden.
    rgExtension->setColumns(2);
    rgExtension->layout()->setContentsMargins(4, 0, 4, 0);
    rgExtension->setItemIndex(0);
    imageRow->addWidget(rgExtension);
    gbQuality = new QGroupBox(GroupBox1);
    auto* quality = new QHBoxLayout(gbQuality);
    tighten(quality);
    TrackBar1 = new QSlider(Qt::Horizontal, gbQuality);
    TrackBar1->setRange(1, 100);
    TrackBar1->setValue(50);
    labQuality = new QLabel(QString::number(TrackBar1->value()), gbQuality);
    labQuality->setMinimumWidth(labQuality->fontMetrics().horizontalAdvance(QStringLiteral("100")));
    quality->addWidget(TrackBar1, 1);
    quality->addWidget(labQuality);
    gbQuality->hide();
    imageRow->addWidget(gbQuality, 1);
    imageRow->addStretch();
    main->addLayout(imageRow);
    cbConfirmer = new QCheckBox(GroupBox1);
    cbConfirmer->setChecked(true);
    main->addWidget(cbConfirmer);

    // Preferences.
    gbPrefs = new QGroupBox(GroupBox1);
    auto* prefs = new QVBoxLayout(gbPrefs);
    snug(prefs);
    auto* saveRow = new QHBoxLayout;
    SpeedButton1 = iconButton(gbPrefs, "document-save", QStyle::SP_DialogSaveButton);
    LabelSauverNow = new TClickLabel(QString(), gbPrefs);
    saveRow->addWidget(SpeedButton1);
    saveRow->addWidget(LabelSauverNow, 1);
    prefs->addLayout(saveRow);
    auto* deleteRow = new QHBoxLayout;
    SpeedButton2 = iconButton(gbPrefs, "edit-delete", QStyle::SP_TrashIcon);
    LabelEffacerPrefs = new TClickLabel(QString(), gbPrefs);
    deleteRow->addWidget(SpeedButton2);
    deleteRow->addWidget(LabelEffacerPrefs, 1);
    prefs->addLayout(deleteRow);
    cbPrefsQuittant = new QCheckBox(gbPrefs);
    cbPrefsQuittant->setChecked(true);
    prefs->addWidget(cbPrefsQuittant);
    main->addWidget(gbPrefs);

    // Filters and what is written beside the videos: rows of check boxes
    // that need no gap between them.
    auto* switches = new QVBoxLayout;
    switches->setSpacing(0);
    auto* filterRow = new QHBoxLayout;
    cbDeinterlacer = new QCheckBox(GroupBox1);
    cbDeinterlacer->setEnabled(false);
    cbAllowIncrust = new QCheckBox(GroupBox1);
    cbAllowIncrust->setEnabled(false);
    filterRow->addWidget(cbDeinterlacer);
    filterRow->addWidget(cbAllowIncrust);
    switches->addLayout(filterRow);
    cbCaptureReport = new QCheckBox(GroupBox1);
    cbCaptureReport->setChecked(true);
    switches->addWidget(cbCaptureReport);
    cbSplitRecordings = new QCheckBox(GroupBox1);
    switches->addWidget(cbSplitRecordings);
    cbNameByDate = new QCheckBox(GroupBox1);
    switches->addWidget(cbNameByDate);
    main->addLayout(switches);

    // Windows Media.
    gbCodecs = new QGroupBox(GroupBox1);
    auto* codecs = new QVBoxLayout(gbCodecs);
    snug(codecs);
    auto* versionRow = new QHBoxLayout;
    Label1 = new QLabel(gbCodecs);
    rgversion = new TRadioGroup(QString(), gbCodecs);
    rgversion->setItems(QStringList(3, QString()));
    rgversion->setColumns(3);
    rgversion->setItemIndex(2);
    rgversion->setFlat(true);
    rgversion->layout()->setContentsMargins(0, 0, 0, 0);
    versionRow->addWidget(Label1);
    versionRow->addWidget(rgversion, 1);
    codecs->addLayout(versionRow);
    cboxMedia = new QComboBox(gbCodecs);
    cboxMedia->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboxMedia->setMinimumContentsLength(10);
    codecs->addWidget(cboxMedia);
    main->addWidget(gbCodecs);
    main->addStretch(1);

    RefillProfiles();
    ApplyTexts();

    connect(TrackBar1, &QSlider::valueChanged, this,
            [this](int value) { labQuality->setText(QString::number(value)); });
    connect(rgExtension, &TRadioGroup::clicked, this, &TOptionsFrame::SelectExtension);
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

void TOptionsFrame::ApplyTexts()
{
    GroupBox1->setTitle(Text(TextId::SettingsGroupCaption));
    setCaption(rgExtension, TextId::rgExtensionCaption, TextId::rgExtensionHint);
    nameButtons(rgExtension, {TextId::rgExtensionBmp, TextId::rgExtensionJpeg});
    setCaption(gbQuality, TextId::gbQualityCaption, TextId::gbQualityHint);
    TrackBar1->setToolTip(gbQuality->toolTip());
    setCaption(cbConfirmer, TextId::cbConfirmerCaption, TextId::cbConfirmerHint);

    gbPrefs->setTitle(Text(TextId::gbPrefsCaption));
    setCaption(LabelSauverNow, TextId::LabelSauverNowCaption, TextId::LabelSauverNowHint);
    SpeedButton1->setToolTip(LabelSauverNow->toolTip());
    setCaption(LabelEffacerPrefs, TextId::LabelEffacerPrefsCaption, TextId::LabelEffacerPrefsHint);
    SpeedButton2->setToolTip(LabelEffacerPrefs->toolTip());
    setCaption(cbPrefsQuittant, TextId::cbPrefsQuittantCaption, TextId::cbPrefsQuittantHint);

    setCaption(cbDeinterlacer, TextId::cbDeinterlacerCaption, TextId::cbDeinterlacerHint);
    setCaption(cbAllowIncrust, TextId::OptionsCbAllowIncrustCaption,
               TextId::OptionsCbAllowIncrustHint);
    setCaption(cbCaptureReport, TextId::cbCaptureReportCaption, TextId::cbCaptureReportHint);
    setCaption(cbSplitRecordings, TextId::cbSplitRecordingsCaption, TextId::cbSplitRecordingsHint);
    setCaption(cbNameByDate, TextId::cbNameByDateCaption, TextId::cbNameByDateHint);

    setCaption(gbCodecs, TextId::gbCodecsCaption, TextId::gbCodecsHint);
    Label1->setText(Text(TextId::OptionsLabel1Caption));
    nameButtons(rgversion, {TextId::rgversion4, TextId::rgversion7, TextId::rgversion8});
    rgversion->setToolTip(Text(TextId::rgversionHint));
    // Entry 0 is always the default profiles; the others are the system's
    // own profile names.
    if (cboxMedia->count() > 0) cboxMedia->setItemText(0, Text(TextId::cboxMediaDefault));
    cboxMedia->setToolTip(Text(TextId::cboxMediaHint));
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
    emit extensionChanged(index);
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
    cboxMedia->setItemText(0, Text(TextId::cboxMediaDefault));
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
