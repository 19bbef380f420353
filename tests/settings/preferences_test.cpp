#include "parameters_helpers.h"
#include "platform/os/registry.h"
#include "settings/preferences.h"
#include "support/fake_dialogs.h"
#include "system/sysinfo.h"

#include <QFileInfo>
#include <QLockFile>

using namespace kad;

namespace {

using Preferences_ = test::SettingsHiveTest;

struct Row {
    const char* name; // UTF-8
    ParameterKind kind;
    const char* defaultValue; // as text; nullptr where the machine decides
};

// The table, in its order, with the defaults for a 1920 x 1080 screen and a
// 700 x 459 window.
const Row Table[] = {
    {"Top", ParameterKind::Integer, "310"},
    {"Left", ParameterKind::Integer, "610"},
    {"Volume", ParameterKind::Integer, "10000"},
    {"Camform left", ParameterKind::Integer, "610"},
    {"Camform top", ParameterKind::Integer, "769"},
    {"Standard DV", ParameterKind::Integer, "0"},
    {"Profile wmv", ParameterKind::Integer, "1"},
    {"FrequenceDV", ParameterKind::Integer, "0"},
    {"Correction Sync", ParameterKind::Integer, "10"},
    {"Mode Incruster", ParameterKind::Integer, "0"},
    {"Durée Incruster", ParameterKind::Integer, "5"},
    {"Choix Incruster", ParameterKind::Integer, "0"},
    {"Décalage Horaire", ParameterKind::Integer, "0"},
    {"Position X", ParameterKind::Integer, "930"},
    {"position Y", ParameterKind::Integer, "70"},
    {"Extension des images", ParameterKind::Integer, "0"},
    {"Qualité JPeg", ParameterKind::Integer, "50"},
    {"Version wmv", ParameterKind::Integer, "2"},
    {"Valeur Intervallomètre", ParameterKind::Integer, "10"},
    {"Unités Intervallomètre", ParameterKind::Integer, "0"},
    {"Panneau Actif", ParameterKind::Enumeration, "0"},
    {"Aspect ratio", ParameterKind::Enumeration, "0"},
    {"Video Directory", ParameterKind::String, nullptr},
    {"Video Racine", ParameterKind::String, "Video"},
    {"Image Directory", ParameterKind::String, nullptr},
    {"Image Racine", ParameterKind::String, "Image"},
    {"Ferrovue", ParameterKind::String, ""},
    {"Source video", ParameterKind::String, "N/A"},
    {"Source Audio", ParameterKind::String, "N/A"},
    {"Capture Format", ParameterKind::String, "native video"},
    {"Audio Type", ParameterKind::String, ""},
    {"Format Datecode", ParameterKind::String, "dddddd hh:nn:ss"},
    {"Profil Windows media", ParameterKind::String, "N/A"},
    {"Profil wmv favori", ParameterKind::String, ""},
    {"EcranGauche", ParameterKind::Boolean, "1"},
    {"Ecouter Audio inclus", ParameterKind::Boolean, "1"},
    {"masquer réglages audio", ParameterKind::Boolean, "0"},
    {"Enregistrer Source Audio", ParameterKind::Boolean, "0"},
    {"Fullscreen On", ParameterKind::Boolean, "0"},
    {"Reduced on", ParameterKind::Boolean, "0"},
    {"Mute On", ParameterKind::Boolean, "0"},
    {"Incrustation On", ParameterKind::Boolean, "0"},
    {"VMR Keep aspect ratio", ParameterKind::Boolean, "1"},
    {"Deinterlacer On", ParameterKind::Boolean, "0"},
    {"Flip On", ParameterKind::Boolean, "0"},
    {"Stopper camera DV en quittant", ParameterKind::Boolean, "1"},
    {"Video Date", ParameterKind::Boolean, "1"},
    {"Image date", ParameterKind::Boolean, "0"},
    {"Show Pilot DV", ParameterKind::Boolean, "1"},
    {"Forcer 44100 en DV", ParameterKind::Boolean, "0"},
    {"Permettre Incruster", ParameterKind::Boolean, "1"},
    {"Taille automatique", ParameterKind::Boolean, "1"},
    {"Sauver préférences en quittant", ParameterKind::Boolean, "1"},
    {"Confirmer", ParameterKind::Boolean, "1"},
    {"Utiliser Cirrus", ParameterKind::Boolean, "1"},
    {"Activer log", ParameterKind::Boolean, "0"},
    {"Beeps", ParameterKind::Boolean, "0"},
    {"IncrustFont", ParameterKind::Font, nullptr},
    {"Capture report", ParameterKind::Boolean, "1"},
    {"Split at recording", ParameterKind::Boolean, "0"},
    {"Name by recording date", ParameterKind::Boolean, "0"},
};

QString valueText(const TParameter* p)
{
    if (auto i = dynamic_cast<const TIntegerParameter*>(p)) return QString::number(i->Value);
    if (auto b = dynamic_cast<const TBooleanParameter*>(p))
        return b->Value ? QStringLiteral("1") : QStringLiteral("0");
    if (auto s = dynamic_cast<const TStringParameter*>(p)) return s->Value;
    if (auto f = dynamic_cast<const TframeNumberParameter*>(p)) return QString::number(f->Value);
    if (auto a = dynamic_cast<const TAspectRatioParameter*>(p)) return QString::number(a->Value);
    return {};
}

const QSize Screen(1920, 1080);
const QSize Window(700, 459);

} // namespace

