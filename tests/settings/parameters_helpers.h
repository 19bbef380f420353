#pragma once

#include "platform/registry_helpers.h"

namespace kad::test {

// A hive of its own for each test, also named by KADRILLO_REGISTRY for the
// code that opens the user's hive (the viewer look-up, the deletion).
class SettingsHiveTest : public HiveTest {
protected:
    void SetUp() override
    {
        HiveTest::SetUp();
        saved = qgetenv("KADRILLO_REGISTRY");
        qputenv("KADRILLO_REGISTRY", hive().toLocal8Bit());
    }
    void TearDown() override { qputenv("KADRILLO_REGISTRY", saved); }

    void writeHive(const QString& body) const
    {
        HiveTest::writeHive(QStringLiteral("Windows Registry Editor Version 5.00\n\n").toUtf8() +
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

    QByteArray saved;
};

} // namespace kad::test
