#include "devicetable/devicedelegate.h"
#include "devicetable/devicesmodel.h"
#include "qtapp.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>

#include <gtest/gtest.h>

namespace {

int col(const char* key) {
    return DevicesModel::columnIndex(QString::fromLatin1(key));
}

// A view over a one-row device table with the delegate installed, editing through the
// view the way a user does.
class MainTableEditing : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureQtApp(); }

    void SetUp() override {
        DeviceInfo d;
        d.devId.setBoth(QStringLiteral("T1"));
        d.devName.setBoth(QStringLiteral("hall"));
        d.proto.setBoth(QStringLiteral("static"));
        d.address.setBoth(QStringLiteral("10.0.0.5"));
        d.aoVolume.setBoth(QStringLiteral("40"));
        model.addOrUpdate(d);
        view.setModel(&model);
        view.setItemDelegate(&delegate);
        view.resize(900, 200);
        view.show();
    }

    QWidget* open(const char* key) {
        const QModelIndex index = model.index(0, col(key));
        view.setCurrentIndex(index);
        view.edit(index);
        return view.indexWidget(index);
    }
    void commit(QWidget* editor) {
        emit delegate.commitData(editor);
        emit delegate.closeEditor(editor);
    }
    void setCurrent(const char* key, const QString& value) {
        DevicesModel::columns()[static_cast<std::size_t>(col(key))]
            .getter(*model.deviceAt(0))
            ->current = value;
    }

    DevicesModel model;
    QTableView view;
    DeviceDelegate delegate;
};

} // namespace

TEST_F(MainTableEditing, EditorFollowsTheColumn) {
    struct Case {
        const char* key;
        const char* editorClass;
    };
    const Case cases[] = {
        {"PROTO", "QComboBox"},
        {"AO_VOLUME", "QSpinBox"},
        {"AI_VOLUME", "QSpinBox"},
        {"DEV_NAME", "QLineEdit"},
        {"ADDRESS", "QLineEdit"},
        {"SERVER", "QLineEdit"},
        {"INPUT_DB_UPPER_BOUND", "QLineEdit"},
    };
    for (const Case& c : cases) {
        QWidget* editor = open(c.key);
        ASSERT_NE(editor, nullptr) << c.key;
        EXPECT_TRUE(editor->inherits(c.editorClass))
            << c.key << " got " << editor->metaObject()->className();
        // The view owns the editor: it sits inside the view's viewport.
        EXPECT_TRUE(view.isAncestorOf(editor)) << c.key;
        emit delegate.closeEditor(editor);
    }
    auto* line = qobject_cast<QLineEdit*>(open("DEV_NAME"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), QStringLiteral("hall"));
}

TEST_F(MainTableEditing, ProtoDropDownSelectsShownValueAndWritesChoice) {
    auto* combo = qobject_cast<QComboBox*>(open("PROTO"));
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("dhcp"));
    EXPECT_EQ(combo->itemText(1), QStringLiteral("static"));
    EXPECT_EQ(combo->currentText(), QStringLiteral("static"));

    // Filling the editor again (the view does when the row changes) keeps two entries.
    delegate.setEditorData(combo, model.index(0, col("PROTO")));
    EXPECT_EQ(combo->count(), 2);

    combo->setCurrentIndex(0);
    commit(combo);
    EXPECT_EQ(model.deviceAt(0)->proto.current, QStringLiteral("dhcp"));
    // The model now locks the address cells: no editor opens there.
    EXPECT_FALSE(model.flags(model.index(0, col("ADDRESS"))) & Qt::ItemIsEditable);
    EXPECT_EQ(open("ADDRESS"), nullptr);

    // Back on a dhcp cell the drop-down opens on "dhcp"; any other entry writes "static".
    combo = qobject_cast<QComboBox*>(open("PROTO"));
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->currentIndex(), 0);
    combo->setCurrentIndex(1);
    commit(combo);
    EXPECT_EQ(model.deviceAt(0)->proto.current, QStringLiteral("static"));
    EXPECT_TRUE(model.flags(model.index(0, col("ADDRESS"))) & Qt::ItemIsEditable);
}

TEST_F(MainTableEditing, VolumeSpinBoxClampsShownValueAndWritesText) {
    struct Case {
        const char* shown;
        int value;
    };
    const Case cases[] = {{"40", 40}, {"150", 100}, {"-3", 0},   {"abc", 0},
                          {"", 0},    {"100", 100}, {"12dB", 0}, {"0", 0}};
    for (const Case& c : cases) {
        setCurrent("AI_VOLUME", QString::fromLatin1(c.shown));
        auto* spin = qobject_cast<QSpinBox*>(open("AI_VOLUME"));
        ASSERT_NE(spin, nullptr) << c.shown;
        EXPECT_EQ(spin->minimum(), 0);
        EXPECT_EQ(spin->maximum(), 100);
        EXPECT_EQ(spin->value(), c.value) << "shown " << c.shown;
        emit delegate.closeEditor(spin);
    }
    auto* spin = qobject_cast<QSpinBox*>(open("AO_VOLUME"));
    ASSERT_NE(spin, nullptr);
    spin->setValue(73);
    commit(spin);
    EXPECT_EQ(model.deviceAt(0)->aoVolume.current, QStringLiteral("73"));
    EXPECT_EQ(model.deviceAt(0)->aoVolume.reported, QStringLiteral("40"));
}

