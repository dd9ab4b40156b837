#pragma once

#include <QSet>
#include <QString>
#include <QWidget>

// The help topics, in the order the help window lists them.
enum class HelpTopic {
    gettingStarted,
    captureFullscreen,
    captureWindow,
    captureRegion,
    captureScrolling,
    captureTimed,
    annotationTools,
    beautifier,
    shortcuts,
    formats,
    tips,
};

// The root view of the help window. It reads no shared model; it starts on
// Getting Started with an empty search text and the "capture" and "editor"
// sections expanded.
class HelpView : public QWidget
{
    Q_OBJECT
public:
    explicit HelpView(QWidget *parent = nullptr);

    HelpTopic selectedTopic() const { return m_selectedTopic; }
    QString searchText() const { return m_searchText; }
    QSet<QString> expandedSections() const { return m_expandedSections; }

private:
    QString m_searchText;
    QSet<QString> m_expandedSections;
    HelpTopic m_selectedTopic = HelpTopic::gettingStarted;
};