TEST_F(Preferences_, FirstStartHasTheTableInOrderWithItsDefaults)
{
    const std::unique_ptr<Preferences> prefs = CreatePreferences(Screen, Window);
    ASSERT_EQ(prefs->Count(), int(std::size(Table)));
    for (int i = 0; i < prefs->Count(); ++i) {
        const TParameter* p = (*prefs)[i];
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(p->Name, QString::fromUtf8(Table[i].name));
        EXPECT_EQ(p->Kind, Table[i].kind);
        if (Table[i].defaultValue) {
            EXPECT_EQ(valueText(p), QString::fromUtf8(Table[i].defaultValue));
        }
    }
    EXPECT_EQ(prefs->VideoDirectory.Value, VideoFolder() + u'/');
    EXPECT_EQ(prefs->ImageDirectory.Value, PicturesFolder() + u'/');
    EXPECT_EQ(prefs->IncrustFont.Font.Font.family(), QStringLiteral("Arial"));
    EXPECT_EQ(prefs->IncrustFont.Font.Font.pointSize(), 21);
    EXPECT_TRUE(prefs->IncrustFont.Font.Font.bold());
    EXPECT_FALSE(prefs->IncrustFont.Font.Font.italic());
    EXPECT_EQ(prefs->IncrustFont.Font.Color, QColor(255, 255, 255));

    // Loading created nothing but the viewer's key, which its look-up always
    // creates.
    Registry reg(hive());
    EXPECT_FALSE(reg.keyExists(PreferencesKeyPath()));
    EXPECT_TRUE(reg.keyExists(QStringLiteral("\\Software\\Tavrel\\Ferrovue")));
}

TEST_F(Preferences_, WindowDefaultsUseIntegerDivisionTowardZero)
{
    // A window larger than the screen: (599 - 700) / 2 = -50, not -51.
    const PreferenceDefaults d{QSize(599, 358), Window, QStringLiteral("/v/"),
                               QStringLiteral("/p/"), QString()};
    Preferences prefs(d, hive());
    EXPECT_EQ(prefs.Top.Value, -50);
    EXPECT_EQ(prefs.Left.Value, -50);
    EXPECT_EQ(prefs.CamformLeft.Value, -50);
    EXPECT_EQ(prefs.CamformTop.Value, -50 + 459);
    EXPECT_EQ(prefs.VideoDirectory.Value, QStringLiteral("/v/"));

    // Without a screen the window sits at the top left.
    const std::unique_ptr<Preferences> noScreen = CreatePreferences(Window);
    EXPECT_EQ(noScreen->Top.Value, 0);
    EXPECT_EQ(noScreen->Left.Value, 0);
    EXPECT_EQ(noScreen->CamformTop.Value, 459);
}

