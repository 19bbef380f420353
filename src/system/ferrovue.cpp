#include "system/ferrovue.h"

#include <QFileInfo>
#include <QProcess>

#include "system/dialogs.h"

namespace kad {

FerrovueLauncher DefaultFerrovueLauncher()
{
    return [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
}

QStringList FerrovueClips(const QString& currentVideoFileName, int videoCounter)
{
    QStringList clips;
    const qsizetype underscore = currentVideoFileName.lastIndexOf(u'_');
    // Every video name has a "_" after its root; without one there is no run
    // base, and an empty base would look for clips in the working folder.
    if (underscore < 0) return clips;
    const QString base = currentVideoFileName.left(underscore + 1);
    for (int i = 0; i <= videoCounter - 2; ++i) {
        const QString clip = base + QString::number(i) + QStringLiteral(".avi");
        if (QFileInfo(clip).isFile()) clips << clip;
    }
    return clips;
}

QString RunFerrovue(const QString& viewerPath, const QString& currentVideoFileName,
                    int videoCounter, const FerrovueLauncher& launcher)
{
    if (viewerPath.isEmpty() || !QFileInfo(viewerPath).isFile()) {
        dialogs().information(kFerrovueNotFoundMessage);
        return kFerrovueNotFoundHint;
    }
    if (launcher) launcher(viewerPath, FerrovueClips(currentVideoFileName, videoCounter));
    return kFerrovueFoundHint;
}

} // namespace kad
