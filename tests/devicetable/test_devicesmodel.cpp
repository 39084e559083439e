#include "devicetable/columnlayout.h"
#include "devicetable/devicesmodel.h"
#include "qtapp.h"

#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTableView>

#include <gtest/gtest.h>

namespace {

enum Col {
    ROW_NUM = 0,
    DEV_ID = 1,
    HW_ADDR = 2,
    DEV_NAME = 4,
    ICCID = 7,
    PROTO = 9,
    ADDRESS = 10,
    NETMASK = 11,
    GATEWAY = 12,
    SERVER = 13,
    PORT = 14,
    TIME = 19,
    IN_DB = 20,
    OUT_DB = 21,
    NOTICE = 24,
};

DeviceInfo device(const QString& id, const QString& address = QString(),
                  const QString& name = QString()) {
    DeviceInfo d;
    d.devId.setBoth(id);
    d.address.setBoth(address);
    d.devName.setBoth(name);
    d.proto.setBoth(QStringLiteral("static"));
    return d;
}

QStringList column(DevicesModel& m, int col) {
    QStringList values;
    for (int r = 0; r < m.rowCount(); ++r)
        values << m.index(r, col).data().toString();
    return values;
}

class DevicesModelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureQtApp(); }
    DevicesModel model;
};

} // namespace

TEST(ColumnTable, KeysFlagsAndFieldsInOrder) {
    struct Row {
        const char* name;
        bool editable;
        int width;
        MyString DeviceInfo::*field;
    };
    const Row expected[] = {
        {"ROW_NUM", false, 0, nullptr},
        {"DEV_ID", false, 0, &DeviceInfo::devId},
        {"HW_ADDR", false, 0, &DeviceInfo::hwAddr},
        {"DEV_SERIAL", false, 0, &DeviceInfo::devSerial},
        {"DEV_NAME", true, 0, &DeviceInfo::devName},
        {"AV", false, 0, &DeviceInfo::av},
        {"PELZO版本", false, 0, &DeviceInfo::vv},
        {"ICCID", false, -1, &DeviceInfo::iccid},
        {"BOOT_SOUND", true, 0, &DeviceInfo::bootSound},
        {"PROTO", true, 0, &DeviceInfo::proto},
        {"ADDRESS", true, 0, &DeviceInfo::address},
        {"NETMASK", true, 0, &DeviceInfo::netmask},
        {"GATEWAY", true, 0, &DeviceInfo::gateway},
        {"SERVER", true, 0, &DeviceInfo::server},
        {"PORT", true, 0, &DeviceInfo::port},
        {"AO_VOLUME", true, 0, &DeviceInfo::aoVolume},
        {"AI_VOLUME", true, 0, &DeviceInfo::aiVolume},
        {"WIFI_NAME", true, 0, &DeviceInfo::wifiName},
        {"WIFI_PWD", true, 0, &DeviceInfo::wifiPwd},
        {"TIME", false, 0, &DeviceInfo::time},
        {"INPUT_DB_UPPER_BOUND", true, -1, &DeviceInfo::inputDbUpperBound},
        {"OUTPUT_DB_UPPER_BOUND", true, -1, &DeviceInfo::outputDbUpperBound},
        {"REBOOT_ENABLE", true, -1, &DeviceInfo::rebootEnable},
        {"REBOOT_AT", true, -1, &DeviceInfo::rebootAt},
        {"NOTICE", false, -1, &DeviceInfo::notice},
    };
    const auto& cols = DevicesModel::columns();
    ASSERT_EQ(cols.size(), std::size(expected));
    EXPECT_EQ(&cols, &DevicesModel::columns());
    DeviceInfo d;
    for (size_t i = 0; i < cols.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_STREQ(cols[i].name, expected[i].name);
        EXPECT_EQ(cols[i].editable, expected[i].editable);
        EXPECT_EQ(cols[i].width, expected[i].width);
        if (!expected[i].field)
            EXPECT_EQ(cols[i].getter, nullptr);
        else
            EXPECT_EQ(cols[i].getter(d), &(d.*expected[i].field));
        EXPECT_EQ(DevicesModel::columnIndex(QString::fromUtf8(expected[i].name)), int(i));
    }
    EXPECT_EQ(DevicesModel::columnIndex(QStringLiteral("address")), -1);
    EXPECT_EQ(DevicesModel::columnIndex(QStringLiteral("LOUDSPEAKER_VOLUME")), -1);
}

