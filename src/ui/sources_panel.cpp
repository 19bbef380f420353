#include "ui/sources_panel.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "session/capture_settings.h"
#include "system/texts.h"
#include "ui/panel_layout.h"

namespace kad {

namespace {

std::vector<TextId> formatTexts(SourceKind kind, bool wmvAvailable)
{
    std::vector<TextId> ids;
    switch (kind) {
    case SourceKind::skDV:
        ids = {TextId::FormatDVType1Native, TextId::FormatDVType2Normal,
               TextId::FormatDVType2Recompressed};
        break;
    case SourceKind::skAnalog:
    case SourceKind::skMovieBoxB:
    case SourceKind::skMpeg2:
        ids = {TextId::FormatNativeVideo, TextId::FormatDVType2Recompressed};
        break;
    case SourceKind::skNoVideo:
        return ids;
    }
    if (wmvAvailable) ids.push_back(TextId::FormatWmv);
    return ids;
}

// One entry per AudioTypeChoices position: the sound a source carries is
// named after the kind of source.
std::vector<TextId> audioTypeTexts(SourceKind kind, bool haveAudioDevices)
{
    std::vector<TextId> ids;
    for (AudioKind audio : AudioTypeChoices(kind, haveAudioDevices)) {
        switch (audio) {
        case AudioKind::akNone:
            ids.push_back(TextId::cboxAudioTypeText);
            break;
        case AudioKind::akIncluded:
            if (kind == SourceKind::skDV)
                ids.push_back(TextId::AudioTypeDVStream);
            else if (kind == SourceKind::skMovieBoxB)
                ids.push_back(TextId::AudioTypeMovieBox);
            else
                ids.push_back(TextId::AudioTypeMpeg2Stream);
            break;
        case AudioKind::akSoundCard:
            // The window recognises the sound-card choice by this entry.
            ids.push_back(TextId::AudioTypeSoundCard);
            break;
        }
    }
    return ids;
}

QStringList texts(const std::vector<TextId>& ids)
{
    QStringList items;
    for (TextId id : ids)
        items << Text(id);
    return items;
}

// Rewords a radio group's items in place, so its selection stays; a group
// refilled from elsewhere with another count is left alone.
void rewordItems(TRadioGroup* group, const std::vector<TextId>& ids)
{
    if (group->count() != static_cast<int>(ids.size())) return;
    for (int i = 0; i < group->count(); ++i)
        group->button(i)->setText(Text(ids[static_cast<std::size_t>(i)]));
}

} // namespace

QStringList TSourcesFrame::FormatItems(SourceKind kind, bool wmvAvailable)
{
    return texts(formatTexts(kind, wmvAvailable));
}

QStringList TSourcesFrame::AudioTypeItems(SourceKind kind, bool haveAudioDevices)
{
    return texts(audioTypeTexts(kind, haveAudioDevices));
}

TSourcesFrame::TSourcesFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SourcesFrame"));
    resize(kPanelSize);

    auto* main = groupColumn(this, GroupBox2);

    // Video device.
    gbVideo = new QGroupBox(GroupBox2);
    auto* videoRow = new QHBoxLayout(gbVideo);
    tighten(videoRow);
    cboxvideo = new QComboBox(gbVideo);
    cboxvideo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboxvideo->setMinimumContentsLength(8);
    ActualiserVideoSpeedBtn = iconButton(gbVideo, "view-refresh", QStyle::SP_BrowserReload);
    SettingsSpeedBtn = iconButton(gbVideo, "preferences-system", QStyle::SP_FileDialogDetailedView);
    PilotSpeedBtn = iconButton(gbVideo, "camera-video", QStyle::SP_MediaPlay);
    PilotSpeedBtn->hide();
    videoRow->addWidget(cboxvideo, 1);
    videoRow->addWidget(ActualiserVideoSpeedBtn);
    videoRow->addWidget(SettingsSpeedBtn);
    videoRow->addWidget(PilotSpeedBtn);
    main->addWidget(gbVideo);

