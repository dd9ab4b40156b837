#pragma once

#include <QImage>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <optional>

class QScreen;
class RegionSelectionNSView;

// The borderless overlay that covers one screen while a region is selected:
// above every other window, outside the window manager's control. Its only
// content is a RegionSelectionNSView.
class RegionSelectionWindow : public QWidget
{
    Q_OBJECT
public:
    using OnComplete = std::function<void(std::optional<QRectF>)>;

    // snapshot: the picture of this screen (may be null); onComplete gets the
    // selection in global points, top-left origin at the primary screen.
    RegionSelectionWindow(QScreen *screen, const QImage &snapshot, OnComplete onComplete);
    ~RegionSelectionWindow() override;

    RegionSelectionNSView *contentView() const { return m_view; }

    // Shows the overlay in front and gives it the keyboard.
    void makeKeyAndOrderFront();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    RegionSelectionNSView *m_view = nullptr;
};