TEST(DeviceInfoFields, WalkByIndexInDeclarationOrder) {
    DeviceInfo d;
    EXPECT_EQ(d.field(0), &d.devId);
    EXPECT_EQ(d.field(4), &d.address);
    EXPECT_EQ(d.field(17), &d.an);
    EXPECT_EQ(d.field(20), &d.f);
    EXPECT_EQ(d.field(27), &d.iccid);
    EXPECT_EQ(d.field(28), nullptr);
    EXPECT_EQ(d.field(-1), nullptr);
    MyString s;
    s.setBoth(QStringLiteral("a"));
    EXPECT_FALSE(s.isModified());
    s.current = QStringLiteral("b");
    EXPECT_TRUE(s.isModified());
    s.revert();
    EXPECT_EQ(s.current, QStringLiteral("a"));
}

TEST(Ipv4Order, NumbersNotText) {
    EXPECT_EQ(DevicesModel::ipv4Value(QStringLiteral("192.168.1.9")), 0xC0A80109u);
    EXPECT_EQ(DevicesModel::ipv4Value(QStringLiteral("255.255.255.255")), 0xFFFFFFFFu);
    for (const char* bad :
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 ", "1.2.3.0004"})
        EXPECT_EQ(DevicesModel::ipv4Value(QString::fromLatin1(bad)), 0u) << bad;
    EXPECT_TRUE(DevicesModel::lessThan(ADDRESS, QStringLiteral("192.168.1.9"),
                                       QStringLiteral("192.168.1.10")));
    EXPECT_FALSE(DevicesModel::lessThan(DEV_NAME, QStringLiteral("9"), QStringLiteral("10")));
    EXPECT_TRUE(DevicesModel::lessThan(SERVER, QStringLiteral("junk"), QStringLiteral("0.0.0.1")));
}

TEST_F(DevicesModelTest, RowNumberAndRolesOfAPlainRow) {
    DeviceInfo d = device(QStringLiteral("A1"), QStringLiteral("10.0.0.1"));
    d.devName.setBoth(QStringLiteral("lobby"));
    model.addOrUpdate(d);
    model.addOrUpdate(device(QStringLiteral("A2"), QStringLiteral("10.0.0.2")));
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 25);
    EXPECT_EQ(model.index(1, ROW_NUM).data().toString(), QStringLiteral("2"));
    EXPECT_FALSE(model.index(0, ROW_NUM).data(Qt::EditRole).isValid());
    EXPECT_FALSE(model.index(0, ROW_NUM).data(Qt::ForegroundRole).isValid());
    EXPECT_FALSE(model.index(2, DEV_ID).data().isValid());
    EXPECT_FALSE(model.index(0, 25).data().isValid());

    const QModelIndex name = model.index(0, DEV_NAME);
    EXPECT_EQ(name.data().toString(), QStringLiteral("lobby"));
    EXPECT_EQ(name.data(Qt::EditRole).toString(), QStringLiteral("lobby"));
    EXPECT_TRUE(name.data(Qt::FontRole).value<QFont>().underline());
    EXPECT_EQ(name.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::black));
    EXPECT_TRUE(model.flags(name) & Qt::ItemIsEditable);
    EXPECT_FALSE(name.data(Qt::ToolTipRole).isValid());

    const QModelIndex id = model.index(0, DEV_ID);
    EXPECT_FALSE(id.data(Qt::EditRole).isValid());
    EXPECT_FALSE(id.data(Qt::FontRole).value<QFont>().underline());
    EXPECT_FALSE(model.flags(id) & Qt::ItemIsEditable);
    EXPECT_EQ(model.index(0, NOTICE).data().toString(), QStringLiteral("(empty)"));
    EXPECT_EQ(model.flags(QModelIndex()), Qt::NoItemFlags);
}

