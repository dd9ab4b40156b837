#include "windows/QuickCaptureView.h"

#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/SymbolIcon.h"
#include "windows/AdaptiveGridLayout.h"
#include "windows/CaptureModeCard.h"
#include "windows/RecentThumbnailCard.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kContentWidth = 600;

// A page region as wide as the page but no wider than kContentWidth, centred.
QWidget *capped(QWidget *content)
{
    content->setMaximumWidth(kContentWidth);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(content->sizePolicy().hasHeightForWidth());
    content->setSizePolicy(policy);
    return content;
}

// The recent strip scrolls only sideways, and takes an ordinary (vertical)
// wheel for that; a wheel that cannot move it goes on to the page.
class SidewaysScrollArea : public QScrollArea
{
protected:
    void wheelEvent(QWheelEvent *event) override
    {
        // Whichever way the wheel turned, it moves the strip along:
        // turning down (or right) shows later captures.
        const auto along = [](QPoint d) { return std::abs(d.x()) > std::abs(d.y()) ? d.x() : d.y(); };
        const int distance = event->pixelDelta().isNull()
                                 ? along(event->angleDelta()) * QApplication::wheelScrollLines()
                                       * horizontalScrollBar()->singleStep() / 120
                                 : along(event->pixelDelta());
        QScrollBar *bar = horizontalScrollBar();
        const int before = bar->value();
        bar->setValue(before - distance);
        event->setAccepted(bar->value() != before);
    }
};

// The symbol in one colour (the accent), keeping its shape and edges.
QPixmap tinted(const QIcon &icon, int size, const QColor &color)
{
    QPixmap pixmap = icon.pixmap(QSize(size, size), qApp->devicePixelRatio());
    QPainter p(&pixmap);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(QRect(QPoint(), pixmap.size()), color);
    return pixmap;
}

QLayout *centred(QWidget *content)
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    // The content takes the width first, up to its maximum.
    row->addWidget(content, 1000);
    row->addStretch(1);
    return row;
}

} // namespace

QuickCaptureView::QuickCaptureView(AppState &appState, QWidget *parent) : QWidget(parent), m_appState(appState)
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(32, 32, 32, 32);
    outer->setSpacing(32);

    // Header.
    auto *header = new QVBoxLayout;
    header->setSpacing(8);
    auto *symbol = new QLabel;
    symbol->setObjectName(QStringLiteral("QuickCaptureSymbol"));
    symbol->setPixmap(tinted(SymbolIcon::make(QStringLiteral("camera.viewfinder")), 48,
                             symbol->palette().color(QPalette::Highlight)));
    symbol->setAlignment(Qt::AlignCenter);
    auto *title = new QLabel(localized("Vorna"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 2.1);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->setAlignment(Qt::AlignCenter);
    auto *tagline = new QLabel(localized("Capture, annotate, beautify, share."));
    tagline->setForegroundRole(QPalette::PlaceholderText);
    tagline->setAlignment(Qt::AlignCenter);
    header->addWidget(symbol);
    header->addWidget(title);
    header->addWidget(tagline);
    outer->addLayout(header);

    // One card per capture mode.
    auto *gridHost = new QWidget;
    auto *grid = new AdaptiveGridLayout(140, 180, 16, 16, gridHost);
    capped(gridHost);
    for (CaptureMode mode : CaptureModes::allCases()) {
        auto *card = new CaptureModeCard(mode, appState, [mode] {
            NotificationCenter::instance().post(NotificationNames::initCapture,
                                                {{QStringLiteral("mode"), QVariant::fromValue(mode)}});
        });
        grid->addWidget(card);
        m_cards.append(card);
    }
    outer->addLayout(centred(gridHost));

    // Recent captures.
    m_recentSection = capped(new QWidget);
    m_recentSection->setObjectName(QStringLiteral("RecentSection"));
    auto *recent = new QVBoxLayout(m_recentSection);
    recent->setContentsMargins(0, 0, 0, 0);
    recent->setSpacing(8);
    auto *recentTitle = new QLabel(localized("Recent"));
    QFont headline = recentTitle->font();
    headline.setBold(true);
    recentTitle->setFont(headline);
    recent->addWidget(recentTitle);
    m_recentScroll = new SidewaysScrollArea;
    m_recentScroll->setFrameShape(QFrame::NoFrame);
    m_recentScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_recentScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_recentScroll->setWidgetResizable(true);
    m_recentScroll->setFixedHeight(RecentThumbnailCard::thumbnailHeight + 16);
    m_recentScroll->viewport()->setAutoFillBackground(false);
    recent->addWidget(m_recentScroll);
    // Its place is kept while there is nothing to show, so that the first
    // capture does not move the cards above or bring in a scroll bar.
    QSizePolicy keepPlace = m_recentSection->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_recentSection->setSizePolicy(keepPlace);
    outer->addLayout(centred(m_recentSection));
    outer->addStretch(1);

    rebuildRecent();
    connect(&appState, &AppState::changed, this, [this](AppState::Property property) {
        if (property == AppState::Property::history)
            rebuildRecent();
    });
}

QList<RecentThumbnailCard *> QuickCaptureView::recentCards() const
{
    QList<RecentThumbnailCard *> cards;
    if (!m_recentStrip)
        return cards;
    auto *layout = m_recentStrip->layout();
    for (int i = 0; i < layout->count(); ++i)
        if (auto *card = qobject_cast<RecentThumbnailCard *>(layout->itemAt(i)->widget()))
            cards.append(card);
    return cards;
}

void QuickCaptureView::rebuildRecent()
{
    const QList<HistoryItem> &history = m_appState.history();
    const qsizetype wanted = std::min<qsizetype>(history.size(), recentCount);
    m_recentSection->setVisible(wanted > 0);
    if (wanted == 0) {
        if (m_recentStrip) {
            // Deleted later: a card's own menu action may be running this.
            m_recentScroll->takeWidget()->deleteLater();
            m_recentStrip = nullptr;
        }
        return;
    }
    const bool fresh = !m_recentStrip;
    if (fresh) {
        m_recentStrip = new QWidget;
        m_recentStrip->setAutoFillBackground(false);
        auto *row = new QHBoxLayout(m_recentStrip);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(12);
        row->addStretch(1);
    }
    // The cards on screen take the newest entries in turn, so that a
    // capture shows no new widget once the strip is full (showing one asks
    // the X server where the pointer is); only a strip still filling up
    // gets a card, and a shrinking one loses its last.
    auto *row = static_cast<QHBoxLayout *>(m_recentStrip->layout());
    const QList<RecentThumbnailCard *> cards = recentCards();
    for (qsizetype i = wanted; i < cards.size(); ++i) {
        row->removeWidget(cards[i]);
        cards[i]->hide();
        cards[i]->deleteLater(); // its own menu action may be running this
    }
    for (qsizetype i = 0; i < wanted; ++i) {
        if (i < cards.size()) {
            cards[i]->setItem(history.at(i));
            continue;
        }
        auto *card = new RecentThumbnailCard(history.at(i), m_appState);
        row->insertWidget(int(i), card, 0, Qt::AlignVCenter);
        if (!fresh)
            card->show();
    }
    if (fresh) {
        m_recentScroll->setWidget(m_recentStrip); // shows it with its cards
        return;
    }
    // The strip's new size and the cards' places now, as a new strip gets
    // them when it is put in.
    row->activate();
    QEvent layout(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(m_recentScroll, &layout);
    m_recentScroll->horizontalScrollBar()->setValue(0); // the newest in view
}
