#include "editor/AnnotationToolbar.h"

#include "editor/EditorSymbols.h"
#include "editor/PresetsMenu.h"
#include "model/AppState.h"
#include "platform/Localized.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QColorDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QToolButton>

#include <cmath>
#include <limits>

namespace {

// A round colour sample; a white ring (with a thin dark rim, so a white
// sample on a light bar still reads) marks the current colour.
class Swatch : public QAbstractButton
{
public:
    Swatch(const QColor &color, QWidget *parent) : QAbstractButton(parent), m_color(color)
    {
        setFixedSize(22, 28);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setProperty("marked", false);
    }
    QColor color() const { return m_color; }
    void setMarked(bool marked)
    {
        if (marked == m_marked)
            return;
        m_marked = marked;
        setProperty("marked", marked);
        update();
    }
    bool isMarked() const { return m_marked; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF disc(QPointF(width() / 2.0 - 9, height() / 2.0 - 9), QSizeF(18, 18));
        p.setPen(QPen(QColor(0, 0, 0, 60), 0.8));
        p.setBrush(m_color);
        p.drawEllipse(disc);
        if (m_marked) {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(Qt::white, 2));
            p.drawEllipse(disc);
            p.setPen(QPen(QColor(0, 0, 0, 90), 1));
            p.drawEllipse(disc.adjusted(-1.5, -1.5, 1.5, 1.5));
        }
        if (hasFocus()) {
            p.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(disc.adjusted(-2.5, -2.5, 2.5, 2.5));
        }
    }

private:
    QColor m_color;
    bool m_marked = false;
};

// The colour well: a chip of the well's colour; a click opens the colour
// dialog.
class ColorWell : public QToolButton
{
public:
    explicit ColorWell(QWidget *parent) : QToolButton(parent)
    {
        setFixedSize(28, 28);
        setAutoRaise(true);
        setCursor(Qt::PointingHandCursor);
    }
    void setColor(const QColor &c)
    {
        m_color = c;
        update();
    }

protected:
    void paintEvent(QPaintEvent *e) override
    {
        QToolButton::paintEvent(e); // hover and focus feedback
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF chip = QRectF(rect()).adjusted(4, 6, -4, -6);
        // A thin rainbow rim says "pick any colour".
        QConicalGradient rim(chip.center(), 90);
        const QColor hues[] = {Qt::red, Qt::yellow, Qt::green, Qt::cyan, Qt::blue, Qt::magenta, Qt::red};
        for (int i = 0; i < 7; ++i)
            rim.setColorAt(i / 6.0, hues[i]);
        p.setPen(Qt::NoPen);
        p.setBrush(rim);
        p.drawRoundedRect(chip, 4, 4);
        p.setBrush(m_color);
        p.setPen(QPen(Qt::white, 1));
        p.drawRoundedRect(chip.adjusted(2, 2, -2, -2), 2.5, 2.5);
    }

private:
    QColor m_color;
};

QToolButton *iconButton(const QString &symbol, QWidget *parent)
{
    auto *b = new QToolButton(parent);
    b->setIcon(editorSymbol(symbol));
    b->setIconSize(QSize(18, 18));
    b->setFixedSize(30, 28);
    b->setAutoRaise(true);
    return b;
}

QLabel *symbolLabel(const QString &symbol, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setPixmap(editorSymbol(symbol).pixmap(QSize(13, 13), parent->devicePixelRatioF()));
    return l;
}

QLabel *numberLabel(int width, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setFixedWidth(width);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * 0.85);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setFont(f);
    return l;
}

} // namespace

QList<QColor> AnnotationToolbar::palette()
{
    return {QColor(255, 59, 48), QColor(255, 149, 0), QColor(255, 204, 0), QColor(40, 205, 65),
            QColor(0, 122, 255), QColor(175, 82, 222), QColor(255, 255, 255), QColor(0, 0, 0)};
}

QString AnnotationToolbar::sizeLabel(double value)
{
    const double t = std::trunc(value);
    if (!std::isfinite(t) || t < -9.2e18 || t > 9.2e18)
        return QStringLiteral("–");
    return localized("%lld").replace(QLatin1String("%lld"), QString::number(qint64(t)));
}

