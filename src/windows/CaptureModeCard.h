#pragma once

#include "model/CaptureMode.h"

#include <QAbstractButton>
#include <functional>

class AppState;
class QVariantAnimation;

// One large tile of the Quick Capture page: the capture mode's symbol, its
// name and a chip with its global shortcut ("—" when none). Clicking it runs
// the action. The chip is read when the card is shown and again on every
// change of the shortcuts ("VornaHotKeysChanged").
class CaptureModeCard : public QAbstractButton
{
    Q_OBJECT
public:
    CaptureModeCard(CaptureMode mode, AppState &appState, std::function<void()> action, QWidget *parent = nullptr);

    CaptureMode mode() const { return m_mode; }
    bool isHovered() const { return m_isHovered; }
    // The glyph form of the mode's shortcut; empty when it has none.
    QString shortcutText() const { return m_shortcutText; }
    // The text the chip shows.
    QString chipText() const;

    // The symbol of each mode on its card.
    static QString symbolName(CaptureMode mode);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return false; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void refreshShortcut();
    void setHovered(bool hovered);

    CaptureMode m_mode;
    AppState &m_appState;
    std::function<void()> m_action;
    bool m_isHovered = false;
    qreal m_hover = 0; // 0..1, follows m_isHovered with an animation
    QVariantAnimation *m_hoverAnimation = nullptr;
    QString m_shortcutText;
};
