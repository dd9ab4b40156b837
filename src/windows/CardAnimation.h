#pragma once

#include <QEasingCurve>
#include <QVariantAnimation>
#include <QWidget>
#include <functional>

// The eased 0..1 fades the capture window's cards use for hover, selection
// and their action rows.
namespace CardAnimation {

// An animation that eases `value` (owned by `card`) over `durationMs`,
// calling `after` (if any) and repainting the card on every step.
inline QVariantAnimation *easing(QWidget *card, qreal &value, int durationMs = 150,
                                 std::function<void()> after = {})
{
    auto *animation = new QVariantAnimation(card);
    animation->setDuration(durationMs);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    QObject::connect(animation, &QVariantAnimation::valueChanged, card, [card, &value, after](const QVariant &v) {
        value = v.toReal();
        if (after)
            after();
        card->update();
    });
    return animation;
}

// Restarts `animation` from where the value stands now towards `to`.
inline void runTo(QVariantAnimation *animation, qreal from, qreal to)
{
    animation->stop();
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->start();
}

} // namespace CardAnimation
