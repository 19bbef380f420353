#pragma once

// Reads a capture report back as facts: its "Key: value" lines and the
// indented lines under each key, so tests check what it says, not its layout.

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <map>

namespace kadtest {

struct ReadReport {
    bool found = false;
    std::map<QString, QString> value;
    std::map<QString, QStringList> under;

    // The number a value starts with (~0 when the key is missing).
    quint64 number(const QString& key) const
    {
        const auto it = value.find(key);
        return it == value.end() ? ~0ull : it->second.section(' ', 0, 0).toULongLong();
    }
    const QStringList& lines(const QString& key) const
    {
        static const QStringList none;
        const auto it = under.find(key);
        return it == under.end() ? none : it->second;
    }
    // The frames of the listed lost ranges and of the summed-up rest.
    quint64 listedLost() const
    {
        static const QRegularExpression count("^(?:and \\d+ more \\()?(\\d+) frames?");
        quint64 n = 0;
        for (const QString& line : lines("Frames lost"))
            n += count.match(line).captured(1).toULongLong();
        return n;
    }
};

inline ReadReport readReportText(const QString& text)
{
    ReadReport r;
    r.found = true;
    QString key;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith("  ")) {
            r.under[key] << line.trimmed();
            continue;
        }
        const qsizetype colon = line.indexOf(": ");
        key = colon < 0 ? line : line.left(colon);
        r.value[key] = colon < 0 ? QString() : line.mid(colon + 2);
    }
    return r;
}

inline ReadReport readReportFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? readReportText(QString::fromUtf8(f.readAll()))
                                       : ReadReport{};
}

} // namespace kadtest
