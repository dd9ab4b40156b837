#pragma once

#include <QIcon>
#include <QString>

// The icon of a symbol name used by the editor's views ("arrow.up.right",
// "eye.slash", ...). The editor's own drawings are registered before the
// first look-up; other names fall through to SymbolIcon's rules.
QIcon editorSymbol(const QString &symbolName);
