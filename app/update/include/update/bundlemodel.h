// Public: the loaded bundle's packages as a read-only table (update dialog).
#pragma once

#include "update/kubbundle.h"

#include <QAbstractTableModel>

class BundleModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { IdColumn, NameColumn, VersionColumn, SizeColumn, Md5Column, DescColumn };

    explicit BundleModel(KubBundle* bundle = KubBundle::instance(), QObject* parent = nullptr);

    // Takes the bundle's current entries (begin/end reset); call after each load.
    void reload();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    KubBundle* bundle_;
    QList<BundleEntry> entries_;
};
