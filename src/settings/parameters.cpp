#include "settings/parameters.h"

#include "platform/os/registry.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>

namespace kad {

namespace {

QString subKeyPath(const TparameterList& list, const QString& name)
{
    return list.KeyPath + u'\\' + name;
}

QString executablePath()
{
    if (QCoreApplication::instance()) return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

} // namespace

// ---- TParameter ------------------------------------------------------------

TParameter::TParameter(const QString& name, TparameterList& owner) : Name(name), Owner(&owner)
{
    owner.items.push_back(this);
}

TParameter::~TParameter()
{
    if (Owner) std::erase(Owner->items, this);
}

Registry& TParameter::registry() const
{
    return *Owner->registry();
}

// ---- TIntegerParameter -----------------------------------------------------

TIntegerParameter::TIntegerParameter(const QString& name, std::int32_t defaultValue,
                                     TparameterList& owner)
    : TParameter(name, owner), Value(defaultValue), DefaultValue(defaultValue)
{
    Kind = ParameterKind::Integer;
}

void TIntegerParameter::Load()
{
    const std::optional<quint32> v = registry().readDword(Name);
    Value = v ? std::int32_t(*v) : DefaultValue;
}

void TIntegerParameter::Save()
{
    registry().writeDword(Name, quint32(Value));
}

// ---- TBooleanParameter -----------------------------------------------------

TBooleanParameter::TBooleanParameter(const QString& name, bool defaultValue, TparameterList& owner)
    : TParameter(name, owner), Value(defaultValue), DefaultValue(defaultValue)
{
    Kind = ParameterKind::Boolean;
}

void TBooleanParameter::Load()
{
    const std::optional<quint32> v = registry().readDword(Name);
    Value = v ? *v != 0 : DefaultValue;
}

void TBooleanParameter::Save()
{
    registry().writeDword(Name, Value ? 1 : 0);
}

// ---- TStringParameter ------------------------------------------------------

TStringParameter::TStringParameter(const QString& name, const QString& defaultValue,
                                   TparameterList& owner)
    : TParameter(name, owner), Value(defaultValue), DefaultValue(defaultValue)
{
    Kind = ParameterKind::String;
}

void TStringParameter::Load()
{
    const std::optional<QString> v = registry().readString(Name);
    Value = v && !v->isEmpty() ? *v : DefaultValue;
}

void TStringParameter::Save()
{
    registry().writeString(Name, Value);
}

// ---- Enumerations ----------------------------------------------------------

namespace {

std::uint8_t loadLowByte(Registry& reg, const QString& name, std::uint8_t fallback)
{
    const std::optional<quint32> v = reg.readDword(name);
    return v ? std::uint8_t(*v & 0xFF) : fallback;
}

} // namespace

TframeNumberParameter::TframeNumberParameter(const QString& name, std::uint8_t defaultValue,
                                             TparameterList& owner)
    : TParameter(name, owner), Value(defaultValue), DefaultValue(defaultValue)
{
    Kind = ParameterKind::Enumeration;
}

void TframeNumberParameter::Load()
{
    Value = loadLowByte(registry(), Name, DefaultValue);
}

void TframeNumberParameter::Save()
{
    registry().writeDword(Name, Value);
}

TAspectRatioParameter::TAspectRatioParameter(const QString& name, std::uint8_t defaultValue,
                                             TparameterList& owner)
    : TParameter(name, owner), Value(defaultValue), DefaultValue(defaultValue)
{
    Kind = ParameterKind::Enumeration;
}

void TAspectRatioParameter::Load()
{
    Value = loadLowByte(registry(), Name, DefaultValue);
}

void TAspectRatioParameter::Save()
{
    registry().writeDword(Name, Value);
}

// ---- Fonts -----------------------------------------------------------------

bool operator==(const FontAndColor& a, const FontAndColor& b)
{
    return a.Font.family() == b.Font.family() && a.Font.pointSize() == b.Font.pointSize() &&
           a.Font.bold() == b.Font.bold() && a.Font.italic() == b.Font.italic() &&
           a.Font.underline() == b.Font.underline() && a.Font.strikeOut() == b.Font.strikeOut() &&
           a.Color.rgb() == b.Color.rgb();
}

quint32 ColorToRegistry(const QColor& color)
{
    const QColor c = color.toRgb();
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

std::optional<QColor> ColorFromRegistry(quint32 value)
{
    if (value & 0xFF000000u) return std::nullopt;
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

TFontParameter::TFontParameter(const QString& name, const FontAndColor& defaultFont,
                               TparameterList& owner)
    : TParameter(name, owner), Font(defaultFont), DefaultFont(defaultFont)
{
    Kind = ParameterKind::Font;
}

void TFontParameter::Load()
{
    Registry& reg = registry();
    if (!reg.openKey(subKeyPath(*Owner, Name), false)) {
        Font = DefaultFont;
        reg.openKey(Owner->KeyPath, false);
        return;
    }
    const QFont& def = DefaultFont.Font;
    QFont font = def;

    // A size of 0 or a negative one would be refused by QFont; the default
    // stands in for it like for any other unreadable value.
    const std::optional<quint32> size = reg.readDword(QStringLiteral("Size"));
    const int points = size ? int(*size) : 0;
    font.setPointSize(points > 0 ? points : def.pointSize());

    const std::optional<quint32> color = reg.readDword(QStringLiteral("Color"));
    const std::optional<QColor> qcolor = color ? ColorFromRegistry(*color) : std::nullopt;

    const std::optional<QString> face = reg.readString(QStringLiteral("Name"));
    font.setFamily(face && !face->isEmpty() ? *face : def.family());

    const auto flag = [&](const char* name, bool fallback) {
        const std::optional<quint32> v = reg.readDword(QString::fromLatin1(name));
        return v ? *v != 0 : fallback;
    };
    font.setBold(flag("Bold", def.bold()));
    font.setItalic(flag("Italic", def.italic()));
    font.setUnderline(flag("Underline", def.underline()));
    font.setStrikeOut(flag("StrikeOut", def.strikeOut()));

    Font.Font = font;
    Font.Color = qcolor ? *qcolor : DefaultFont.Color;
    reg.openKey(Owner->KeyPath, false);
}

void TFontParameter::Save()
{
    Registry& reg = registry();
    if (!reg.openKey(subKeyPath(*Owner, Name), true)) {
        reg.openKey(Owner->KeyPath, true);
        return;
    }
    const QFont& f = Font.Font;
    const int points = f.pointSize() > 0 ? f.pointSize() : DefaultFont.Font.pointSize();
    reg.writeDword(QStringLiteral("Size"), quint32(points));
    reg.writeDword(QStringLiteral("Color"),
                   ColorToRegistry(Font.Color.isValid() ? Font.Color : DefaultFont.Color));
    reg.writeString(QStringLiteral("Name"), f.family());
    reg.writeDword(QStringLiteral("Bold"), f.bold() ? 1 : 0);
    reg.writeDword(QStringLiteral("Italic"), f.italic() ? 1 : 0);
    reg.writeDword(QStringLiteral("Underline"), f.underline() ? 1 : 0);
    reg.writeDword(QStringLiteral("StrikeOut"), f.strikeOut() ? 1 : 0);
    reg.openKey(Owner->KeyPath, true);
}

// ---- TparameterList --------------------------------------------------------

QString FormatSaveStamp(const QDateTime& when)
{
    const QDate date = when.date();
    const QTime time = when.time();
    const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return QString::asprintf("%04d/%02d/%02d %02d:%02d:%02d %s", date.year(), date.month(),
                             date.day(), hour12, time.minute(), time.second(),
                             time.hour() < 12 ? "am" : "pm");
}

TparameterList::TparameterList(const QString& keyPath, const QString& signature,
                               const QString& hiveFile)
    : KeyPath(keyPath), Signature(signature), hive(hiveFile)
{
}

TparameterList::~TparameterList()
{
    for (TParameter* p : items)
        p->Owner = nullptr;
}

namespace {

// The accessor lives only while one LoadAll or SaveAll runs; it writes the
// hive when it goes.
struct OpenRegistry {
    std::unique_ptr<Registry>& slot;
    OpenRegistry(std::unique_ptr<Registry>& s, const QString& hive) : slot(s)
    {
        slot = std::make_unique<Registry>(hive.isEmpty() ? Registry::defaultHiveFile() : hive);
    }
    ~OpenRegistry() { slot.reset(); }
};

} // namespace

void TparameterList::LoadAll()
{
    OpenRegistry open(reg, hive);
    if (!reg->openKey(KeyPath, false)) return;
    for (TParameter* p : items) {
        // The key vanished under us (another program deleted it): the rest
        // keep their values rather than read from the root of the hive.
        if (!reg->hasOpenKey()) break;
        p->Load();
    }
}

bool TparameterList::SaveAll()
{
    OpenRegistry open(reg, hive);
    if (!reg->openKey(KeyPath, true)) return false;
    reg->writeString(QStringLiteral("Signature"), Signature);
    reg->writeString(QStringLiteral("Derniere Sauvegarde"), FormatSaveStamp(Clock()));
    reg->writeString(QStringLiteral("ExeName"), executablePath());
    for (TParameter* p : items) {
        if (!reg->hasOpenKey()) return false;
        p->Save();
    }
    return reg->flush();
}

} // namespace kad
