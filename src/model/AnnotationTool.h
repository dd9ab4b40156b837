#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>

// The tools of the annotation editor, in their fixed order.
enum class AnnotationTool { select, arrow, line, rectangle, ellipse, freehand, text, highlight, blur, numbering, crop };

namespace AnnotationTools {
QString rawValue(AnnotationTool tool);
std::optional<AnnotationTool> fromRawValue(const QString &text);
QList<AnnotationTool> allCases();
QString displayName(AnnotationTool tool);
// The symbol name of the tool's icon ("arrow.up.right", ...).
QString systemImage(AnnotationTool tool);
} // namespace AnnotationTools

inline size_t qHash(AnnotationTool t, size_t seed = 0) { return ::qHash(static_cast<int>(t), seed); }

Q_DECLARE_METATYPE(AnnotationTool)
