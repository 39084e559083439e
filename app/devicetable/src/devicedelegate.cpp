#include "devicetable/devicedelegate.h"

#include "devicetable/devicesmodel.h"

#include <QComboBox>
#include <QPalette>
#include <QSpinBox>

namespace {

const char* const protoKey = "PROTO";
const char* const dhcpText = "dhcp";
const char* const staticText = "static";

bool isVolumeKey(const QByteArray& key) {
    return key == "AO_VOLUME" || key == "AI_VOLUME";
}

} // namespace

QStyleOptionViewItem DeviceDelegateBase::paintOption(const QStyleOptionViewItem& option,
                                                     const QModelIndex& index) {
    QStyleOptionViewItem opt(option);
    const QColor foreground = index.data(Qt::ForegroundRole).value<QColor>();
    const QPalette::ColorGroup groups[] = {QPalette::Active, QPalette::Inactive,
                                           QPalette::Disabled};
    for (QPalette::ColorGroup group : groups) {
        opt.palette.setBrush(group, QPalette::HighlightedText, foreground);
        opt.palette.setBrush(group, QPalette::Highlight, highlightColor());
    }
    return opt;
}

void DeviceDelegateBase::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, paintOption(option, index), index);
}

QSize DeviceDelegateBase::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    return QStyledItemDelegate::sizeHint(option, index);
}

QWidget* DeviceDelegateBase::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) const {
    const QByteArray key = keyOf(index);
    if (key == protoKey)
        return new QComboBox(parent);
    if (isVolumeKey(key))
        return new QSpinBox(parent);
    return QStyledItemDelegate::createEditor(parent, option, index);
}

void DeviceDelegateBase::setEditorData(QWidget* editor, const QModelIndex& index) const {
    const QByteArray key = keyOf(index);
    const QString shown = index.data(Qt::DisplayRole).toString();
    if (auto* combo = qobject_cast<QComboBox*>(editor); combo && key == protoKey) {
        // The view calls this again when the row changes under an open editor; start over
        // so the two entries are never listed twice.
        combo->clear();
        combo->addItem(QString::fromLatin1(dhcpText));
        combo->addItem(QString::fromLatin1(staticText));
        combo->setCurrentIndex(shown == QLatin1String(dhcpText) ? 0 : 1);
        return;
    }
    if (auto* spin = qobject_cast<QSpinBox*>(editor); spin && isVolumeKey(key)) {
        spin->setRange(0, 100);
        bool ok = false;
        const int value = shown.toInt(&ok);
        spin->setValue(ok ? value : 0);
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void DeviceDelegateBase::setModelData(QWidget* editor, QAbstractItemModel* model,
                                      const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor); combo && keyOf(index) == protoKey) {
        const char* text = combo->currentIndex() == 0 ? dhcpText : staticText;
        model->setData(index, QString::fromLatin1(text), Qt::EditRole);
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

QByteArray DeviceDelegate::keyOf(const QModelIndex& index) const {
    const auto& columns = DevicesModel::columns();
    const int column = index.column();
    if (column < 0 || column >= static_cast<int>(columns.size()))
        return QByteArray();
    return QByteArray(columns[static_cast<std::size_t>(column)].name);
}

const QList<QByteArray>& DeviceSetDelegate::rowKeys() {
    static const QList<QByteArray> keys = {"BROADCAST_SERVER",
                                           "BROADCAST_PORT",
                                           "AI_VOLUME",
                                           "AO_VOLUME",
                                           "INPUT_DB_UPPER_BOUND",
                                           "OUTPUT_DB_UPPER_BOUND",
                                           "REBOOT_ENABLE",
                                           "PROTO",
                                           "ADDRESS",
                                           "NETMASK",
                                           "GATEWAY"};
    return keys;
}

QByteArray DeviceSetDelegate::keyOf(const QModelIndex& index) const {
    const QList<QByteArray>& keys = rowKeys();
    const int row = index.row();
    return row >= 0 && row < keys.size() ? keys.at(row) : QByteArray();
}
