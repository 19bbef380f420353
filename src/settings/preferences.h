#pragma once

// Every persisted preference of Kadrillo, in its fixed order, under
// HKEY_CURRENT_USER\Software\Tavrel\Kadrillo. Copying the values into the
// window's controls and back belongs to the window.

#include "settings/parameters.h"

#include <QLatin1String>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

namespace kad {

// The product's identity, from which the key path and signature are built.
inline constexpr QLatin1String ProductName{"Kadrillo"};
inline constexpr QLatin1String ProductVersion{"3.3c"};
inline constexpr QLatin1String ProductLanguage{"En"};
inline constexpr QLatin1String MakerName{"Tavrel"};

// "\Software\Tavrel\" + product name.
QString MakerKeyPath();
// "\Software\Tavrel\Kadrillo"
QString PreferencesKeyPath();
// "Kadrillo 3.3c En by Tavrel"
QString PreferencesSignature();

// The defaults that depend on the machine, computed once when the table is
// created.
struct PreferenceDefaults {
    QSize ScreenSize;
    QSize WindowSize;
    QString VideoDirectory; // with a trailing "/"
    QString ImageDirectory; // with a trailing "/"
    QString Ferrovue;       // the viewer's own "Exename", or empty
};

// Looks up the user's folders and the viewer's path (which creates the
// viewer's key, as the lookup always does).
PreferenceDefaults ComputePreferenceDefaults(const QSize& screenSize, const QSize& windowSize);

// The list and its 61 parameters. The parameters are members, created in
// declaration order, which is the table's order; the list holds them without
// owning them. Not movable: each parameter keeps the list's address.
class Preferences : public TparameterList {
public:
    explicit Preferences(const PreferenceDefaults& defaults, const QString& hiveFile = {});

    const PreferenceDefaults Defaults;
    // Row 58's default: Arial, 21 points, bold, white.
    const FontAndColor DefaultIncrustFont;