TEST_F(Preferences_, ViewerDefaultComesFromItsOwnKey)
{
    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Ferrovue]\n"
                             "\"Exename\"=\"/opt/ferrovue/ferrovue\"\n"));
    const std::unique_ptr<Preferences> prefs = CreatePreferences(Screen, Window);
    EXPECT_EQ(prefs->Ferrovue.Value, QStringLiteral("/opt/ferrovue/ferrovue"));
    EXPECT_EQ(prefs->Ferrovue.DefaultValue, QStringLiteral("/opt/ferrovue/ferrovue"));

    // A value of another type is no path.
    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Ferrovue]\n"
                             "\"Exename\"=dword:00000007\n"));
    EXPECT_EQ(CreatePreferences(Screen, Window)->Ferrovue.Value, QString());
}

TEST_F(Preferences_, SavedValuesComeBackAtTheNextStart)
{
    {
        const std::unique_ptr<Preferences> prefs = CreatePreferences(Screen, Window);
        prefs->Top.Value = 12;
        prefs->DureeIncruster.Value = 9;
        prefs->PanneauActif.Value = 6;
        prefs->VideoDirectory.Value = QStringLiteral("/data/Clips/");
        prefs->AudioType.Value = QString(); // saved empty, loads as its (empty) default
        prefs->SauverPreferencesEnQuittant.Value = false;
        prefs->IncrustFont.Font.Color = QColor(0, 128, 255);
        prefs->Clock = [] { return QDateTime(QDate(2026, 12, 5), QTime(0, 30, 0)); };
        ASSERT_TRUE(SavePreferences(*prefs));
    }
    const QStringList values = section(PreferencesKeyPath());
    EXPECT_EQ(values.mid(0, 2),
              (QStringList{QStringLiteral("\"Signature\"=\"Kadrillo 3.3c En by Tavrel\""),
                           QStringLiteral("\"Derniere Sauvegarde\"=\"2026/12/05 12:30:00 am\"")}));
    EXPECT_TRUE(values.contains(QStringLiteral("\"Durée Incruster\"=dword:00000009")));
    EXPECT_TRUE(
        values.contains(QStringLiteral("\"Sauver préférences en quittant\"=dword:00000000")));
    EXPECT_TRUE(values.contains(QStringLiteral("\"Audio Type\"=\"\"")));
    // Three list values, then the 60 values of the key; the font has its subkey.
    EXPECT_EQ(values.size(), 3 + 60);
    EXPECT_TRUE(section(PreferencesKeyPath() + QStringLiteral("\\IncrustFont"))
                    .contains(QStringLiteral("\"Color\"=dword:00ff8000")));

    const std::unique_ptr<Preferences> prefs = CreatePreferences(Screen, Window);
    EXPECT_EQ(prefs->Top.Value, 12);
    EXPECT_EQ(prefs->CamformTop.Value, 769); // default untouched by a loaded "Top"
    EXPECT_EQ(prefs->DureeIncruster.Value, 9);
    EXPECT_EQ(prefs->PanneauActif.Value, 6);
    EXPECT_EQ(prefs->VideoDirectory.Value, QStringLiteral("/data/Clips/"));
    EXPECT_FALSE(prefs->SauverPreferencesEnQuittant.Value);
    EXPECT_EQ(prefs->IncrustFont.Font.Color, QColor(0, 128, 255));
}

TEST_F(Preferences_, DeleteAnsweredNoTouchesNothing)
{
    test::FakeDialogs dialogs;
    CreatePreferences(Screen, Window)->SaveAll();
    const QString before = hiveText();
    dialogs.answer(DialogAnswer::No);
    EXPECT_FALSE(DeletePreferences());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warningYesNo"));
    EXPECT_EQ(hiveText(), before);
}

TEST_F(Preferences_, DeleteKeepsTheMakerKeyWhileTheViewerKeyIsThere)
{
    test::FakeDialogs dialogs;
    CreatePreferences(Screen, Window)->SaveAll();
    dialogs.answer(DialogAnswer::Yes);
    EXPECT_TRUE(DeletePreferences());
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].kind, QStringLiteral("information"));
    Registry reg(hive());
    EXPECT_FALSE(reg.keyExists(PreferencesKeyPath()));
    EXPECT_TRUE(reg.keyExists(QStringLiteral("\\Software\\Tavrel\\Ferrovue")));
}

