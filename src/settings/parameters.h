#pragma once

// Typed settings over the registry. Each setting knows its value name, its
// current value and its default, and reads or writes itself in the key that
// its list holds open during LoadAll / SaveAll.

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kad {

class Registry;
class TparameterList;

// The stored type codes. A parameter under construction holds Unset until
// its concrete class sets its own code.
enum class ParameterKind : std::uint8_t {
    Integer = 0,
    Boolean = 1,
    String = 2,
    Font = 3,
    Enumeration = 4,
    Unset = 6,
};

// A parameter appends itself to its list when constructed and takes itself
// out again when destroyed; the list never owns it.
class TParameter {
public:
    virtual ~TParameter();
    TParameter(const TParameter&) = delete;
    TParameter& operator=(const TParameter&) = delete;

    // Called by LoadAll / SaveAll only, while the owner's key is open.
    virtual void Load() = 0;
    virtual void Save() = 0;

    QString Name;
    ParameterKind Kind = ParameterKind::Unset;
    TparameterList* Owner = nullptr;

protected:
    TParameter(const QString& name, TparameterList& owner);
    // The owner's open accessor.
    Registry& registry() const;
};

class TIntegerParameter final : public TParameter {
public:
    TIntegerParameter(const QString& name, std::int32_t defaultValue, TparameterList& owner);
    void Load() override;
    void Save() override;

    std::int32_t Value;
    std::int32_t DefaultValue;
};

class TBooleanParameter final : public TParameter {
public:
    TBooleanParameter(const QString& name, bool defaultValue, TparameterList& owner);
    void Load() override;
    void Save() override;

    bool Value;
    bool DefaultValue;
};

class TStringParameter final : public TParameter {
public:
    TStringParameter(const QString& name, const QString& defaultValue, TparameterList& owner);
    void Load() override;
    void Save() override;

    QString Value;
    QString DefaultValue;
};

// A font as the inlay text uses it: face, size in points, style, and the
// colour that Qt keeps apart from the font.
struct FontAndColor {
    QFont Font;
    QColor Color;
};

bool operator==(const FontAndColor& a, const FontAndColor& b);

// The registry's colour value (0x00BBGGRR) of a colour and back. Values with
// a high byte (the old system-colour codes) have no Qt counterpart: absent.
quint32 ColorToRegistry(const QColor& color);
std::optional<QColor> ColorFromRegistry(quint32 value);

// Stored as a subkey named Name holding "Size", "Color", "Name", "Bold",
// "Italic", "Underline" and "StrikeOut".
class TFontParameter final : public TParameter {
public:
    TFontParameter(const QString& name, const FontAndColor& defaultFont, TparameterList& owner);
    void Load() override;
    void Save() override;

    FontAndColor Font;
    // A copy: the default never changes for the life of the parameter.
    const FontAndColor DefaultFont;
};

// One-byte enumerations; only the low byte of the stored DWORD is kept.
class TframeNumberParameter final : public TParameter {
public:
    TframeNumberParameter(const QString& name, std::uint8_t defaultValue, TparameterList& owner);
    void Load() override;
    void Save() override;

    std::uint8_t Value;
    std::uint8_t DefaultValue;
};

class TAspectRatioParameter final : public TParameter {
public:
    TAspectRatioParameter(const QString& name, std::uint8_t defaultValue, TparameterList& owner);
    void Load() override;
    void Save() override;

    std::uint8_t Value;
    std::uint8_t DefaultValue;
};

// The "Derniere Sauvegarde" stamp: yyyy/mm/dd hh:mm:ss am/pm on the 12-hour
// clock (midnight and noon are 12), e.g. 2026/12/05 01:48:05 pm.
QString FormatSaveStamp(const QDateTime& when);

// The settings of one registry key, in creation order (which is the order of
// loading and saving). Holds non-owning pointers: whoever creates a parameter
// keeps and frees it.
class TparameterList {
public:
    // `hiveFile` empty: the user's hive (Registry's default).
    TparameterList(const QString& keyPath, const QString& signature, const QString& hiveFile = {});
    virtual ~TparameterList();
    TparameterList(const TparameterList&) = delete;
    TparameterList& operator=(const TparameterList&) = delete;

    // Reads every parameter from KeyPath; a missing key leaves every value as
    // it is and creates nothing.
    void LoadAll();
    // Writes "Signature", "Derniere Sauvegarde", "ExeName" and then every
    // parameter, creating the key when needed. False when the key could not
    // be opened or the hive could not be written.
    bool SaveAll();

    int Count() const { return int(items.size()); }
    TParameter* operator[](int index) const { return items.at(std::size_t(index)); }
    auto begin() const { return items.begin(); }
    auto end() const { return items.end(); }

    // The accessor open on KeyPath during LoadAll / SaveAll, else nullptr.
    Registry* registry() const { return reg.get(); }
    QString hiveFile() const { return hive; }

    QString KeyPath;
    QString Signature;
    // The time stamped on a save; replaced in tests.
    std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTime(); };

private:
    friend class TParameter;
    QString hive;
    std::vector<TParameter*> items;
    std::unique_ptr<Registry> reg;
};

} // namespace kad
