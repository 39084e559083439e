#include "devicetable/devicesmodel.h"

#include <QColor>
#include <QFont>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

template <MyString DeviceInfo::*F> MyString* get(DeviceInfo& d) {
    return &(d.*F);
}

std::vector<ColumnMeta> buildColumns() {
    return {
        {QT_TRANSLATE_NOOP("DevicesModel", "ROW_NUM"), 0, false, nullptr},
        {QT_TRANSLATE_NOOP("DevicesModel", "DEV_ID"), 0, false, get<&DeviceInfo::devId>},
        {QT_TRANSLATE_NOOP("DevicesModel", "HW_ADDR"), 0, false, get<&DeviceInfo::hwAddr>},
        {QT_TRANSLATE_NOOP("DevicesModel", "DEV_SERIAL"), 0, false, get<&DeviceInfo::devSerial>},
        {QT_TRANSLATE_NOOP("DevicesModel", "DEV_NAME"), 0, true, get<&DeviceInfo::devName>},
        {QT_TRANSLATE_NOOP("DevicesModel", "AV"), 0, false, get<&DeviceInfo::av>},
        {QT_TRANSLATE_NOOP("DevicesModel", "PELZO版本"), 0, false, get<&DeviceInfo::vv>},
        {QT_TRANSLATE_NOOP("DevicesModel", "ICCID"), -1, false, get<&DeviceInfo::iccid>},
        {QT_TRANSLATE_NOOP("DevicesModel", "BOOT_SOUND"), 0, true, get<&DeviceInfo::bootSound>},
        {QT_TRANSLATE_NOOP("DevicesModel", "PROTO"), 0, true, get<&DeviceInfo::proto>},
        {QT_TRANSLATE_NOOP("DevicesModel", "ADDRESS"), 0, true, get<&DeviceInfo::address>},
        {QT_TRANSLATE_NOOP("DevicesModel", "NETMASK"), 0, true, get<&DeviceInfo::netmask>},
        {QT_TRANSLATE_NOOP("DevicesModel", "GATEWAY"), 0, true, get<&DeviceInfo::gateway>},
        {QT_TRANSLATE_NOOP("DevicesModel", "SERVER"), 0, true, get<&DeviceInfo::server>},
        {QT_TRANSLATE_NOOP("DevicesModel", "PORT"), 0, true, get<&DeviceInfo::port>},
        {QT_TRANSLATE_NOOP("DevicesModel", "AO_VOLUME"), 0, true, get<&DeviceInfo::aoVolume>},
        {QT_TRANSLATE_NOOP("DevicesModel", "AI_VOLUME"), 0, true, get<&DeviceInfo::aiVolume>},
        {QT_TRANSLATE_NOOP("DevicesModel", "WIFI_NAME"), 0, true, get<&DeviceInfo::wifiName>},
        {QT_TRANSLATE_NOOP("DevicesModel", "WIFI_PWD"), 0, true, get<&DeviceInfo::wifiPwd>},
        {QT_TRANSLATE_NOOP("DevicesModel", "TIME"), 0, false, get<&DeviceInfo::time>},
        {QT_TRANSLATE_NOOP("DevicesModel", "INPUT_DB_UPPER_BOUND"), -1, true,
         get<&DeviceInfo::inputDbUpperBound>},
        {QT_TRANSLATE_NOOP("DevicesModel", "OUTPUT_DB_UPPER_BOUND"), -1, true,
         get<&DeviceInfo::outputDbUpperBound>},
        {QT_TRANSLATE_NOOP("DevicesModel", "REBOOT_ENABLE"), -1, true,
         get<&DeviceInfo::rebootEnable>},
        {QT_TRANSLATE_NOOP("DevicesModel", "REBOOT_AT"), -1, true, get<&DeviceInfo::rebootAt>},
        {QT_TRANSLATE_NOOP("DevicesModel", "NOTICE"), -1, false, get<&DeviceInfo::notice>},
    };
}

// Column positions the model's own rules refer to.
enum : int {
    colProto = 9,
    colAddress = 10,
    colNetmask = 11,
    colGateway = 12,
    colServer = 13,
    colInputDb = 20,
    colOutputDb = 21,
};

bool keyStartsWith(const char* key, const char* prefix) {
    return std::strncmp(key, prefix, std::strlen(prefix)) == 0;
}

