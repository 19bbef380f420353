#include "parameters_helpers.h"
#include "platform/os/registry.h"
#include "settings/parameters.h"

#include <QCoreApplication>
#include <QFileInfo>

using namespace kad;

namespace {

const QString Key = QStringLiteral("\\Software\\Tavrel\\Test");

QDateTime at(int h, int m, int s)
{
    return QDateTime(QDate(2026, 12, 5), QTime(h, m, s));
}

FontAndColor arialBoldWhite()
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSize(21);
    f.setBold(true);
    return {f, QColor(255, 255, 255)};
}

// A list with one parameter of each class, in a fixed order.
struct Sample {
    explicit Sample(const QString& hive)
        : list(Key, QStringLiteral("Kadrillo 3.3c En by Tavrel"), hive)
    {
        list.Clock = [this] { return now; };
    }
    TparameterList list;
    TIntegerParameter number{QStringLiteral("Number"), -5, list};
    TBooleanParameter flag{QStringLiteral("Flag"), true, list};
    TStringParameter text{QStringLiteral("Texte accentué"), QStringLiteral("défaut"), list};
    TFontParameter font{QStringLiteral("IncrustFont"), arialBoldWhite(), list};
    TframeNumberParameter panel{QStringLiteral("Panneau Actif"), 3, list};
    TAspectRatioParameter aspect{QStringLiteral("Aspect ratio"), 1, list};
    TIntegerParameter after{QStringLiteral("After"), 42, list};
    QDateTime now = at(13, 48, 5);
};

using Parameters = test::SettingsHiveTest;

} // namespace

TEST_F(Parameters, OwnersAndOrder)
{
    Sample s(hive());
    ASSERT_EQ(s.list.Count(), 7);
    EXPECT_EQ(s.list[0], &s.number);
    EXPECT_EQ(s.list[6], &s.after);
    EXPECT_EQ(s.after.Owner, &s.list);

    // A parameter that goes takes itself out of the list; a list that goes
    // first leaves its parameters without an owner rather than dangling.
    {
        TIntegerParameter temporary(QStringLiteral("Temporary"), 0, s.list);
        EXPECT_EQ(s.list.Count(), 8);
    }
    EXPECT_EQ(s.list.Count(), 7);
    auto list = std::make_unique<TparameterList>(Key, QString(), hive());
    TBooleanParameter orphan(QStringLiteral("Orphan"), false, *list);
    list.reset();
    EXPECT_EQ(orphan.Owner, nullptr);
}

TEST_F(Parameters, NoKeyGivesDefaultsAndCreatesNothing)
{
    Sample s(hive());
    s.number.Value = 99;
    s.list.LoadAll();
    EXPECT_EQ(s.number.Value, 99); // untouched, not even reset
    EXPECT_TRUE(s.flag.Value);
    EXPECT_EQ(s.text.Value, QStringLiteral("défaut"));
    EXPECT_EQ(s.font.Font, arialBoldWhite());
    EXPECT_FALSE(QFileInfo::exists(hive()));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    EXPECT_EQ(s.list.registry(), nullptr);
}

TEST_F(Parameters, SaveWritesTheStoredFormAndLoadReadsItBack)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSize(13);
    f.setItalic(true);
    f.setUnderline(true);
    f.setStrikeOut(true);
    const FontAndColor font{f, QColor(0x12, 0x34, 0x56)};
    {
        Sample s(hive());
        s.number.Value = -2;
        s.flag.Value = false;
        s.text.Value = QStringLiteral("C:\\vidéos \"ici\"");
        s.font.Font = font;
        s.panel.Value = 7;
        s.aspect.Value = 2;
        ASSERT_TRUE(s.list.SaveAll());
    }
    const QStringList values = section(Key);
    const QString exe = QCoreApplication::applicationFilePath();
    ASSERT_FALSE(exe.isEmpty());
    EXPECT_EQ(values, (QStringList{
                          QStringLiteral("\"Signature\"=\"Kadrillo 3.3c En by Tavrel\""),
                          QStringLiteral("\"Derniere Sauvegarde\"=\"2026/12/05 01:48:05 pm\""),
                          QStringLiteral("\"ExeName\"=\"%1\"").arg(exe),
                          QStringLiteral("\"Number\"=dword:fffffffe"),
                          QStringLiteral("\"Flag\"=dword:00000000"),
                          QStringLiteral("\"Texte accentué\"=\"C:\\\\vidéos \\\"ici\\\"\""),
                          QStringLiteral("\"Panneau Actif\"=dword:00000007"),
                          QStringLiteral("\"Aspect ratio\"=dword:00000002"),
                          QStringLiteral("\"After\"=dword:0000002a"),
                      }));
    EXPECT_EQ(section(Key + QStringLiteral("\\IncrustFont")),
              (QStringList{
                  QStringLiteral("\"Size\"=dword:0000000d"),
                  QStringLiteral("\"Color\"=dword:00563412"),
                  QStringLiteral("\"Name\"=\"DejaVu Sans\""),
                  QStringLiteral("\"Bold\"=dword:00000000"),
                  QStringLiteral("\"Italic\"=dword:00000001"),
                  QStringLiteral("\"Underline\"=dword:00000001"),
                  QStringLiteral("\"StrikeOut\"=dword:00000001"),
              }));

    Sample s(hive());
    s.list.LoadAll();
    EXPECT_EQ(s.number.Value, -2);
    EXPECT_FALSE(s.flag.Value);
    EXPECT_EQ(s.text.Value, QStringLiteral("C:\\vidéos \"ici\""));
    EXPECT_EQ(s.font.Font, font);
    EXPECT_EQ(s.panel.Value, 7);
    EXPECT_EQ(s.aspect.Value, 2);
    EXPECT_EQ(s.after.Value, 42);
}