TEST_F(DevicesModelTest, IccidShowsItsLastEightCharacters) {
    const struct {
        const char* iccid;
        const char* shown;
    } cases[] = {
        {"89860012345678901234", "78901234"},
        {"12345678", "12345678"},
        {"1234567", "1234567"},
        {"", "(empty)"},
    };
    for (const auto& c : cases) {
        model.clear();
        DeviceInfo d = device(QStringLiteral("X"));
        d.iccid.setBoth(QString::fromLatin1(c.iccid));
        model.addOrUpdate(d);
        EXPECT_EQ(model.index(0, ICCID).data().toString(), QString::fromLatin1(c.shown)) << c.iccid;
    }
}

TEST_F(DevicesModelTest, ForegroundRules) {
    DeviceInfo d = device(QStringLiteral("A"), QStringLiteral("10.0.0.1"));
    d.pppdModuleRecognition.setBoth(QStringLiteral("1"));
    d.devName.reported = QStringLiteral("old");
    d.devName.current = QStringLiteral("new");
    model.addOrUpdate(d);
    const QColor red(Qt::red), black(Qt::black);
    const struct {
        int column;
        QColor colour;
    } cases[] = {
        {DEV_ID, red}, {HW_ADDR, red},  {ICCID, red},     {3, black},
        {TIME, black}, {DEV_NAME, red}, {ADDRESS, black},
    };
    for (const auto& c : cases)
        EXPECT_EQ(model.index(0, c.column).data(Qt::ForegroundRole).value<QColor>(), c.colour)
            << c.column;
}

