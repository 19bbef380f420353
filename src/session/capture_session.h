#pragma once

// The capture session: the program's capture state and what moves it, over
// the data module's graph. The preview (stop, build, volume, run), the start
// of a capture with its checks on the target file and folder, the cut
// through the graph's lossless file switch, the splits at the tape's new
// recordings, and the stop, which lets the writers finish their files while
// the graph keeps running and enters the preview once they are complete.
//
// It knows no window: what it needs from the panels it is given (the
// choices, the volume), what the window shows it says by its signals.
//
// GUI thread only.

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "system/kinds.h"

class QTimer;

namespace kad {

class TdmCam;

// "The file <name> exists already. Do you want to crush it?"
QString ExistingFileQuestion(const QString& path);
// "The folder <folder> does not exist. Please check in which folder you want
// to create" CR LF " the video file <file>."
QString MissingFolderError(const QString& path);

// What a capture start reads beside the graph's own options.
struct TCaptureChoices {
    QString FormatName;               // the format as the Sources panel names it
    bool CaptureReport = false;       // "Capture report"
    bool SplitAtRecording = false;    // a new file at each new recording (DV)
    bool NameByRecordingDate = false; // files named after their recording date
};

class TCaptureSession : public QObject {
    Q_OBJECT
public:
    explicit TCaptureSession(TdmCam& cam, QObject* parent = nullptr);
    ~TCaptureSession() override;
    TCaptureSession(const TCaptureSession&) = delete;
    TCaptureSession& operator=(const TCaptureSession&) = delete;

    TdmCam& Cam() const { return cam_; }

    // ---- state ----
    CaptureState State() const { return state_; }
    bool Capturing() const
    {
        return state_ == CaptureState::csCapturing || state_ == CaptureState::csScheduledCapture;
    }
    // The state the window shows (the schedule's states, the idle state of
    // a failed preview); stateChanged when it changes.
    void SetState(CaptureState state);
    // Between a stop and the moment the capture's files are complete. The
    // state stays the capture's meanwhile.
    bool Finishing() const { return finishing_; }

    // ---- what the operations read ----
    // Linear volume 0..10000 of what is heard; applied at once and to every
    // graph built from now on.
    void SetVolume(int volume);
    int Volume() const { return volume_; }
    void SetChoices(const TCaptureChoices& choices) { choices_ = choices; }
    const TCaptureChoices& Choices() const { return choices_; }

    // ---- operations ----
    // Stop, build the preview, set the volume and run. False when the
    // preview could not be built. The state is left to the caller.
    bool StartPreview();
    // A preview was built and not taken down since.
    bool PreviewBuilt() const;

    // ---- the MovieBox's rebuild ----
    // The MovieBox's graph is made anew whenever it stops, its source
    // reconnecting off the GUI thread; whoever rebuilds it says when it
    // begins and ends. Meanwhile StartPreview, StartCapture and the steps
    // given to AfterRebuild wait, in the order they were asked, and run once
    // it has ended: with true when the rebuild went to its end (its source
    // connected or not), with false when a newer connection took its place
    // (what they were for is then that connection's to do).
    bool Rebuilding() const { return rebuilding_; }
    void BeginRebuild() { rebuilding_ = true; }
    void EndRebuild(bool finished);
    // Runs step at once (with true) when no rebuild is under way.
    void AfterRebuild(std::function<void(bool)> step);
    // A capture start waits for the rebuild: the rebuild itself builds no
    // capture, the start does.
    bool CaptureStartWaiting() const { return captureWaiting_; }
    // Stops the graph (the window closes).
    void StopGraph();
    // Checks the target file and its folder, then builds and runs the
    // capture graph into path; the state becomes `as` on success. False
    // when the user declined, the folder is missing or the graph could not
    // be built.
    bool StartCapture(const QString& path, CaptureState as = CaptureState::csCapturing);
    // Ends the capture: its writers finish their files while the graph
    // keeps running, then the preview is built again and the state becomes
    // the preview's (or idle when it cannot be built). Without a capture to
    // finish that happens at once. The next capture's name comes with
    // nameAfterCapture before the preview, at once or, for a capture that
    // splits at the tape's recordings, once its last file is known.
    void StopCapture();
    // The cut: the next name (asking first when a file of that name exists)
    // and the graph's lossless switch into it. currentFileChanged follows
    // once the writer has moved into it; a cut that no frame comes to make
    // within kCutWaitMs is given up with a word in the status bar and the
    // log, and its name is offered again. False when nothing was asked.
    bool Cut();
    // The name a capture that ends now leaves for the next one: the name of
    // a cut that is given up by the end, else the next one of the run. For
    // a capture torn down at once (its device lost); the writer is caught up
    // with here.
    QString NameAfterCapture();
    // A capture that splits at the tape's recordings and is being stopped
    // learns its next name once its last file is known: an advance of the
    // name asked for meanwhile (the schedule's end) is made after that name
    // instead of before it. False when there is no such name to wait for:
    // the caller advances the name itself.
    bool AdvanceNameAfterFinish();
    // The cut's name while the writer has not moved into it yet.
    QString PendingCut() const { return pendingCut_; }
    // The file the capture writes now.
    QString CurrentFile() const { return currentFile_; }
    // The name the next capture starts with, or the file the running one
    // was started into: what the Sources panel shows and a start uses.
    QString VideoFileName() const { return videoFileName_; }
    void SetVideoFileName(const QString& name) { videoFileName_ = name; }