TEST_F(Parameters, WrongTypesEmptyTextsAndOddNumbersFallBackOneByOne)
{
    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Test]\n"
                             "\"Number\"=\"12\"\n"
                             "\"Flag\"=dword:00000005\n"
                             "\"Texte accentué\"=\"\"\n"
                             "\"Panneau Actif\"=dword:00000102\n"
                             "\"Aspect ratio\"=\"1\"\n"
                             "\"After\"=dword:00000007\n"));
    Sample s(hive());
    s.list.LoadAll();
    EXPECT_EQ(s.number.Value, -5);                     // REG_SZ where a DWORD belongs
    EXPECT_TRUE(s.flag.Value);                         // 5 is true
    EXPECT_EQ(s.text.Value, QStringLiteral("défaut")); // an empty text is not kept
    EXPECT_EQ(s.panel.Value, 2);                       // 258: the low byte
    EXPECT_EQ(s.aspect.Value, 1);
    EXPECT_EQ(s.after.Value, 7); // the settings after a bad one still load
    EXPECT_EQ(s.font.Font, arialBoldWhite());

    ASSERT_TRUE(s.list.SaveAll());
    const QStringList values = section(Key);
    EXPECT_TRUE(values.contains(QStringLiteral("\"Flag\"=dword:00000001")));
    EXPECT_TRUE(values.contains(QStringLiteral("\"Number\"=dword:fffffffb")));
    EXPECT_TRUE(values.contains(QStringLiteral("\"Panneau Actif\"=dword:00000002")));
    EXPECT_TRUE(values.contains(QStringLiteral("\"Texte accentué\"=\"défaut\"")));
}

TEST_F(Parameters, StringsAcceptExpandableTextsButNotNumbers)
{
    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Test]\n"
                             "\"Texte accentué\"=hex(2):25,00,48,00,00,00\n"));
    Sample s(hive());
    s.list.LoadAll();
    EXPECT_EQ(s.text.Value, QStringLiteral("%H"));
    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Test]\n"
                             "\"Texte accentué\"=dword:00000001\n"));
    s.list.LoadAll();
    EXPECT_EQ(s.text.Value, QStringLiteral("défaut"));
}

TEST_F(Parameters, FontSubkeyFallbacks)
{
    // No "Name": the default face, but the stored size, colour and style.
    // "Bold" = 0 while the default is bold: not bold. A missing "Italic"
    // keeps the default's (not italic).
    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Test\\IncrustFont]\n"
                             "\"Size\"=dword:00000009\n"
                             "\"Color\"=dword:000000ff\n"
                             "\"Bold\"=dword:00000000\n"
                             "\"Underline\"=dword:00000003\n"
                             "\"StrikeOut\"=\"1\"\n"));
    Sample s(hive());
    s.list.LoadAll();
    const QFont& f = s.font.Font.Font;
    EXPECT_EQ(f.family(), QStringLiteral("Arial"));
    EXPECT_EQ(f.pointSize(), 9);
    EXPECT_EQ(s.font.Font.Color, QColor(255, 0, 0));
    EXPECT_FALSE(f.bold());
    EXPECT_FALSE(f.italic());
    EXPECT_TRUE(f.underline());
    EXPECT_FALSE(f.strikeOut());
    // The list key exists only as the font's parent here: the rest read from
    // it after the font and find nothing.
    EXPECT_EQ(s.after.Value, 42);

    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Test]\n"
                             "\"After\"=dword:00000001\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Tavrel\\Test\\IncrustFont]\n"
                             "\"Size\"=dword:00000000\n"
                             "\"Color\"=dword:80000005\n"
                             "\"Name\"=\"\"\n"));
    s.list.LoadAll();
    EXPECT_EQ(s.font.Font, arialBoldWhite()); // size 0, a system colour, an empty face
    EXPECT_EQ(s.after.Value, 1);              // read from the list's key again

    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Test]\n"
                             "\"After\"=dword:00000002\n"));
    s.font.Font.Font.setItalic(true);
    s.list.LoadAll();
    EXPECT_EQ(s.font.Font, arialBoldWhite()); // no subkey: all of the default
    EXPECT_EQ(s.after.Value, 2);
}

