#include "devicetable/selectionmodel.h"

#include "devicetable/columnlayout.h"

#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>
#include <cstring>

namespace {

template <MyString DeviceInfo::*F> MyString* get(DeviceInfo& d) {
    return &(d.*F);
}

std::vector<ColumnMeta> buildColumns() {
    return {
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "ROW_NUM"), 0, false, nullptr},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "DEV_ID"), 0, false, get<&DeviceInfo::devId>},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "DEV_NAME"), 0, false,
         get<&DeviceInfo::devName>},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "BROADCAST_SERVER"), 0, false,
         get<&DeviceInfo::server>},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "BROADCAST_PORT"), 0, false,
         get<&DeviceInfo::port>},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "AI_VOLUME"), 0, false,
         get<&DeviceInfo::aiVolume>},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "AO_VOLUME"), -1, false,
         get<&DeviceInfo::aoVolume>},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "INPUT_DB_UPPER_BOUND"), -1, false,
         get<&DeviceInfo::inputDbUpperBound>},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "OUTPUT_DB_UPPER_BOUND"), -1, false,
         get<&DeviceInfo::outputDbUpperBound>},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "REBOOT_ENABLE"), -1, false,
         get<&DeviceInfo::rebootEnable>},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "REBOOT_AT"), -1, false,
         get<&DeviceInfo::rebootAt>},
        {QT_TRANSLATE_NOOP("DeviceSelectionModel", "NOTICE"), -1, false, get<&DeviceInfo::notice>},
    };
}

// The columns an update may write; every other key only refreshes TIME.
const char* const kStatusColumns[] = {
    "INPUT_DB_UPPER_BOUND",
    "OUTPUT_DB_UPPER_BOUND",
    "AO_VOLUME",
    "AI_VOLUME",
    "REBOOT_ENABLE",
    "REBOOT_AT",
    "NOTICE",
};

bool isStatusColumn(const QString& key) {
    return std::any_of(std::begin(kStatusColumns), std::end(kStatusColumns),
                       [&](const char* k) { return key == QLatin1String(k); });
}

} // namespace

DeviceSelectionModel::DeviceSelectionModel(const QVector<DeviceInfo>& devices, QObject* parent)
    : QAbstractTableModel(parent), rows_(devices.begin(), devices.end()),
      clock_([] { return QDateTime::currentDateTime(); }) {}

DeviceSelectionModel::~DeviceSelectionModel() = default;

const std::vector<ColumnMeta>& DeviceSelectionModel::columns() {
    // Built on first use and kept for the life of the process.
    static const std::vector<ColumnMeta>* table = new std::vector<ColumnMeta>(buildColumns());
    return *table;
}

int DeviceSelectionModel::columnIndex(const QString& key) {
    const auto& cols = columns();
    for (size_t i = 0; i < cols.size(); ++i)
        if (key == QLatin1String(cols[i].name))
            return int(i);
    return -1;
}

void DeviceSelectionModel::setClock(Clock clock) {
    clock_ = std::move(clock);
}

int DeviceSelectionModel::rowCount(const QModelIndex&) const {
    return int(rows_.size());
}

int DeviceSelectionModel::columnCount(const QModelIndex&) const {
    return int(columns().size());
}

bool DeviceSelectionModel::validIndex(const QModelIndex& index) const {
    return index.isValid() && index.row() >= 0 && index.row() < rowCount() && index.column() >= 0 &&
           index.column() < columnCount();
}

QVariant DeviceSelectionModel::data(const QModelIndex& index, int role) const {
    if (!validIndex(index))
        return {};
    if (index.column() == 0) {
        if (role == Qt::DisplayRole)
            return QString::number(index.row() + 1);
        return {};
    }
    const ColumnMeta& meta = columns()[size_t(index.column())];
    const MyString& field = *meta.getter(const_cast<DeviceInfo&>(rows_[size_t(index.row())]));
    switch (role) {
    case Qt::DisplayRole:
        return field.reported.isEmpty() ? tr("(empty)") : field.reported;
    case Qt::FontRole:
        // Nothing here is editable, so nothing is underlined.
        return QFont();
    case Qt::ForegroundRole:
        return QColor(Qt::black);
    default:
        return {};
    }
}

bool DeviceSelectionModel::setData(const QModelIndex& index, const QVariant& value, int) {
    if (!validIndex(index) || index.column() == 0)
        return false;
    columns()[size_t(index.column())].getter(rows_[size_t(index.row())])->current =
        value.toString();
    emit dataChanged(index, index);
    return true;
}

QVariant DeviceSelectionModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount())
        return {};
    return tr(columns()[size_t(section)].name);
}

bool DeviceSelectionModel::insertRows(int, int, const QModelIndex&) {
    return false;
}

bool DeviceSelectionModel::removeRows(int, int, const QModelIndex&) {
    return false;
}

Qt::ItemFlags DeviceSelectionModel::flags(const QModelIndex& index) const {
    if (!validIndex(index))
        return Qt::NoItemFlags;
    return QAbstractTableModel::flags(index);
}

void DeviceSelectionModel::sort(int, Qt::SortOrder) {}

const DeviceInfo* DeviceSelectionModel::deviceAt(int row) const {
    if (row < 0 || row >= rowCount())
        return nullptr;
    return &rows_[size_t(row)];
}

void DeviceSelectionModel::updateDeviceColumnValue(const QString& id, const QString& column,
                                                   const QString& value) {
    auto first = std::find_if(rows_.begin(), rows_.end(),
                              [&](const DeviceInfo& d) { return d.devId.reported == id; });
    if (first == rows_.end())
        return;
    if (isStatusColumn(column))
        columns()[size_t(columnIndex(column))].getter(*first)->setBoth(value);
    const QString now = clock_().toString(QLatin1String(deviceTimeFormat));
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].devId.reported != id)
            continue;
        rows_[i].time.setBoth(now);
        emit dataChanged(index(int(i), 0), index(int(i), columnCount() - 1));
    }
}

void DeviceSelectionModel::showIn(QTableView* view) {
    view->setModel(this);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSortingEnabled(false);
    applyColumnLayout(view->horizontalHeader(), columns());
}