TEST_F(DevicesModelTest, DhcpLocksTheAddressColumns) {
    DeviceInfo d = device(QStringLiteral("A"), QStringLiteral("10.0.0.1"));
    d.proto.setBoth(QStringLiteral("dhcp"));
    d.address.current = QStringLiteral("10.0.0.99");
    model.addOrUpdate(d);
    for (int col : {ADDRESS, NETMASK, GATEWAY}) {
        const QModelIndex i = model.index(0, col);
        EXPECT_FALSE(model.flags(i) & Qt::ItemIsEditable) << col;
        EXPECT_FALSE(i.data(Qt::EditRole).isValid()) << col;
        EXPECT_FALSE(i.data(Qt::FontRole).value<QFont>().underline()) << col;
        EXPECT_EQ(i.data(Qt::ForegroundRole).value<QColor>(), QColor(32, 32, 32, 255)) << col;
    }
    EXPECT_EQ(model.index(0, ADDRESS).data().toString(), QStringLiteral("10.0.0.1"));
    for (int col : {SERVER, PORT})
        EXPECT_TRUE(model.flags(model.index(0, col)) & Qt::ItemIsEditable) << col;

    // "DHCP" is not "dhcp": the lock is case-sensitive.
    ASSERT_TRUE(model.setData(model.index(0, PROTO), QStringLiteral("DHCP")));
    EXPECT_TRUE(model.flags(model.index(0, ADDRESS)) & Qt::ItemIsEditable);
    ASSERT_TRUE(model.setData(model.index(0, PROTO), QStringLiteral("static")));
    const QModelIndex address = model.index(0, ADDRESS);
    EXPECT_TRUE(model.flags(address) & Qt::ItemIsEditable);
    EXPECT_EQ(address.data().toString(), QStringLiteral("10.0.0.99"));
    EXPECT_EQ(address.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
}

TEST_F(DevicesModelTest, SetDataClampsTheLevelBoundsAndSignals) {
    model.addOrUpdate(device(QStringLiteral("A")));
    const struct {
        int column;
        const char* in;
        const char* stored;
    } cases[] = {
        {IN_DB, "50", "21"},
        {IN_DB, "3", "7"},
        {IN_DB, "abc", "7"},
        {IN_DB, " 12x", "12"},
        {IN_DB, "99999999999999999999", "21"},
        {OUT_DB, "-40", "-30"},
        {OUT_DB, "20", "15"},
        {OUT_DB, "12dB", "12"},
        {OUT_DB, "x", "0"},
        {DEV_NAME, " 12dB ", " 12dB "},
    };
    QSignalSpy edited(&model, &DevicesModel::deviceEdited);
    QSignalSpy changed(&model, &DevicesModel::dataChanged);
    for (const auto& c : cases) {
        const QModelIndex i = model.index(0, c.column);
        ASSERT_TRUE(model.setData(i, QString::fromLatin1(c.in)));
        const MyString* field = DevicesModel::columns()[c.column].getter(*model.deviceAt(0));
        EXPECT_EQ(field->current, QString::fromLatin1(c.stored)) << c.in;
        EXPECT_TRUE(field->reported.isEmpty());
    }
    ASSERT_EQ(edited.size(), int(std::size(cases)));
    EXPECT_EQ(edited.last().at(0).value<DeviceInfo*>(), model.deviceAt(0));
    EXPECT_EQ(edited.last().at(1).value<const ColumnMeta*>(), &DevicesModel::columns()[DEV_NAME]);
    EXPECT_EQ(changed.size(), int(std::size(cases)));
    EXPECT_FALSE(model.setData(model.index(1, DEV_NAME), QStringLiteral("x")));
    EXPECT_FALSE(model.setData(QModelIndex(), QStringLiteral("x")));
    EXPECT_EQ(edited.size(), int(std::size(cases)));
}

TEST_F(DevicesModelTest, HeaderShowsColumnKeysHorizontallyOnly) {
    EXPECT_EQ(model.headerData(ADDRESS, Qt::Horizontal).toString(), QStringLiteral("ADDRESS"));
    EXPECT_EQ(model.headerData(6, Qt::Horizontal).toString(), QStringLiteral("PELZO版本"));
    EXPECT_FALSE(model.headerData(ADDRESS, Qt::Vertical).isValid());
    EXPECT_FALSE(model.headerData(25, Qt::Horizontal).isValid());
    EXPECT_FALSE(model.headerData(ADDRESS, Qt::Horizontal, Qt::EditRole).isValid());
    EXPECT_FALSE(model.insertRows(0, 1));
    EXPECT_FALSE(model.removeRows(0, 1));
}

TEST_F(DevicesModelTest, SortUsesTheColumnComparator) {
    model.addOrUpdate(
        device(QStringLiteral("b"), QStringLiteral("192.168.1.10"), QStringLiteral("9")));
    model.addOrUpdate(
        device(QStringLiteral("a"), QStringLiteral("192.168.1.9"), QStringLiteral("10")));
    model.addOrUpdate(device(QStringLiteral("c"), QStringLiteral("bogus"), QStringLiteral("x")));
    model.sort(ADDRESS, Qt::AscendingOrder);
    EXPECT_EQ(column(model, ADDRESS), QStringList({"bogus", "192.168.1.9", "192.168.1.10"}));
    model.sort(ADDRESS, Qt::DescendingOrder);
    EXPECT_EQ(column(model, ADDRESS), QStringList({"192.168.1.10", "192.168.1.9", "bogus"}));
    model.sort(DEV_NAME, Qt::AscendingOrder);
    EXPECT_EQ(column(model, DEV_NAME), QStringList({"10", "9", "x"}));

    QSignalSpy changed(&model, &DevicesModel::dataChanged);
    model.sort(ROW_NUM, Qt::DescendingOrder);
    model.sort(25, Qt::DescendingOrder);
    EXPECT_EQ(changed.size(), 0);
    EXPECT_EQ(model.sortColumn(), DEV_NAME);
    EXPECT_EQ(model.sortOrder(), Qt::AscendingOrder);
}

TEST_F(DevicesModelTest, SortOnAnEmptyTablePlacesLaterInsertions) {
    EXPECT_EQ(model.sortColumn(), DEV_ID);
    model.sort(ADDRESS, Qt::DescendingOrder);
    EXPECT_EQ(model.sortColumn(), ADDRESS);
    for (const char* ip : {"10.0.0.2", "10.0.0.10", "10.0.0.1", "9.255.255.255"})
        model.addOrUpdate(device(QString::fromLatin1(ip), QString::fromLatin1(ip)));
    EXPECT_EQ(column(model, ADDRESS),
              QStringList({"10.0.0.10", "10.0.0.2", "10.0.0.1", "9.255.255.255"}));
}

TEST_F(DevicesModelTest, RediscoveryMergesByDevId) {
    DeviceInfo first =
        device(QStringLiteral("T1"), QStringLiteral("10.0.0.1"), QStringLiteral("n"));
    first.wifiName.setBoth(QStringLiteral("w"));
    first.notice.setBoth(QStringLiteral("old notice"));
    first.time.setBoth(QStringLiteral("2026-01-01 00:00:00"));
    model.addOrUpdate(first);
    DeviceInfo* row = model.deviceAt(0);
    row->devName.current = QStringLiteral("edited name");
    row->address.current = QStringLiteral("10.0.0.50");
    row->wifiName.current = QStringLiteral("edited wifi");
    row->aoVolume.current = QStringLiteral("7");

    DeviceInfo again =
        device(QStringLiteral("T1"), QStringLiteral("10.0.0.2"), QStringLiteral("m"));
    again.wifiName.setBoth(QStringLiteral("w2"));
    again.notice.setBoth(QStringLiteral("new notice"));
    again.time.setBoth(QStringLiteral("2026-01-02 00:00:00"));
    again.iccid.setBoth(QStringLiteral("123"));
    again.aoVolume.setBoth(QStringLiteral("3"));
    QSignalSpy resets(&model, &DevicesModel::modelReset);
    QSignalSpy changed(&model, &DevicesModel::dataChanged);
    model.addOrUpdate(again);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(resets.size(), 0);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.index(0, 0));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.index(0, 24));

    row = model.deviceAt(0);
    EXPECT_EQ(row->devName.current, QStringLiteral("edited name"));
    EXPECT_EQ(row->devName.reported, QStringLiteral("n"));
    EXPECT_EQ(row->address.current, QStringLiteral("10.0.0.50"));
    EXPECT_EQ(row->address.reported, QStringLiteral("10.0.0.2"));
    EXPECT_EQ(row->wifiName.current, QStringLiteral("w2"));
    EXPECT_EQ(row->wifiName.reported, QStringLiteral("w2"));
    EXPECT_EQ(row->notice.current, QStringLiteral("new notice"));
    EXPECT_EQ(row->time.reported, QStringLiteral("2026-01-02 00:00:00"));
    EXPECT_EQ(row->iccid.current, QStringLiteral("123"));
    EXPECT_EQ(row->aoVolume.reported, QString());
    EXPECT_EQ(row->aoVolume.current, QStringLiteral("7"));

    // Terminals without DEV_ID share one row.
    model.addOrUpdate(device(QString(), QStringLiteral("10.0.0.3")));
    model.addOrUpdate(device(QString(), QStringLiteral("10.0.0.4")));
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_NE(model.find(QString()), nullptr);
    EXPECT_EQ(model.find(QStringLiteral("T1")), model.deviceAt(1));
    EXPECT_EQ(model.find(QStringLiteral("nope")), nullptr);
    EXPECT_EQ(model.deviceAt(-1), nullptr);
    EXPECT_EQ(model.deviceAt(2), nullptr);
}

