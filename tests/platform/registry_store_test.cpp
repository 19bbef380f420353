#include "platform/os/registry.h"
#include "registry_helpers.h"

#include <QFileInfo>

using kad::Registry;
using RegistryStore = kad::test::HiveTest;

namespace {

const QString Kad = QStringLiteral("\\Software\\Tavrel\\Kadrillo");

} // namespace

TEST_F(RegistryStore, OpeningWithoutCreateCreatesNothing)
{
    const QString nested = dir.filePath(QStringLiteral("sub/registry.reg"));
    {
        Registry reg(nested);
        EXPECT_FALSE(reg.openKey(Kad, false));
        EXPECT_FALSE(reg.hasOpenKey());
        EXPECT_FALSE(reg.keyExists(Kad));
        EXPECT_FALSE(reg.readDword(QStringLiteral("Top")));
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("sub"))));

    {
        Registry reg(hive());
        ASSERT_TRUE(reg.openKey(QStringLiteral("\\Software\\Other"), true));
    }
    const QByteArray before = hiveBytes();
    {
        Registry reg(hive());
        EXPECT_FALSE(reg.openKey(Kad, false));
        EXPECT_TRUE(reg.openKey(QStringLiteral("\\Software\\Other"), false));
    }
    EXPECT_EQ(hiveBytes(), before);
    EXPECT_TRUE(otherFiles().isEmpty()) << otherFiles().join(u' ').toStdString();
}

TEST_F(RegistryStore, ValuesRoundTripAndHaveTheRegeditForm)
{
    {
        Registry reg(hive());
        ASSERT_TRUE(reg.openKey(Kad, true));
        EXPECT_EQ(reg.currentPath(), Kad);
        EXPECT_TRUE(reg.writeDword(QStringLiteral("Volume"), 10000));
        EXPECT_TRUE(reg.writeDword(QStringLiteral("Big"), 0xFFFFFFFEu));
        EXPECT_TRUE(
            reg.writeString(QStringLiteral("Video Directory"), QStringLiteral("/tmp/a b/")));
        EXPECT_TRUE(reg.writeString(QStringLiteral("Quoted"), QStringLiteral(R"(C:\dir "x")")));
        EXPECT_TRUE(reg.writeString(QStringLiteral("Empty"), QString()));
        EXPECT_TRUE(reg.writeString(QStringLiteral("Two lines"), QStringLiteral("a\r\nb")));
        EXPECT_TRUE(reg.writeString(QString(), QStringLiteral("default value")));
    }
    const QString text = hiveText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Windows Registry Editor Version 5.00\n\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("[HKEY_CURRENT_USER\\Software]\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Kadrillo]\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n\"Volume\"=dword:00002710\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n\"Big\"=dword:fffffffe\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n\"Video Directory\"=\"/tmp/a b/\"\n")));
    EXPECT_TRUE(text.contains(QStringLiteral(R"("Quoted"="C:\\dir \"x\"")")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n\"Empty\"=\"\"\n")));
    // A line break inside a text cannot stand in a quoted value: it is kept
    // as REG_SZ bytes, as the registry editor does.
    EXPECT_TRUE(
        text.contains(QStringLiteral("\"Two lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n@=\"default value\"\n")));

    Registry reg(hive());
    ASSERT_TRUE(reg.openKey(Kad, false));
    EXPECT_EQ(reg.readDword(QStringLiteral("Volume")), 10000u);
    EXPECT_EQ(reg.readDword(QStringLiteral("Big")), 0xFFFFFFFEu);
    EXPECT_EQ(reg.readString(QStringLiteral("Video Directory")), QStringLiteral("/tmp/a b/"));
    EXPECT_EQ(reg.readString(QStringLiteral("Quoted")), QStringLiteral(R"(C:\dir "x")"));
    EXPECT_EQ(reg.readString(QStringLiteral("Empty")), QString());
    EXPECT_EQ(reg.readString(QStringLiteral("Two lines")), QStringLiteral("a\r\nb"));
    EXPECT_EQ(reg.readString(QString()), QStringLiteral("default value"));
}