    // Capture format, with its standard or profile beside it: the standard
    // belongs to recompressed DV and the profiles to Windows Media, so at most
    // one of them shows.
    auto* formatRow = new QHBoxLayout;
    formatRow->setSpacing(2);
    rgFormat = new TRadioGroup(QString(), GroupBox2);
    formatTexts_ = {TextId::rgFormatVideoNative, TextId::rgFormatDVType2};
    rgFormat->setItems(texts(formatTexts_));
    formatRow->addWidget(rgFormat, 1);
    profilePlace_ = new QWidget(GroupBox2);
    auto* profileColumn = new QVBoxLayout(profilePlace_);
    profileColumn->setContentsMargins(0, 0, 0, 0);
    profileColumn->setSpacing(0);
    rgStandard = new TRadioGroup(QString(), profilePlace_);
    rgStandard->setItems(QStringList(2, QString()));
    rgStandard->setItemIndex(0);
    rgStandard->setEnabled(false);
    rgStandard->hide();
    rgProfiles = new TRadioGroup(QString(), profilePlace_);
    rgProfiles->setItems(QStringList(4, QString()));
    rgProfiles->setItemIndex(1);
    rgProfiles->hide();
    Label1 = new TClickLabel(QString(), profilePlace_);
    Label1->hide();
    pmProfiles = new QMenu(this);
    for (QWidget* w : {static_cast<QWidget*>(rgProfiles), static_cast<QWidget*>(Label1)}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint& at) { pmProfiles->popup(w->mapToGlobal(at)); });
    }
    profileColumn->addWidget(rgStandard);
    profileColumn->addWidget(rgProfiles);
    profileColumn->addWidget(Label1);
    profileColumn->addStretch(1);
    formatRow->addWidget(profilePlace_);
    main->addLayout(formatRow);

    // Listening rate of the DV stream's own audio.
    rgEcouterDV = new TRadioGroup(QString(), GroupBox2);
    rgEcouterDV->setItems(QStringList(2, QString()));
    rgEcouterDV->setColumns(2);
    rgEcouterDV->setItemIndex(0);
    rgEcouterDV->hide();
    main->addWidget(rgEcouterDV);

    // Audio arrangement; the settings part shows only with a sound-card source.
    gbAudio = new QGroupBox(GroupBox2);
    auto* audio = new QVBoxLayout(gbAudio);
    tighten(audio);
    cboxAudioType = new QComboBox(gbAudio);
    audioTypeTexts_ = {TextId::cboxAudioTypeText, TextId::AudioTypeIncludedMovieBox,
                       TextId::AudioTypeAddSource};
    cboxAudioType->addItems(texts(audioTypeTexts_));
    cboxAudioType->setCurrentIndex(0);
    cboxAudioType->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboxAudioType->setMinimumContentsLength(8);
    audio->addWidget(cboxAudioType);
    audioSettings_ = new QWidget(gbAudio);
    auto* settings = new QVBoxLayout(audioSettings_);
    settings->setContentsMargins(0, 0, 0, 0);
    settings->setSpacing(2);
    cboxAudio = new QComboBox(audioSettings_);
    cboxAudio->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboxAudio->setMinimumContentsLength(8);
    settings->addWidget(cboxAudio);
    auto* settingsRow = new QHBoxLayout;
    settingsRow->setSpacing(2);
    Label2 = new QLabel(audioSettings_);
    ReglerAudioBtn = iconButton(audioSettings_, "audio-card", QStyle::SP_MediaVolume);
    sbDone = iconButton(audioSettings_, "go-up", QStyle::SP_TitleBarShadeButton);
    LabelCorr = new QLabel(audioSettings_);
    RXspinCorrEdit = new QSpinBox(audioSettings_);
    RXspinCorrEdit->setRange(-60, 60);
    RXspinCorrEdit->setValue(10);
    settingsRow->addWidget(Label2);
    settingsRow->addWidget(ReglerAudioBtn);
    settingsRow->addWidget(sbDone);
    settingsRow->addStretch(1);
    settingsRow->addWidget(LabelCorr);
    settingsRow->addWidget(RXspinCorrEdit);
    settings->addLayout(settingsRow);
    rgFrequenceDV = new TRadioGroup(QString(), audioSettings_);
    rgFrequenceDV->setItems(QStringList(3, QString()));
    rgFrequenceDV->setColumns(3);
    rgFrequenceDV->setItemIndex(0);
    rgFrequenceDV->hide();
    settings->addWidget(rgFrequenceDV);
    audio->addWidget(audioSettings_);
    audioSettings_->hide();
    main->addWidget(gbAudio);

    // Next video file.
    auto* fileRow = new QHBoxLayout;
    fileRow->setSpacing(2);
    LabelVideo = new TClickLabel(QString(), GroupBox2);
    LabelVideo->setMinimumWidth(40);
    sbVideo = iconButton(GroupBox2, "folder-open", QStyle::SP_DirOpenIcon);
    sbVideo->setText(QStringLiteral(" "));
    sbFerrovue = iconButton(GroupBox2, "video-x-generic", QStyle::SP_MediaPlay);
    sbFerrovue->setText(QStringLiteral(" "));
    fileRow->addWidget(LabelVideo, 1);
    fileRow->addWidget(sbVideo);
    fileRow->addWidget(sbFerrovue);
    main->addLayout(fileRow);
    main->addStretch(1);
    ApplyTexts();

    connect(cboxvideo, &QComboBox::activated, this, &TSourcesFrame::videoSourceChanged);
    connect(ActualiserVideoSpeedBtn, &QToolButton::clicked, this,
            &TSourcesFrame::refreshVideoRequested);
    connect(SettingsSpeedBtn, &QToolButton::clicked, this, &TSourcesFrame::videoSettingsRequested);
    connect(PilotSpeedBtn, &QToolButton::clicked, this, &TSourcesFrame::pilotToggleRequested);
    connect(rgFormat, &TRadioGroup::clicked, this, &TSourcesFrame::formatClicked);
    connect(rgEcouterDV, &TRadioGroup::clicked, this, &TSourcesFrame::listenRateClicked);
    connect(cboxAudioType, &QComboBox::activated, this, &TSourcesFrame::audioTypeChanged);
    connect(cboxAudio, &QComboBox::activated, this,
            [this](int) { emit audioSourceChanged(cboxAudio->currentText()); });
    connect(ReglerAudioBtn, &QToolButton::clicked, this, &TSourcesFrame::audioSettingsRequested);
    connect(sbDone, &QToolButton::clicked, this, [this] { SetAudioSettingsShown(false); });
    connect(RXspinCorrEdit, &QSpinBox::valueChanged, this, &TSourcesFrame::syncCorrectionChanged);
    connect(Label1, &TClickLabel::clicked, this, &TSourcesFrame::optionsPanelRequested);
    connect(LabelVideo, &TClickLabel::clicked, this, &TSourcesFrame::foldersPanelRequested);
    connect(sbVideo, &QToolButton::clicked, this, &TSourcesFrame::openVideoFolderRequested);
    connect(sbFerrovue, &QToolButton::clicked, this, &TSourcesFrame::ferrovueRequested);
}

