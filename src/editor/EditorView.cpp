#include "editor/EditorView.h"

#include "model/AppState.h"

EditorView::EditorView(AppState &appState, QWidget *parent) : QWidget(parent), m_appState(appState)
{
}

void EditorView::dismiss()
{
    if (QWidget *w = window(); w && w != this)
        w->close();
}
