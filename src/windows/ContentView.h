#pragma once

#include <QWidget>

class AppState;

// The main window's sidebar destinations.
enum class ContentTab { capture, history };

// The root view of the main window, on the shared AppState.
class ContentView : public QWidget
{
    Q_OBJECT
public:
    explicit ContentView(AppState &appState, ContentTab selectedTab = ContentTab::capture, QWidget *parent = nullptr);

    AppState &appState() const { return m_appState; }
    ContentTab selectedTab() const { return m_selectedTab; }

private:
    AppState &m_appState;
    ContentTab m_selectedTab;
};
