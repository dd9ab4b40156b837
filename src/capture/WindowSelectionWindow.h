#pragma once

#include "platform/ScreenCapture.h"

#include <QImage>
#include <QList>
#include <QWidget>
#include <functional>

class QScreen;
class WindowSelectionNSView;

// The borderless overlay that covers one screen while a window is picked:
// above every other window, outside the window manager's control. Its only
// content is a WindowSelectionNSView.
class WindowSelectionWindow : public QWidget
{
    Q_OBJECT
public:
    using OnSelect = std::function<void(const ShareableWindow &)>;
    using OnCancel = std::function<void()>;

    // snapshot: the picture of this screen, painted as the background when
    // no compositing manager lets the screen show through (may be null).
    WindowSelectionWindow(QScreen *screen, const QList<ShareableWindow> &capturables, const QImage &snapshot,
                          OnSelect onSelect, OnCancel onCancel, std::function<void()> beep);
    ~WindowSelectionWindow() override;

    WindowSelectionNSView *contentView() const { return m_view; }

    // Shows the overlay in front.
    void makeKeyAndOrderFront();
    // Gives the overlay's view the keyboard.
    void makeFirstResponder();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    WindowSelectionNSView *m_view = nullptr;
};
