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

// A hive file of its own in a fresh temporary folder.
class HiveTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString hive() const { return dir.filePath(QStringLiteral("registry.reg")); }

    QByteArray hiveBytes() const
    {
        QFile f(hive());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString hiveText() const { return QString::fromUtf8(hiveBytes()); }

    void writeHive(const QByteArray& bytes) const
    {
        QFile f(hive());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // Files in the folder apart from the hive itself.
    QStringList otherFiles() const
    {
        QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        names.removeAll(QStringLiteral("registry.reg"));
        return names;
    }

    QTemporaryDir dir;
};

} // namespace kad::test
