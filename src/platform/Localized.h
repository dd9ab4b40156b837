#pragma once

#include <QString>

// Looks up a user-visible text in the program's string table for the current
// language, with the English text as the key; the English text is the
// fallback. Looked up at each call, never cached.
QString localized(const char *english);
