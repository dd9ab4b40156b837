#pragma once

#include <QString>
#include <optional>

// The interface language chosen in the settings, applied when the program
// starts (a change takes effect at the next start).
namespace InterfaceLanguage {

// The locale name for a stored language code ("pt-BR" -> "pt_BR",
// "zh-Hans" -> "zh_CN"); nothing for a code no locale knows.
std::optional<QString> localeName(const QString &code);

// Makes the stored "preferredLanguage" (or the system's language when none
// is stored) the default locale, and installs the program's translation
// for it when one is built in (":/translations/vorna_<locale>.qm").
// Returns whether a translation was installed. Needs the application object.
bool apply();

} // namespace InterfaceLanguage
