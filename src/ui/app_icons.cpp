#include "ui/app_icons.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

// The pictures are linked from a static library, whose resources must be
// registered by hand.
static void initUiResources()
{
    Q_INIT_RESOURCE(ui);
}

namespace kad {

namespace {

struct ImageEntry {
    int index;
    const char* themeName;
};

// Theme names chosen for what each picture stands for.
constexpr ImageEntry kImages[] = {
    {0, "document-save"},             // save the preferences
    {1, "camera-video"},              // sources panel
    {4, "application-exit"},          // quit
    {5, "view-fullscreen"},           // full screen
    {6, "camera-photo"},              // grab a still
    {7, "insert-image"},              // grab panel
    {9, "help-browser"},              // help panel
    {10, "preferences-system"},       // settings panel
    {14, "media-record"},             // capture
    {20, "appointment-new"},          // schedule
    {22, "preferences-desktop-font"}, // inlay panel
    {23, "audio-volume-muted"},       // sound is off
    {24, "audio-volume-high"},        // sound is on
    {26, "insert-text"},              // inlay
    {27, "media-record"},             // start capture
    {28, "media-playback-stop"},      // stop capture
    {29, "edit-cut"},                 // cut
    {30, "process-stop"},             // stop the schedule
    {31, "help-about"},               // about panel, clip viewer
    {33, "zoom-fit-best"},            // aspect ratio
    {34, "folder"},                   // folders
    {35, "format-justify-fill"},      // deinterlace
    {36, "object-flip-vertical"},     // flip
    {kReduceImage, "view-restore"},   // reduce
};

const ImageEntry* find(int index)
{
    for (const ImageEntry& e : kImages) {
        if (e.index == index) return &e;
    }
    return nullptr;
}

} // namespace

void PrepareIconTheme()
{
    initUiResources();
    // Platforms without a desktop (offscreen, a bare X server) search no
    // system folder for themes; add the usual ones.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString icons = QDir(data).filePath(QStringLiteral("icons"));
        if (!paths.contains(icons) && QDir(icons).exists()) paths.append(icons);
    }
    for (const QString& fixed :
         {QStringLiteral("/usr/share/icons"), QStringLiteral("/usr/local/share/icons")}) {
        if (!paths.contains(fixed) && QDir(fixed).exists()) paths.append(fixed);
    }
    QIcon::setThemeSearchPaths(paths);
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    if (QIcon::fallbackThemeName().isEmpty())
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
}

QIcon BundledIcon(int index)
{
    if (!find(index)) return {};
    const QString path = QStringLiteral(":/icons/img%1.png").arg(index, 2, 10, QLatin1Char('0'));
    if (!QFile::exists(path)) return {};
    return QIcon(path);
}

QIcon ImageListIcon(int index)
{
    const ImageEntry* e = find(index);
    if (!e) return {};
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(e->themeName));
    if (!themed.isNull() && !themed.availableSizes().isEmpty()) return themed;
    if (!themed.isNull() && !themed.pixmap(kImageSize, kImageSize).isNull()) return themed;
    return BundledIcon(index);
}

QList<int> ImageListIndices()
{
    QList<int> list;
    for (const ImageEntry& e : kImages)
        list.append(e.index);
    return list;
}

} // namespace kad