// Many results at once must land exactly where one-by-one insertion puts them,
// with at most one reset.
TEST_F(DevicesModelTest, BatchedInsertionMatchesOneByOne) {
    QRandomGenerator rng(7);
    for (int column : {DEV_ID, ADDRESS, DEV_NAME}) {
        for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            DevicesModel one, batch;
            one.sort(column, order);
            batch.sort(column, order);
            QVector<DeviceInfo> seed, replies;
            for (int i = 0; i < 40; ++i) {
                DeviceInfo d =
                    device(QString::number(rng.bounded(60)),
                           QStringLiteral("10.0.%1.%2").arg(rng.bounded(3)).arg(rng.bounded(4)),
                           QString::number(rng.bounded(5)));
                d.notice.setBoth(QString::number(i));
                (i < 10 ? seed : replies).append(d);
            }
            for (const DeviceInfo& d : seed) {
                one.addOrUpdate(d);
                batch.addOrUpdate(d);
            }
            for (const DeviceInfo& d : replies)
                one.addOrUpdate(d);
            QSignalSpy resets(&batch, &DevicesModel::modelReset);
            batch.addOrUpdateAll(replies);
            EXPECT_LE(resets.size(), 1);
            ASSERT_EQ(one.rowCount(), batch.rowCount());
            for (int r = 0; r < one.rowCount(); ++r) {
                EXPECT_EQ(one.deviceAt(r)->devId.reported, batch.deviceAt(r)->devId.reported)
                    << column << " " << order << " row " << r;
                EXPECT_EQ(one.deviceAt(r)->notice.reported, batch.deviceAt(r)->notice.reported);
            }
        }
    }
}