    static constexpr int kCutWaitMs = 3000;
    // Captured and lost frames, or nothing when no capture runs.
    std::optional<std::pair<qint64, qint64>> FrameCounters() const;
    // The run's numbered names that were renamed after their recording
    // date, and the names they have now.
    const QHash<QString, QString>& RenamedVideos() const { return renamed_; }

signals:
    void stateChanged(kad::CaptureState state);
    void finishingChanged(bool finishing);
    // Just before a graph is built: whoever holds the panels fills the
    // data module's options (the preview's, and for a capture also the
    // capture's and the choices).
    void graphOptionsWanted();
    void captureOptionsWanted();
    // The capture writes into name now (a cut made, a new recording of the
    // tape, a file named after its recording date).
    void currentFileChanged(const QString& name);
    // The labels that show the video name show name again (a name built
    // and not used changed them).
    void videoNameShown(const QString& name);
    // A line for the status bar's capture panel.
    void statusText(const QString& text);
    // The capture ended by itself (full disk, write error) and has said why.
    void captureEndedByItself();
    // The name the next capture takes, after a stop.
    void nameAfterCapture(const QString& name);

private:
    void connectGraph();
    void setFinishing(bool finishing);
    void captureFinished(const QString& lastFile);
    // Gives up a cut that waits still; its name, or empty when none was
    // given up.
    QString giveUpPendingCut();
    // Builds the preview again and shows its state, even an unchanged one.
    void enterPreview();
    // StartPreview's and StartCapture's builds, on a stopped graph.
    bool buildPreview();
    bool buildCapture();
    // StartCapture past its checks; true when built, or when waiting for the
    // MovieBox's rebuild (the state is then set by the caller at once, and
    // given back to before should the build fail).
    bool captureOnRebuiltGraph(CaptureState as, CaptureState before);
    // StartCapture; before is the state to give back should it fail after
    // waiting for a rebuild.
    bool startCapture(const QString& path, CaptureState as, CaptureState before);
    // A capture start held until the MovieBox is back: retry then, and give
    // the state back to before when it fails or the rebuild gave up.
    void waitForRebuild(CaptureState as, CaptureState before, std::function<bool()> retry);
    QString peekNextVideoName();
    void followRecordingSplit(const QString& name);
    void useNumberOf(const QString& name);
    void catchUpWithWriter();
    bool checkTarget(const QString& path);
    void fileSwitched(const QString& name);
    void cutGivenUp(const QString& why);
    void cutWaitOver();

    TdmCam& cam_;
    CaptureState state_ = CaptureState::csIdle;
    bool finishing_ = false;
    bool rebuilding_ = false;
    bool captureWaiting_ = false;
    std::vector<std::function<void(bool)>> afterRebuild_;
    int volume_ = 10000;
    TCaptureChoices choices_;
    QString currentFile_;
    QString videoFileName_;
    bool splitting_ = false;
    // The stopped capture's next name waits for its last file.
    bool nameAtFinish_ = false;
    // Advances of the name asked for while it waits for the last file.
    int advancesAtFinish_ = 0;
    // The name the writer opens at the tape's next recording.
    QString splitName_;
    // The cut asked for and not made yet, and the run's counter just after
    // its name was taken.
    QString pendingCut_;
    int counterAfterCut_ = 0;
    QTimer* cutWait_ = nullptr;
    QHash<QString, QString> renamed_;
};

} // namespace kad
