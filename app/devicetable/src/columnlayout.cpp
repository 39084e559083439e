#include "devicetable/columnlayout.h"

#include "devicetable/devicesmodel.h"

#include <QHeaderView>

void applyDeviceColumnLayout(QHeaderView* header) {
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    const auto& cols = DevicesModel::columns();
    for (size_t c = 0; c < cols.size(); ++c)
        if (cols[c].width == -1)
            header->setSectionResizeMode(int(c), QHeaderView::Stretch);
    header->setResizeContentsPrecision(0);
}
