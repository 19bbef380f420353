#include "system/ferrovue.h"

#include <QFileInfo>
#include <QProcess>

#include "system/dialogs.h"
#include "system/texts.h"

namespace kad {

FerrovueLauncher DefaultFerrovueLauncher()
{
    return [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
}

QStringList FerrovueClips(const QString& currentVideoFileName, int videoCounter,
                          const QHash<QString, QString>& renamed)
{
    QStringList clips;
    // The file being captured may be named after its recording date
    // already: the run's numbers are those of the name it was opened under.
    const QString current = renamed.key(currentVideoFileName, currentVideoFileName);
    const qsizetype underscore = current.lastIndexOf(u'_');
    // Every video name has a "_" after its root; without one there is no run
    // base, and an empty base would look for clips in the working folder.
    if (underscore < 0) return clips;
    const QString base = current.left(underscore + 1);
    for (int i = 0; i <= videoCounter - 2; ++i) {
        const QString numbered = base + QString::number(i) + QStringLiteral(".avi");
        const QString clip = renamed.value(numbered, numbered);
        if (QFileInfo(clip).isFile()) clips << clip;
    }
    return clips;
}

QString RunFerrovue(const QString& viewerPath, const QString& currentVideoFileName,
                    int videoCounter, const FerrovueLauncher& launcher,
                    const QHash<QString, QString>& renamed)
{
    if (viewerPath.isEmpty() || !QFileInfo(viewerPath).isFile()) {
        dialogs().information(Text(TextId::FerrovueNotFoundMessage));
        return Text(TextId::FerrovueNotFoundHint);
    }
    if (launcher) launcher(viewerPath, FerrovueClips(currentVideoFileName, videoCounter, renamed));
    return Text(TextId::FerrovueFoundHint);
}

} // namespace kad