    TIntegerParameter Top{QStringLiteral("Top"),
                          (Defaults.ScreenSize.height() - Defaults.WindowSize.height()) / 2, *this};
    TIntegerParameter Left{QStringLiteral("Left"),
                           (Defaults.ScreenSize.width() - Defaults.WindowSize.width()) / 2, *this};
    TIntegerParameter Volume{QStringLiteral("Volume"), 10000, *this};
    TIntegerParameter CamformLeft{QStringLiteral("Camform left"), Left.Value, *this};
    TIntegerParameter CamformTop{QStringLiteral("Camform top"),
                                 Top.DefaultValue + Defaults.WindowSize.height(), *this};
    TIntegerParameter StandardDV{QStringLiteral("Standard DV"), 0, *this};
    TIntegerParameter ProfileWmv{QStringLiteral("Profile wmv"), 1, *this};
    TIntegerParameter FrequenceDV{QStringLiteral("FrequenceDV"), 0, *this};
    TIntegerParameter CorrectionSync{QStringLiteral("Correction Sync"), 10, *this};
    TIntegerParameter ModeIncruster{QStringLiteral("Mode Incruster"), 0, *this};
    TIntegerParameter DureeIncruster{QStringLiteral("Durée Incruster"), 5, *this};
    TIntegerParameter ChoixIncruster{QStringLiteral("Choix Incruster"), 0, *this};
    TIntegerParameter DecalageHoraire{QStringLiteral("Décalage Horaire"), 0, *this};
    TIntegerParameter PositionX{QStringLiteral("Position X"), 930, *this};
    TIntegerParameter PositionY{QStringLiteral("position Y"), 70, *this};
    TIntegerParameter ExtensionDesImages{QStringLiteral("Extension des images"), 0, *this};
    TIntegerParameter QualiteJPeg{QStringLiteral("Qualité JPeg"), 50, *this};
    TIntegerParameter VersionWmv{QStringLiteral("Version wmv"), 2, *this};
    TIntegerParameter ValeurIntervallometre{QStringLiteral("Valeur Intervallomètre"), 10, *this};
    TIntegerParameter UnitesIntervallometre{QStringLiteral("Unités Intervallomètre"), 0, *this};
    TframeNumberParameter PanneauActif{QStringLiteral("Panneau Actif"), 0, *this};
    TAspectRatioParameter AspectRatio{QStringLiteral("Aspect ratio"), 0, *this};
    TStringParameter VideoDirectory{QStringLiteral("Video Directory"), Defaults.VideoDirectory,
                                    *this};
    TStringParameter VideoRacine{QStringLiteral("Video Racine"), QStringLiteral("Video"), *this};
    TStringParameter ImageDirectory{QStringLiteral("Image Directory"), Defaults.ImageDirectory,
                                    *this};
    TStringParameter ImageRacine{QStringLiteral("Image Racine"), QStringLiteral("Image"), *this};
    TStringParameter Ferrovue{QStringLiteral("Ferrovue"), Defaults.Ferrovue, *this};
    TStringParameter SourceVideo{QStringLiteral("Source video"), QStringLiteral("N/A"), *this};
    TStringParameter SourceAudio{QStringLiteral("Source Audio"), QStringLiteral("N/A"), *this};
    TStringParameter CaptureFormat{QStringLiteral("Capture Format"), QStringLiteral("native video"),
                                   *this};
    TStringParameter AudioType{QStringLiteral("Audio Type"), QString(), *this};
    TStringParameter FormatDatecode{QStringLiteral("Format Datecode"),
                                    QStringLiteral("dddddd hh:nn:ss"), *this};
    TStringParameter ProfilWindowsMedia{QStringLiteral("Profil Windows media"),
                                        QStringLiteral("N/A"), *this};
    TStringParameter ProfilWmvFavori{QStringLiteral("Profil wmv favori"), QString(), *this};
    TBooleanParameter EcranGauche{QStringLiteral("EcranGauche"), true, *this};
    TBooleanParameter EcouterAudioInclus{QStringLiteral("Ecouter Audio inclus"), true, *this};
    TBooleanParameter MasquerReglagesAudio{QStringLiteral("masquer réglages audio"), false, *this};
    TBooleanParameter EnregistrerSourceAudio{QStringLiteral("Enregistrer Source Audio"), false,
                                             *this};
    TBooleanParameter FullscreenOn{QStringLiteral("Fullscreen On"), false, *this};
    TBooleanParameter ReducedOn{QStringLiteral("Reduced on"), false, *this};
    TBooleanParameter MuteOn{QStringLiteral("Mute On"), false, *this};
    TBooleanParameter IncrustationOn{QStringLiteral("Incrustation On"), false, *this};
    TBooleanParameter VMRKeepAspectRatio{QStringLiteral("VMR Keep aspect ratio"), true, *this};
    TBooleanParameter DeinterlacerOn{QStringLiteral("Deinterlacer On"), false, *this};
    TBooleanParameter FlipOn{QStringLiteral("Flip On"), false, *this};
    TBooleanParameter StopperCameraDVEnQuittant{QStringLiteral("Stopper camera DV en quittant"),
                                                true, *this};
    TBooleanParameter VideoDate{QStringLiteral("Video Date"), true, *this};
    TBooleanParameter ImageDate{QStringLiteral("Image date"), false, *this};
    TBooleanParameter ShowPilotDV{QStringLiteral("Show Pilot DV"), true, *this};
    TBooleanParameter Forcer44100EnDV{QStringLiteral("Forcer 44100 en DV"), false, *this};
    TBooleanParameter PermettreIncruster{QStringLiteral("Permettre Incruster"), true, *this};
    TBooleanParameter TailleAutomatique{QStringLiteral("Taille automatique"), true, *this};
    TBooleanParameter SauverPreferencesEnQuittant{QStringLiteral("Sauver préférences en quittant"),
                                                  true, *this};
    TBooleanParameter Confirmer{QStringLiteral("Confirmer"), true, *this};
    TBooleanParameter UtiliserCirrus{QStringLiteral("Utiliser Cirrus"), true, *this};
    TBooleanParameter ActiverLog{QStringLiteral("Activer log"), false, *this};
    TBooleanParameter Beeps{QStringLiteral("Beeps"), false, *this};
    TFontParameter IncrustFont{QStringLiteral("IncrustFont"), DefaultIncrustFont, *this};
    TBooleanParameter CaptureReport{QStringLiteral("Capture report"), true, *this};
    TBooleanParameter SplitAtRecording{QStringLiteral("Split at recording"), false, *this};
    TBooleanParameter NameByRecordingDate{QStringLiteral("Name by recording date"), false, *this};
};

// Creates the table with the machine's defaults and loads it. The screen
// size and the main window's size give rows 1, 2, 4 and 5; `hiveFile` empty
// is the user's hive. The viewer's path is always looked up in the user's
// hive (KADRILLO_REGISTRY in tests).
std::unique_ptr<Preferences> CreatePreferences(const QSize& screenSize, const QSize& windowSize,
                                               const QString& hiveFile = {});
// The same on the primary screen (the window's own size when there is none,
// which puts the window at the top left).
std::unique_ptr<Preferences> CreatePreferences(const QSize& windowSize,
                                               const QString& hiveFile = {});

// Saves every preference; false when the hive could not be written.
bool SavePreferences(Preferences& preferences);

// Asks, deletes the Kadrillo key (and the maker's key when nothing else is
// left in it) and says what happened, all through kad::dialogs(). The values
// in memory are left alone. True when the key was deleted.
bool DeletePreferences(const QString& hiveFile = {});

// Position of the first of `items` equal to `text` without regard to case;
// when none is, 0 if there are items, else -1.
int IndexOrFirst(const QString& text, const QStringList& items);

} // namespace kad
