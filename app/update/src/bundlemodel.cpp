#include "update/bundlemodel.h"

BundleModel::BundleModel(KubBundle* bundle, QObject* parent)
    : QAbstractTableModel(parent), bundle_(bundle), entries_(bundle->entries()) {}

void BundleModel::reload() {
    beginResetModel();
    entries_ = bundle_->entries();
    endResetModel();
}

int BundleModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : entries_.size();
}

int BundleModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 6;
}

QVariant BundleModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= entries_.size())
        return {};
    const BundleEntry& e = entries_[index.row()];
    switch (index.column()) {
    case IdColumn:
        return e.id;
    case NameColumn:
        return QString::fromUtf8(e.name);
    case VersionColumn:
        return QString::fromUtf8(e.version);
    case SizeColumn:
        return e.size ? e.size(QString()) : 0;
    case Md5Column:
        return e.md5 ? QString::fromUtf8(e.md5(QString())) : QString();
    case DescColumn:
        return QString::fromUtf8(e.desc);
    default:
        return {};
    }
}

QVariant BundleModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case IdColumn:
        return tr("ID");
    case NameColumn:
        return tr("NAME");
    case VersionColumn:
        return tr("VERSION");
    case SizeColumn:
        return tr("SIZE");
    case Md5Column:
        return tr("MD5");
    case DescColumn:
        return tr("DESC");
    default:
        return {};
    }
}

Qt::ItemFlags BundleModel::flags(const QModelIndex&) const {
    return Qt::NoItemFlags;
}

void BundleModel::sort(int, Qt::SortOrder) {}
