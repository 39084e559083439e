#include "shell/action_rules.h"

#include "devicetable/devicesmodel.h"

bool isRowModified(const DeviceInfo& d) {
    if (d.proto.isModified())
        return true;
    if (d.proto.current == QLatin1String("static") &&
        (d.address.isModified() || d.netmask.isModified() || d.gateway.isModified()))
        return true;
    if (d.server.isModified() || d.port.isModified() || d.aoVolume.isModified() ||
        d.aiVolume.isModified())
        return true;
    return d.wifiName.isModified() || d.wifiPwd.isModified();
}

ActionEnabling actionEnabling(const QList<const DeviceInfo*>& selected) {
    ActionEnabling e;
    e.anySelected = !selected.isEmpty();
    e.singleSelected = selected.size() == 1;
    for (const DeviceInfo* d : selected)
        if (d && isRowModified(*d))
            e.anyModified = true;
    return e;
}

QString cellCopyText(DevicesModel& model, const QModelIndex& index, int selectedCount) {
    if (!index.isValid())
        return QString();
    const auto& columns = DevicesModel::columns();
    const int column = index.column();
    if (selectedCount == 1 && column >= 0 && size_t(column) < columns.size() &&
        qstrncmp(columns[size_t(column)].name, "ICCID", 5) == 0) {
        if (const DeviceInfo* d = model.deviceAt(index.row()))
            return d->iccid.reported;
    }
    return index.data(Qt::DisplayRole).toString();
}
