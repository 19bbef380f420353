#include "app/texts.h"

#include <array>
#include <cstring>

namespace kad {

namespace {

struct Entry {
    const char* name;
    const char* text;
};

constexpr std::array<Entry, static_cast<int>(TextId::Count_)> kTable{{
#define KAD_TEXT(id, text) {#id, text},
#include "app/texts.inc"
#undef KAD_TEXT
}};

} // namespace

QString Text(TextId id)
{
    const auto i = static_cast<std::size_t>(id);
    if (i >= kTable.size()) return {};
    return QString::fromUtf8(kTable[i].text);
}

TextId TextIdByName(const char* name)
{
    for (std::size_t i = 0; i < kTable.size(); ++i) {
        if (std::strcmp(kTable[i].name, name) == 0) return static_cast<TextId>(i);
    }
    return TextId::Count_;
}

} // namespace kad
