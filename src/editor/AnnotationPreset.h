#pragma once

#include "model/AnnotationTool.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

// A named combination of tool, colour, line width and font size that the
// tool bar's presets menu applies in one step. The list lives in the user
// defaults under "annotationPresets.v1" as a JSON array of objects with the
// keys "id", "name", "tool", "colorHex", "lineWidth" and "fontSize".
struct AnnotationPreset
{
    static constexpr const char *defaultsKey = "annotationPresets.v1";
    // Sizes beyond this (points) are not a width or font size anyone means.
    static constexpr double largestSize = 1000;

    QUuid id = QUuid::createUuid();
    QString name;
    AnnotationTool tool = AnnotationTool::arrow;
    QString colorHex;
    double lineWidth = 3;
    double fontSize = 18;

    bool operator==(const AnnotationPreset &) const = default;

    // "Red Arrow", "Yellow Highlight", "Numbered Step": made once per run,
    // with ids that stay the same for the rest of the run.
    static QList<AnnotationPreset> defaults();

    // The stored list; the built-ins when nothing is stored, the stored
    // value is not readable JSON array, or none of its elements is a
    // preset. Elements that are not presets are skipped. Never writes.
    static QList<AnnotationPreset> load();
    // Stores the whole list, replacing what was stored.
    static void save(const QList<AnnotationPreset> &presets);

    // The presets in stored bytes, element by element: elements that lack
    // a key, have a value of the wrong type, an unknown tool, an invalid id
    // or a size that is not a finite number in (0, largestSize] are
    // skipped. Nothing (not an empty list) when the bytes are not a JSON
    // array. Pure; takes any bytes.
    static std::optional<QList<AnnotationPreset>> decode(const QByteArray &bytes);
    // The compact JSON array of the list (ids in upper case, "/" escaped).
    static QByteArray encode(const QList<AnnotationPreset> &presets);
};

// An opaque sRGB colour from "#RRGGBB" (blanks around it and the "#" are
// optional, digits in either case); nothing for any other text.
std::optional<QColor> colorFromHex(const QString &text);
// "#RRGGBB" in upper case for the colour's sRGB components (alpha dropped);
// "#000000" for a colour that has no sRGB form.
QString hexString(const QColor &color);
