#include "editor/LayerPanel.h"

#include "editor/EditorSymbols.h"
#include "model/AppState.h"
#include "platform/Localized.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

// One layer: eye, tool symbol, tool name and count. The whole row takes
// the click; hidden rows differ only by the crossed-out eye.
class LayerRow : public QAbstractButton
{
public:
    LayerRow(AnnotationTool tool, qsizetype count, bool hidden, QWidget *parent)
        : QAbstractButton(parent), m_tool(tool), m_count(count), m_hidden(hidden)
    {
        setFixedHeight(28);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
        const QString name = AnnotationTools::displayName(tool);
        setText(name);
        setToolTip(hidden ? localized("Show %@").replace(QLatin1String("%@"), name)
                          : localized("Hide %@").replace(QLatin1String("%@"), name));
        setAccessibleName(name);
        setProperty("count", qlonglong(count));
        setProperty("layerHidden", hidden);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (underMouse() || hasFocus()) {
            QColor hover = palette().color(QPalette::Text);
            hover.setAlpha(hasFocus() ? 36 : 18);
            p.setPen(Qt::NoPen);
            p.setBrush(hover);
            p.drawRoundedRect(QRectF(rect()).adjusted(4, 1, -4, -1), 5, 5);
        }
        const int cy = height() / 2;
        int x = 8;
        const QIcon eye = editorSymbol(m_hidden ? QStringLiteral("eye.slash") : QStringLiteral("eye"));
        eye.paint(&p, QRect(x + 1, cy - 8, 16, 16));
        x += 18 + 6;
        editorSymbol(AnnotationTools::systemImage(m_tool)).paint(&p, QRect(x, cy - 7, 14, 14));
        x += 16 + 6;

        QFont caption = font();
        caption.setPointSizeF(caption.pointSizeF() * 0.92);
        QFont caption2 = font();
        caption2.setPointSizeF(caption2.pointSizeF() * 0.8);
        const QString count = QString::number(m_count);
        const int countWidth = QFontMetrics(caption2).horizontalAdvance(count);
        const int right = width() - 8;
        p.setFont(caption);
        p.setPen(palette().color(QPalette::WindowText));
        const QRect nameRect(x, 0, right - countWidth - 6 - x, height());
        p.drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(caption).elidedText(text(), Qt::ElideRight, nameRect.width()));
        p.setFont(caption2);
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(QRect(right - countWidth, 0, countWidth, height()), Qt::AlignRight | Qt::AlignVCenter, count);
    }

private:
    AnnotationTool m_tool;
    qsizetype m_count;
    bool m_hidden;
};

} // namespace

LayerPanel::LayerPanel(AppState &appState, QWidget *parent) : QWidget(parent), m_appState(appState)
{
    setObjectName(QStringLiteral("LayerPanel"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 10, 0, 0);
    column->setSpacing(4);
    auto *header = new QLabel(localized("Layers"), this);
    QFont bold = header->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 0.92);
    header->setFont(bold);
    header->setContentsMargins(12, 0, 12, 0);
    column->addWidget(header);
    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    column->addWidget(line);

    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto *content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    m_list = new QVBoxLayout(content);
    m_list->setContentsMargins(0, 4, 0, 4);
    m_list->setSpacing(2);
    m_empty = new QLabel(localized("No annotations yet."), content);
    QFont caption = m_empty->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.92);
    m_empty->setFont(caption);
    m_empty->setForegroundRole(QPalette::PlaceholderText);
    m_empty->setContentsMargins(12, 8, 12, 8);
    m_empty->setWordWrap(true);
    m_list->addWidget(m_empty);
    m_list->addStretch(1);
    scroll->setWidget(content);
    column->addWidget(scroll, 1);

    connect(&m_appState, &AppState::changed, this, [this](AppState::Property p) {
        if (p == AppState::Property::annotations || p == AppState::Property::hiddenLayers)
            rebuild();
    });
    rebuild();
}

QList<AnnotationTool> LayerPanel::layerTools(const QList<Annotation> &annotations)
{
    QSet<AnnotationTool> present;
    for (const Annotation &a : annotations)
        present.insert(a.tool);
    QList<AnnotationTool> tools;
    for (AnnotationTool t : AnnotationTools::allCases()) {
        if (present.contains(t))
            tools.append(t);
    }
    return tools;
}

void LayerPanel::toggleLayer(AnnotationTool tool)
{
    QSet<AnnotationTool> hidden = m_appState.hiddenLayers();
    if (hidden.contains(tool))
        hidden.remove(tool);
    else
        hidden.insert(tool);
    m_appState.setHiddenLayers(hidden);
}

void LayerPanel::rebuild()
{
    // Rows are rebuilt on a later turn when the click that toggled them
    // is still being delivered to one of them.
    for (QAbstractButton *row : std::as_const(m_rows)) {
        row->hide();
        row->deleteLater();
    }
    m_rows.clear();
    const QList<Annotation> &annotations = m_appState.annotations();
    m_empty->setVisible(annotations.isEmpty());
    const QSet<AnnotationTool> hidden = m_appState.hiddenLayers();
    int index = 1; // after the empty text
    for (AnnotationTool tool : layerTools(annotations)) {
        const qsizetype count =
            std::count_if(annotations.cbegin(), annotations.cend(), [tool](const Annotation &a) { return a.tool == tool; });
        auto *row = new LayerRow(tool, count, hidden.contains(tool), m_empty->parentWidget());
        connect(row, &QAbstractButton::clicked, this, [this, tool] { toggleLayer(tool); });
        m_list->insertWidget(index++, row);
        m_rows.append(row);
    }
}
