#include "editor/DiffView.h"

DiffView::DiffView(QWidget *parent) : QWidget(parent)
{
}