TEST_F(RegistryStore, TypeMismatchAndMissingValuesReadAsAbsent)
{
    writeHive("Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Tavrel\\Kadrillo]\n"
              "\"Text\"=\"12\"\n"
              "\"Number\"=dword:0000000c\n"
              "\"Expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,2f,00,78,00,00,00\n"
              "\"Binary\"=hex:01,02,03\n"
              "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n"
              "\"Dword as hex\"=hex(4):0a,00,00,00\n");
    Registry reg(hive());
    ASSERT_TRUE(reg.openKey(Kad, false));
    EXPECT_EQ(reg.readString(QStringLiteral("Text")), QStringLiteral("12"));
    EXPECT_FALSE(reg.readDword(QStringLiteral("Text")));
    EXPECT_EQ(reg.readDword(QStringLiteral("Number")), 12u);
    EXPECT_FALSE(reg.readString(QStringLiteral("Number")));
    EXPECT_EQ(reg.readString(QStringLiteral("Expand")), QStringLiteral("%HOME%/x"));
    EXPECT_FALSE(reg.readDword(QStringLiteral("Expand")));
    EXPECT_FALSE(reg.readString(QStringLiteral("Binary")));
    EXPECT_FALSE(reg.readDword(QStringLiteral("Binary")));
    EXPECT_FALSE(reg.readDword(QStringLiteral("Qword")));
    EXPECT_EQ(reg.readDword(QStringLiteral("Dword as hex")), 10u);
    EXPECT_FALSE(reg.readDword(QStringLiteral("Missing")));
    EXPECT_FALSE(reg.readString(QStringLiteral("Missing")));
}

TEST_F(RegistryStore, OtherTypesAreWrittenBackUnchanged)
{
    const QByteArray longBinary = [] {
        QByteArray line = "\"Long\"=hex:";
        for (int i = 0; i < 100; ++i)
            line += QByteArray::number(i % 256, 16).rightJustified(2, '0') + (i < 99 ? "," : "");
        return line;
    }();
    writeHive("Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Tavrel\\Kadrillo]\n"
              "\"Expand\"=hex(2):25,00,48,00,00,00\n"
              "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
              "\"None\"=hex(0):\n" +
              longBinary + "\n");
    {
        Registry reg(hive());
        ASSERT_TRUE(reg.openKey(Kad, false));
        ASSERT_TRUE(reg.writeDword(QStringLiteral("New"), 1));
    }
    const QString text = hiveText();
    EXPECT_TRUE(text.contains(QStringLiteral("\"Expand\"=hex(2):25,00,48,00,00,00\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"None\"=hex(0):\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"New\"=dword:00000001\n")));
    // Long data is broken over lines; read back it is the same bytes.
    EXPECT_TRUE(text.contains(QStringLiteral(",\\\n  ")));
    const int start = text.indexOf(QStringLiteral("\"Long\"=hex:"));
    ASSERT_GE(start, 0);
    QString joined = text.mid(start, text.indexOf(QStringLiteral("\n\""), start) - start);
    joined.remove(QStringLiteral("\\\n  "));
    if (joined.endsWith(u'\n')) joined.chop(1);
    EXPECT_EQ(joined, QString::fromLatin1(longBinary).section(u'\n', 0, 0));
}

TEST_F(RegistryStore, NamesIgnoreCaseAndKeepTheirStoredCase)
{
    {
        Registry reg(hive());
        ASSERT_TRUE(reg.openKey(QStringLiteral("\\Software\\Tavrel\\Kadrillo"), true));
        reg.writeDword(QStringLiteral("Top"), 1);
        reg.writeDword(QStringLiteral("position Y"), 2);
    }
    {
        Registry reg(hive());
        ASSERT_TRUE(reg.openKey(QStringLiteral("\\SOFTWARE\\tavrel\\KADRILLO"), false));
        EXPECT_EQ(reg.currentPath(), QStringLiteral("\\Software\\Tavrel\\Kadrillo"));
        EXPECT_EQ(reg.readDword(QStringLiteral("TOP")), 1u);
        EXPECT_EQ(reg.readDword(QStringLiteral("Position y")), 2u);
        reg.writeDword(QStringLiteral("TOP"), 3);
    }
    const QString text = hiveText();
    EXPECT_TRUE(text.contains(QStringLiteral("\"Top\"=dword:00000003")));
    EXPECT_FALSE(text.contains(QStringLiteral("TOP")));
    EXPECT_EQ(text.count(QStringLiteral("Kadrillo]")), 1);
}

