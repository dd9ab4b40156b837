#pragma once

#include "model/HistoryItem.h"

#include <QDateTime>
#include <QWidget>
#include <functional>

class QGraphicsOpacityEffect;
class QToolButton;
class QVariantAnimation;

// One capture on the history page: its picture (120 points high), the
// capture mode and how long ago it was taken, and, while hovered or
// selected, a row of actions (select, edit, copy, reveal when it was saved,
// delete). It holds no state of its own: the page sets whether it is
// hovered and selected, and reports the pointer entering and leaving.
class HistoryCard : public QWidget
{
    Q_OBJECT
public:
    struct Actions
    {
        std::function<void()> onOpen, onCopy, onDelete, onReveal, onToggleSelect;
        std::function<void(bool entered)> onHover;
    };

    static constexpr int thumbnailHeight = 120;
    static constexpr int padding = 10;

    HistoryCard(const HistoryItem &item, Actions actions, QWidget *parent = nullptr);

    const HistoryItem &item() const { return m_item; }
    bool isHovered() const { return m_isHovered; }
    bool isSelected() const { return m_isSelected; }
    void setHovered(bool hovered);
    void setSelected(bool selected);

    // The action row (created the first time it shows), or nothing.
    QWidget *actionBar() const { return m_actionBar; }
    // A button of the action row by its symbol ("pencil", "trash", ...), or nothing.
    QToolButton *actionButton(const QString &symbol) const;
    // The second line, as shown at now.
    QString relativeTimeText(const QDateTime &now = QDateTime::currentDateTime()) const;
    // Whether the picture failed to load (a placeholder is drawn).
    bool showsPlaceholder() const;

    // The picture's size in device pixels at most.
    static QSize thumbnailBounds(qreal devicePixelRatio);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void updateActionBar();
    void placeActionBar();
    QRect thumbnailRect() const;
    int infoTop() const;

    HistoryItem m_item;
    Actions m_actions;
    bool m_isHovered = false;
    bool m_isSelected = false;
    QWidget *m_actionBar = nullptr;
    QToolButton *m_selectButton = nullptr;
    QGraphicsOpacityEffect *m_barOpacity = nullptr;
    // 0..1 each, easing towards the states over 0.15 s.
    qreal m_hover = 0;
    qreal m_select = 0;
    qreal m_bar = 0;
    QVariantAnimation *m_hoverAnimation = nullptr;
    QVariantAnimation *m_selectAnimation = nullptr;
    QVariantAnimation *m_barAnimation = nullptr;
};

// Elapsed time in words ("Just now", "5 minutes ago", "2 hours ago",
// "3 days ago").
QString elapsedTimeText(const QDateTime &date, const QDateTime &now);
