// A damaged hive reads as empty and is kept aside before anything is written
// over it; the parser survives whatever it is given.

#include "platform/os/registry.h"
#include "platform/os/registry_hive.h"
#include "registry_helpers.h"

#include <random>

using kad::Registry;
namespace hive = kad::hive;
using RegistryDamaged = kad::test::HiveTest;

namespace {

const QString Kad = QStringLiteral("\\Software\\Tavrel\\Kadrillo");

QByteArray sampleHive()
{
    return "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CURRENT_USER\\Software\\Tavrel\\Kadrillo]\n"
           "\"Signature\"=\"Kadrillo 3.3c En by Tavrel\"\n"
           "\"Top\"=dword:0000012c\n"
           "\"Dur\xc3\xa9"
           "e Incruster\"=dword:00000005\n"
           "\"Video Directory\"=\"/home/u/Vid\\\\eos/\"\n"
           "\"Expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\n"
           "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
           "  16,17,18,19\n"
           "@=\"root\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Tavrel\\Kadrillo\\IncrustFont]\n"
           "\"Size\"=dword:00000015\n"
           "\"Name\"=\"Arial\"\n\n";
}

// Every file the damaged hive was kept as, with its content.
QList<QByteArray> keptAside(const QString& folder)
{
    QList<QByteArray> out;
    for (const QString& name :
         QDir(folder).entryList({QStringLiteral("registry.reg.damaged-*")}, QDir::Files)) {
        QFile f(QDir(folder).filePath(name));
        if (f.open(QIODevice::ReadOnly)) out.append(f.readAll());
    }
    return out;
}

} // namespace

TEST_F(RegistryDamaged, ReadsAsEmptyKeepsTheFileAsideAndSaysSo)
{
    const QByteArray junk = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software"
                            "\\Tavrel\\Kadrillo]\n\"Top\"=dword:zz\n";
    writeHive(junk);
    testing::internal::CaptureStderr();
    {
        Registry reg(hive());
        EXPECT_FALSE(reg.openKey(Kad, false));
        EXPECT_FALSE(reg.keyExists(QStringLiteral("\\Software")));
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("registry.reg"), std::string::npos) << err;
    EXPECT_NE(err.find("damaged-"), std::string::npos) << err;
    EXPECT_NE(err.find("line 4"), std::string::npos) << err;

    ASSERT_EQ(keptAside(dir.path()), QList<QByteArray>{junk});
    // Nothing was written: reading alone creates no new hive.
    EXPECT_FALSE(QFileInfo::exists(hive()));

    {
        Registry reg(hive());
        ASSERT_TRUE(reg.openKey(Kad, true));
        reg.writeDword(QStringLiteral("Top"), 1);
    }
    EXPECT_TRUE(hive::parse(hiveBytes()).has_value());
    EXPECT_EQ(keptAside(dir.path()), QList<QByteArray>{junk});
}

TEST_F(RegistryDamaged, EachDamagedFileGetsANameOfItsOwn)
{
    for (int i = 0; i < 3; ++i) {
        writeHive("not a hive " + QByteArray::number(i));
        testing::internal::CaptureStderr();
        Registry reg(hive());
        testing::internal::GetCapturedStderr();
    }
    QList<QByteArray> kept = keptAside(dir.path());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (QList<QByteArray>{"not a hive 0", "not a hive 1", "not a hive 2"}));
}

TEST_F(RegistryDamaged, AnEmptyFileIsAnEmptyHive)
{
    writeHive("");
    Registry reg(hive());
    EXPECT_FALSE(reg.keyExists(QStringLiteral("\\Software")));
    EXPECT_TRUE(keptAside(dir.path()).isEmpty());
}