TEST_F(RegistryStore, AccentedNamesRoundTripExactly)
{
    const QString duree = QStringLiteral("Durée Incruster");
    const QString prefs = QStringLiteral("Sauver préférences en quittant");
    {
        Registry reg(hive());
        ASSERT_TRUE(reg.openKey(QStringLiteral("\\Software\\Tavrel\\Kadrillo\\Réglages"), true));
        reg.writeDword(duree, 5);
        reg.writeDword(prefs, 1);
        reg.writeString(QStringLiteral("Unités"), QStringLiteral("été ÉTÉ ü 日本"));
    }
    const QByteArray bytes = hiveBytes();
    EXPECT_TRUE(bytes.contains("\"Dur\xc3\xa9"
                               "e Incruster\"=dword:00000005"));
    EXPECT_TRUE(bytes.contains("\\R\xc3\xa9glages]"));

    Registry reg(hive());
    ASSERT_TRUE(reg.openKey(QStringLiteral("\\Software\\Tavrel\\Kadrillo\\RÉGLAGES"), false));
    EXPECT_EQ(reg.readDword(duree), 5u);
    EXPECT_EQ(reg.readDword(QStringLiteral("DURÉE INCRUSTER")), 5u);
    EXPECT_EQ(reg.readDword(prefs), 1u);
    EXPECT_EQ(reg.readString(QStringLiteral("unités")), QStringLiteral("été ÉTÉ ü 日本"));
    EXPECT_FALSE(reg.readDword(QStringLiteral("Duree Incruster")));
}

TEST_F(RegistryStore, RelativePathsSubkeysAndDeleteTree)
{
    Registry reg(hive());
    ASSERT_TRUE(reg.openKey(QStringLiteral("\\Software\\Tavrel\\"), true));
    EXPECT_EQ(reg.currentPath(), QStringLiteral("\\Software\\Tavrel"));
    ASSERT_TRUE(reg.openKey(QStringLiteral("Kadrillo\\IncrustFont"), true));
    EXPECT_EQ(reg.currentPath(), QStringLiteral("\\Software\\Tavrel\\Kadrillo\\IncrustFont"));
    reg.writeDword(QStringLiteral("Size"), 21);
    ASSERT_TRUE(reg.openKey(QStringLiteral("\\Software\\Tavrel\\Ferrovue"), true));
    ASSERT_TRUE(reg.openKey(QStringLiteral("\\Software\\Tavrel\\Beta"), true));
    ASSERT_TRUE(reg.openKey(QStringLiteral("\\Software\\Tavrel"), false));
    EXPECT_EQ(reg.subKeyNames(), (QStringList{QStringLiteral("Kadrillo"),
                                              QStringLiteral("Ferrovue"), QStringLiteral("Beta")}));
    EXPECT_TRUE(reg.hasSubKeys());

    EXPECT_TRUE(reg.deleteKey(QStringLiteral("kadrillo")));
    EXPECT_FALSE(reg.deleteKey(QStringLiteral("Kadrillo")));
    EXPECT_FALSE(reg.keyExists(QStringLiteral("\\Software\\Tavrel\\Kadrillo\\IncrustFont")));
    EXPECT_FALSE(reg.deleteKey(QStringLiteral("\\")));
    reg.closeKey();

    Registry other(hive());
    EXPECT_FALSE(other.keyExists(QStringLiteral("\\Software\\Tavrel\\Kadrillo")));
    EXPECT_TRUE(other.keyExists(QStringLiteral("\\Software\\Tavrel\\Ferrovue")));
    ASSERT_TRUE(other.openKey(QStringLiteral("\\Software\\Tavrel"), false));
    EXPECT_EQ(other.subKeyNames(),
              (QStringList{QStringLiteral("Ferrovue"), QStringLiteral("Beta")}));
    EXPECT_FALSE(hiveText().contains(QStringLiteral("Kadrillo")));
    // An empty key is kept as an empty section.
    EXPECT_TRUE(
        hiveText().contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Beta]\n")));
}

