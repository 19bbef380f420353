#pragma once

// Starting, cutting and stopping captures for the main window: the checks
// on the target file and folder, the capture graph of the chosen format, the
// cut through the graph's lossless file switch, and the frame counters of
// the status bar.
//
// GUI thread only.

#include <QObject>
#include <QString>

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
    // and the graph's lossless switch into it. False when nothing was cut.
    bool Cut();
    // Captured and lost frames, or nothing when no capture runs.
    std::optional<std::pair<qint64, qint64>> FrameCounters() const;

private:
    // The file and folder checks of StartCapture (and of the cut).
    bool checkTarget(const QString& path);

    TProgramParts& p_;
    TSourceSelection& sources_;
};

} // namespace kad
