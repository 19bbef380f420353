#include "system/texts.h"

#include <array>
#include <cstring>
#include <mutex>
#include <optional>

namespace kad {

namespace {

struct Entry {
    const char* name;
    const char* text;
};

constexpr std::array<Entry, static_cast<int>(TextId::Count_)> kTable{{
#define KAD_TEXT(id, text) {#id, text},
#include "system/texts.inc"
#undef KAD_TEXT
}};

using Replacements = std::array<std::optional<QString>, kTable.size()>;

// Replacements are rare (start-up, tests) and reads are cheap, so one lock
// is enough to let the still writer's thread read while the GUI thread sets.
std::mutex& replacementsLock()
{
    static std::mutex m;
    return m;
}

Replacements& replacements()
{
    static Replacements r;
    return r;
}

} // namespace

QString Text(TextId id)
{
    const auto i = static_cast<std::size_t>(id);
    if (i >= kTable.size()) return {};
    {
        const std::lock_guard<std::mutex> guard(replacementsLock());
        if (const auto& r = replacements()[i]) return *r;
    }
    return QString::fromUtf8(kTable[i].text);
}

void SetText(TextId id, const QString& text)
{
    const auto i = static_cast<std::size_t>(id);
    if (i >= kTable.size()) return;
    const std::lock_guard<std::mutex> guard(replacementsLock());
    replacements()[i] = text;
}

void ResetTexts()
{
    const std::lock_guard<std::mutex> guard(replacementsLock());
    for (auto& r : replacements())
        r.reset();
}

TextId TextIdByName(const char* name)
{
    for (std::size_t i = 0; i < kTable.size(); ++i) {
        if (std::strcmp(kTable[i].name, name) == 0) return static_cast<TextId>(i);
    }
    return TextId::Count_;
}

} // namespace kad