TEST_F(RegistryDamaged, WhatTheParserRefuses)
{
    const QByteArray head = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\S]\n";
    const QList<QByteArray> bad = {
        "REGEDIT5\n",
        "[HKEY_CURRENT_USER\\S]\n",
        "Windows Registry Editor Version 5.00\n\"a\"=\"b\"\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\S]\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\S\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\\\S]\n",
        "Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER]\n",
        head + "\"a\"=\"b\\n\"\n",
        head + "\"a\"=\"b\\\"\n",
        head + "\"a\"=\"b\" c\n",
        head + "\"a\"=\"b\n",
        head + "\"a=\"b\"\n",
        head + "\"a\"\"b\"\n",
        head + "\"a\"=dword:\n",
        head + "\"a\"=dword:123456789\n",
        head + "\"a\"=dword:-1\n",
        head + "\"a\"=hex:1,2,xyz\n",
        head + "\"a\"=hex:001\n",
        head + "\"a\"=hex(1):41\n",
        head + "\"a\"=hex(4):01,02\n",
        head + "\"a\"=hex():00\n",
        head + "\"a\"=hex(123456789):00\n",
        head + "\"a\"=hex:01,\\\n",
        head + "\"a\"=hex:01,,02\n",
        head + "\"a\"=str:x\n",
        head + "junk\n",
        head + "\"bad\xff utf8\"=\"x\"\n",
        QByteArray("\xFF\xFE\x41", 3),
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER" +
            QByteArray("\\k").repeated(hive::MaxDepth + 1) + "]\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\" + QByteArray(256, 'k') + "]\n",
    };
    for (const QByteArray& b : bad) {
        QString error;
        EXPECT_FALSE(hive::parse(b, &error).has_value()) << b.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_TRUE(
        hive::parse("REGEDIT4\n\n; comment\n[HKEY_CURRENT_USER\\S]\n\"a\" = \"b\"\n").has_value());
    EXPECT_TRUE(hive::parse(head + "\"a\"=hex:\n").has_value());
    EXPECT_TRUE(hive::parse(head + "\"a\"=dword:A\n").has_value());
}

namespace {

// Random hives with awkward names and values: whatever is written is read
// back the same.
QString randomText(std::mt19937& rng, int maxLength, bool allowBreaks)
{
    static const QString pool = QStringLiteral("abcXYZ 019\\\"'=[]@;,-éÉüßçœ日本\t");
    static const QString breaks = QStringLiteral("\r\n");
    std::uniform_int_distribution<int> len(0, maxLength);
    std::uniform_int_distribution<int> pick(0, int(pool.size()) - 1 + (allowBreaks ? 2 : 0));
    QString s;
    for (int n = len(rng); n > 0; --n) {
        const int i = pick(rng);
        s += i < pool.size() ? pool[i] : breaks[i - pool.size()];
    }
    return s;
}

QString randomKeyName(std::mt19937& rng)
{
    QString s = randomText(rng, 12, false).remove(u'\\').remove(u'\t');
    return s.isEmpty() ? QStringLiteral("k") : s;
}

} // namespace

TEST(RegistryProperty, RandomHivesRoundTripThroughTheText)
{
    std::mt19937 rng(20261206);
    for (int round = 0; round < 300; ++round) {
        hive::Key root{QStringLiteral("HKEY_CURRENT_USER"), {}, {}};
        std::uniform_int_distribution<int> count(0, 6);
        for (int k = count(rng); k > 0; --k) {
            QStringList path;
            for (int depth = 1 + count(rng) % 4; depth > 0; --depth)
                path << randomKeyName(rng);
            hive::Key& key = root.ensure(path);
            for (int v = count(rng); v > 0; --v) {
                hive::Value value;
                value.name = randomText(rng, 10, false);
                switch (rng() % 4) {
                case 0:
                    value.type = hive::RegDword;
                    value.dword = quint32(rng());
                    break;
                case 1:
                    value.type = hive::RegSz;
                    value.text = randomText(rng, 40, true).remove(QChar(0));
                    break;
                default:
                    value.type = rng() % 2 ? hive::RegBinary : quint32(2 + 5 * (rng() % 3));
                    for (int b = int(rng() % 200); b > 0; --b)
                        value.bytes.append(char(rng()));
                }
                key.setValue(value);
            }
        }
        const QByteArray text = hive::serialize(root);
        QString error;
        const std::optional<hive::Key> back = hive::parse(text, &error);
        ASSERT_TRUE(back.has_value()) << error.toStdString() << "\n" << text.toStdString();
        EXPECT_EQ(hive::serialize(*back), text);
    }
}

