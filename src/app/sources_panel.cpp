#include "app/sources_panel.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace kad {

namespace {

QToolButton* iconButton(QWidget* parent, const char* themeIcon, QStyle::StandardPixmap fallback)
{
    auto* b = new QToolButton(parent);
    b->setIcon(QIcon::fromTheme(QLatin1String(themeIcon), parent->style()->standardIcon(fallback)));
    b->setAutoRaise(true);
    b->setIconSize(QSize(16, 16));
    return b;
}

void tighten(QLayout* layout)
{
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
}

} // namespace

QStringList TSourcesFrame::FormatItems(SourceKind kind, bool wmvAvailable)
{
    QStringList items;
    switch (kind) {
    case SourceKind::skDV:
        items << tr("DV type 1 (native)") << tr("DV type 2 (normal)")
              << tr("DV type 2 (recompressed)");
        break;
    case SourceKind::skAnalog:
    case SourceKind::skMovieBoxB:
    case SourceKind::skMpeg2:
        items << tr("Native Video") << tr("DV type 2 (recompressed)");
        break;
    case SourceKind::skNoVideo:
        return items;
    }
    if (wmvAvailable) items << tr("Wmv");
    return items;
}

QStringList TSourcesFrame::AudioTypeItems(SourceKind kind, bool haveAudioDevices)
{
    QStringList items{tr("No Audio")};
    switch (kind) {
    case SourceKind::skDV:
        items << tr("Audio from the DV stream");
        break;
    case SourceKind::skMovieBoxB:
        items << tr("Audio from the MovieBox");
        break;
    case SourceKind::skMpeg2:
        items << tr("Audio from the MPEG2 stream");
        break;
    case SourceKind::skAnalog:
    case SourceKind::skNoVideo:
        break;
    }
    if (haveAudioDevices) items << tr("Add an Audio Source (soundcard)");
    return items;
}

