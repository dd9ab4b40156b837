#include "windows/CaptureModeCard.h"

#include "model/AppState.h"
#include "model/CaptureShortcut.h"
#include "model/NotificationNames.h"
#include "platform/NotificationCenter.h"
#include "platform/SymbolIcon.h"
#include "windows/CardAnimation.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

namespace {

constexpr int kSymbolFrame = 32;
constexpr int kSymbolSize = 26;
constexpr int kSpacing = 10;
constexpr int kVerticalPadding = 20;
constexpr int kCornerRadius = 12;

QColor mixed(const QColor &a, const QColor &b, qreal t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t),
                            float(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

QFont headlineFont(const QFont &base)
{
    QFont f = base;
    f.setBold(true);
    return f;
}

QFont chipFont(const QFont &base)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPointSizeF(std::max(7.0, base.pointSizeF() - 2));
    return f;
}

} // namespace

CaptureModeCard::CaptureModeCard(CaptureMode mode, AppState &appState, std::function<void()> action, QWidget *parent)
    : QAbstractButton(parent), m_mode(mode), m_appState(appState), m_action(std::move(action))
{
    setObjectName(QStringLiteral("CaptureModeCard.") + CaptureModes::rawValue(mode));
    setAccessibleName(CaptureModes::displayName(mode));
    setText(CaptureModes::displayName(mode));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_action)
            m_action();
    });

    m_hoverAnimation = CardAnimation::easing(this, m_hover, 150);

    NotificationCenter::instance().addObserver(NotificationNames::hotKeysChanged, this,
                                               [this](const auto &) { refreshShortcut(); });
}

QString CaptureModeCard::symbolName(CaptureMode mode)
{
    switch (mode) {
    case CaptureMode::fullscreen:
        return QStringLiteral("rectangle.dashed");
    case CaptureMode::window:
        return QStringLiteral("macwindow");
    case CaptureMode::region:
        return QStringLiteral("rectangle.dashed.badge.record");
    case CaptureMode::scrolling:
        return QStringLiteral("scroll");
    case CaptureMode::timed:
        return QStringLiteral("timer");
    }
    return {};
}

QString CaptureModeCard::chipText() const
{
    return m_shortcutText.isEmpty() ? QStringLiteral("—") : m_shortcutText;
}

void CaptureModeCard::refreshShortcut()
{
    const HotKeyBinding binding = AppState::hotKeyBinding(CaptureShortcuts::fromMode(m_mode));
    const QString text = binding.isUnbound() ? QString() : binding.displayString();
    if (text == m_shortcutText)
        return;
    m_shortcutText = text;
    setToolTip(CaptureModes::displayName(m_mode) + (text.isEmpty() ? QString() : QStringLiteral(" (") + text + u')'));
    updateGeometry();
    update();
}

void CaptureModeCard::showEvent(QShowEvent *event)
{
    refreshShortcut();
    QAbstractButton::showEvent(event);
}

void CaptureModeCard::setHovered(bool hovered)
{
    if (hovered == m_isHovered)
        return;
    m_isHovered = hovered;
    CardAnimation::runTo(m_hoverAnimation, m_hover, hovered ? 1.0 : 0.0);
}

void CaptureModeCard::enterEvent(QEnterEvent *event)
{
    setHovered(true);
    QAbstractButton::enterEvent(event);
}

void CaptureModeCard::leaveEvent(QEvent *event)
{
    setHovered(false);
    QAbstractButton::leaveEvent(event);
}

QSize CaptureModeCard::sizeHint() const
{
    const QFontMetrics name(headlineFont(font()));
    const QFontMetrics chip(chipFont(font()));
    const int height = kVerticalPadding + kSymbolFrame + kSpacing + name.height() + kSpacing + chip.height() + 4
                       + kVerticalPadding;
    return QSize(160, height);
}

QSize CaptureModeCard::minimumSizeHint() const
{
    return QSize(120, sizeHint().height());
}

void CaptureModeCard::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette &pal = palette();
    const QColor accent = pal.color(QPalette::Highlight);
    QColor accentFill = accent;
    accentFill.setAlphaF(0.1f);
    QColor separator = pal.color(QPalette::WindowText);
    separator.setAlphaF(0.15f);
    const qreal t = isDown() ? 1.0 : m_hover;

    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(card, kCornerRadius, kCornerRadius);
    p.fillPath(shape, pal.color(QPalette::Base));
    if (t > 0)
        p.fillPath(shape, QColor(accentFill.red(), accentFill.green(), accentFill.blue(), int(accentFill.alpha() * t)));
    // Keyboard focus draws the accent ring, like the history cards'.
    p.setPen(hasFocus() ? QPen(accent, 2) : QPen(mixed(separator, accent, t), 1));
    p.drawPath(shape);

    int y = kVerticalPadding;
    const QIcon icon = SymbolIcon::make(symbolName(m_mode));
    icon.paint(&p, QRect((width() - kSymbolSize) / 2, y + (kSymbolFrame - kSymbolSize) / 2, kSymbolSize, kSymbolSize));
    y += kSymbolFrame + kSpacing;

    const QFont nameFont = headlineFont(font());
    const QFontMetrics nameMetrics(nameFont);
    p.setFont(nameFont);
    p.setPen(pal.color(QPalette::WindowText));
    p.drawText(QRect(4, y, width() - 8, nameMetrics.height()), Qt::AlignCenter,
               nameMetrics.elidedText(CaptureModes::displayName(m_mode), Qt::ElideRight, width() - 8));
    y += nameMetrics.height() + kSpacing;

    const QFont cf = chipFont(font());
    const QFontMetrics chipMetrics(cf);
    const QString chip = chipText();
    const QRectF chipRect((width() - chipMetrics.horizontalAdvance(chip) - 12) / 2.0, y,
                          chipMetrics.horizontalAdvance(chip) + 12, chipMetrics.height() + 4);
    QColor chipFill = pal.color(QPalette::WindowText);
    chipFill.setAlphaF(0.08f);
    QPainterPath chipShape;
    chipShape.addRoundedRect(chipRect, 3, 3);
    p.fillPath(chipShape, chipFill);
    p.setFont(cf);
    p.setPen(pal.color(QPalette::PlaceholderText));
    p.drawText(chipRect, Qt::AlignCenter, chip);
}
