#pragma once

#include "model/HistoryItem.h"

#include <QWidget>
#include <memory>

class AppState;
class QMenu;
class QPainter;
class QVariantAnimation;

// One recent capture on the Quick Capture page: its picture 80 points high
// (the width follows the picture), opened in an editor on a click, with a
// context menu to open, copy, save as, show the saved file, and delete.
class RecentThumbnailCard : public QWidget
{
    Q_OBJECT
public:
    static constexpr int thumbnailHeight = 80;

    RecentThumbnailCard(const HistoryItem &item, AppState &appState, QWidget *parent = nullptr);

    const HistoryItem &item() const { return m_item; }
    // Shows another entry (the strip hands its cards on after a capture).
    void setItem(const HistoryItem &item);
    bool isHovered() const { return m_isHovered; }
    // Whether the picture failed to load (a placeholder is drawn).
    bool showsPlaceholder() const;

    // The context menu as it is built when it opens: "Show in File Manager" only
    // while the saved file exists. The menu has no parent; its actions work
    // on a copy of the entry, also after this card is gone.
    std::unique_ptr<QMenu> buildMenu();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    qreal aspect() const;
    QSize thumbnailBounds() const;
    void setHovered(bool hovered);
    // The card as it looks now, on any painter of its size; state is the
    // picture's ThumbnailCache::State.
    void paintCard(QPainter &p, const QImage &picture, int state) const;

    HistoryItem m_item;
    AppState &m_appState;
    QSizeF m_pictureSize; // points
    bool m_isHovered = false;
    bool m_pressed = false;
    qreal m_hover = 0;
    QVariantAnimation *m_hoverAnimation = nullptr;
};
