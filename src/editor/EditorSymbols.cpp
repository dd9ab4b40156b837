#include "editor/EditorSymbols.h"

#include "platform/SymbolIcon.h"

// The drawings are compiled into the static library; their registration
// must be pulled in by hand, and before SymbolIcon caches a miss.
static void registerEditorSymbols()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(editorsymbols);
        return true;
    }();
    Q_UNUSED(registered);
}

QIcon editorSymbol(const QString &symbolName)
{
    registerEditorSymbols();
    return SymbolIcon::make(symbolName);
}
