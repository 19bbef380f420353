#pragma once

// Kadrillo's string table. Code refers to entries by identifier, never to a
// literal text, so the whole English wording lives in texts.inc.

#include <QString>

namespace kad {

enum class TextId : int {
#define KAD_TEXT(id, text) id,
#include "app/texts.inc"
#undef KAD_TEXT
    Count_
};

// The English text of an entry.
QString Text(TextId id);

// The identifier of an entry by its name ("acGrabCaption"), for tests and
// tools; nullopt-like TextId::Count_ when there is none.
TextId TextIdByName(const char* name);

} // namespace kad