namespace {

// One damaged version of `valid`; the kind of damage cycles with `round`.
QByteArray mutate(const QByteArray& valid, int round, std::mt19937& rng)
{
    QByteArray bytes = valid;
    switch (round % 7) {
    case 0: // truncation
        bytes.truncate(int(rng() % bytes.size()));
        break;
    case 1: // random byte flips
        for (int n = 1 + int(rng() % 4); n > 0; --n)
            bytes[int(rng() % bytes.size())] = char(rng());
        break;
    case 2: { // a huge line
        const int at = int(rng() % bytes.size());
        bytes.insert(at, QByteArray(200000 + int(rng() % 200000), "x\"\\[,"[rng() % 5]));
        break;
    }
    case 3: // binary junk
        bytes.resize(int(rng() % 4096));
        for (char& c : bytes)
            c = char(rng());
        break;
    case 4: { // bad escapes
        const int quote = bytes.indexOf("=\"", int(rng() % bytes.size()));
        bytes.insert(quote < 0 ? 40 : quote + 2, QByteArray("\\") + "nqt\\0"[rng() % 5]);
        break;
    }
    case 5: { // a hex value continued over a great many lines
        static const QByteArray tail = [] {
            QByteArray t = "\"Huge\"=hex:00";
            for (int n = 20000; n > 0; --n)
                t += ",\\\n  0" + QByteArray::number(n % 10);
            return t;
        }();
        bytes += rng() % 2 ? tail + "\n" : tail + ",\\\n";
        break;
    }
    default: { // lines shuffled out of order
        QList<QByteArray> lines = bytes.split('\n');
        std::shuffle(lines.begin(), lines.end(), rng);
        bytes = lines.join('\n');
    }
    }
    return bytes;
}

} // namespace

TEST(RegistryFuzz, TheParserSurvivesAnyDamage)
{
    std::mt19937 rng(4242);
    const QByteArray valid = sampleHive();
    int parsed = 0;
    for (int round = 0; round < 1400; ++round) {
        const QByteArray bytes = mutate(valid, round, rng);
        QString error;
        const std::optional<hive::Key> root = hive::parse(bytes, &error);
        EXPECT_EQ(root.has_value(), error.isEmpty());
        if (!root) continue;
        // What was read is written so that it reads back the same.
        ++parsed;
        const QByteArray text = hive::serialize(*root);
        const std::optional<hive::Key> again = hive::parse(text);
        ASSERT_TRUE(again.has_value()) << "round " << round;
        EXPECT_EQ(hive::serialize(*again), text);
    }
    EXPECT_GT(parsed, 100);
    EXPECT_LT(parsed, 1200);
}

TEST_F(RegistryDamaged, FuzzedHivesNeverCrashAndAreNeverLost)
{
    std::mt19937 rng(31337);
    const QByteArray valid = sampleHive();
    int damaged = 0;
    for (int round = 0; round < 140; ++round) {
        const QByteArray bytes = mutate(valid, round, rng);
        // The parser on its own must survive any input.
        const bool parses = hive::parse(bytes).has_value();

        writeHive(bytes);
        testing::internal::CaptureStderr();
        {
            Registry reg(hive());
            if (reg.openKey(Kad, false)) {
                reg.readDword(QStringLiteral("Top"));
                reg.readString(QStringLiteral("Video Directory"));
                reg.subKeyNames();
            }
            ASSERT_TRUE(reg.openKey(Kad, true));
            reg.writeDword(QStringLiteral("Saved"), quint32(round));
        }
        const std::string err = testing::internal::GetCapturedStderr();

        // Whatever happened, the new hive is sound and holds the new value...
        const std::optional<hive::Key> now = hive::parse(hiveBytes());
        ASSERT_TRUE(now.has_value()) << "round " << round;
        const hive::Key* key = now->find(Kad.mid(1).split(u'\\'));
        ASSERT_NE(key, nullptr);
        const hive::Value* saved = key->findValue(QStringLiteral("Saved"));
        ASSERT_NE(saved, nullptr);
        EXPECT_EQ(hive::dwordOf(*saved), quint32(round));
        // ...and a file that could not be read survives byte for byte.
        const QList<QByteArray> kept = keptAside(dir.path());
        if (parses || bytes.trimmed().isEmpty()) {
            EXPECT_TRUE(kept.isEmpty()) << "round " << round;
        } else {
            ++damaged;
            ASSERT_EQ(kept.size(), 1) << "round " << round;
            EXPECT_EQ(kept.front(), bytes) << "round " << round;
            EXPECT_NE(err.find("cannot be read"), std::string::npos);
        }
        for (const QString& name :
             QDir(dir.path()).entryList({QStringLiteral("registry.reg*")}, QDir::Files))
            QFile::remove(dir.filePath(name));
    }
    // The mutations did damage most files; the test saw both outcomes.
    EXPECT_GT(damaged, 40);
    EXPECT_LT(damaged, 140);
}
