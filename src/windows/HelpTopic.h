#pragma once

#include <QList>
#include <QString>

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

// One row of the help window's sidebar.
struct HelpSidebarRow
{
    HelpTopic topic;
    const char *title;  // English; shown through localized()
    const char *symbol; // symbol name, never translated
};

// One group of sidebar rows; the first group has no header.
struct HelpSidebarSection
{
    const char *header; // English, or nullptr for no header
    QList<HelpSidebarRow> rows;
};

// The sidebar's four groups and eleven rows, in order.
const QList<HelpSidebarSection> &helpSidebarSections();