void TSourcesFrame::ShowFormatItems(SourceKind kind, bool wmvAvailable)
{
    formatTexts_ = formatTexts(kind, wmvAvailable);
    rgFormat->setItems(texts(formatTexts_));
}

void TSourcesFrame::ShowAudioTypeItems(SourceKind kind, bool haveAudioDevices)
{
    audioTypeTexts_ = audioTypeTexts(kind, haveAudioDevices);
    cboxAudioType->clear();
    cboxAudioType->addItems(texts(audioTypeTexts_));
}

void TSourcesFrame::ShowVideoPlaceholder()
{
    cboxvideo->setPlaceholderText(
        Text(cboxvideo->count() == 0 ? TextId::NoVideoSource : TextId::StNoVideo));
}

void TSourcesFrame::ApplyTexts()
{
    GroupBox2->setTitle(Text(TextId::SourcesGroupCaption));

    gbVideo->setTitle(Text(TextId::gbVideoCaption));
    ShowVideoPlaceholder();
    cboxvideo->setToolTip(Text(TextId::cboxvideoHint));
    ActualiserVideoSpeedBtn->setToolTip(Text(TextId::ActualiserVideoSpeedBtnHint));
    SettingsSpeedBtn->setToolTip(Text(TextId::SettingsSpeedBtnHint));
    PilotSpeedBtn->setToolTip(Text(TextId::PilotSpeedBtnHint));

    setCaption(rgFormat, TextId::rgFormatCaption, TextId::rgFormatHint);
    rewordItems(rgFormat, formatTexts_);
    setCaption(rgStandard, TextId::rgStandardCaption, TextId::rgStandardHint);
    rewordItems(rgStandard, {TextId::rgStandardPal, TextId::rgStandardNTSC});
    setCaption(rgProfiles, TextId::rgProfilesCaption, TextId::rgProfilesHint);
    rewordItems(rgProfiles, {TextId::rgProfilesHigh, TextId::rgProfilesMedium,
                             TextId::rgProfilesLow, TextId::rgProfilesInternet});
    setCaption(Label1, TextId::SourcesLabel1Caption, TextId::SourcesLabel1Hint);
    setCaption(rgEcouterDV, TextId::rgEcouterDVCaption, TextId::rgEcouterDVHint);
    rewordItems(rgEcouterDV, {TextId::rgEcouterDVNative, TextId::rgEcouterDVForce44100});

    setCaption(gbAudio, TextId::gbAudioCaption, TextId::gbAudioHint);
    if (cboxAudioType->count() == static_cast<int>(audioTypeTexts_.size())) {
        for (int i = 0; i < cboxAudioType->count(); ++i)
            cboxAudioType->setItemText(i, Text(audioTypeTexts_[static_cast<std::size_t>(i)]));
    }
    cboxAudioType->setToolTip(Text(TextId::cboxAudioTypeHint));
    cboxAudio->setPlaceholderText(Text(TextId::NoAudioSource));
    cboxAudio->setToolTip(Text(TextId::cboxAudioHint));
    Label2->setText(Text(TextId::SourcesLabel2Caption));
    ReglerAudioBtn->setToolTip(Text(TextId::ReglerAudioBtnHint));
    sbDone->setToolTip(Text(TextId::sbDoneHint));
    LabelCorr->setText(Text(TextId::LabelCorrCaption));
    RXspinCorrEdit->setToolTip(Text(TextId::RXspinCorrEditHint));
    LabelCorr->setToolTip(RXspinCorrEdit->toolTip());
    setCaption(rgFrequenceDV, TextId::SourcesFrequenceDVCaption, TextId::rgFrequenceDVHint);
    rewordItems(rgFrequenceDV,
                {TextId::FrequenceNative, TextId::Frequence32000, TextId::Frequence48000});

    // Until a file name shows, the label reads as a caption.
    if (!videoNameShown_) LabelVideo->setText(Text(TextId::SourcesLabelVideoCaption));
    LabelVideo->setToolTip(Text(TextId::SourcesLabelVideoHint));
    sbVideo->setToolTip(Text(TextId::SourcesSbVideoHint));
    sbFerrovue->setToolTip(Text(TextId::SourcesSbFerrovueHint));
}

void TSourcesFrame::SetAudioSettingsShown(bool shown)
{
    audioSettings_->setVisible(shown);
}

bool TSourcesFrame::AudioGroupCollapsed() const
{
    return audioSettings_->isHidden();
}

void TSourcesFrame::ShowProfileControls(bool wmvFormatSelected, bool systemProfileChosen)
{
    rgProfiles->setVisible(wmvFormatSelected && !systemProfileChosen);
    Label1->setVisible(wmvFormatSelected && systemProfileChosen);
}

void TSourcesFrame::ShowVideoName(const QString& fileName)
{
    videoNameShown_ = true;
    LabelVideo->setText(fileName);
}

QPoint TSourcesFrame::SettingsMenuPosition() const
{
    return SettingsSpeedBtn->mapToGlobal(SettingsSpeedBtn->rect().bottomLeft());
}

} // namespace kad
