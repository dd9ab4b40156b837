#include "windows/HelpBlocks.h"

#include "platform/Localized.h"
#include "platform/SymbolIcon.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QVBoxLayout>

namespace HelpStyle {

QFont font(const QFont &base, Role role)
{
    QFont f = base;
    const qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    switch (role) {
    case Role::title:
        f.setPointSizeF(size * 1.7);
        f.setBold(true);
        break;
    case Role::title3:
        f.setPointSizeF(size * 1.2);
        f.setBold(true);
        break;
    case Role::headline:
        f.setBold(true);
        break;
    case Role::body:
        break;
    case Role::caption:
        f.setPointSizeF(size * 0.85);
        break;
    }
    return f;
}

QFont monospaced(const QFont &base)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (base.pointSizeF() > 0)
        f.setPointSizeF(base.pointSizeF());
    return f;
}

QColor secondary(const QPalette &palette)
{
    return palette.color(QPalette::PlaceholderText);
}

QColor quaternaryFill(const QPalette &palette)
{
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.08);
    return c;
}

QColor tint(const QPalette &palette)
{
    return palette.color(QPalette::Highlight);
}

QPixmap tintedSymbol(const QString &symbol, int size, const QColor &color, qreal devicePixelRatio)
{
    const QIcon icon = SymbolIcon::make(symbol);
    if (icon.isNull())
        return QPixmap();
    QPixmap pm = icon.pixmap(QSize(size, size), devicePixelRatio);
    if (pm.isNull())
        return pm;
    QPainter p(&pm);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(QRect(QPoint(0, 0), pm.deviceIndependentSize().toSize()), color);
    return pm;
}

} // namespace HelpStyle

using HelpStyle::Role;

namespace {

QLabel *wrappingLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

void useSecondary(QLabel *label)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, HelpStyle::secondary(pal));
    label->setPalette(pal);
}

// The step number on a tinted disc, 22 x 22.
class StepBadge : public QWidget
{
public:
    StepBadge(const QString &text, QWidget *parent) : QWidget(parent), m_text(text) { setFixedSize(22, 22); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(HelpStyle::tint(palette()));
        p.drawEllipse(rect());
        QFont f = HelpStyle::font(font(), Role::caption);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, m_text);
    }

private:
    QString m_text;
};

// A light bulb in yellow, drawn (no theme has a filled one).
class BulbIcon : public QWidget
{
public:
    explicit BulbIcon(QWidget *parent) : QWidget(parent)
    {
        const int h = QFontMetrics(font()).height();
        setFixedSize(h, h);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = std::min(width(), height());
        const QColor yellow(255, 204, 0);
        p.setPen(Qt::NoPen);
        p.setBrush(yellow);
        p.drawEllipse(QRectF(s * 0.18, s * 0.04, s * 0.64, s * 0.64));
        p.drawRect(QRectF(s * 0.36, s * 0.56, s * 0.28, s * 0.2));
        p.setBrush(yellow.darker(130));
        p.drawRoundedRect(QRectF(s * 0.35, s * 0.78, s * 0.3, s * 0.16), s * 0.06, s * 0.06);
    }
};

void fillRounded(QWidget *widget, qreal radius, const QColor &color)
{
    QPainter p(widget);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(widget->rect()), radius, radius);
    p.fillPath(path, color);
}

int defaultPadding(const QWidget *widget)
{
    return widget->style()->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, widget);
}

} // namespace

HelpTitle::HelpTitle(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setFont(HelpStyle::font(font(), Role::title));
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
}

HelpSubtitle::HelpSubtitle(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setFont(HelpStyle::font(font(), Role::title3));
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    setContentsMargins(0, 4, 0, 0);
}

HelpBody::HelpBody(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    useSecondary(this);
}

HelpStep::HelpStep(qint64 number, const QString &text, QWidget *parent) : QWidget(parent), m_number(number)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    m_badge = new StepBadge(localized("%1").arg(number), this);
    m_label = wrappingLabel(text, this);
    useSecondary(m_label);
    row->addWidget(m_badge, 0, Qt::AlignTop);
    row->addWidget(m_label, 1, Qt::AlignTop);
}

