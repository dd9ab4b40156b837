#pragma once

#include "windows/HelpTopic.h"

#include <QList>
#include <QScrollArea>

// The detail column of the help window: the selected topic's page, a column
// of help blocks 16 points apart, padded 32 on every side, that fills the
// column's width and scrolls vertically when it is taller than the window.
class HelpDetailView : public QScrollArea
{
    Q_OBJECT
public:
    explicit HelpDetailView(HelpTopic topic, QWidget *parent = nullptr);

    HelpTopic topic() const { return m_topic; }
    // Shows another topic's page (the page is built afresh).
    void setTopic(HelpTopic topic);

    // The page and its blocks, top to bottom.
    QWidget *page() const { return m_page; }
    QList<QWidget *> blocks() const;

private:
    void buildPage();

    HelpTopic m_topic;
    QWidget *m_page = nullptr;
};
