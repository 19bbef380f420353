#pragma once

// The main window's side of the Sources panel: loading the device lists into
// the combos, connecting the chosen video device, the format and audio-type
// lists of each source kind with their fall-backs, the audio choices and the
// small settings of the panel. Every change that touches the graph ends by
// rebuilding the preview through the window's StartPreview.
//
// GUI thread only.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include "app/program_parts.h"
#include "system/capture_format.h"
#include "system/devices/device_watch.h"
#include "system/kinds.h"
#include "ui/action_table.h"

class QTimer;

namespace kad {

class TSettingsMenu;
class TconnectResult;

class TSourceSelection : public QObject {
    Q_OBJECT
public:
    explicit TSourceSelection(TProgramParts& parts, QObject* parent = nullptr);
    ~TSourceSelection() override;

    // Connects the panel's signals to the handlers below.
    void Bind();

    // At start-up, after the panels: the device lists into the combos, with
    // their log lines; false when the enumeration itself failed.
    bool LoadVideoList();
    bool LoadAudioList();

    // What the graph and the window read about the current choices.
    SourceKind Kind() const;
    // The capture format the Sources panel's choice stands for.
    CaptureFormat Format() const;
    // The audio type the list shows, which the graph gets.
    AudioKind CurrentAudioKind() const { return p_.Settings.AudioInUse; }
    // The graph's build options from the preferences and the panel.
    void FillGraphOptions();
    // The capture's options (format, standard, profile) from the panels.
    void FillCaptureOptions();

    // CurrentVideoFileName with the extension of the current format; the
    // labels show it.
    void ApplyVideoExtension();
    // Shows the file-name part of the current video name on both panels.
    void ShowVideoName(const QString& path);

    // ---- connecting sources and the Sources panel's handlers ----
    // The device opens off the GUI thread: each of these ends when the
    // connection has, then runs `then` (ConnectVideoSource's with false
    // when the chosen device could not be used and the next one was tried).
    // A connection started meanwhile takes over: the older one's end never
    // runs.
    void ConnectVideoSource(std::function<void(bool)> then = {});
    void cboxVideoChange(std::function<void()> then = {});
    void ActualiserVideoBtnClick();
    // Connects source and runs then with the outcome; the window's actions
    // that need a source are off meanwhile. A newer connection takes over:
    // then never runs, takenOver does.
    void ConnectSourceThen(const TvideoSource& source,
                           std::function<void(const TconnectResult&)> then,
                           std::function<void()> takenOver = {});
    // A connection has not ended yet.
    bool Connecting() const;
    void rgFormatClick();
    void ApplyAudioType();
    bool ChooseAudioSource();
    void cboxAudioChange();
    void SourcesFramergaudioChange();
    void acEcouterAudioInclusExecute(bool checked);
    void acEnregistrerAudioSourceExecute(bool checked);
    void SourcesFramergEcouterDVClick(int index);
    void SourcesFrameRXspinCorrEditChange(int frames);
    void SourcesFramePilotSpeedBtnClick();
    void SourcesFramesbVideoClick();
    void VideoPropBtnClick();
    // The sound source's settings pages (the Sources panel's button and
    // "Set the Audio"); a message says why when there are none.
    void AudiopropBtnClick();
    // The camcorder window shows only for a tape player when "Show Pilot DV"
    // is set.
    void ShowCamcorderWindow();
    // GraphDeviceLost's reconnection: reload the video list, select the same
    // device again (or the first), connect it, reload the audio list and
    // choose the audio device.
    void ReconnectAfterDeviceLost(std::function<void()> then = {});

    // Selects `text` in the video combo (the first item when it is gone);
    // false when the combo is empty.
    bool SelectVideoByName(const QString& text);

    // From now on the lists follow the devices plugged in and pulled out
    // (LoadVideoList starts it). False when no device could be watched.
    bool FollowDevices();
    bool FollowingDevices() const { return watch_.Running(); }
    // The video source lost with its device and not yet given up: it comes
    // back as the current source when its device returns. Empty when none.
    const QString& LostVideoSource() const { return lostVideo_; }

private:
    // The settings pop-up's pages and their owner, made on first use.
    TSettingsMenu* settingsMenu();
    // The MovieBox step's hooks: the preview, the start-up window, the log.
    void bindMovieBoxStep();
    // ConnectVideoSource's end, once the device is connected (or none is
    // chosen).
    bool showConnectedSource();
    void sourceConnected(const TconnectResult& result);
    // rgFormatClick's rules for the current kind and format, without the
    // state refresh.
    void applyFormatRules();
    void fillVideoCombo();
    void setVideoPlaceholder();
    void updateCaption();
    void switchAction(ActionId action, bool wanted);
    // "Ecouter Audio inclus" and "Enregistrer Source Audio", in the
    // preferences the window reads and in the capture settings.
    void setAudioSwitches(bool listen, bool record);
    // The watch's report, handled once per turn of the event loop.
    void devicesChanged(DeviceCategory category);
    void followVideoDevices();
    void followAudioDevices();
    // The lost source is present again: it becomes current and previews
    // when the window is idle or previewing.
    void takeBackLostSource();

    TProgramParts& p_;
    TdeviceWatch watch_;
    QTimer* followTimer_ = nullptr;
    bool videoChanged_ = false;
    bool audioChanged_ = false;
    QString lostVideo_;
    // What each position of the audio-type list stands for, as the list was
    // last filled (nothing until a source is connected).
    std::vector<AudioKind> audioChoices_;
    bool applyingAudio_ = false;
    // What the connection under way does when it ends.
    std::function<void(const TconnectResult&)> afterConnect_;
    std::function<void()> afterTakenOver_;
    // The pending connection's end is dropped; who asked for it is told.
    void dropAfterConnect();
};

} // namespace kad
