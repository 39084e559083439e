#pragma once

#include <QByteArray>
#include <QColor>
#include <QStyledItemDelegate>

// Cell editors of the device tables. The model decides which cells are editable and
// clamps values; the delegates only pick the editor for a kind of value and keep a cell's
// foreground colour readable on the selection highlight.
class DeviceDelegateBase : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Background of selected cells.
    static QColor highlightColor() { return QColor(71, 154, 255, 255); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

    // The option paint hands to the base class: every colour group's highlighted text takes
    // the cell's foreground colour, its highlight the fixed blue.
    static QStyleOptionViewItem paintOption(const QStyleOptionViewItem& option,
                                            const QModelIndex& index);

protected:
    // The setting key whose editor applies to the index; empty for none.
    virtual QByteArray keyOf(const QModelIndex& index) const = 0;
};

// The main device table: the editor follows the column's key.
class DeviceDelegate : public DeviceDelegateBase {
    Q_OBJECT
public:
    using DeviceDelegateBase::DeviceDelegateBase;

protected:
    QByteArray keyOf(const QModelIndex& index) const override;
};

// The batch-setting table: one setting per row, the editor follows the row.
class DeviceSetDelegate : public DeviceDelegateBase {
    Q_OBJECT
public:
    using DeviceDelegateBase::DeviceDelegateBase;

    // The settings of the batch table, in row order.
    static const QList<QByteArray>& rowKeys();

protected:
    QByteArray keyOf(const QModelIndex& index) const override;
};
