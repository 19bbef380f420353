#pragma once

// Opening the run's clips in the companion clip viewer (action acFerrovue).

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

namespace kad {

// Starts `program` with `arguments` as a detached process, each argument
// handed over as it is (no shell); returns whether it started.
using FerrovueLauncher = std::function<bool(const QString& program, const QStringList& arguments)>;
// QProcess::startDetached.
FerrovueLauncher DefaultFerrovueLauncher();

// The clips of the run, in capture order: `currentVideoFileName` up to and
// including its last "_", then i and ".avi" for i = 0 .. videoCounter - 2,
// those that exist; a clip found in `renamed` (named after its recording
// date while captured) under the name it has now. A `currentVideoFileName`
// that is itself such a new name stands for the numbered name it had.
QStringList FerrovueClips(const QString& currentVideoFileName, int videoCounter,
                          const QHash<QString, QString>& renamed = {});

// acFerrovue: when no file exists at `viewerPath` (the "Ferrovue"
// preference), tells the user so through dialogs() (information, OK) and
// returns the About panel's not-found hint for its viewer button; otherwise
// launches the viewer with the run's clips and returns the found hint. The
// launch's own result is not reported, as a shell "open" would not be.
QString RunFerrovue(const QString& viewerPath, const QString& currentVideoFileName,
                    int videoCounter, const FerrovueLauncher& launcher = DefaultFerrovueLauncher(),
                    const QHash<QString, QString>& renamed = {});

} // namespace kad