bool isIpv4Column(int column) {
    return column == colNetmask || column == colAddress || column == colGateway ||
           column == colServer;
}

// strtol over the text, clamped into [lo, hi]; no digits reads as 0.
QString clampedDecimal(const QVariant& value, long lo, long hi) {
    const QByteArray text = value.toString().toUtf8();
    errno = 0;
    long n = std::strtol(text.constData(), nullptr, 10);
    n = std::max(lo, std::min(hi, n));
    return QString::number(n);
}

const MyString& fieldOf(const DeviceInfo& device, int column) {
    return *DevicesModel::columns()[column].getter(const_cast<DeviceInfo&>(device));
}

// Sorting works on keys computed once per row (addresses parsed once, not at
// every comparison).
template <typename KeyOf> struct KeyedOrder {
    KeyOf keyOf;
    bool ascending;
    using Key = decltype(std::declval<KeyOf>()(std::declval<const DeviceInfo&>()));

    bool less(const Key& a, const Key& b) const { return ascending ? a < b : b < a; }

    void sort(std::vector<DeviceInfo>& rows) const {
        std::vector<std::pair<Key, size_t>> order;
        order.reserve(rows.size());
        for (size_t i = 0; i < rows.size(); ++i)
            order.emplace_back(keyOf(rows[i]), i);
        std::sort(order.begin(), order.end(),
                  [this](const auto& a, const auto& b) { return less(a.first, b.first); });
        std::vector<DeviceInfo> sorted;
        sorted.reserve(rows.size());
        for (const auto& o : order)
            sorted.push_back(std::move(rows[o.second]));
        rows.swap(sorted);
    }

    // Places new rows among sorted ones exactly as inserting them one by one at
    // the lower bound would: among equal rows the latest arrival comes first,
    // ahead of the rows already there.
    void merge(std::vector<DeviceInfo>& rows, std::vector<DeviceInfo>& fresh) const {
        std::vector<std::pair<Key, size_t>> order;
        order.reserve(fresh.size());
        for (size_t i = fresh.size(); i-- > 0;)
            order.emplace_back(keyOf(fresh[i]), i);
        std::stable_sort(order.begin(), order.end(),
                         [this](const auto& a, const auto& b) { return less(a.first, b.first); });
        std::vector<DeviceInfo> merged;
        merged.reserve(rows.size() + fresh.size());
        size_t r = 0;
        for (const auto& o : order) {
            while (r < rows.size() && less(keyOf(rows[r]), o.first))
                merged.push_back(std::move(rows[r++]));
            merged.push_back(std::move(fresh[o.second]));
        }
        while (r < rows.size())
            merged.push_back(std::move(rows[r++]));
        rows.swap(merged);
    }
};

template <typename KeyOf> KeyedOrder<KeyOf> keyedOrder(KeyOf keyOf, bool ascending) {
    return KeyedOrder<KeyOf>{keyOf, ascending};
}

// Runs `f` with the keyed order of a column: numbers for addresses, text otherwise.
template <typename F> void withOrder(int column, Qt::SortOrder order, F f) {
    const bool ascending = order == Qt::AscendingOrder;
    if (isIpv4Column(column))
        f(keyedOrder(
            [column](const DeviceInfo& d) {
                return DevicesModel::ipv4Value(fieldOf(d, column).current);
            },
            ascending));
    else
        f(keyedOrder([column](const DeviceInfo& d) { return fieldOf(d, column).current; },
                     ascending));
}

} // namespace

DevicesModel::DevicesModel(QObject* parent)
    : QAbstractTableModel(parent), clock_([] { return QDateTime::currentDateTime(); }) {}

DevicesModel::~DevicesModel() = default;

const std::vector<ColumnMeta>& DevicesModel::columns() {
    // Built on first use and kept for the life of the process.
    static const std::vector<ColumnMeta>* table = new std::vector<ColumnMeta>(buildColumns());
    return *table;
}

int DevicesModel::columnIndex(const QString& key) {
    const auto& cols = columns();
    for (size_t i = 0; i < cols.size(); ++i) {
        if (key == QLatin1String(cols[i].name) || key == QString::fromUtf8(cols[i].name))
            return int(i);
    }
    return -1;
}

