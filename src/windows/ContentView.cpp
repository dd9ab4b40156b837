#include "windows/ContentView.h"

#include "model/AppState.h"

ContentView::ContentView(AppState &appState, ContentTab selectedTab, QWidget *parent)
    : QWidget(parent), m_appState(appState), m_selectedTab(selectedTab)
{
}