TEST(ParameterColors, RegistryValueRoundTripsThroughQColor)
{
    for (quint32 v : {0x000000u, 0xFFFFFFu, 0x00563412u, 0x000080FFu, 0x00FF0001u}) {
        const std::optional<QColor> c = ColorFromRegistry(v);
        ASSERT_TRUE(c.has_value());
        EXPECT_EQ(ColorToRegistry(*c), v);
    }
    EXPECT_EQ(ColorToRegistry(QColor(Qt::red)), 0x0000FFu);
    EXPECT_EQ(ColorToRegistry(QColor(Qt::blue)), 0xFF0000u);
    EXPECT_EQ(ColorToRegistry(QColor::fromHsv(120, 255, 255)), 0x00FF00u);
    EXPECT_FALSE(ColorFromRegistry(0x80000005u).has_value());
    EXPECT_FALSE(ColorFromRegistry(0x1FFFFFFFu).has_value());
}

TEST(ParameterStamp, TwelveHourClockAroundMidnightAndNoon)
{
    EXPECT_EQ(FormatSaveStamp(at(13, 48, 5)), QStringLiteral("2026/12/05 01:48:05 pm"));
    EXPECT_EQ(FormatSaveStamp(at(0, 5, 9)), QStringLiteral("2026/12/05 12:05:09 am"));
    EXPECT_EQ(FormatSaveStamp(at(11, 59, 59)), QStringLiteral("2026/12/05 11:59:59 am"));
    EXPECT_EQ(FormatSaveStamp(at(12, 0, 0)), QStringLiteral("2026/12/05 12:00:00 pm"));
    EXPECT_EQ(FormatSaveStamp(QDateTime(QDate(987, 1, 2), QTime(9, 8, 7))),
              QStringLiteral("0987/01/02 09:08:07 am"));
}

TEST_F(Parameters, SavingTwiceRestampsAndKeepsUnknownValues)
{
    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Test]\n"
                             "\"Retired setting\"=dword:00000011\n"
                             "\"Old blob\"=hex:de,ad\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Tavrel\\Test\\IncrustFont]\n"
                             "\"Extra\"=\"kept\"\n"));
    Sample s(hive());
    s.now = at(11, 59, 59);
    ASSERT_TRUE(s.list.SaveAll());
    EXPECT_TRUE(section(Key).contains(
        QStringLiteral("\"Derniere Sauvegarde\"=\"2026/12/05 11:59:59 am\"")));
    s.now = at(12, 0, 1);
    s.number.Value = 8;
    ASSERT_TRUE(s.list.SaveAll());
    const QStringList values = section(Key);
    EXPECT_TRUE(
        values.contains(QStringLiteral("\"Derniere Sauvegarde\"=\"2026/12/05 12:00:01 pm\"")));
    EXPECT_EQ(values.filter(QStringLiteral("Derniere Sauvegarde")).size(), 1);
    EXPECT_TRUE(values.contains(QStringLiteral("\"Number\"=dword:00000008")));
    EXPECT_EQ(values.front(), QStringLiteral("\"Retired setting\"=dword:00000011"));
    EXPECT_TRUE(values.contains(QStringLiteral("\"Old blob\"=hex:de,ad")));
    EXPECT_TRUE(section(Key + QStringLiteral("\\IncrustFont"))
                    .contains(QStringLiteral("\"Extra\"=\"kept\"")));
}

// A folder where the hive should be: nothing is read or written, the log
// says so and the folder is left as it is.
TEST_F(Parameters, SavingWhereNothingCanBeWrittenFailsQuietly)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("registry.reg")));
    Sample s(hive());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(s.list.SaveAll());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("not saved"), std::string::npos) << err;
    s.list.LoadAll();
    EXPECT_EQ(s.number.Value, -5);
    EXPECT_TRUE(QFileInfo(hive()).isDir());
}

TEST_F(Parameters, TheUsersHiveIsTheDefault)
{
    {
        TparameterList list(Key, QStringLiteral("sig"));
        TIntegerParameter p(QStringLiteral("Number"), 3, list);
        ASSERT_TRUE(list.SaveAll());
    }
    EXPECT_TRUE(section(Key).contains(QStringLiteral("\"Number\"=dword:00000003")));
}
