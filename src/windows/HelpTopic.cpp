#include "windows/HelpTopic.h"

#include <QCoreApplication>

const QList<HelpSidebarSection> &helpSidebarSections()
{
    static const QList<HelpSidebarSection> sections{
        {nullptr,
         {
             {HelpTopic::gettingStarted, QT_TRANSLATE_NOOP("Vorna", "Getting Started"), "star"},
         }},
        {QT_TRANSLATE_NOOP("Vorna", "Features"),
         {
             {HelpTopic::captureFullscreen, QT_TRANSLATE_NOOP("Vorna", "Full Screen Capture"), "rectangle.dashed"},
             {HelpTopic::captureWindow, QT_TRANSLATE_NOOP("Vorna", "Window Capture"), "macwindow"},
             {HelpTopic::captureRegion, QT_TRANSLATE_NOOP("Vorna", "Region Capture"), "rectangle.dashed.badge.record"},
             {HelpTopic::captureScrolling, QT_TRANSLATE_NOOP("Vorna", "Scrolling Capture"), "scroll"},
             {HelpTopic::captureTimed, QT_TRANSLATE_NOOP("Vorna", "Timed Capture"), "timer"},
         }},
        {QT_TRANSLATE_NOOP("Vorna", "Editor"),
         {
             {HelpTopic::annotationTools, QT_TRANSLATE_NOOP("Vorna", "Annotation Tools"), "pencil.tip.crop.circle"},
             {HelpTopic::beautifier, QT_TRANSLATE_NOOP("Vorna", "Beautifier"), "sparkles"},
         }},
        {QT_TRANSLATE_NOOP("Vorna", "Other"),
         {
             {HelpTopic::shortcuts, QT_TRANSLATE_NOOP("Vorna", "Keyboard Shortcuts"), "keyboard"},
             {HelpTopic::formats, QT_TRANSLATE_NOOP("Vorna", "Image Formats"), "photo"},
             {HelpTopic::tips, QT_TRANSLATE_NOOP("Vorna", "Tips & Tricks"), "lightbulb"},
         }},
    };
    return sections;
}