QString HelpStep::text() const
{
    return m_label->text();
}

HelpFeature::HelpFeature(const QString &icon, const QString &title, const QString &description, QWidget *parent)
    : QWidget(parent), m_icon(icon)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    m_iconLabel = new QLabel(this);
    m_iconLabel->setFixedSize(24, 24);
    m_iconLabel->setAlignment(Qt::AlignCenter);
    m_iconLabel->setPixmap(HelpStyle::tintedSymbol(icon, 20, HelpStyle::tint(palette()), devicePixelRatioF()));
    row->addWidget(m_iconLabel, 0, Qt::AlignTop);

    auto *column = new QVBoxLayout;
    column->setSpacing(2);
    m_titleLabel = new QLabel(title, this);
    m_titleLabel->setTextFormat(Qt::PlainText);
    m_titleLabel->setFont(HelpStyle::font(font(), Role::headline));
    m_descriptionLabel = wrappingLabel(description, this);
    useSecondary(m_descriptionLabel);
    column->addWidget(m_titleLabel);
    column->addWidget(m_descriptionLabel);
    row->addLayout(column, 1);
}

QString HelpFeature::title() const
{
    return m_titleLabel->text();
}

QString HelpFeature::description() const
{
    return m_descriptionLabel->text();
}

HelpShortcut::HelpShortcut(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setFont(HelpStyle::monospaced(font()));
    setTextFormat(Qt::PlainText);
    setContentsMargins(10, 4, 10, 4);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void HelpShortcut::paintEvent(QPaintEvent *event)
{
    fillRounded(this, 5, HelpStyle::quaternaryFill(palette()));
    QLabel::paintEvent(event);
}

HelpTip::HelpTip(const QString &text, QWidget *parent) : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    const int pad = defaultPadding(this);
    row->setContentsMargins(pad, pad, pad, pad);
    row->setSpacing(10);
    m_label = wrappingLabel(text, this);
    useSecondary(m_label);
    row->addWidget(new BulbIcon(this), 0, Qt::AlignTop);
    row->addWidget(m_label, 1, Qt::AlignTop);
}

QString HelpTip::text() const
{
    return m_label->text();
}

void HelpTip::paintEvent(QPaintEvent *)
{
    QColor yellow(255, 204, 0);
    yellow.setAlphaF(0.08);
    fillRounded(this, 8, yellow);
}

ShortcutHelpRow::ShortcutHelpRow(const QString &shortcut, const QString &action, QWidget *parent) : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_actionLabel = new QLabel(action, this);
    m_actionLabel->setTextFormat(Qt::PlainText);
    m_shortcutLabel = new QLabel(shortcut, this);
    m_shortcutLabel->setTextFormat(Qt::PlainText);
    m_shortcutLabel->setFont(HelpStyle::monospaced(font()));
    useSecondary(m_shortcutLabel);
    row->addWidget(m_actionLabel, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(m_shortcutLabel, 0, Qt::AlignVCenter);
}

QString ShortcutHelpRow::shortcut() const
{
    return m_shortcutLabel->text();
}

QString ShortcutHelpRow::action() const
{
    return m_actionLabel->text();
}

HelpShortcutBox::HelpShortcutBox(const QList<ShortcutHelpRow *> &rows, QWidget *parent) : QWidget(parent), m_rows(rows)
{
    auto *column = new QVBoxLayout(this);
    const int pad = defaultPadding(this);
    column->setContentsMargins(pad, pad, pad, pad);
    column->setSpacing(8);
    for (ShortcutHelpRow *row : rows) {
        row->setParent(this);
        column->addWidget(row);
    }
}

void HelpShortcutBox::paintEvent(QPaintEvent *)
{
    fillRounded(this, 8, HelpStyle::quaternaryFill(palette()));
}