TEST_F(DevicesModelTest, RevertTouchAndClear) {
    model.setClock([] { return QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)); });
    model.addOrUpdate(device(QStringLiteral("A"), QStringLiteral("10.0.0.1"), QStringLiteral("n")));
    DeviceInfo* row = model.deviceAt(0);
    row->devName.current = QStringLiteral("x");
    row->address.current = QStringLiteral("10.0.0.9");
    row->rebootAt.current = QStringLiteral("03:00");
    QSignalSpy changed(&model, &DevicesModel::dataChanged);
    model.revertRow(0);
    EXPECT_EQ(row->devName.current, QStringLiteral("n"));
    EXPECT_EQ(row->address.current, QStringLiteral("10.0.0.1"));
    EXPECT_TRUE(row->rebootAt.current.isEmpty());
    EXPECT_EQ(changed.size(), 24); // every column with a field
    EXPECT_EQ(model.index(0, ROW_NUM).data().toString(), QStringLiteral("1"));
    model.revertRow(5); // out of range: nothing

    changed.clear();
    DeviceInfo other = device(QStringLiteral("A"));
    model.touch(other);
    EXPECT_EQ(row->time.reported, QStringLiteral("2026-03-04 05:06:07"));
    EXPECT_EQ(row->time.current, QStringLiteral("2026-03-04 05:06:07"));
    EXPECT_EQ(changed.size(), 1);
    model.touch(device(QStringLiteral("B")));
    EXPECT_EQ(changed.size(), 1);

    QSignalSpy resets(&model, &DevicesModel::modelReset);
    model.clear();
    EXPECT_EQ(resets.size(), 1);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.find(QStringLiteral("A")), nullptr);
}

// A row whose id was rewritten through its pointer never takes a merge meant for
// the old id.
TEST_F(DevicesModelTest, ARewrittenIdIsNotFoundUnderItsOldValue) {
    model.addOrUpdate(device(QStringLiteral("A")));
    model.addOrUpdate(device(QStringLiteral("B")));
    ASSERT_NE(model.find(QStringLiteral("A")), nullptr);
    model.deviceAt(0)->devId.setBoth(QStringLiteral("Z"));
    EXPECT_EQ(model.find(QStringLiteral("A")), nullptr);
    model.addOrUpdate(device(QStringLiteral("A")));
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.find(QStringLiteral("Z"))->devId.reported, QStringLiteral("Z"));
}

TEST_F(DevicesModelTest, ColumnLayoutStretchesTheWideColumns) {
    QTableView view;
    view.setModel(&model);
    applyDeviceColumnLayout(view.horizontalHeader());
    const QHeaderView* header = view.horizontalHeader();
    for (int c = 0; c < model.columnCount(); ++c) {
        const bool wide = DevicesModel::columns()[size_t(c)].width == -1;
        EXPECT_EQ(header->sectionResizeMode(c),
                  wide ? QHeaderView::Stretch : QHeaderView::ResizeToContents)
            << c;
    }
    // Only the visible rows are measured, whatever the size of the table.
    EXPECT_EQ(header->resizeContentsPrecision(), 0);
}
