#include "settings/preferences.h"

#include "platform/os/registry.h"
#include "system/dialogs.h"
#include "system/sysinfo.h"
#include "system/texts.h"

#include <QGuiApplication>
#include <QScreen>

namespace kad {

namespace {

QString withTrailingSlash(const QString& folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

FontAndColor defaultInlayFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(21);
    font.setBold(true);
    return {font, QColor(255, 255, 255)};
}

} // namespace

QString MakerKeyPath()
{
    return QStringLiteral("\\Software\\%1\\").arg(MakerName);
}

QString PreferencesKeyPath()
{
    return MakerKeyPath() + ProductName;
}

QString PreferencesSignature()
{
    return QStringLiteral("%1 %2 %3 by %4")
        .arg(ProductName, ProductVersion, ProductLanguage, MakerName);
}

PreferenceDefaults ComputePreferenceDefaults(const QSize& screenSize, const QSize& windowSize)
{
    PreferenceDefaults d;
    d.ScreenSize = screenSize;
    d.WindowSize = windowSize;
    d.VideoDirectory = withTrailingSlash(VideoFolder());
    d.ImageDirectory = withTrailingSlash(PicturesFolder());
    d.Ferrovue = FerrovuePath();
    return d;
}

Preferences::Preferences(const PreferenceDefaults& defaults, const QString& hiveFile)
    : TparameterList(PreferencesKeyPath(), PreferencesSignature(), hiveFile), Defaults(defaults),
      DefaultIncrustFont(defaultInlayFont())
{
}

std::unique_ptr<Preferences> CreatePreferences(const QSize& screenSize, const QSize& windowSize,
                                               const QString& hiveFile)
{
    auto prefs =
        std::make_unique<Preferences>(ComputePreferenceDefaults(screenSize, windowSize), hiveFile);
    prefs->LoadAll();
    return prefs;
}

std::unique_ptr<Preferences> CreatePreferences(const QSize& windowSize, const QString& hiveFile)
{
    QSize screenSize = windowSize;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            screenSize = screen->geometry().size();
    return CreatePreferences(screenSize, windowSize, hiveFile);
}

bool SavePreferences(Preferences& preferences)
{
    return preferences.SaveAll();
}

bool DeletePreferences(const QString& hiveFile)
{
    const QString question = Text(TextId::PrefsDeleteQuestion).arg(ProductName);
    if (dialogs().warningYesNo(question) != DialogAnswer::Yes) return false;

    const QString notFound = Text(TextId::PrefsNotFound).arg(ProductName);
    Registry reg(hiveFile.isEmpty() ? Registry::defaultHiveFile() : hiveFile);
    // Saying "deleted" when there was nothing to delete would be untrue: a
    // missing product key gets the not-found warning like a missing maker key.
    if (!reg.openKey(MakerKeyPath(), false) || !reg.deleteKey(QString(ProductName))) {
        dialogs().warning(notFound);
        return false;
    }
    if (!reg.hasSubKeys()) {
        reg.closeKey();
        reg.deleteKey(MakerKeyPath());
    }
    reg.closeKey();
    if (!reg.flush()) {
        dialogs().error(Text(TextId::PrefsNotDeleted).arg(ProductName, reg.hiveFile()));
        return false;
    }
    dialogs().information(Text(TextId::PrefsDeleted).arg(ProductName));
    return true;
}

int IndexOrFirst(const QString& text, const QStringList& items)
{
    for (int i = 0; i < items.size(); ++i)
        if (items[i].compare(text, Qt::CaseInsensitive) == 0) return i;
    return items.isEmpty() ? -1 : 0;
}

} // namespace kad
