#pragma once

#include <QMainWindow>
#include <QSize>
#include <QString>

// A window of the program hosting one root view. Closing it only hides it;
// the program keeps it and shows the same window, with its view's state,
// the next time.
class AppWindow : public QMainWindow
{
    Q_OBJECT
public:
    AppWindow(const QString &title, const QSize &contentSize, QWidget *parent = nullptr);

    void setRootView(QWidget *view);
    QWidget *rootView() const { return centralWidget(); }

    // Centres the window on the screen it is on (the primary screen at first).
    void center();
    // Shows the window, raises it and gives it the keyboard focus.
    void makeKeyAndOrderFront();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Grows the window by what a menu bar takes, so that the root view gets
    // the content size, keeping the window's centre.
    void fitContent();

    QSize m_contentSize;
    bool m_fitted = false;
};
