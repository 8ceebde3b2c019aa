#pragma once

class QTreeWidget;

// Designer forms cannot store per-column widths, so list views carry them in a "columnWidths" property
// ("130,50,100,60"); this applies it.
void ApplyColumnWidths(QTreeWidget* listView);
