#pragma once

// Where the capture graph tells its report what happened: the capture's
// start, each file the writer moved on from, the end. Only
// capture_graph.cpp calls these, on the GUI thread.

#include "graph/capture_state.h"

#include <optional>

namespace kad {

// A capture was built: the report follows it when the option is on.
void BeginCaptureReport(TcaptureRun& run, TcaptureRun::TcaptureState& s);
// A writer of our own moved to another file: the fields of its
// "kad-file-switched" message.
void ReportFileSwitched(TcaptureRun& run, TcaptureRun::TcaptureState& s,
                        const GstStructure* switched);
// A muxer writer was cut at cutTime (running time) into newFile.
void ReportFileCut(TcaptureRun& run, TcaptureRun::TcaptureState& s, const QString& newFile,
                   GstClockTime cutTime);
// The capture's last file has ended (finished, or given up after an error).
void FinishCaptureReport(TcaptureRun& run, TcaptureRun::TcaptureState& s);

} // namespace kad