TSourcesFrame::TSourcesFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SourcesFrame"));
    resize(kPanelSize);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    GroupBox2 = new QGroupBox(this);
    outer->addWidget(GroupBox2);
    auto* main = new QVBoxLayout(GroupBox2);
    tighten(main);

    // Video device.
    gbVideo = new QGroupBox(GroupBox2);
    auto* videoRow = new QHBoxLayout(gbVideo);
    tighten(videoRow);
    cboxvideo = new QComboBox(gbVideo);
    cboxvideo->setPlaceholderText(tr("No video source"));
    cboxvideo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboxvideo->setMinimumContentsLength(8);
    ActualiserVideoSpeedBtn = iconButton(gbVideo, "view-refresh", QStyle::SP_BrowserReload);
    ActualiserVideoSpeedBtn->setToolTip(tr("Refresh the list of video sources"));
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
    rgFormat->setItems({tr("video native"), tr("DV type 2")});
    formatRow->addWidget(rgFormat, 1);
    profilePlace_ = new QWidget(GroupBox2);
    auto* profileColumn = new QVBoxLayout(profilePlace_);
    profileColumn->setContentsMargins(0, 0, 0, 0);
    profileColumn->setSpacing(0);
    rgStandard = new TRadioGroup(tr("Standard"), profilePlace_);
    rgStandard->setItems({tr("Pal"), tr("NTSC")});
    rgStandard->setItemIndex(0);
    rgStandard->setEnabled(false);
    rgStandard->hide();
    rgProfiles = new TRadioGroup(tr("Standard profiles of wmv"), profilePlace_);
    rgProfiles->setItems({tr("High"), tr("Medium"), tr("Low"), tr("Internet")});
    rgProfiles->setItemIndex(1);
    rgProfiles->setToolTip(tr("Profile of the Windows Media capture.\nRight click to choose one of "
                              "the Windows Media profiles."));
    rgProfiles->hide();
    Label1 = new TClickLabel(QString(), profilePlace_);
    Label1->setToolTip(tr("Click to choose the Windows Media profile in the Settings panel.\nRight "
                          "click to choose it here."));
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
    rgEcouterDV->setItems({tr("DV native frequency"), tr("force 44100 Hz")});
    rgEcouterDV->setColumns(2);
    rgEcouterDV->setItemIndex(0);
    rgEcouterDV->hide();
    main->addWidget(rgEcouterDV);

    // Audio arrangement; the settings part shows only with a sound-card source.
    gbAudio = new QGroupBox(GroupBox2);
    auto* audio = new QVBoxLayout(gbAudio);
    tighten(audio);
    cboxAudioType = new QComboBox(gbAudio);
    cboxAudioType->addItems({tr("No Audio"), tr("Audio included in the stream of  MovieBox"),
                             tr("Add an audio source")});
    cboxAudioType->setCurrentIndex(0);
    cboxAudioType->setToolTip(tr("Choose the audio that goes with the video"));
    cboxAudioType->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboxAudioType->setMinimumContentsLength(8);
    audio->addWidget(cboxAudioType);
    audioSettings_ = new QWidget(gbAudio);
    auto* settings = new QVBoxLayout(audioSettings_);
    settings->setContentsMargins(0, 0, 0, 0);
    settings->setSpacing(2);
    cboxAudio = new QComboBox(audioSettings_);
    cboxAudio->setPlaceholderText(tr("No audio source"));
    cboxAudio->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboxAudio->setMinimumContentsLength(8);
    settings->addWidget(cboxAudio);
    auto* settingsRow = new QHBoxLayout;
    settingsRow->setSpacing(2);
    Label2 = new QLabel(tr("Settings of the\nsound card"), audioSettings_);
    ReglerAudioBtn = iconButton(audioSettings_, "audio-card", QStyle::SP_MediaVolume);
    ReglerAudioBtn->setToolTip(tr("Settings of the audio source"));
    sbDone = iconButton(audioSettings_, "go-up", QStyle::SP_TitleBarShadeButton);
    sbDone->setToolTip(tr("Hide the settings buttons"));
    LabelCorr = new QLabel(tr("Sync"), audioSettings_);
    RXspinCorrEdit = new QSpinBox(audioSettings_);
    RXspinCorrEdit->setRange(-60, 60);
    RXspinCorrEdit->setValue(10);
    RXspinCorrEdit->setToolTip(tr(
        "Offset of the audio against the video, in frames,\nused at the next preview or capture."));
    LabelCorr->setToolTip(RXspinCorrEdit->toolTip());
    settingsRow->addWidget(Label2);
    settingsRow->addWidget(ReglerAudioBtn);
    settingsRow->addWidget(sbDone);
    settingsRow->addStretch(1);
    settingsRow->addWidget(LabelCorr);
    settingsRow->addWidget(RXspinCorrEdit);
    settings->addLayout(settingsRow);
    rgFrequenceDV = new TRadioGroup(QString(), audioSettings_);
    rgFrequenceDV->setItems({tr("native"), tr("32000 Hz"), tr("48000 Hz")});
    rgFrequenceDV->setColumns(3);
    rgFrequenceDV->setItemIndex(0);
    rgFrequenceDV->setToolTip(
        tr("Set the frequency for adding the audio source \nto the DV stream."));
    rgFrequenceDV->hide();
    settings->addWidget(rgFrequenceDV);
    audio->addWidget(audioSettings_);
    audioSettings_->hide();
    main->addWidget(gbAudio);

    // Next video file.
    auto* fileRow = new QHBoxLayout;
    fileRow->setSpacing(2);
    LabelVideo = new TClickLabel(tr("Video"), GroupBox2);
    LabelVideo->setToolTip(
        tr("Indicates the next name for capture,\nor the current name if capture "
           "is beeing processed.\nClick here to go to the Folders panel."));
    LabelVideo->setMinimumWidth(40);
    sbVideo = iconButton(GroupBox2, "folder-open", QStyle::SP_DirOpenIcon);
    sbVideo->setText(QStringLiteral(" "));
    sbVideo->setToolTip(tr("Go to the folder where the video clips are captured."));
    sbFerrovue = iconButton(GroupBox2, "video-x-generic", QStyle::SP_MediaPlay);
    sbFerrovue->setText(QStringLiteral(" "));
    sbFerrovue->setToolTip(tr("Launch Ferrovue with the captured AVI clips"));
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
    connect(cboxAudioType, &QComboBox::activated, this,
            [this](int) { emit audioTypeChanged(cboxAudioType->currentText()); });
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

void TSourcesFrame::ApplyTexts()
{
    GroupBox2->setTitle(tr("Sources (F2)"));
    LabelVideo->setToolTip(
        tr("Indicates the next name for capture,\nor the current name if capture "
           "is beeing processed.\nClick here to go to the Folders panel."));
    Label1->setText(tr("Windows Media\nprofile set in\nthe Settings\npanel\n (F10)."));
    rgStandard->setToolTip(tr("Video standard when capturing in recompressed DV"));
    gbVideo->setTitle(tr("Video source"));
    SettingsSpeedBtn->setToolTip(tr("Settings of the video source"));
    PilotSpeedBtn->setToolTip(tr("Display or hide the camcorder driver"));
    cboxvideo->setToolTip(tr("Choose the video source"));
    rgFormat->setTitle(tr("Format of capture"));
    rgFormat->setToolTip(
        tr("Choose the video format for capture.\nGenerally, I recommend DV type 2 "
           "normal for DV sources\nand native video for all others."));
    rgEcouterDV->setTitle(tr("Listen audio DV"));
    rgEcouterDV->setToolTip(tr("Frequency at which the audio of the DV stream is listened to"));
    gbAudio->setTitle(tr("Audio sources"));
    gbAudio->setToolTip(tr("Whether to add an audio source"));
    cboxAudio->setToolTip(tr("Choose the sound card that records the audio"));
    rgFrequenceDV->setTitle(tr("Frequency"));
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
    LabelVideo->setText(fileName);
}

QPoint TSourcesFrame::SettingsMenuPosition() const
{
    return SettingsSpeedBtn->mapToGlobal(SettingsSpeedBtn->rect().bottomLeft());
}

} // namespace kad
