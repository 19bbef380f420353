#include "system/sysinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QSysInfo>

#include "platform/os/registry.h"
#include "system/texts.h"

namespace kad {

namespace {

// os-release values are shell-like: optionally quoted, with backslash escapes
// inside double quotes.
QString unquoteOsReleaseValue(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        const bool doubleQuoted = value.front() == u'"';
        value = value.mid(1, value.size() - 2);
        if (doubleQuoted) {
            QString plain;
            plain.reserve(value.size());
            for (qsizetype i = 0; i < value.size(); ++i) {
                if (value[i] == u'\\' && i + 1 < value.size()) ++i;
                plain += value[i];
            }
            value = plain;
        }
    }
    return value;
}

QString readOsRelease()
{
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) return QString::fromUtf8(file.readAll());
    }
    return {};
}

QString withoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

QString standardFolder(QStandardPaths::StandardLocation location)
{
    return withoutTrailingSlash(QStandardPaths::writableLocation(location));
}

// The storage of the nearest folder that exists: a capture folder is often
// chosen before it is created.
QStorageInfo storageOf(const QString& path)
{
    if (path.isEmpty()) return {};
    QFileInfo info(path);
    QString existing = info.absoluteFilePath();
    while (!QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(existing).absolutePath();
        if (parent == existing) return {};
        existing = parent;
    }
    QStorageInfo storage(existing);
    if (!storage.isValid() || !storage.isReady()) return {};
    return storage;
}

QDateTime startupTime;

} // namespace

QString OperatingSystemName(const QString& osRelease, const QString& kernelRelease)
{
    QString name = Text(TextId::OsUnknown);
    const QStringList lines = osRelease.split(u'\n');
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (!trimmed.startsWith(QLatin1String("PRETTY_NAME="))) continue;
        const QString value = unquoteOsReleaseValue(trimmed.mid(12));
        if (!value.isEmpty()) name = value;
    }
    return name + Text(TextId::OsKernel) + kernelRelease;
}

QString OperatingSystemName()
{
    return OperatingSystemName(readOsRelease(), QSysInfo::kernelVersion());
}

QString PersonalFolder()
{
    const QString documents = standardFolder(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? withoutTrailingSlash(QDir::homePath()) : documents;
}

QString PicturesFolder()
{
    const QString pictures = standardFolder(QStandardPaths::PicturesLocation);
    return pictures.isEmpty() ? PersonalFolder() : pictures;
}

QString VideoFolder()
{
    const QString movies = standardFolder(QStandardPaths::MoviesLocation);
    return movies.isEmpty() ? PersonalFolder() : movies;
}

QString FerrovuePath()
{
    Registry registry;
    if (!registry.openKey(QStringLiteral("\\Software\\Tavrel\\Ferrovue"), true)) return {};
    const QString path = registry.readString(QStringLiteral("Exename")).value_or(QString());
    registry.closeKey();
    return path;
}

QString TwoDigits(int n)
{
    return (QStringLiteral("00") + QString::number(n)).right(2);
}

void FitAspect(int& width, int& height, int mode)
{
    if (height < 1) height = 480;
    if (width < 1) width = 640;
    // 64-bit products: a width of a billion must not overflow the comparison.
    const auto w = static_cast<std::int64_t>(width);
    const auto h = static_cast<std::int64_t>(height);
    int rw = 0;
    int rh = 0;
    if (mode == 1) {
        rw = 4;
        rh = 3;
    } else if (mode == 2) {
        rw = 16;
        rh = 9;
    } else {
        return;
    }
    if (rw * h > rh * w)
        height = static_cast<int>((rh * w) / rw);
    else if (rw * h < rh * w)
        width = static_cast<int>((rw * h) / rh);
}

std::uint64_t FreeDiskSpace(const QString& path)
{
    const QStorageInfo storage = storageOf(path);
    if (!storage.isValid()) return 0;
    const qint64 available = storage.bytesAvailable();
    return available > 0 ? static_cast<std::uint64_t>(available) : 0;
}

QString FileSystemName(const QString& path)
{
    const QStorageInfo storage = storageOf(path);
    return storage.isValid() ? storage.rootPath() : QString();
}

QDateTime StartupTime()
{
    if (!startupTime.isValid()) SetStartupTime(QDateTime::currentDateTime());
    return startupTime;
}

void SetStartupTime(const QDateTime& when)
{
    // Names carry whole seconds; the stored time must not differ from them.
    QDateTime t = when;
    const QTime clock = t.time();
    t.setTime(QTime(clock.hour(), clock.minute(), clock.second()));
    startupTime = t;
}

QString DateTimeStamp(const QDateTime& when)
{
    const QDate d = when.date();
    const QTime t = when.time();
    return TwoDigits(d.day()) + TwoDigits(d.month()) + TwoDigits(d.year()) + u'_' +
           TwoDigits(t.hour()) + TwoDigits(t.minute()) + TwoDigits(t.second());
}

} // namespace kad
