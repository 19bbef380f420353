#pragma once

// The Sources panel (panel 0, F2): the video device, the capture format and
// its standard or Windows Media profile, the listening rate of DV audio, the
// audio arrangement and device, the DV audio frequency, the audio/video
// offset, and the next video file name with the folder and viewer buttons.
//
// The panel holds the controls and says what the user asked for through its
// signals; the main window connects sources, rebuilds the preview and
// refills the lists.

#include <QWidget>

#include <vector>

#include "system/kinds.h"
#include "system/texts.h"
#include "ui/panel_controls_widget.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QSpinBox;
class QToolButton;
class QWidget;

namespace kad {

class TSourcesFrame : public QWidget {
    Q_OBJECT
public:
    explicit TSourcesFrame(QWidget* parent = nullptr);

    // Capture format captions for a source kind, in list order; "Wmv" only
    // when Windows Media capture is available. Empty for skNoVideo.
    static QStringList FormatItems(SourceKind kind, bool wmvAvailable);
    // Audio-type items for a source kind, one for each of its
    // AudioTypeChoices: "No Audio", the included-audio item of the kind, then
    // the sound-card item when audio devices exist.
    static QStringList AudioTypeItems(SourceKind kind, bool haveAudioDevices);

    // rgFormat refilled with FormatItems, nothing selected.
    void ShowFormatItems(SourceKind kind, bool wmvAvailable);
    // cboxAudioType refilled with AudioTypeItems, nothing current.
    void ShowAudioTypeItems(SourceKind kind, bool haveAudioDevices);
    // What cboxvideo shows with no device picked: "No video source" while
    // the list is empty, else "No video".
    void ShowVideoPlaceholder();

    // The panel's texts from the string table (titles, hints, list items,
    // the profile note), applied by the constructor and again by the
    // window's text pass after the window's routine, so the panel's wording
    // wins ("Frequency"). List items are reworded in place: the selections
    // stay, and so does a file name shown.
    Q_INVOKABLE void ApplyTexts();

    // The audio group shows only the audio-type list (collapsed), or also
    // the device list, its settings, the DV frequency and the offset.
    void SetAudioSettingsShown(bool shown);
    bool AudioGroupCollapsed() const;

    // rgProfiles when Windows Media is the chosen format and the default
    // profiles are used, Label1 instead when a system profile is chosen,
    // neither for another format.
    void ShowProfileControls(bool wmvFormatSelected, bool systemProfileChosen);

    // The file-name part of the next video file.
    void ShowVideoName(const QString& fileName);

    // Where the device settings menu pops up: the bottom-left corner of
    // SettingsSpeedBtn, in global coordinates.
    QPoint SettingsMenuPosition() const;

    // Controls, under their long-standing names.
    QGroupBox* GroupBox2 = nullptr; // "Sources (F2)"
    QGroupBox* gbVideo = nullptr;   // "Video source"
    QComboBox* cboxvideo = nullptr;
    QToolButton* ActualiserVideoSpeedBtn = nullptr;
    QToolButton* SettingsSpeedBtn = nullptr;
    QToolButton* PilotSpeedBtn = nullptr;
    TRadioGroup* rgFormat = nullptr;
    TRadioGroup* rgStandard = nullptr;
    TRadioGroup* rgProfiles = nullptr;
    TClickLabel* Label1 = nullptr;
    QMenu* pmProfiles = nullptr;
    TRadioGroup* rgEcouterDV = nullptr;
    QGroupBox* gbAudio = nullptr; // "Audio sources"
    QComboBox* cboxAudioType = nullptr;
    QComboBox* cboxAudio = nullptr;
    QLabel* Label2 = nullptr;
    QToolButton* ReglerAudioBtn = nullptr;
    QToolButton* sbDone = nullptr;
    TRadioGroup* rgFrequenceDV = nullptr;
    QLabel* LabelCorr = nullptr;
    QSpinBox* RXspinCorrEdit = nullptr;
    TClickLabel* LabelVideo = nullptr;
    QToolButton* sbVideo = nullptr;
    QToolButton* sbFerrovue = nullptr;

signals:
    // cboxvideo: the user picked another device (cboxVideoChange).
    void videoSourceChanged(int index);
    // ActualiserVideoSpeedBtn (ActualiserVideoBtnClick).
    void refreshVideoRequested();
    // SettingsSpeedBtn (VideoPropBtnClick): pop SettingsMenu up at
    // SettingsMenuPosition().
    void videoSettingsRequested();
    // PilotSpeedBtn (SourcesFramePilotSpeedBtnClick).
    void pilotToggleRequested();
    // rgFormat clicked (rgFormatClick).
    void formatClicked(int index);
    // rgEcouterDV clicked (SourcesFramergEcouterDVClick).
    void listenRateClicked(int index);
    // cboxAudioType changed by the user (SourcesFramergaudioChange): the
    // position picked, whatever its caption.
    void audioTypeChanged(int index);
    // cboxAudio changed by the user (cboxAudioChange).
    void audioSourceChanged(const QString& text);
    // ReglerAudioBtn (AudiopropBtnClick).
    void audioSettingsRequested();
    // RXspinCorrEdit changed (SourcesFrameRXspinCorrEditChange).
    void syncCorrectionChanged(int frames);
    // Label1 (SourcesFrameLabel1Click): show the Options panel.
    void optionsPanelRequested();
    // LabelVideo (SourcesFrameLabelVideoClick): show the Folders panel.
    void foldersPanelRequested();
    // sbVideo (SourcesFramesbVideoClick): open the "Video Directory" folder.
    void openVideoFolderRequested();
    // sbFerrovue: acFerrovue.
    void ferrovueRequested();

private:
    QWidget* audioSettings_ = nullptr;
    QWidget* profilePlace_ = nullptr;
    // The entries rgFormat's and cboxAudioType's items were worded from, in
    // list order.
    std::vector<TextId> formatTexts_;
    std::vector<TextId> audioTypeTexts_;
    bool videoNameShown_ = false;
};

} // namespace kad