TEST(BatchTableEditing, EditorFollowsTheRowNotTheColumn) {
    ensureQtApp();
    const QList<QByteArray>& keys = DeviceSetDelegate::rowKeys();
    ASSERT_EQ(keys.size(), 11);
    EXPECT_EQ(keys.at(7), QByteArray("PROTO"));

    QStandardItemModel model(keys.size() + 1, 2);
    for (int r = 0; r < model.rowCount(); ++r) {
        model.setData(model.index(r, 0), r < keys.size() ? QString(keys.at(r)) : QString("x"));
        model.setData(model.index(r, 1), QStringLiteral("55"));
    }
    model.setData(model.index(7, 1), QStringLiteral("dhcp"));
    DeviceSetDelegate delegate;
    QWidget parent;
    for (int r = 0; r < model.rowCount(); ++r) {
        for (int c = 0; c < 2; ++c) {
            const QModelIndex index = model.index(r, c);
            QWidget* editor = delegate.createEditor(&parent, QStyleOptionViewItem(), index);
            ASSERT_NE(editor, nullptr);
            EXPECT_EQ(editor->parentWidget(), &parent);
            const char* expected = r == 7               ? "QComboBox"
                                   : (r == 2 || r == 3) ? "QSpinBox"
                                                        : "QLineEdit";
            EXPECT_TRUE(editor->inherits(expected))
                << "row " << r << " column " << c << " got " << editor->metaObject()->className();
            delete editor;
        }
    }

    QComboBox combo;
    delegate.setEditorData(&combo, model.index(7, 1));
    EXPECT_EQ(combo.currentText(), QStringLiteral("dhcp"));
    combo.setCurrentIndex(1);
    delegate.setModelData(&combo, &model, model.index(7, 1));
    EXPECT_EQ(model.index(7, 1).data().toString(), QStringLiteral("static"));

    QSpinBox spin;
    delegate.setEditorData(&spin, model.index(3, 1));
    EXPECT_EQ(spin.value(), 55);
    EXPECT_EQ(spin.maximum(), 100);
}

namespace {

// Paints one selected cell into an image.
QImage paintSelected(QStyledItemDelegate& delegate, const QModelIndex& index) {
    QImage image(160, 30, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.showDecorationSelected = true; // as a table view paints its cells
    option.state = QStyle::State_Enabled | QStyle::State_Selected | QStyle::State_Active;
    option.palette = QApplication::palette();
    option.font = QApplication::font();
    option.font.setPixelSize(20);
    option.fontMetrics = QFontMetrics(option.font);
    QPainter painter(&image);
    delegate.paint(&painter, option, index);
    painter.end();
    return image;
}

struct PixelCount {
    int highlight = 0;
    int red = 0;
    int darkGrey = 0;
};

PixelCount countPixels(const QImage& image) {
    PixelCount n;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c == DeviceDelegateBase::highlightColor())
                ++n.highlight;
            if (c.red() > 150 && c.green() < 90 && c.blue() < 90)
                ++n.red;
            if (c.red() < 50 && c.green() < 50 && c.blue() < 50)
                ++n.darkGrey;
        }
    }
    return n;
}

} // namespace

TEST(DelegatePaint, SelectedCellKeepsItsForegroundOnTheBlueHighlight) {
    ensureQtApp();
    DevicesModel model;
    DeviceInfo d;
    d.devId.setBoth(QStringLiteral("T1"));
    d.proto.setBoth(QStringLiteral("dhcp"));
    d.address.setBoth(QStringLiteral("10.1.1.1"));
    d.devName.setBoth(QStringLiteral("old"));
    d.devName.current = QStringLiteral("WWWW"); // modified: red
    model.addOrUpdate(d);
    const QModelIndex modified = model.index(0, col("DEV_NAME"));
    const QModelIndex locked = model.index(0, col("ADDRESS"));

    // The option handed to the base class: every colour group carries the cell's colour.
    QStyleOptionViewItem option;
    const QStyleOptionViewItem built = DeviceDelegateBase::paintOption(option, modified);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        EXPECT_EQ(built.palette.color(group, QPalette::HighlightedText), QColor(Qt::red));
        EXPECT_EQ(built.palette.color(group, QPalette::Highlight), QColor(71, 154, 255));
    }
    EXPECT_EQ(DeviceDelegateBase::paintOption(option, locked)
                  .palette.color(QPalette::Inactive, QPalette::HighlightedText),
              QColor(32, 32, 32));

    // Rendered: red text on the blue highlight, where the plain delegate draws neither.
    DeviceDelegate delegate;
    const PixelCount ours = countPixels(paintSelected(delegate, modified));
    EXPECT_GT(ours.highlight, 160 * 30 / 2);
    EXPECT_GT(ours.red, 10);
    QStyledItemDelegate plain;
    const PixelCount theirs = countPixels(paintSelected(plain, modified));
    EXPECT_EQ(theirs.red, 0);
    EXPECT_EQ(theirs.highlight, 0);

    // A locked cell keeps its dark grey; the batch table's delegate paints the same way.
    DeviceSetDelegate batch;
    const PixelCount grey = countPixels(paintSelected(batch, locked));
    EXPECT_GT(grey.highlight, 160 * 30 / 2);
    EXPECT_GT(grey.darkGrey, 10);
}