AnnotationToolbar::AnnotationToolbar(AppState &appState, QWidget *parent)
    : QWidget(parent), m_appState(appState), m_wellColor(255, 59, 48)
{
    setObjectName(QStringLiteral("AnnotationToolbar"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(4);

    // Tools: a rounded square of the accent colour marks the chosen one.
    const QColor accent = QWidget::palette().color(QPalette::Highlight);
    const QString toolStyle =
        QStringLiteral("QToolButton { border: none; border-radius: 6px; background: transparent; }"
                       "QToolButton:hover { background: rgba(128, 128, 128, 40); }"
                       "QToolButton:checked { background: rgba(%1, %2, %3, 51); }")
            .arg(accent.red())
            .arg(accent.green())
            .arg(accent.blue());
    m_toolGroup = new QButtonGroup(this);
    m_toolGroup->setExclusive(true);
    for (AnnotationTool tool : AnnotationTools::allCases()) {
        auto *b = new QToolButton(this);
        b->setIcon(editorSymbol(AnnotationTools::systemImage(tool)));
        b->setIconSize(QSize(18, 18));
        b->setFixedSize(28, 28);
        b->setCheckable(true);
        b->setToolTip(AnnotationTools::displayName(tool));
        b->setAccessibleName(AnnotationTools::displayName(tool));
        b->setStyleSheet(toolStyle);
        m_toolGroup->addButton(b);
        m_toolButtons.insert(tool, b);
        row->addWidget(b);
        connect(b, &QToolButton::clicked, this, [this, tool] { m_appState.setCurrentTool(tool); });
    }
    row->addWidget(separator());

    // The colour well and the palette.
    auto *well = new ColorWell(this);
    well->setToolTip(localized("Color"));
    well->setAccessibleName(localized("Color"));
    well->setColor(m_wellColor);
    m_well = well;
    connect(well, &QToolButton::clicked, this, &AnnotationToolbar::chooseWellColor);
    row->addWidget(well);
    auto *swatchRow = new QHBoxLayout;
    swatchRow->setSpacing(2);
    for (const QColor &color : palette()) {
        auto *s = new Swatch(color, this);
        s->setToolTip(color.name(QColor::HexRgb).toUpper());
        s->setAccessibleName(color.name(QColor::HexRgb).toUpper());
        m_swatches.append(s);
        swatchRow->addWidget(s);
        connect(s, &QAbstractButton::clicked, this, [this, color] {
            m_appState.setCurrentColor(color);
            setWellColor(color);
            // The well's own change writes the colour once more (same value).
            m_appState.setCurrentColor(color);
        });
    }
    row->addLayout(swatchRow);
    row->addWidget(separator());

    // Line width 1...12.
    auto *widthGroup = new QWidget(this);
    auto *widthRow = new QHBoxLayout(widthGroup);
    widthRow->setContentsMargins(0, 0, 0, 0);
    widthRow->setSpacing(4);
    widthRow->addWidget(symbolLabel(QStringLiteral("line.diagonal"), widthGroup));
    m_lineWidth = new QSlider(Qt::Horizontal, widthGroup);
    m_lineWidth->setRange(1, 12);
    m_lineWidth->setSingleStep(1);
    m_lineWidth->setPageStep(1);
    m_lineWidth->setFixedWidth(60);
    m_lineWidth->setToolTip(localized("Line Width"));
    m_lineWidth->setAccessibleName(localized("Line Width"));
    widthRow->addWidget(m_lineWidth);
    m_lineWidthLabel = numberLabel(16, widthGroup);
    widthRow->addWidget(m_lineWidthLabel);
    row->addWidget(widthGroup);
    connect(m_lineWidth, &QSlider::valueChanged, this, [this](int v) { m_appState.setCurrentLineWidth(v); });

    // Font size 10...72 in steps of 2, only for the text tool.
    m_fontSeparator = separator();
    row->addWidget(m_fontSeparator);
    m_fontGroup = new QWidget(this);
    auto *fontRow = new QHBoxLayout(m_fontGroup);
    fontRow->setContentsMargins(0, 0, 0, 0);
    fontRow->setSpacing(4);
    fontRow->addWidget(symbolLabel(QStringLiteral("textformat.size"), m_fontGroup));
    m_fontSize = new QSlider(Qt::Horizontal, m_fontGroup);
    m_fontSize->setRange(5, 36); // halves of the size
    m_fontSize->setSingleStep(1);
    m_fontSize->setPageStep(1);
    m_fontSize->setFixedWidth(60);
    m_fontSize->setToolTip(localized("Font Size"));
    m_fontSize->setAccessibleName(localized("Font Size"));
    fontRow->addWidget(m_fontSize);
    m_fontSizeLabel = numberLabel(24, m_fontGroup);
    fontRow->addWidget(m_fontSizeLabel);
    row->addWidget(m_fontGroup);
    connect(m_fontSize, &QSlider::valueChanged, this, [this](int v) { m_appState.setCurrentFontSize(v * 2.0); });

    row->addWidget(separator());
    m_presets = new PresetsMenu(m_appState, this);
    row->addWidget(m_presets);
    row->addStretch(1);

    m_undo = iconButton(QStringLiteral("arrow.uturn.backward"), this);
    m_undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_undo->setAccessibleName(localized("Undo"));
    m_undo->setToolTip(localized("Undo (Ctrl+Z)"));
    m_redo = iconButton(QStringLiteral("arrow.uturn.forward"), this);
    m_redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    m_redo->setAccessibleName(localized("Redo"));
    m_redo->setToolTip(localized("Redo (Ctrl+Shift+Z)"));
    m_clear = iconButton(QStringLiteral("trash"), this);
    m_clear->setAccessibleName(localized("Clear"));
    m_clear->setToolTip(localized("Remove All Annotations"));
    row->addWidget(m_undo);
    row->addWidget(m_redo);
    row->addWidget(m_clear);
    m_undo->setEnabled(false);
    m_redo->setEnabled(false);
    connect(m_undo, &QToolButton::clicked, this, &AnnotationToolbar::undoRequested);
    connect(m_redo, &QToolButton::clicked, this, &AnnotationToolbar::redoRequested);
    connect(m_clear, &QToolButton::clicked, this, &AnnotationToolbar::clearRequested);

    connect(&m_appState, &AppState::changed, this, [this](AppState::Property p) {
        switch (p) {
        case AppState::Property::currentTool:
        case AppState::Property::currentColor:
        case AppState::Property::currentLineWidth:
        case AppState::Property::currentFontSize:
            sync();
            break;
        default:
            break;
        }
    });
    sync();
}

QFrame *AnnotationToolbar::separator()
{
    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(24);
    line->setForegroundRole(QPalette::Mid);
    line->setContentsMargins(4, 0, 4, 0);
    line->setFixedWidth(9);
    m_separators.append(line);
    return line;
}

int AnnotationToolbar::visibleSeparatorCount() const
{
    int n = 0;
    for (QFrame *f : m_separators)
        n += f->isVisibleTo(this) ? 1 : 0;
    return n;
}

QAbstractButton *AnnotationToolbar::colorWell() const
{
    return m_well;
}

void AnnotationToolbar::setCanUndo(bool can)
{
    m_undo->setEnabled(can);
}

void AnnotationToolbar::setCanRedo(bool can)
{
    m_redo->setEnabled(can);
}

void AnnotationToolbar::setWellColor(const QColor &color)
{
    const bool changed = color != m_wellColor;
    m_wellColor = color;
    static_cast<ColorWell *>(m_well)->setColor(color);
    if (changed)
        m_appState.setCurrentColor(color);
}

void AnnotationToolbar::chooseWellColor()
{
    auto *dialog = new QColorDialog(m_wellColor, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QColorDialog::ShowAlphaChannel, false);
    dialog->setWindowTitle(localized("Colors"));
    connect(dialog, &QColorDialog::colorSelected, this, [this](const QColor &c) { setWellColor(c); });
    dialog->open();
}

void AnnotationToolbar::sync()
{
    const AnnotationTool tool = m_appState.currentTool();
    if (QAbstractButton *b = m_toolButtons.value(tool))
        b->setChecked(true);
    const QColor current = m_appState.currentColor();
    for (QAbstractButton *s : std::as_const(m_swatches))
        static_cast<Swatch *>(s)->setMarked(static_cast<Swatch *>(s)->color() == current);

    // The sliders show the value without writing it back: a width of 2.5
    // from a preset stays 2.5.
    const double width = m_appState.currentLineWidth();
    const double size = m_appState.currentFontSize();
    {
        const QSignalBlocker block(m_lineWidth);
        m_lineWidth->setValue(std::isfinite(width) ? int(std::clamp(width, 1.0, 12.0)) : 1);
    }
    {
        const QSignalBlocker block(m_fontSize);
        m_fontSize->setValue(std::isfinite(size) ? int(std::clamp(size, 10.0, 72.0) / 2) : 5);
    }
    m_lineWidthLabel->setText(sizeLabel(width));
    m_fontSizeLabel->setText(sizeLabel(size));

    const bool text = tool == AnnotationTool::text;
    m_fontSeparator->setVisible(text);
    m_fontGroup->setVisible(text);
}
