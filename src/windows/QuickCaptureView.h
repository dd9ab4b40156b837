#pragma once

#include <QList>
#include <QWidget>

class AppState;
class CaptureModeCard;
class QHBoxLayout;
class RecentThumbnailCard;
class QScrollArea;

// The Quick Capture page: the program's name and tagline, one card per
// capture mode and, while there is any history, a strip of the six newest
// captures, rebuilt on every change of the history.
class QuickCaptureView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int recentCount = 6;

    explicit QuickCaptureView(AppState &appState, QWidget *parent = nullptr);

    QList<CaptureModeCard *> modeCards() const { return m_cards; }
    // The thumbnails of the strip, left to right (empty without history).
    QList<RecentThumbnailCard *> recentCards() const;
    // The "Recent" section (hidden without history).
    QWidget *recentSection() const { return m_recentSection; }

private:
    void rebuildRecent();

    AppState &m_appState;
    QList<CaptureModeCard *> m_cards;
    QWidget *m_recentSection = nullptr;
    QScrollArea *m_recentScroll = nullptr;
    QWidget *m_recentStrip = nullptr;
};
