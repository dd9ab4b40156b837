#include "windows/HelpView.h"

HelpView::HelpView(QWidget *parent)
    : QWidget(parent), m_expandedSections{QStringLiteral("capture"), QStringLiteral("editor")}
{
}
