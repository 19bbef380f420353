#include "system/log.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStringList>

#include <cstdio>

#include "system/sysinfo.h"

namespace kad {

namespace {

const QString kProduct = QStringLiteral("Kadrillo");
const QString kVersion = QStringLiteral("3.3c");
const QString kLanguage = QStringLiteral("En");
const QString kMaker = QStringLiteral("Tavrel");
const QString kLastUpdate = QStringLiteral("26th of October, 2005");
const QString kWebPage;

bool logOpen = false;
bool failureReported = false;

QStringList separatorLines()
{
    return {QString(), QString(60, u'-'), QString()};
}

void reportFailure(const QString& file, const QString& reason)
{
    if (failureReported) return;
    failureReported = true;
    std::fprintf(stderr, "Kadrillo: cannot write the log file %s: %s\n",
                 QFile::encodeName(file).constData(), reason.toLocal8Bit().constData());
}

bool writeLines(const QStringList& lines, QIODevice::OpenMode mode)
{
    const QString name = LogFileName();
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += line.toUtf8();
        bytes += '\n';
    }
    QFile file(name);
    if (!file.open(mode | QIODevice::WriteOnly)) {
        // The folder may have been removed while the log was on.
        QDir().mkpath(LogFolder());
        if (!file.open(mode | QIODevice::WriteOnly)) {
            reportFailure(name, file.errorString());
            return false;
        }
    }
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        reportFailure(name, file.errorString());
        return false;
    }
    failureReported = false;
    return true;
}

bool appendLines(const QStringList& lines)
{
    if (!logOpen) return true;
    return writeLines(lines, QIODevice::Append);
}

} // namespace

QString LogFolder()
{
    QString state = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    // XDG base directories must be absolute; a relative one is ignored.
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    if (!state.endsWith(u'/')) state += u'/';
    return state + kProduct + kVersion + u'/';
}

QString LogFileName()
{
    return LogFolder() + kProduct + u'_' + DateTimeStamp(StartupTime()) + QStringLiteral(".log");
}

QString LogDateTimeText(const QDateTime& when)
{
    const QLocale locale;
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    if (when.time() != QTime(0, 0))
        text += u' ' + locale.toString(when.time(), QLocale::LongFormat);
    return text;
}

bool LogOpen()
{
    return logOpen;
}

bool StartLog(bool enable)
{
    logOpen = enable;
    if (!enable) return true;
    QDir().mkpath(LogFolder());
    QStringList lines = separatorLines();
    lines << QStringLiteral("Log file created on ") + LogDateTimeText(QDateTime::currentDateTime())
          << QStringLiteral("with ") + kProduct + QStringLiteral(" by ") + kMaker + u' ' +
                 kVersion + u' ' + kLanguage + QStringLiteral(" last updated on ") + kLastUpdate
          << QString() << QStringLiteral("Visit my webpage: ") + kWebPage;
    return writeLines(lines, QIODevice::Truncate);
}

bool StopLog()
{
    if (!logOpen) return true;
    QStringList lines = separatorLines();
    lines << QStringLiteral("Log file terminated on ") +
                 LogDateTimeText(QDateTime::currentDateTime());
    lines += separatorLines();
    const bool written = appendLines(lines);
    logOpen = false;
    return written;
}

bool WriteLog(const QString& text)
{
    return appendLines({text});
}

bool WriteLogSection(const QString& text)
{
    return appendLines({QStringLiteral("##### ") + text + QStringLiteral(" #####")});
}

bool WriteLogBlank()
{
    return appendLines({QString()});
}

bool WriteLogSeparator()
{
    return appendLines(separatorLines());
}

} // namespace kad
