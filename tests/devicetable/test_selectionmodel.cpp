// The dialogs' terminal table: its column table, what it shows, and the updates that
// the dialogs and the main window's forwarded replies make.
#include "devicetable/selectionmodel.h"
#include "qtapp.h"

#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>

#include <gtest/gtest.h>

namespace {

const QDateTime kNow(QDate(2024, 6, 7), QTime(8, 9, 10));
const QString kNowText = QStringLiteral("2024-06-07 08:09:10");

DeviceInfo device(const QString& id, const QString& notice = QString()) {
    DeviceInfo d;
    d.devId.setBoth(id);
    d.devName.setBoth(QStringLiteral("name-") + id);
    d.proto.setBoth(QStringLiteral("dhcp"));
    d.notice.setBoth(notice);
    d.time.setBoth(QStringLiteral("old"));
    return d;
}

class SelectionModelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureQtApp(); }

    void make(const QVector<DeviceInfo>& rows) {
        model = std::make_unique<DeviceSelectionModel>(rows);
        model->setClock([] { return kNow; });
        spy = std::make_unique<QSignalSpy>(model.get(), &QAbstractItemModel::dataChanged);
    }
    const DeviceInfo& row(int r) const { return *model->deviceAt(r); }

    std::unique_ptr<DeviceSelectionModel> model;
    std::unique_ptr<QSignalSpy> spy;
};

} // namespace

TEST(SelectionColumns, KeysWidthsAndFieldsInOrder) {
    struct Expected {
        const char* key;
        int width;
        MyString DeviceInfo::*field;
    };
    const Expected expected[] = {
        {"ROW_NUM", 0, nullptr},
        {"DEV_ID", 0, &DeviceInfo::devId},
        {"DEV_NAME", 0, &DeviceInfo::devName},
        {"BROADCAST_SERVER", 0, &DeviceInfo::server},
        {"BROADCAST_PORT", 0, &DeviceInfo::port},
        {"AI_VOLUME", 0, &DeviceInfo::aiVolume},
        {"AO_VOLUME", -1, &DeviceInfo::aoVolume},
        {"INPUT_DB_UPPER_BOUND", -1, &DeviceInfo::inputDbUpperBound},
        {"OUTPUT_DB_UPPER_BOUND", -1, &DeviceInfo::outputDbUpperBound},
        {"REBOOT_ENABLE", -1, &DeviceInfo::rebootEnable},
        {"REBOOT_AT", -1, &DeviceInfo::rebootAt},
        {"NOTICE", -1, &DeviceInfo::notice},
    };
    const auto& cols = DeviceSelectionModel::columns();
    ASSERT_EQ(cols.size(), std::size(expected));
    DeviceInfo d;
    for (size_t i = 0; i < cols.size(); ++i) {
        SCOPED_TRACE(expected[i].key);
        EXPECT_STREQ(cols[i].name, expected[i].key);
        EXPECT_EQ(cols[i].width, expected[i].width);
        EXPECT_FALSE(cols[i].editable);
        if (expected[i].field)
            EXPECT_EQ(cols[i].getter(d), &(d.*expected[i].field));
        else
            EXPECT_EQ(cols[i].getter, nullptr);
        EXPECT_EQ(DeviceSelectionModel::columnIndex(QLatin1String(expected[i].key)), int(i));
    }
    EXPECT_EQ(DeviceSelectionModel::columnIndex(QStringLiteral("PROTO")), -1);
    EXPECT_EQ(&DeviceSelectionModel::columns(), &cols);
}

TEST_F(SelectionModelTest, ShowsReportedValuesOfItsOwnCopies) {
    QVector<DeviceInfo> rows = {device("A", "ready"), device("B")};
    rows[0].devName.current = QStringLiteral("edited in the main table");
    make(rows);
    rows[0].notice.setBoth(QStringLiteral("changed after the dialog opened"));

    EXPECT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->columnCount(), 12);
    EXPECT_EQ(model->index(0, 0).data().toString(), "1");
    EXPECT_EQ(model->index(1, 0).data().toString(), "2");
    EXPECT_FALSE(model->index(0, 0).data(Qt::FontRole).isValid());
    EXPECT_EQ(model->index(0, 1).data().toString(), "A");
    EXPECT_EQ(model->index(0, 2).data().toString(), "name-A"); // reported, not current
    EXPECT_EQ(model->index(0, 11).data().toString(), "ready");
    EXPECT_EQ(model->index(1, 11).data().toString(), "(empty)");
    const QModelIndex cell = model->index(0, 11);
    EXPECT_FALSE(cell.data(Qt::FontRole).value<QFont>().underline());
    EXPECT_EQ(cell.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::black));
    EXPECT_FALSE(cell.data(Qt::EditRole).isValid());
    EXPECT_FALSE(cell.data(Qt::ToolTipRole).isValid());
    EXPECT_FALSE(model->index(5, 1).data().isValid());

    EXPECT_EQ(model->headerData(11, Qt::Horizontal).toString(), "NOTICE");
    EXPECT_FALSE(model->headerData(11, Qt::Vertical).isValid());
    EXPECT_FALSE(model->headerData(12, Qt::Horizontal).isValid());
    EXPECT_FALSE(model->flags(cell).testFlag(Qt::ItemIsEditable));
    EXPECT_TRUE(model->flags(cell).testFlag(Qt::ItemIsSelectable));
    EXPECT_EQ(model->flags(QModelIndex()), Qt::NoItemFlags);
}

