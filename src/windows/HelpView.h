#pragma once

#include "windows/HelpTopic.h"

#include <QWidget>

class QListWidget;
class QListWidgetItem;
class HelpDetailView;

// The root view of the help window: a sidebar of eleven topics in four
// groups (the first without a header) beside the selected topic's page. It
// reads no shared model. Exactly one topic is always selected: headers
// cannot be selected and a selection cannot be emptied. It starts on
// Getting Started; the window keeps the view, so the topic stays chosen
// across closing and reopening.
class HelpView : public QWidget
{
    Q_OBJECT
public:
    explicit HelpView(QWidget *parent = nullptr);

    HelpTopic selectedTopic() const { return m_selectedTopic; }
    void setSelectedTopic(HelpTopic topic);

    QListWidget *sidebar() const { return m_sidebar; }
    HelpDetailView *detail() const { return m_detail; }
    // The sidebar row of a topic.
    QListWidgetItem *rowOf(HelpTopic topic) const;

    // The colour the group headers are drawn in: the text colour, muted
    // towards the sidebar's background as far as it stays easy to read.
    static QColor headerColor(const QPalette &palette);

signals:
    void selectedTopicChanged(HelpTopic topic);

protected:
    void changeEvent(QEvent *event) override;

private:
    void selectionChanged();
    // The sidebar's background and its headers' colour, from the palette.
    void applySidebarColors();

    HelpTopic m_selectedTopic = HelpTopic::gettingStarted;
    QListWidget *m_sidebar = nullptr;
    HelpDetailView *m_detail = nullptr;
};
