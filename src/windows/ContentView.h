#pragma once

#include <QWidget>

class AppState;
class HistoryView;
class QListWidget;
class QPushButton;
class QScrollArea;
class QToolButton;
class QuickCaptureView;

// The main window's sidebar destinations.
enum class ContentTab { capture, history };

// The root view of the main window: a sidebar ("Quick Capture", "History"
// and a "Settings…" button at its foot) and the chosen page, with a settings
// button in the page's tool bar. The History page is built afresh each time
// it is chosen and dropped when another page is.
class ContentView : public QWidget
{
    Q_OBJECT
public:
    explicit ContentView(AppState &appState, ContentTab selectedTab = ContentTab::capture, QWidget *parent = nullptr);

    AppState &appState() const { return m_appState; }
    ContentTab selectedTab() const { return m_selectedTab; }
    void setSelectedTab(ContentTab tab);

    QListWidget *sidebar() const { return m_sidebar; }
    QPushButton *settingsButton() const { return m_settingsButton; }
    QToolButton *toolbarSettingsButton() const { return m_toolbarSettings; }
    // The pages; the History page exists only while it is chosen.
    QuickCaptureView *quickCaptureView() const { return m_quickCapture; }
    HistoryView *historyView() const { return m_history; }

private:
    void showPage();
    void selectRowOfPage();

    AppState &m_appState;
    ContentTab m_selectedTab;
    QListWidget *m_sidebar = nullptr;
    QPushButton *m_settingsButton = nullptr;
    QToolButton *m_toolbarSettings = nullptr;
    QWidget *m_detail = nullptr;
    QScrollArea *m_quickCaptureScroll = nullptr;
    QuickCaptureView *m_quickCapture = nullptr;
    HistoryView *m_history = nullptr;
};
