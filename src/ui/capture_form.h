#pragma once

// The main window: the preview, the capture states, the tool bars, the status
// bar and the option panels.
//
// The window owns its controls, the action list `al`, the state routines and
// the view switches. It shows the state of the capture session it is given
// and follows its changes; what lies behind the window (stills, schedule,
// inlay, camcorder, preferences, log) hears the user through the window's
// signals. Without a session nothing is built (a preview counts as failed)
// and the state is the one the routines last showed.

#include <QColor>
#include <QMainWindow>
#include <QStringList>
#include <QTime>

#include <array>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/os/screensaver.h"
#include "system/kinds.h"
#include "ui/action_table.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QSlider;
class QTimer;
class QToolBar;

namespace kad {

class TCaptureSession;
class TVideoWidget;
class TStatusBar;
class TMessageDialogs;

// Panel numbers shared by ShowPanel, "Panneau Actif" and the panel actions.
enum PanelIndex : int {
    piSources = 0,
    piDossiers = 1,
    piProgrammer = 2,
    piExtraire = 3,
    piIncruster = 4,
    piOptions = 5,
    piHelp = 6,
    piApropos = 7,
};
inline constexpr int kPanelCount = 8;

// The colours of the preview frame per state.
inline const QColor kIdleColour{0x80, 0x80, 0x80};
inline const QColor kCaptureColour{0xFF, 0x00, 0x00};
inline const QColor kScheduledColour{0xFF, 0xFF, 0x00};
inline const QColor kScheduledCaptureColour{0xFF, 0x00, 0xFF};

// What the state routines read about the source, the format and the
// switches. The window keeps one copy; its facts source brings it up to date
// before each state routine, tests without one set it directly.
struct TStateFacts {
    SourceKind Kind = SourceKind::skNoVideo;
    AudioKind Audio = AudioKind::akNone;
    bool IsVCR = false;
    // The selected rgFormat item (-1 none) and its caption.
    int FormatIndex = -1;
    QString FormatCaption;
    bool PermettreIncruster = false;     // "Permettre Incruster"
    bool DeinterlacerChecked = false;    // OptionsFrame.cbDeinterlacer
    bool EcouterAudioInclus = false;     // "Ecouter Audio inclus"
    bool EnregistrerSourceAudio = false; // "Enregistrer Source Audio"
    bool DeinterlacerPresent = false;
    bool InlayFiltersAvailable = false;
    // The schedule alarm's time (start time while scheduled, end time while
    // capturing on schedule).
    QTime AlarmTime;
};

// Enabled and visible states of panel controls as the state routines set
// them; an empty optional leaves the control as it is. The window applies
// them to the panels it holds and keeps the last result for inspection.
struct TControlStates {
    std::optional<bool> IntervalometerEnabled; // ExtraireFrame1.RxSwitch1
    std::optional<bool> GrabBtnEnabled;
    std::optional<bool> VideoGroupEnabled;         // SourcesFrame.gbVideo
    std::optional<bool> AudioGroupEnabled;         // SourcesFrame.gbAudio
    std::optional<bool> FormatEnabled;             // SourcesFrame.rgFormat
    std::optional<bool> VideoComboEnabled;         // SourcesFrame.cboxvideo
    std::optional<bool> StandardEnabled;           // SourcesFrame.rgStandard
    std::optional<bool> EcouterDVVisible;          // SourcesFrame.rgEcouterDV
    std::optional<bool> PilotButtonVisible;        // SourcesFrame.PilotSpeedBtn
    std::optional<bool> DeinterlacerBoxEnabled;    // OptionsFrame.cbDeinterlacer
    std::optional<bool> OptionsAllowInlaysEnabled; // OptionsFrame.cbAllowIncrust
    std::optional<bool> InlayAllowInlaysEnabled;   // IncrusterFrame1.cbAllowIncrust
    std::optional<bool> CodecGroupEnabled;         // OptionsFrame.gbCodecs
    std::optional<bool> FolderControlsEnabled;     // DossiersFrame1 folder groups
    std::optional<bool> ScheduleStartVisible;      // ProgrammerFrame1 start controls
    std::optional<int> AudioGroupHeight;           // 46 collapsed, 170 with settings
};

// Where the window's facts come from: the program reads them off the graph,
// the panels, the preferences and the schedule.
class TWindowFacts {
public:
    virtual ~TWindowFacts() = default;
    virtual void Refresh(TStateFacts& facts) const = 0;
};

class TCaptureForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TCaptureForm(QWidget* parent = nullptr);
    ~TCaptureForm() override;

    // The session whose state the window shows and follows, and the source
    // of the facts its routines read; both outlive the window's use of them.
    void SetSession(TCaptureSession* session);
    TCaptureSession* Session() const { return session_; }
    void SetFactsSource(const TWindowFacts* source) { factsSource_ = source; }
    TStateFacts& Facts() { return facts_; }

