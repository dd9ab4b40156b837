#include "platform/Localized.h"

#include <QCoreApplication>

QString localized(const char *english)
{
    return QCoreApplication::translate("Vorna", english);
}