TEST_F(RegistryStore, BadNamesAreRefused)
{
    Registry reg(hive());
    EXPECT_FALSE(reg.openKey(QStringLiteral("\\Software\\Bad\nName"), true));
    EXPECT_FALSE(reg.openKey(QStringLiteral("\\Software\\") + QString(256, u'k'), true));
    EXPECT_FALSE(reg.keyExists(QStringLiteral("\\Software")));
    ASSERT_TRUE(reg.openKey(Kad, true));
    EXPECT_FALSE(reg.writeDword(QStringLiteral("two\nlines"), 1));
    EXPECT_TRUE(reg.writeDword(QStringLiteral("tab\tand \"quote\" and \\ back"), 1));
    reg.closeKey();
    Registry again(hive());
    ASSERT_TRUE(again.openKey(Kad, false));
    EXPECT_EQ(again.readDword(QStringLiteral("tab\tand \"quote\" and \\ back")), 1u);
}

// Writing into a key deleted under it fails.
TEST_F(RegistryStore, DeletedValuesAndKeysAreGone)
{
    Registry reg(hive());
    ASSERT_TRUE(reg.openKey(Kad, true));
    reg.writeDword(QStringLiteral("Top"), 2);
    ASSERT_TRUE(reg.deleteKey(QStringLiteral("\\Software\\Tavrel")));
    EXPECT_FALSE(reg.writeDword(QStringLiteral("Top"), 1));
    EXPECT_FALSE(reg.readDword(QStringLiteral("Top")));
    reg.closeKey();
    EXPECT_FALSE(Registry(hive()).keyExists(QStringLiteral("\\Software\\Tavrel")));
}

TEST_F(RegistryStore, ReadsAnExportOfTheRegistryEditor)
{
    // The editor exports UTF-16LE with a byte-order mark and CR LF line ends.
    const QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                        "[HKEY_CURRENT_USER\\Software\\Tavrel\\Kadrillo]\r\n"
                                        "\"Durée Incruster\"=dword:00000007\r\n"
                                        "\"Video Racine\"=\"Clip\"\r\n\r\n"
                                        "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n\r\n"
                                        "[HKEY_CURRENT_USER\\Software\\Tavrel\\Kadrillo]\r\n"
                                        "\"Video Racine\"=-\r\n");
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    writeHive(bytes);
    Registry reg(hive());
    ASSERT_TRUE(reg.openKey(Kad, false));
    EXPECT_EQ(reg.readDword(QStringLiteral("Durée Incruster")), 7u);
    EXPECT_FALSE(reg.readString(QStringLiteral("Video Racine")));
    EXPECT_TRUE(otherFiles().isEmpty());
}

TEST_F(RegistryStore, DefaultHiveFollowsTheEnvironment)
{
    const QByteArray savedReg = qgetenv("KADRILLO_REGISTRY");
    const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("KADRILLO_REGISTRY", hive().toLocal8Bit());
    EXPECT_EQ(Registry::defaultHiveFile(), hive());
    EXPECT_EQ(Registry().hiveFile(), hive());
    qunsetenv("KADRILLO_REGISTRY");
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    EXPECT_EQ(Registry::defaultHiveFile(), dir.filePath(QStringLiteral("Tavrel/registry.reg")));
    qputenv("KADRILLO_REGISTRY", savedReg);
    qputenv("XDG_CONFIG_HOME", savedXdg);
}