    // ---- actions ----
    QAction* Action(ActionId id) const { return al_[static_cast<std::size_t>(id)]; }
    QList<QAction*> Actions() const;
    // The two shortcut lists of the help panel, built by the text pass.
    const HelpLists& ShortcutLists() const { return helpLists_; }

    // ---- components, by their component names ----
    QWidget* Client() const { return client_; }
    QFrame* Panel1 = nullptr;
    TVideoWidget* vwEcran = nullptr;
    QSlider* Xslider = nullptr;
    QSlider* Yslider = nullptr;
    QFrame* Shape1 = nullptr;
    QSlider* tb = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* VolumeLab = nullptr;
    QPushButton* CaptureBtn = nullptr;
    QPushButton* CouperBtn = nullptr;
    QPushButton* grabBtn = nullptr;
    QToolBar* tbActions = nullptr;
    QToolBar* tbPanneaux = nullptr;
    QToolBar* TbGeneral = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    QWidget* ErreurFrame1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* DroppedFramesTimer = nullptr;
    QTimer* TimerLumatex = nullptr;
    QMenu* PopupMenu = nullptr;
    QMenu* PanneauSources1 = nullptr;
    QMenu* SettingsMenu = nullptr;
    QMenu* pmProfiles = nullptr;

    // The option panel of an index (0..7), or null.
    QWidget* Panel(int index) const;
    // Replaces the panel of an index (the window takes ownership); the
    // placeholder built at creation is freed.
    void SetPanel(int index, QWidget* panel);
    void SetErrorPanel(QWidget* panel);

    // ---- state ----
    CaptureState State() const;
    QColor FrameColour() const;
    QString StatusText(int panel) const;
    void SetStatusText(int panel, const QString& text);
    const TControlStates& ControlStates() const { return controls_; }
    // The session's name for the next capture (empty without a session).
    QString CurrentVideoFileName() const;

    void ShowIdleState();
    void ShowPreviewState();
    void ShowCaptureState();
    void ShowScheduledState();
    void ShowScheduledCaptureState();
    // The capture toggle's checked state, caption and picture for a capture
    // started or stopped elsewhere (the schedule), without running it.
    void ShowCaptureToggle(bool capturing);
    // While the video source is being connected the actions that need one
    // (capture, grab) are off with a hint that says why; false gives them
    // back as the states last wanted them.
    void ShowConnecting(bool connecting);
    bool Connecting() const { return connecting_; }
    // The session's preview (stop, build, volume, run); the build's result.
    bool StartPreview();
    void ApplyVolume();

    // ---- panels and layout ----
    int ActivePanel() const { return panneauActif_; }
    void ShowPanel(int index);
    // "EcranGauche": panels on the right, preview on the left.
    bool EcranGauche() const { return ecranGauche_; }
    void SetEcranGauche(bool left) { ecranGauche_ = left; }
    int PanelLeft() const { return panelLeft_; }
    int VideoLeft() const { return videoLeft_; }
    void LayoutWindow();
    bool IsReduced() const;

    // The "VMR Keep aspect ratio" value as the ratio action leaves it.
    bool VMRKeepAspectRatio() const { return vmrKeepAspect_; }

    // The text of the video combo (the window caption shows it).
    QString VideoComboText() const;
    void SetVideoComboText(const QString& text) { videoComboText_ = text; }

    // The text pass: the window's texts, then each panel's. Run by FormShow;
    // public for tests and tools.
    void ApplyTexts();
    // The help panel's two shortcut lists from the actions as they are now.
    // FormShow builds them once the texts are applied and the panels set up,
    // since both may change what an action shows.
    void BuildShortcutLists();
    // Presence of the optional filters (FormShow applies them once the
    // filters have been looked for).
    void ApplyPresence();

    // Runs at the first showing; public so a test can run it without a screen.
    void FormShow();
    // Called from preferencesWanted by a handler that ends later (the video
    // source connecting): the rest of the first showing waits for
    // ResumeStartup.
    void HoldStartup();
    void ResumeStartup();
    // The start-up's device lists (asked for by deviceListsWanted) could or
    // could not be loaded.
    void ReportDeviceLists(bool videoLoaded, bool audioLoaded);

public slots:
    void acGrabExecute();
    void acfullscreenExecute();
    void acMuteExecute();
    void acIncrusterExecute();
    void acQuitterExecute();
    void acCapturerExecute();
    void acCouperExecute();
    void acProgrammerExecute();
    void acJpgOptionExecute();
    void acBmpOptionExecute();
    void acDesentrelacerExecute();
    void acVMRKeepratioExecute();
    void acBasculerPanneauExecute(bool bySender = true);
    void acNextPanneauExecute();
    void acSauverPrefsExecute();
    void acReduireExecute();
    void acStopCaptureExecute();
    void acStopProgExecute();
    void acCapturerBasculeExecute();
    void acStopIncrusterExecute();
    void acStartIncrusterExecute();
    void acEcouterAudioInclusExecute();
    void acEnregistrerAudioSourceExecute();
    void acShowPilotDVExecute();
    void acAllowIncrustExecute();
    void acFlipExecute();
    // The picture is flipped or not, as the overlay filter answered.
    void ShowFlip(bool flipped);
    void acLogExecute();
    void acFixerAudioExecute();
    void acFerrovueExecute();
    void acOuvrirDossierVideosExecute();
    void camExecute(ActionId id);
    void StatusBar1Click();
    void vwEcranClick();
    void tbChange();
    void DroppedActionTimer();
    void GraphDeviceLost();

signals:
    // The state routines ran; the new state.
    void stateChanged(kad::CaptureState state);

