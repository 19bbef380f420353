#pragma once

// The optional diagnostic log. While it is off every write is a no-op that
// touches nothing on disk, so callers never test the state themselves. While
// it is on, each operation opens the file, appends its lines, flushes and
// closes it again, so the file is complete on disk after every line.
//
// The file is LogFolder() + "Kadrillo_DDMMYY_HHNNSS.log", named after
// StartupTime(): switching the log off and on within one run recreates the
// same file. Text is UTF-8, lines end with "\n"; what a caller passes is
// written unchanged (a text holding line breaks spans several lines).
//
// A write that fails leaves the log on: the next write tries again (and
// recreates the folder if it vanished), so everything written after the
// cause is gone reaches the file. The first failure of a series is reported
// once on stderr. Every operation returns whether its lines reached the file
// (true when the log is off and nothing was to be written).
//
// GUI thread only.

#include <QDateTime>
#include <QString>

namespace kad {

// Switches the log on (a new file with the separator block and the header)
// or off (nothing written).
bool StartLog(bool enable);
// Separator block, "Log file terminated on " + now, separator block; then off.
bool StopLog();
bool WriteLog(const QString& text);
// "##### " + text + " #####"
bool WriteLogSection(const QString& text);
bool WriteLogBlank();
// An empty line, 60 "-", an empty line.
bool WriteLogSeparator();

bool LogOpen();
// $XDG_STATE_HOME/Kadrillo3.3c/ (default ~/.local/state/Kadrillo3.3c/).
QString LogFolder();
// The full path of this run's log file.
QString LogFileName();
// The locale's short date, a blank and its long time; only the date at
// exactly midnight.
QString LogDateTimeText(const QDateTime& when);

} // namespace kad
