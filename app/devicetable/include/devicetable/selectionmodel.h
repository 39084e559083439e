// Public: the read-only terminal table of the dialogs (batch setting, text-to-speech,
// configuration export and import, local playback). It keeps its own copies of the
// chosen terminals, so nothing a dialog writes reaches the main window's table, and it
// takes value updates addressed by DEV_ID and column key. GUI thread only.
#pragma once

#include "devicetable/devicesmodel.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QVector>

#include <functional>
#include <vector>

class QTableView;

class DeviceSelectionModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    // Copies every chosen record; rows keep the given order.
    explicit DeviceSelectionModel(const QVector<DeviceInfo>& devices, QObject* parent = nullptr);
    ~DeviceSelectionModel() override;

    // The dialogs' column table (12 entries, none editable) and lookup by key (-1: none).
    static const std::vector<ColumnMeta>& columns();
    static int columnIndex(const QString& key);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Writes the value's text into the field's current half; false for ROW_NUM or an
    // index outside the table.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // The rows never change in number.
    bool insertRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The table keeps the order it was given.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The model's copy of row `row`, or null outside the table.
    const DeviceInfo* deviceAt(int row) const;
    // Time source of the TIME refresh; tests pin it.
    void setClock(Clock clock);

    // Shows this model in a dialog's view as every dialog does: single selection of
    // whole rows, no sorting, stretch sections for the wide columns, the others fitted.
    void showIn(QTableView* view);

signals:
    // Connected by the dialogs to their onCompleted; the model never emits it itself.
    void completed();

public slots:
    // Sets both halves of a status column (INPUT_DB_UPPER_BOUND, OUTPUT_DB_UPPER_BOUND,
    // AO_VOLUME, AI_VOLUME, REBOOT_ENABLE, REBOOT_AT, NOTICE) of the first row with DEV_ID
    // `id`; any other key changes no field. Every row with that DEV_ID gets TIME set to
    // now and is reported changed. An unknown id changes nothing.
    void updateDeviceColumnValue(const QString& id, const QString& column, const QString& value);

private:
    bool validIndex(const QModelIndex& index) const;

    std::vector<DeviceInfo> rows_;
    Clock clock_;
};