TEST_F(Preferences_, DeleteRemovesTheMakerKeyWhenNothingElseIsLeft)
{
    test::FakeDialogs dialogs;
    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Other]\n\"x\"=dword:00000001\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Tavrel]\n\"Maker value\"=\"v\"\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Tavrel\\Kadrillo]\n"
                             "\"Top\"=dword:00000001\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Tavrel\\Kadrillo\\IncrustFont]\n"
                             "\"Size\"=dword:00000001\n"));
    dialogs.answer(DialogAnswer::Yes);
    EXPECT_TRUE(DeletePreferences(hive()));
    EXPECT_EQ(dialogs.shown.back().kind, QStringLiteral("information"));
    Registry reg(hive());
    EXPECT_FALSE(reg.keyExists(QStringLiteral("\\Software\\Tavrel")));
    EXPECT_TRUE(reg.keyExists(QStringLiteral("\\Software\\Other")));
    EXPECT_FALSE(hiveText().contains(QStringLiteral("Tavrel")));

    // The next start gets the defaults again.
    const std::unique_ptr<Preferences> prefs = CreatePreferences(Screen, Window);
    EXPECT_EQ(prefs->Top.Value, 310);
}

TEST_F(Preferences_, DeleteWhenNothingIsStoredWarns)
{
    test::FakeDialogs dialogs;
    dialogs.answer(DialogAnswer::Yes);
    EXPECT_FALSE(DeletePreferences());
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].kind, QStringLiteral("warning"));
    const QString notFound = dialogs.shown[1].text;
    EXPECT_FALSE(QFileInfo::exists(hive()));

    // The maker's key without the product's: not found either, and the
    // viewer's key stays.
    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Ferrovue]\n"));
    dialogs.shown.clear();
    dialogs.answer(DialogAnswer::Yes);
    EXPECT_FALSE(DeletePreferences());
    EXPECT_EQ(dialogs.shown.back().kind, QStringLiteral("warning"));
    EXPECT_EQ(dialogs.shown.back().text, notFound);
    EXPECT_TRUE(Registry(hive()).keyExists(QStringLiteral("\\Software\\Tavrel\\Ferrovue")));
}

TEST_F(Preferences_, DeleteThatCannotWriteSaysSo)
{
    test::FakeDialogs dialogs;
    writeHive(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tavrel\\Kadrillo]\n"));
    // Another program holds the lock for longer than a save waits.
    QLockFile lock(hive() + QStringLiteral(".lock"));
    ASSERT_TRUE(lock.tryLock(0));
    Registry::setLockWait(50);
    dialogs.answer(DialogAnswer::Yes);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(DeletePreferences());
    const std::string err = testing::internal::GetCapturedStderr();
    Registry::setLockWait(10000);
    EXPECT_NE(err.find("locked"), std::string::npos) << err;
    EXPECT_EQ(dialogs.shown.back().kind, QStringLiteral("error"));
    EXPECT_TRUE(Registry(hive()).keyExists(PreferencesKeyPath()));
}

TEST(PreferenceLists, IndexOrFirst)
{
    const QStringList items{QStringLiteral("DV Camcorder"), QStringLiteral("Webcam"),
                            QStringLiteral("webcam")};
    EXPECT_EQ(IndexOrFirst(QStringLiteral("Webcam"), items), 1);
    EXPECT_EQ(IndexOrFirst(QStringLiteral("WEBCAM"), items), 1);
    EXPECT_EQ(IndexOrFirst(QStringLiteral("dv camcorder"), items), 0);
    EXPECT_EQ(IndexOrFirst(QStringLiteral("Gone"), items), 0);
    EXPECT_EQ(IndexOrFirst(QString(), items), 0);
    EXPECT_EQ(IndexOrFirst(QStringLiteral("Gone"), {}), -1);
    EXPECT_EQ(IndexOrFirst(QString(), {QString()}), 0);
}