    // ---- the first showing, in this order ----
    void videoWindowWanted();     // the display sink to vwEcran
    void panelsInitWanted();      // after the text pass, before the help lists
    void deviceListsWanted();     // answered by ReportDeviceLists
    void optionalFiltersWanted(); // the presence checks, before ApplyPresence
    void systemReportWanted();
    void preferencesWanted();   // the stored preferences applied
    void startupPreviewShown(); // the first preview is up (or failed)
    // The start-up could not load the device lists; without a receiver the
    // window says so in a message box.
    void startupErrorReported(const QString& report, bool fatal);

    // ---- what the state routines ask on their way ----
    void audioTypeWanted();  // the audio type applied to the graph
    void alarmResetWanted(); // the schedule's alarm back to its rest
    void stopAlarmWanted();  // the alarm set to the schedule's end

    // ---- the user's intents ----
    void grabRequested();
    void startCaptureRequested();
    void stopCaptureRequested();
    void cutRequested();
    void scheduleRequested();
    void stopScheduleRequested();
    void inlayToggleRequested();
    void inlayStartRequested();
    void inlayStopRequested();
    void inlaysAllowed(bool allowed);
    // acFlip was triggered; the switch shows off until ShowFlip says the
    // picture is flipped.
    void flipRequested(bool flip);
    void deinterlacerToggled(bool on);
    void imageTypeChosen(int extension); // 0 bmp, 1 jpeg
    void savePreferencesRequested();
    void cameraCommandRequested(kad::ActionId id);
    void includedAudioToggled(bool on);
    void auxAudioToggled(bool on);
    void pilotWindowRequested();
    void logToggled(bool on);
    void ferrovueRequested();
    void openVideoFolderRequested();
    // A view switch changed ("Mute On", "Fullscreen On", "Reduced on", "VMR
    // Keep aspect ratio", "EcranGauche", "Panneau Actif").
    void viewChanged();
    // The graph's device was lost (GraphDeviceLost).
    void deviceLost();
    // The window is closing (FormCloseQuery), after the graph stopped.
    void closing();
    // The window is going: what others own for it may be freed.
    void destroying();
    // The text pass built the two help lists.
    void shortcutListsBuilt(const kad::HelpLists& lists);
    // "Set the Audio": the sound source's settings pages.
    void audioSettingsRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void createActions();
    void createControls();
    void createToolBars();
    void createMenus();
    void createPanels();
    void createTimers();
    void bindButton(QPushButton* button, QAction* action, bool followEnabled);
    void setActionImage(QAction* action, int image);
    void applyMainWindowTexts();
    void runPanelRoutine(QWidget* panel, const char* method);
    void refreshFacts();
    void applyControlStates(const TControlStates& states);
    void setFrameColour(const QColor& colour);
    void setState(CaptureState state);
    // The session's state changed by itself: its routine runs.
    void followSession(CaptureState state);
    // While the session finishes a capture, neither the capture toggle nor
    // the cut can be used.
    void applyFinishing();
    // FormShow's end: the first preview and the start-up errors.
    void finishStartup();
    // ShowConnecting's hold, kept over the state routines.
    void applyConnecting();
    void updateCaption();
    QString cutCaption() const;
    bool formatReencodes() const;
    QString sourceMarker() const;
    void FormCloseQuery();

    TCaptureSession* session_ = nullptr;
    const TWindowFacts* factsSource_ = nullptr;
    // A state routine is running (its own state change is not followed).
    bool showing_ = false;
    QString startupError_;
    QString startupErrorHeld_;
    bool startupHeld_ = false;
    bool applyingPreferences_ = false;
    struct ConnectingHold {
        QAction* action;
        bool enabled;
        QString hint;
    };
    bool connecting_ = false;
    std::vector<ConnectingHold> connectingHeld_;
    bool grabBtnHeld_ = false;
    TStateFacts facts_;
    TControlStates controls_;
    HelpLists helpLists_;
    std::array<QAction*, kActionCount> al_{};
    std::array<QWidget*, kPanelCount> panels_{};
    QWidget* client_ = nullptr;
    CaptureState state_ = CaptureState::csIdle;
    int panneauActif_ = 0;
    bool ecranGauche_ = true;
    int panelLeft_ = 427;
    int videoLeft_ = 0;
    bool vmrKeepAspect_ = true;
    bool shown_ = false;
    QString videoComboText_;
    std::unique_ptr<TMessageDialogs> messageDialogs_;
    ScreenSaverInhibitor screenSaver_;
    bool screenSaverWasActive_ = false;
};

} // namespace kad