quint32 DevicesModel::ipv4Value(const QString& text) {
    quint32 result = 0;
    int parts = 0;
    int digits = 0;
    quint32 octet = 0;
    for (QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (++digits > 3)
                return 0;
            octet = octet * 10 + quint32(c.unicode() - '0');
            if (octet > 255)
                return 0;
        } else if (c == QLatin1Char('.')) {
            if (digits == 0 || ++parts > 3)
                return 0;
            result = (result << 8) | octet;
            digits = 0;
            octet = 0;
        } else {
            return 0;
        }
    }
    if (parts != 3 || digits == 0)
        return 0;
    return (result << 8) | octet;
}

bool DevicesModel::lessThan(int column, const QString& a, const QString& b) {
    if (isIpv4Column(column))
        return ipv4Value(a) < ipv4Value(b);
    return a < b;
}

bool DevicesModel::isLocked(const DeviceInfo& device, int column) {
    return (column == colAddress || column == colNetmask || column == colGateway) &&
           device.proto.current == QLatin1String("dhcp");
}

void DevicesModel::mergeInto(DeviceInfo& row, const DeviceInfo& device) {
    for (MyString DeviceInfo::*f : {&DeviceInfo::proto, &DeviceInfo::address, &DeviceInfo::netmask,
                                    &DeviceInfo::gateway, &DeviceInfo::server, &DeviceInfo::port})
        (row.*f).reported = (device.*f).reported;
    for (MyString DeviceInfo::*f : {&DeviceInfo::time, &DeviceInfo::wifiName, &DeviceInfo::wifiPwd,
                                    &DeviceInfo::notice, &DeviceInfo::iccid})
        (row.*f).setBoth((device.*f).reported);
}

void DevicesModel::setClock(Clock clock) {
    clock_ = std::move(clock);
}

int DevicesModel::rowCount(const QModelIndex&) const {
    return int(rows_.size());
}

int DevicesModel::columnCount(const QModelIndex&) const {
    return int(columns().size());
}

bool DevicesModel::validIndex(const QModelIndex& index) const {
    return index.isValid() && index.row() >= 0 && index.row() < rowCount() && index.column() >= 0 &&
           index.column() < columnCount();
}

QVariant DevicesModel::data(const QModelIndex& index, int role) const {
    if (!validIndex(index))
        return {};
    const int column = index.column();
    if (column == 0) {
        if (role == Qt::DisplayRole)
            return QStringLiteral("%1").arg(index.row() + 1);
        return {};
    }
    const ColumnMeta& meta = columns()[column];
    const DeviceInfo& device = rows_[size_t(index.row())];
    const bool locked = isLocked(device, column);
    const MyString& field = fieldOf(device, column);

    switch (role) {
    case Qt::EditRole:
        if (meta.editable && !locked)
            return field.current;
        return {};
    case Qt::DisplayRole: {
        QString text = locked ? field.reported : field.current;
        if (text.isEmpty())
            text = tr("(empty)");
        if (keyStartsWith(meta.name, "ICCID") && device.iccid.reported.size() >= 8)
            text = text.right(8);
        return text;
    }
    case Qt::FontRole: {
        QFont font;
        font.setUnderline(meta.editable && !locked);
        return font;
    }
    case Qt::ForegroundRole:
        if (device.pppdModuleRecognition.reported == QLatin1String("1") &&
            (keyStartsWith(meta.name, "DEV_ID") || keyStartsWith(meta.name, "HW_ADDR") ||
             keyStartsWith(meta.name, "ICCID")))
            return QColor(Qt::red);
        if (!meta.editable)
            return QColor(Qt::black);
        if (locked)
            return QColor(32, 32, 32, 255);
        if (field.isModified())
            return QColor(Qt::red);
        return QColor(Qt::black);
    default:
        return {};
    }
}

bool DevicesModel::setData(const QModelIndex& index, const QVariant& value, int) {
    if (!validIndex(index) || index.column() == 0)
        return false;
    const int column = index.column();
    QString text;
    if (column == colInputDb)
        text = clampedDecimal(value, 7, 21);
    else if (column == colOutputDb)
        text = clampedDecimal(value, -30, 15);
    else
        text = value.toString();

    const ColumnMeta& meta = columns()[column];
    DeviceInfo& device = rows_[size_t(index.row())];
    meta.getter(device)->current = text;
    emit dataChanged(index, index);
    emit deviceEdited(&device, &meta);
    return true;
}

