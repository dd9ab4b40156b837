#include "model/AnnotationTool.h"

#include "platform/Localized.h"

namespace {
struct ToolInfo
{
    AnnotationTool tool;
    const char *raw;
    const char *name;
    const char *symbol;
};

constexpr ToolInfo kTools[] = {
    {AnnotationTool::select, "select", "Select", "cursorarrow"},
    {AnnotationTool::arrow, "arrow", "Arrow", "arrow.up.right"},
    {AnnotationTool::line, "line", "Line", "line.diagonal"},
    {AnnotationTool::rectangle, "rectangle", "Rectangle", "rectangle"},
    {AnnotationTool::ellipse, "ellipse", "Ellipse", "circle"},
    {AnnotationTool::freehand, "freehand", "Freehand", "pencil.tip"},
    {AnnotationTool::text, "text", "Text", "textformat"},
    {AnnotationTool::highlight, "highlight", "Highlight", "highlighter"},
    {AnnotationTool::blur, "blur", "Blur", "aqi.medium"},
    {AnnotationTool::numbering, "numbering", "Number", "number.circle"},
    {AnnotationTool::crop, "crop", "Crop", "crop"},
};

const ToolInfo &info(AnnotationTool tool)
{
    return kTools[static_cast<int>(tool)];
}
} // namespace

QString AnnotationTools::rawValue(AnnotationTool tool)
{
    return QString::fromLatin1(info(tool).raw);
}

std::optional<AnnotationTool> AnnotationTools::fromRawValue(const QString &text)
{
    for (const ToolInfo &t : kTools)
        if (text == QLatin1String(t.raw))
            return t.tool;
    return std::nullopt;
}

QList<AnnotationTool> AnnotationTools::allCases()
{
    QList<AnnotationTool> out;
    for (const ToolInfo &t : kTools)
        out.append(t.tool);
    return out;
}

QString AnnotationTools::displayName(AnnotationTool tool)
{
    return localized(info(tool).name);
}

QString AnnotationTools::systemImage(AnnotationTool tool)
{
    return QString::fromLatin1(info(tool).symbol);
}
