#include "devicetable/columnlayout.h"

#include "devicetable/devicesmodel.h"

#include <QHeaderView>

void applyColumnLayout(QHeaderView* header, const std::vector<ColumnMeta>& columns) {
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (size_t c = 0; c < columns.size(); ++c)
        if (columns[c].width == -1)
            header->setSectionResizeMode(int(c), QHeaderView::Stretch);
    header->setResizeContentsPrecision(0);
}

void applyDeviceColumnLayout(QHeaderView* header) {
    applyColumnLayout(header, DevicesModel::columns());
}
