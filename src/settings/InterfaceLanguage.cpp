#include "settings/InterfaceLanguage.h"

#include "platform/Log.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace InterfaceLanguage {

std::optional<QString> localeName(const QString &code)
{
    if (code.trimmed().isEmpty())
        return std::nullopt;
    const QLocale locale(code);
    // QLocale falls back to "C" for a name it does not know.
    if (locale.language() == QLocale::C)
        return std::nullopt;
    return locale.name();
}

bool apply()
{
    const std::optional<QString> code = UserDefaults::standard().stringForKey(QStringLiteral("preferredLanguage"));
    QLocale locale = QLocale::system();
    if (code) {
        if (const auto name = localeName(*code)) {
            locale = QLocale(*code);
            QLocale::setDefault(locale);
        } else {
            vlog(QStringLiteral("[Vorna] unknown interface language \"%1\"; using the system's").arg(*code));
        }
    }
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(locale, QStringLiteral("vorna"), QStringLiteral("_"), QStringLiteral(":/translations"))
        && QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}

} // namespace InterfaceLanguage
