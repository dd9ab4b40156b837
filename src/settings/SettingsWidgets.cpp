#include "settings/SettingsWidgets.h"

#include "platform/AppPaths.h"
#include "platform/Localized.h"
#include "platform/SymbolIcon.h"

#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

// The settings window's own drawings live in the static library and must
// be registered by hand (outside any namespace).
static void registerSettingsSymbols()
{
    Q_INIT_RESOURCE(settings_symbols);
}

namespace SettingsWidgets {

void ensureSymbols()
{
    static const bool registered = [] {
        registerSettingsSymbols();
        return true;
    }();
    Q_UNUSED(registered);
}

QLabel *caption(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() * 0.85);
    label->setFont(f);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QToolButton *iconButton(const QString &symbol, const QString &tooltip, QWidget *parent)
{
    ensureSymbols();
    auto *button = new QToolButton(parent);
    const QIcon icon = SymbolIcon::make(symbol);
    if (icon.isNull())
        button->setText(tooltip.left(1));
    else
        button->setIcon(icon);
    button->setAutoRaise(true);
    button->setToolTip(tooltip);
    button->setAccessibleName(tooltip);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QVBoxLayout *section(QVBoxLayout *form, const QString &header, const QString &footer)
{
    auto *box = new QGroupBox(header);
    auto *layout = new QVBoxLayout(box);
    layout->setSpacing(6);
    form->addWidget(box);
    if (!footer.isEmpty()) {
        QLabel *note = caption(footer);
        note->setContentsMargins(8, 0, 8, 6);
        form->addWidget(note);
    }
    return layout;
}

QString abbreviateHome(const QString &path)
{
    const QString home = QDir::cleanPath(AppPaths::home());
    if (home.isEmpty() || home == QLatin1String("/"))
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + u'/'))
        return QStringLiteral("~") + path.mid(home.size());
    return path;
}

} // namespace SettingsWidgets

ValueStepper::ValueStepper(qint64 minimum, qint64 maximum, qint64 step, Formatter format, QWidget *parent)
    : QWidget(parent), m_minimum(minimum), m_maximum(maximum), m_step(step), m_format(std::move(format))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_label = new QLabel(this);
    m_down = new QToolButton(this);
    m_up = new QToolButton(this);
    m_down->setText(QStringLiteral("−"));
    m_up->setText(QStringLiteral("+"));
    m_down->setToolTip(localized("Decrease"));
    m_up->setToolTip(localized("Increase"));
    m_down->setAccessibleName(localized("Decrease"));
    m_up->setAccessibleName(localized("Increase"));
    m_down->setAutoRepeat(true);
    m_up->setAutoRepeat(true);
    row->addWidget(m_label);
    row->addSpacing(6);
    row->addWidget(m_down);
    row->addWidget(m_up);
    row->addStretch(1);
    setFocusPolicy(Qt::TabFocus);
    connect(m_down, &QToolButton::clicked, this, &ValueStepper::stepDown);
    connect(m_up, &QToolButton::clicked, this, &ValueStepper::stepUp);
    refresh();
}

void ValueStepper::setValue(qint64 value)
{
    m_value = value;
    refresh();
}

QString ValueStepper::text() const
{
    return m_label->text();
}

qint64 ValueStepper::steppedUp() const
{
    const qint64 next = m_value > m_maximum - m_step ? m_maximum : m_value + m_step;
    return std::clamp(next, m_minimum, m_maximum);
}

qint64 ValueStepper::steppedDown() const
{
    const qint64 next = m_value < m_minimum + m_step ? m_minimum : m_value - m_step;
    return std::clamp(next, m_minimum, m_maximum);
}

void ValueStepper::stepUp()
{
    if (m_value >= m_maximum)
        return;
    m_value = steppedUp();
    refresh();
    emit valueChosen(m_value);
}

void ValueStepper::stepDown()
{
    if (m_value <= m_minimum)
        return;
    m_value = steppedDown();
    refresh();
    emit valueChosen(m_value);
}

void ValueStepper::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Plus)
        stepUp();
    else if (event->key() == Qt::Key_Down || event->key() == Qt::Key_Minus)
        stepDown();
    else
        QWidget::keyPressEvent(event);
}

void ValueStepper::refresh()
{
    m_label->setText(m_format(m_value));
    m_up->setEnabled(m_value < m_maximum);
    m_down->setEnabled(m_value > m_minimum);
}

void MiddleElidedLabel::setFullText(const QString &text)
{
    m_full = text;
    setToolTip(text);
    elide();
}

void MiddleElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void MiddleElidedLabel::elide()
{
    setText(fontMetrics().elidedText(m_full, Qt::ElideMiddle, std::max(width(), 40)));
}
