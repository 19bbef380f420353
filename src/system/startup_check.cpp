#include "system/startup_check.h"

#include "system/texts.h"

namespace kad {

bool MediaPlatformSupported(unsigned major, unsigned minor)
{
    if (major != kOldestMediaPlatformMajor) return major > kOldestMediaPlatformMajor;
    return minor >= kOldestMediaPlatformMinor;
}

QString MediaPlatformWarning(const QString& versionText)
{
    const QString oldest = Text(TextId::MediaPlatformVersion)
                               .arg(kOldestMediaPlatformMajor)
                               .arg(kOldestMediaPlatformMinor);
    return Text(TextId::MediaPlatformYouHave).arg(versionText) + u'\n' +
           Text(TextId::MediaPlatformAtLeast)
               .arg(oldest, Text(TextId::ProductName), Text(TextId::ProductVersion),
                    Text(TextId::ProductLanguage)) +
           u'\n' + Text(TextId::MediaPlatformGoOn);
}

bool ConfirmMediaPlatform(unsigned major, unsigned minor, const QString& versionText,
                          const std::function<DialogAnswer(const QString&)>& askYesNo)
{
    if (MediaPlatformSupported(major, minor)) return true;
    return askYesNo && askYesNo(MediaPlatformWarning(versionText)) == DialogAnswer::Yes;
}

} // namespace kad