TEST_F(SelectionModelTest, RowsNeverChangeInNumberOrOrder) {
    make({device("B"), device("A")});
    EXPECT_FALSE(model->insertRows(0, 1));
    EXPECT_FALSE(model->removeRows(0, 1));
    model->sort(1, Qt::AscendingOrder);
    EXPECT_EQ(model->rowCount(), 2);
    EXPECT_EQ(row(0).devId.reported, "B");
    EXPECT_EQ(spy->count(), 0);
}

TEST_F(SelectionModelTest, SetDataWritesTheCurrentHalfOnly) {
    make({device("A", "n")});
    EXPECT_TRUE(model->setData(model->index(0, 11), QStringLiteral("x")));
    EXPECT_EQ(row(0).notice.current, "x");
    EXPECT_EQ(row(0).notice.reported, "n");
    EXPECT_EQ(spy->count(), 1);
    EXPECT_FALSE(model->setData(model->index(0, 0), QStringLiteral("9")));
    EXPECT_FALSE(model->setData(QModelIndex(), QStringLiteral("9")));
    EXPECT_EQ(spy->count(), 1);
}

// Which keys write a field: the status columns do, everything else only refreshes TIME.
TEST_F(SelectionModelTest, UpdateWritesStatusColumnsAndRefreshesTime) {
    struct Case {
        const char* column;
        MyString DeviceInfo::*field; // null: no field changes
    };
    const Case cases[] = {
        {"INPUT_DB_UPPER_BOUND", &DeviceInfo::inputDbUpperBound},
        {"OUTPUT_DB_UPPER_BOUND", &DeviceInfo::outputDbUpperBound},
        {"AO_VOLUME", &DeviceInfo::aoVolume},
        {"AI_VOLUME", &DeviceInfo::aiVolume},
        {"REBOOT_ENABLE", &DeviceInfo::rebootEnable},
        {"REBOOT_AT", &DeviceInfo::rebootAt},
        {"NOTICE", &DeviceInfo::notice},
        {"PROTO", nullptr},
        {"DEV_NAME", nullptr},
        {"TIME", nullptr},
        {"notice", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column);
        const DeviceInfo before = device("A");
        make({before});
        model->updateDeviceColumnValue("A", QLatin1String(c.column), "7");
        for (int f = 0; f < DeviceInfo::fieldCount; ++f) {
            const MyString* now = row(0).field(f);
            if (now == &row(0).time)
                continue;
            const bool target = c.field && now == &(row(0).*c.field);
            EXPECT_EQ(now->reported, target ? QString("7") : before.field(f)->reported) << f;
            EXPECT_EQ(now->current, target ? QString("7") : before.field(f)->current) << f;
        }
        EXPECT_EQ(row(0).time.reported, kNowText);
        EXPECT_EQ(row(0).time.current, kNowText);
        ASSERT_EQ(spy->count(), 1);
        EXPECT_EQ(spy->at(0).at(0).toModelIndex(), model->index(0, 0));
        EXPECT_EQ(spy->at(0).at(1).toModelIndex(), model->index(0, 11));
    }
}

TEST_F(SelectionModelTest, UnknownIdChangesNothingAndEmitsNothing) {
    make({device("A", "n"), device("B", "m")});
    model->updateDeviceColumnValue("C", "NOTICE", "x");
    model->updateDeviceColumnValue("a", "NOTICE", "x");
    model->updateDeviceColumnValue("", "NOTICE", "x");
    EXPECT_EQ(spy->count(), 0);
    EXPECT_EQ(row(0).notice.reported, "n");
    EXPECT_EQ(row(1).notice.reported, "m");
    EXPECT_EQ(row(0).time.reported, "old");
    EXPECT_EQ(row(1).time.reported, "old");
}

TEST_F(SelectionModelTest, SharedIdUpdatesTheFirstRowAndRefreshesTimeOnAll) {
    make({device("X"), device("A"), device("A"), device("B")});
    model->updateDeviceColumnValue("A", "NOTICE", "done");
    EXPECT_EQ(row(1).notice.reported, "done");
    EXPECT_EQ(row(2).notice.reported, "");
    EXPECT_EQ(row(1).time.reported, kNowText);
    EXPECT_EQ(row(2).time.reported, kNowText);
    EXPECT_EQ(row(0).time.reported, "old");
    EXPECT_EQ(row(3).time.reported, "old");
    ASSERT_EQ(spy->count(), 2);
    EXPECT_EQ(spy->at(0).at(0).toModelIndex().row(), 1);
    EXPECT_EQ(spy->at(1).at(0).toModelIndex().row(), 2);
    EXPECT_EQ(model->index(2, 11).data().toString(), "(empty)");
}

TEST_F(SelectionModelTest, ShownInAViewWithSingleRowSelectionAndStretchColumns) {
    make({device("A")});
    QTableView view;
    model->showIn(&view);
    EXPECT_EQ(view.model(), model.get());
    EXPECT_EQ(view.selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(view.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(view.isSortingEnabled());
    const auto& cols = DeviceSelectionModel::columns();
    for (size_t c = 0; c < cols.size(); ++c)
        EXPECT_EQ(view.horizontalHeader()->sectionResizeMode(int(c)),
                  cols[c].width == -1 ? QHeaderView::Stretch : QHeaderView::ResizeToContents)
            << cols[c].name;
}
