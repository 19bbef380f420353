#include "settings/naming.h"

#include <utility>

namespace kad {

namespace {

NamingState state_;
NameShownHook videoShown;
NameShownHook imageShown;

QString folderWithSlash(const QString& folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

QString datePart(bool include)
{
    return include ? DateTimeStamp(StartupTime()) + u'_' : QString();
}

} // namespace

NamingState& Naming()
{
    return state_;
}

void SetVideoNameShown(NameShownHook hook)
{
    videoShown = std::move(hook);
}

void SetImageNameShown(NameShownHook hook)
{
    imageShown = std::move(hook);
}

QString FileNamePart(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString NextVideoName(NamingState& state)
{
    QString name = folderWithSlash(state.videoDirectory) + state.videoRacine + u'_' +
                   datePart(state.videoDate) + QString::number(state.VideoCounter) +
                   CaptureExtension(state.captureFormat);
    ++state.VideoCounter;
    if (videoShown) videoShown(FileNamePart(name));
    return name;
}

QString NextImageName(NamingState& state)
{
    const QString number = (QStringLiteral("0000") + QString::number(state.ImageCounter)).right(4);
    const QString name =
        folderWithSlash(state.imageDirectory) + state.imageRacine + u'_' +
        datePart(state.imageDate) + number +
        (state.imageExtension == 0 ? QStringLiteral(".bmp") : QStringLiteral(".jpg"));
    ++state.ImageCounter;
    if (imageShown) imageShown(FileNamePart(name));
    return name;
}

// Before the first build there is no number to take back: the rebuild then
// simply builds the first name.
QString RebuildVideoName(NamingState& state)
{
    if (state.VideoCounter > 0) --state.VideoCounter;
    return NextVideoName(state);
}

QString RebuildImageName(NamingState& state)
{
    if (state.ImageCounter > 0) --state.ImageCounter;
    return NextImageName(state);
}

QString NextVideoName()
{
    return NextVideoName(state_);
}

QString NextImageName()
{
    return NextImageName(state_);
}

QString RebuildVideoName()
{
    return RebuildVideoName(state_);
}

QString RebuildImageName()
{
    return RebuildImageName(state_);
}

} // namespace kad
