#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace kad::test {

// A hive of its own for each test, also named by KADRILLO_REGISTRY for the
// code that opens the user's hive (the viewer look-up, the deletion).
class SettingsHiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        saved = qgetenv("KADRILLO_REGISTRY");
        qputenv("KADRILLO_REGISTRY", hive().toLocal8Bit());
    }
    void TearDown() override { qputenv("KADRILLO_REGISTRY", saved); }

    QString hive() const { return dir.filePath(QStringLiteral("registry.reg")); }

    QString hiveText() const
    {
        QFile f(hive());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    void writeHive(const QString& body) const
    {
        QFile f(hive());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QStringLiteral("Windows Registry Editor Version 5.00\n\n").toUtf8() +
                body.toUtf8());
    }

    // The lines of one section of the hive text, without its header.
    QStringList section(const QString& path) const
    {
        const QString text = hiveText();
        const QString head = QStringLiteral("[HKEY_CURRENT_USER") + path + QStringLiteral("]\n");
        const int start = text.indexOf(head);
        if (start < 0) return {};
        const int end = text.indexOf(QStringLiteral("\n\n"), start);
        return text.mid(start + head.size(), end - start - head.size()).split(u'\n');
    }

    QTemporaryDir dir;
    QByteArray saved;
};

} // namespace kad::test
