#include "system/startup_check.h"

namespace kad {

bool MediaPlatformSupported(unsigned major, unsigned minor)
{
    if (major != kOldestMediaPlatformMajor) return major > kOldestMediaPlatformMajor;
    return minor >= kOldestMediaPlatformMinor;
}

QString MediaPlatformWarning(const QString& versionText)
{
    const QString oldest = QStringLiteral("GStreamer %1.%2")
                               .arg(kOldestMediaPlatformMajor)
                               .arg(kOldestMediaPlatformMinor);
    return QStringLiteral("Vous avez GStreamer ") + versionText + QStringLiteral(".\n") +
           QStringLiteral("Il faut avoir au moins %1 pour faire tourner correctement %2 version "
                          "%3 %4.")
               .arg(oldest, QStringLiteral("Kadrillo"), QStringLiteral("3.3c"),
                    QStringLiteral("En")) +
           QStringLiteral("\nVoulez-vous continuer quand même? Si oui, l'application risque de "
                          "ne pas bien fonctionner.");
}

bool ConfirmMediaPlatform(unsigned major, unsigned minor, const QString& versionText,
                          const std::function<DialogAnswer(const QString&)>& askYesNo)
{
    if (MediaPlatformSupported(major, minor)) return true;
    return askYesNo && askYesNo(MediaPlatformWarning(versionText)) == DialogAnswer::Yes;
}

} // namespace kad
