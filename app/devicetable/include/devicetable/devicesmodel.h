#pragma once

#include "devicetable/deviceinfo.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QVector>

#include <functional>
#include <vector>

// One column of the device table.
struct ColumnMeta {
    const char* name; // column key; also the header's translation source
    int width;        // -1: the section stretches; 0: it fits its contents
    bool editable;
    MyString* (*getter)(DeviceInfo&); // null for ROW_NUM
};

// The device table: one row per terminal, keyed by the reported DEV_ID.
class DevicesModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    explicit DevicesModel(QObject* parent = nullptr);
    ~DevicesModel() override;

    // The program-wide column table (25 entries) and lookup by key.
    static const std::vector<ColumnMeta>& columns();
    static int columnIndex(const QString& key);
    // Ordering used by sort and sorted insertion for the given column:
    // IPv4 columns compare as 32-bit numbers, the others as text.
    static bool lessThan(int column, const QString& a, const QString& b);
    // Dotted-decimal IPv4 text as a number; anything else is 0.
    static quint32 ipv4Value(const QString& text);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool insertRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Merges one discovery result by DEV_ID (see mergeInto), or inserts it in sort order.
    void addOrUpdate(const DeviceInfo& device);
    // The same for many results at once, as if each were passed to addOrUpdate in
    // order, with one model reset at most: keeps a view fast while replies pour in.
    void addOrUpdateAll(const QVector<DeviceInfo>& devices);
    void clear();
    DeviceInfo* deviceAt(int row);
    DeviceInfo* find(const QString& devId);
    void touch(const DeviceInfo& device);
    void revertRow(int row);

    int sortColumn() const { return sortColumn_; }
    Qt::SortOrder sortOrder() const { return sortOrder_; }
    // Time source of touch; tests pin it.
    void setClock(Clock clock);

    // True when the cell cannot be edited because the row's address comes from DHCP.
    static bool isLocked(const DeviceInfo& device, int column);
    // What a rescan may change in a known row: the reported network and server values
    // (pending edits survive), and both halves of TIME, Wi-Fi, NOTICE and ICCID.
    static void mergeInto(DeviceInfo& row, const DeviceInfo& device);

signals:
    void deviceEdited(DeviceInfo* device, const ColumnMeta* field);

private:
    bool validIndex(const QModelIndex& index) const;
    int rowOf(const QString& devId);
    void emitRowChanged(int first, int last);

    std::vector<DeviceInfo> rows_;
    int sortColumn_ = 1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    Clock clock_;
    // DEV_ID -> row, rebuilt lazily after anything that moves rows. A DEV_ID is
    // meant to change only through addOrUpdate; a hit on a stale entry is caught.
    QHash<QString, int> idIndex_;
    bool idIndexValid_ = false;
};

Q_DECLARE_METATYPE(DeviceInfo*)
Q_DECLARE_METATYPE(const ColumnMeta*)
