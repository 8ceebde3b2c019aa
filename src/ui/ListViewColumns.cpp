#include "ui/ListViewColumns.h"

#include <QHeaderView>
#include <QTreeWidget>

void ApplyColumnWidths(QTreeWidget* listView) {
    const QStringList widths = listView->property("columnWidths").toString().split(u',', Qt::SkipEmptyParts);
    for (int column = 0; column < widths.size(); ++column) {
        listView->header()->resizeSection(column, widths[column].trimmed().toInt());
    }
}
