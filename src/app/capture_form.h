#pragma once

// The main window: the preview, the capture states, the tool bars, the status
// bar and the option panels.
//
// The window owns its controls, the action list `al`, the state routines and
// the view switches. What lies behind the window (the graph, the capture,
// stills, schedule, inlay, camcorder, preferences, log) reaches it through
// TCaptureHooks: each hook is optional, and an action whose hook is missing
// does nothing (a missing preview build counts as a failed one).

#include <QColor>
#include <QMainWindow>
#include <QStringList>
#include <QTime>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "app/action_table.h"
#include "platform/os/screensaver.h"
#include "system/kinds.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QSlider;
class QTimer;
class QToolBar;

namespace kad {

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
// switches. The window keeps one copy; TCaptureHooks::refreshFacts brings it
// up to date before each state routine, tests set it directly.
struct TStateFacts {
    SourceKind Kind = SourceKind::skNoVideo;
    AudioKind Audio = AudioKind::akNone;
    bool IsVCR = false;
    // The selected rgFormat item (-1 none) and its caption.
    int FormatIndex = -1;
    QString FormatCaption;
    // The text of the audio-type combo.
    QString AudioTypeText;
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

// The parts of the program the window calls. Set by whoever assembles the
// program (main.cpp); every member may stay empty.
struct TCaptureHooks {
    // ---- start-up (FormShow) ----
    std::function<void()> attachVideoWindow; // the display sink to vwEcran
    std::function<void()> initPanels;        // after the text pass
    std::function<bool()> loadVideoSources;  // false: could not load
    std::function<bool()> loadAudioSources;
    std::function<void()> checkOptionalFilters; // sets facts' presence flags
    std::function<void()> writeSystemReport;
    std::function<void()> createProfileManager;
    std::function<void()> applyPreferences;
    std::function<bool()> flipPreference; // "Flip On"
    std::function<void()> adjustAudioGroup;
    std::function<void()> bindDeviceLost;
    std::function<void(const QString& report, bool fatal)> showErrorReport;
    std::function<QString()> mediaPlatformVersion; // GStreamer version text
    std::function<QString()> operatingSystemName;

    // ---- state routines ----
    std::function<void(TStateFacts&)> refreshFacts;
    std::function<void()> applyAudioType;
    std::function<void()> resetAlarm;
    std::function<void()> armStopAlarm; // alarm -> stopperEnregistrement
    // Free bytes and the name of the file system of a path.
    std::function<quint64(const QString&)> freeDiskSpace;
    std::function<QString(const QString&)> fileSystemName;
    std::function<void(const TControlStates&)> applyControlStates;

    // ---- graph ----
    std::function<void()> stopGraph;
    std::function<bool()> buildPreviewGraph;
    std::function<bool()> runGraph;
    std::function<void(int volume)> setVolume; // 0..10000
    std::function<bool()> previewBuilt;
    // SetFlip on the overlay filter; false when it is not in the graph.
    // Flips the picture through the overlay filter and stores "Flip On";
    // false (and "Flip On" false) when the filter is not in the graph.
    std::function<bool(bool flip)> setFlip;
    // "Deinterlacer On" takes the action's new state.
    std::function<void(bool on)> deinterlacerOn;
    // The window's view switches changed ("Mute On", "Fullscreen On",
    // "Reduced on", "VMR Keep aspect ratio", "EcranGauche", "Panneau Actif").
    std::function<void()> viewChanged;
    // Captured and lost frames, or nothing when the source cannot tell.
    std::function<std::optional<std::pair<qint64, qint64>>()> frameCounters;
    std::function<void()> cameraTick;       // the 50 ms camcorder part
    std::function<QString()> nextVideoName; // NextVideoName
    std::function<void()> graphDeviceLost;  // reconnect part of GraphDeviceLost

    // ---- actions whose work lies outside the window ----
    std::function<void()> grab;         // acGrab
    std::function<bool()> startCapture; // StartCapture
    std::function<void()> lancerEnregistrement;
    std::function<void()> cut;        // acCouper
    std::function<void()> programmer; // acProgrammer
    std::function<void()> stopProg;   // acStopProg
    std::function<void()> incruster;  // acIncruster
    std::function<void()> startIncruster;
    std::function<void()> stopIncruster;
    std::function<void(bool allowed)> allowIncrust;
    std::function<void(int extension)> imageExtension; // 0 bmp, 1 jpeg
    std::function<void()> savePreferences;             // acSauverPrefs
    std::function<void(ActionId)> camera;              // cam* actions
    std::function<void(bool)> ecouterAudioInclus;
    std::function<void(bool)> enregistrerAudioSource;
    std::function<void()> showPilotDV;
    std::function<void(bool)> log;                         // acLog
    std::function<void()> ferrovue;                        // acFerrovue
    std::function<void()> intervalometerTick;              // Timer1
    std::function<QString()> videoDirectory;               // "Video Directory"
    std::function<void(const QString& folder)> openFolder; // desktop "open"

    // ---- shutdown ----
    std::function<void()> hideCamcorderWindow;
    std::function<bool()> savePreferencesOnExit; // cbPrefsQuittant checked
    std::function<void()> gatherPreferences;
    std::function<void()> formDestroy; // frees what others own, StopLog
};

class TCaptureForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TCaptureForm(QWidget* parent = nullptr);
    ~TCaptureForm() override;

    TCaptureHooks& Hooks() { return hooks_; }
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
    CaptureState State() const { return state_; }
    QColor FrameColour() const;
    QString StatusText(int panel) const;
    void SetStatusText(int panel, const QString& text);
    const TControlStates& ControlStates() const { return controls_; }
    QString CurrentVideoFileName;

    void ShowIdleState();
    void ShowPreviewState();
    void ShowCaptureState();
    void ShowScheduledState();
    void ShowScheduledCaptureState();
    // The capture toggle's checked state, caption and picture for a capture
    // started or stopped elsewhere (the schedule), without running it.
    void ShowCaptureToggle(bool capturing);
    // Stop, build the preview, set the volume and run; the build's result.
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
    void updateCaption();
    QString cutCaption() const;
    bool formatReencodes() const;
    QString sourceMarker() const;
    void FormCloseQuery();

    TCaptureHooks hooks_;
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
