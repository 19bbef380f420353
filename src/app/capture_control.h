#pragma once

// Starting, cutting and stopping captures for the main window: the checks
// on the target file and folder, the capture graph of the chosen format, the
// cut through the graph's lossless file switch, and the frame counters of
// the status bar.
//
// GUI thread only.

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>
#include <utility>

#include "app/program_parts.h"

namespace kad {

class TSourceSelection;

// "The file <name> exists already. Do you want to crush it?"
QString ExistingFileQuestion(const QString& path);
// "The folder <folder> does not exist. Please check in which folder you want
// to create" CR LF " the video file <file>."
QString MissingFolderError(const QString& path);

class TCaptureControl : public QObject {
    Q_OBJECT
public:
    TCaptureControl(TProgramParts& parts, TSourceSelection& sources, QObject* parent = nullptr);

    // Connects the graph's capture signals (a capture that ended by itself).
    void Bind();

    // Checks the file and the folder of CurrentVideoFileName, then builds and
    // runs the capture graph. False when the user declined, the folder is
    // missing or the graph could not be built.
    bool StartCapture();
    // The cut: the next name (asking first when a file of that name exists)
    // and the graph's lossless switch into it. The window shows the new name
    // once the writer has moved into it; a cut that no frame comes to make
    // within kCutWaitMs is given up with a word in the status bar and the
    // log, and its name is offered again. False when nothing was asked.
    bool Cut();
    // The name a capture that ends now leaves for the next one: the name of
    // a cut that is given up by the end, else the next one of the run.
    QString NameAfterCapture();
    // The cut's name while the writer has not moved into it yet.
    QString PendingCut() const { return pendingCut_; }

    static constexpr int kCutWaitMs = 3000;
    // Captured and lost frames, or nothing when no capture runs.
    std::optional<std::pair<qint64, qint64>> FrameCounters() const;
    // The run's numbered names that were renamed after their recording
    // date, and the names they have now.
    const QHash<QString, QString>& RenamedVideos() const { return renamed_; }

private:
    // The next numbered name, without using its number up (a new recording
    // may never come).
    QString peekNextVideoName();
    // A DV capture moved on to name by itself (a new recording): the
    // window follows, and the number is used up.
    void followRecordingSplit(const QString& name);
    // Numbered names up to that of `name` are used: the next one is after it.
    void useNumberOf(const QString& name);
    // At the end of a capture that split at recordings: no more splits, and
    // the number of the file the writer reached is used, even when its
    // message has not come yet.
    void catchUpWithWriter();

    // The file and folder checks of StartCapture (and of the cut).
    bool checkTarget(const QString& path);
    // A writer moved into name: the window follows a cut of ours, or a new
    // recording of the tape.
    void fileSwitched(const QString& name);
    // The waiting cut is not made: the window keeps its name, the user is
    // told why, the number is given back.
    void cutGivenUp(const QString& why);
    // No frame came to make the cut in time.
    void cutWaitOver();

    TProgramParts& p_;
    TSourceSelection& sources_;
    bool splitting_ = false;
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