QVariant DevicesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount())
        return {};
    return tr(columns()[size_t(section)].name);
}

bool DevicesModel::insertRows(int, int, const QModelIndex&) {
    return false;
}

bool DevicesModel::removeRows(int, int, const QModelIndex&) {
    return false;
}

Qt::ItemFlags DevicesModel::flags(const QModelIndex& index) const {
    if (!validIndex(index))
        return Qt::NoItemFlags;
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    const int column = index.column();
    if (columns()[size_t(column)].editable && !isLocked(rows_[size_t(index.row())], column))
        f |= Qt::ItemIsEditable;
    return f;
}

void DevicesModel::sort(int column, Qt::SortOrder order) {
    if (column < 1 || column >= columnCount())
        return;
    sortColumn_ = column;
    sortOrder_ = order;
    if (rows_.empty())
        return;
    withOrder(column, order, [this](const auto& keyed) { keyed.sort(rows_); });
    idIndexValid_ = false;
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int DevicesModel::rowOf(const QString& devId) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!idIndexValid_) {
            idIndex_.clear();
            idIndex_.reserve(int(rows_.size()));
            // Later rows first so that the first row with an id wins.
            for (int i = int(rows_.size()) - 1; i >= 0; --i)
                idIndex_.insert(rows_[size_t(i)].devId.reported, i);
            idIndexValid_ = true;
        }
        auto it = idIndex_.constFind(devId);
        if (it == idIndex_.constEnd())
            return -1;
        // Callers hold row pointers; should one have rewritten an id, rebuild.
        if (rows_[size_t(it.value())].devId.reported == devId)
            return it.value();
        idIndexValid_ = false;
    }
    return -1;
}

void DevicesModel::emitRowChanged(int first, int last) {
    emit dataChanged(index(first, 0), index(last, columnCount() - 1));
}

void DevicesModel::addOrUpdate(const DeviceInfo& device) {
    addOrUpdateAll(QVector<DeviceInfo>{device});
}

void DevicesModel::addOrUpdateAll(const QVector<DeviceInfo>& devices) {
    std::vector<DeviceInfo> fresh;
    QHash<QString, size_t> freshIndex;
    int firstUpdated = INT_MAX;
    int lastUpdated = -1;
    for (const DeviceInfo& device : devices) {
        const QString& id = device.devId.reported;
        const int row = rowOf(id);
        if (row >= 0) {
            mergeInto(rows_[size_t(row)], device);
            firstUpdated = std::min(firstUpdated, row);
            lastUpdated = std::max(lastUpdated, row);
            continue;
        }
        auto it = freshIndex.constFind(id);
        if (it != freshIndex.constEnd()) {
            mergeInto(fresh[it.value()], device);
            continue;
        }
        freshIndex.insert(id, fresh.size());
        fresh.push_back(device);
    }
    if (lastUpdated >= 0)
        emitRowChanged(firstUpdated, lastUpdated);
    if (fresh.empty())
        return;

    beginResetModel();
    withOrder(sortColumn_, sortOrder_, [&](const auto& keyed) { keyed.merge(rows_, fresh); });
    idIndexValid_ = false;
    endResetModel();
}

void DevicesModel::clear() {
    beginResetModel();
    rows_.clear();
    idIndex_.clear();
    idIndexValid_ = true;
    endResetModel();
}

DeviceInfo* DevicesModel::deviceAt(int row) {
    if (row < 0 || row >= rowCount())
        return nullptr;
    return &rows_[size_t(row)];
}

DeviceInfo* DevicesModel::find(const QString& devId) {
    return deviceAt(rowOf(devId));
}

void DevicesModel::touch(const DeviceInfo& device) {
    const QString now = clock_().toString(QLatin1String(deviceTimeFormat));
    // Copy the id first: `device` may be one of our own rows.
    const QString id = device.devId.reported;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].devId.reported == id) {
            rows_[i].time.setBoth(now);
            emitRowChanged(int(i), int(i));
        }
    }
}

void DevicesModel::revertRow(int row) {
    DeviceInfo* device = deviceAt(row);
    if (!device)
        return;
    for (const ColumnMeta& meta : columns()) {
        if (!meta.getter)
            continue;
        meta.getter(*device)->revert();
        emitRowChanged(row, row);
    }
}
