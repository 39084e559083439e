#include "shell/mainwindow.h"

#include "devicelink/addressprobe.h"
#include "devicelink/deviceconfigurator.h"
#include "devicelink/devicediscovery.h"
#include "devicelink/devicepacket.h"
#include "devicelink/ifacedlg.h"
#include "devicetable/columnlayout.h"
#include "devicetable/devicedelegate.h"
#include "devicetable/devicesmodel.h"
#include "services/devicettsplaydlg.h"
#include "services/playlocalmusicdlg.h"
#include "shell/action_rules.h"
#include "shell/app_settings.h"
#include "shell/version.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QDebug>
#include <QDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>

QPointer<QDialog> currentUpdateDialog;

namespace settings = tesmo::settings;

namespace {

struct ActionSpec {
    MainWindow::ActionId id;
    const char* text; // translation source
    const char* icon;
    bool enabledAtStart;
    void (MainWindow::*slot)();
};

// The toolbar, in its order.
const ActionSpec kActions[] = {
    {MainWindow::SearchAction, QT_TRANSLATE_NOOP("MainWindow", "Search"), ":/images/search.png",
     true, &MainWindow::sendScan},
    {MainWindow::PlaySoundAction, QT_TRANSLATE_NOOP("MainWindow", "Play sound"),
     ":/images/speaker.png", false, &MainWindow::sendPlaySound},
    {MainWindow::PlayLocalMusicAction, QT_TRANSLATE_NOOP("MainWindow", "Play local music"),
     ":/images/play_local_music.png", false, &MainWindow::PlayLocalMusic},
    {MainWindow::ApplyConfigAction, QT_TRANSLATE_NOOP("MainWindow", "Apply config"),
     ":/images/ok.png", false, &MainWindow::applyConfigChange},
    {MainWindow::RevertChangeAction, QT_TRANSLATE_NOOP("MainWindow", "Revert change"),
     ":/images/back.png", false, &MainWindow::revertChange},
    {MainWindow::RebootDeviceAction, QT_TRANSLATE_NOOP("MainWindow", "Reboot device"),
     ":/images/reboot.png", false, &MainWindow::rebootDevice},
    {MainWindow::UpdateDeviceAction, QT_TRANSLATE_NOOP("MainWindow", "Update device"),
     ":/images/up.png", false, &MainWindow::appUpdate},
    {MainWindow::BatchSettingAction, QT_TRANSLATE_NOOP("MainWindow", "Batch setting"),
     ":/images/setting.png", false, &MainWindow::batchDeviceSet},
    {MainWindow::TtsPlayAction, QT_TRANSLATE_NOOP("MainWindow", "tts play"), ":/images/play.png",
     false, &MainWindow::ttsPlay},
    {MainWindow::WifiConnAction, QT_TRANSLATE_NOOP("MainWindow", "Wifi conn"), ":/images/wifi.png",
     false, &MainWindow::wifiConn},
    {MainWindow::Search2Action, QT_TRANSLATE_NOOP("MainWindow", "Search2"), ":/images/sousuo.png",
     true, &MainWindow::ipProbe},
    {MainWindow::ExportAction, QT_TRANSLATE_NOOP("MainWindow", "Export"), ":/images/export.png",
     true, &MainWindow::exportDeviceInfo},
    {MainWindow::DeviceExportAction, QT_TRANSLATE_NOOP("MainWindow", "Device Export"),
     ":/images/device_export.png", false, &MainWindow::ExportDeviceConfig},
    {MainWindow::DeviceImportAction, QT_TRANSLATE_NOOP("MainWindow", "Device Import"),
     ":/images/device_import.png", true, &MainWindow::ImportDeviceConfig},
    {MainWindow::PrinterSettingAction, QT_TRANSLATE_NOOP("MainWindow", "Printer setting"),
     ":/images/printer_setting.png", true, &MainWindow::PrinterSetting},
    {MainWindow::LanguageAction, QT_TRANSLATE_NOOP("MainWindow", "Language"),
     ":/images/language.png", true, &MainWindow::languageSet},
    {MainWindow::KeywordSearchAction, QT_TRANSLATE_NOOP("MainWindow", "keyword search"),
     ":/images/sousuo.png", true, &MainWindow::sendScan},
};
static_assert(std::size(kActions) == MainWindow::ActionCount, "one entry per toolbar action");

const char* const kLanguageCodes[] = {"zh", "en", "kr"};
const char* const kReadyText = QT_TRANSLATE_NOOP("MainWindow", "就绪");

int columnOf(const char* key) {
    return DevicesModel::columnIndex(QLatin1String(key));
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), scheduler_([this](int ms, std::function<void()> fn) {
          QTimer::singleShot(ms, this, std::move(fn));
      }),
      dialogRunner_([](QDialog& dialog) { dialog.exec(); }) {
    setMinimumSize(1024, 600);

    model_ = new DevicesModel(this);
    connect(model_, &DevicesModel::deviceEdited, this, &MainWindow::onDeviceEdited);
    connect(model_, &QAbstractItemModel::modelReset, this, &MainWindow::onModelReset);

    buildCentralWidget();
    buildTable();
    buildContextMenu();
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::selectionChanged);
    connect(model_, &QAbstractItemModel::dataChanged, this, &MainWindow::dataChanged);
    view_->setItemDelegate(new DeviceDelegate(view_));

    buildToolBar();
    devNameFontSize_ = settings::intValue(settings::devNameFontSize);
    codeFontSize_ = settings::intValue(settings::codeFontSize);

    buildStatusBar();

    exportPath_ = settings::value(settings::exportPath);
    setWindowIcon(QIcon(QStringLiteral(":/images/man.ico")));

    // The datagram socket lives in the discovery unit, bound when it is made.
    discovery_ = new DeviceDiscovery(model_, this);
    connect(discovery_, &DeviceDiscovery::countTextChanged, this, &MainWindow::setCountText);
    // Configuration commands; terminal replies reach open dialogs through our signal.
    configurator_ = new DeviceConfigurator(discovery_, this, this);
    connect(configurator_, &DeviceConfigurator::updateDeviceColumnValue, this,
            &MainWindow::updateDeviceColumnValue);
    probe_ = new ProbeLauncher(model_, this, this);

    setWindowTitle(tr("AoIP device manager") + QStringLiteral("v") +
                   QLatin1String(tesmo::kVersion));
}

MainWindow::~MainWindow() = default;

void MainWindow::buildCentralWidget() {
    central_ = new QWidget(this);
    auto* grid = new QGridLayout(central_);
    tabBar_ = new QTabBar(central_);
    for (const DeviceType& type : deviceTypes())
        tabBar_->addTab(tr(type.label));
    // Connected after the tabs exist: building them starts no scan.
    connect(tabBar_, &QTabBar::currentChanged, this, &MainWindow::sendScan);
    grid->addWidget(tabBar_, 0, 0);
    view_ = new QTableView(central_);
    grid->addWidget(view_, 1, 0);
    setCentralWidget(central_);
}

void MainWindow::buildTable() {
    view_->setModel(model_);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSortingEnabled(true);
    QHeaderView* header = view_->horizontalHeader();
    // Fit to contents, stretch the wide columns; measured on visible rows so a
    // scan of thousands of terminals keeps the window responsive.
    applyDeviceColumnLayout(header);
    header->setSortIndicator(columnOf("ADDRESS"), Qt::AscendingOrder);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
}

void MainWindow::buildContextMenu() {
    contextMenu_ = new QMenu(this);
    copyAction_ = contextMenu_->addAction(QStringLiteral("复制"));
    connect(copyAction_, &QAction::triggered, this, &MainWindow::copyCellValue);
    checkFilesystemAction_ = contextMenu_->addAction(tr("检查文件系统"));
    connect(checkFilesystemAction_, &QAction::triggered, this, &MainWindow::checkFilesystemStatus);
    printAction_ = contextMenu_->addAction(tr("打印设备编码,别名"));
    connect(printAction_, &QAction::triggered, this, &MainWindow::printerDevicesInfo);
    connect(view_, &QWidget::customContextMenuRequested, this, &MainWindow::showContextMenu);
}

void MainWindow::buildToolBar() {
    QToolBar* bar = addToolBar(tr("&Device"));
    bar->setObjectName(QStringLiteral("deviceToolBar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (const ActionSpec& entry : kActions) {
        auto* a = new QAction(QIcon(QLatin1String(entry.icon)), tr(entry.text), this);
        a->setEnabled(entry.enabledAtStart);
        connect(a, &QAction::triggered, this, entry.slot);
        bar->addAction(a);
        actions_[size_t(entry.id)] = a;
    }

    const QFont font(QStringLiteral("黑体"), 16);
    keywordColumn_ = new QComboBox(bar);
    keywordColumn_->setMinimumHeight(30);
    keywordColumn_->setFont(font);
    fillKeywordColumns();
    connect(keywordColumn_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { discovery_->setSearchColumn(index); });
    bar->addWidget(keywordColumn_);

    keywordField_ = new QLineEdit(bar);
    keywordField_->setMinimumHeight(30);
    keywordField_->setMaximumWidth(200);
    keywordField_->setFont(font);
    connect(keywordField_, &QLineEdit::textChanged, this, &MainWindow::setSearchMessage);
    bar->addWidget(keywordField_);
}

void MainWindow::fillKeywordColumns() {
    const QSignalBlocker block(keywordColumn_);
    const int index = keywordColumn_->currentIndex();
    keywordColumn_->clear();
    for (const QString& key : DeviceDiscovery::searchColumns())
        keywordColumn_->addItem(QCoreApplication::translate("DevicesModel", key.toLatin1()));
    keywordColumn_->setCurrentIndex(index < 0 ? 0 : index);
}

void MainWindow::buildStatusBar() {
    countLabel_ = new QLabel(tr(kReadyText), this);
    auto* spacer = new QWidget(this);
    spacer->setFixedWidth(50);
    messageLabel_ = new QLabel(QString(), this);
    statusBar()->addWidget(countLabel_);
    statusBar()->addWidget(spacer);
    statusBar()->addWidget(messageLabel_);
}

void MainWindow::retranslate() {
    setWindowTitle(tr("AoIP device manager") + QStringLiteral("v") +
                   QLatin1String(tesmo::kVersion));
    for (const ActionSpec& entry : kActions)
        actions_[size_t(entry.id)]->setText(tr(entry.text));
    if (auto* bar = findChild<QToolBar*>(QStringLiteral("deviceToolBar")))
        bar->setWindowTitle(tr("&Device"));
    checkFilesystemAction_->setText(tr("检查文件系统"));
    printAction_->setText(tr("打印设备编码,别名"));
    const auto& types = deviceTypes();
    for (int i = 0; i < tabBar_->count() && size_t(i) < types.size(); ++i)
        tabBar_->setTabText(i, tr(types[size_t(i)].label));
    fillKeywordColumns();
    setCountText(countShown_ ? discovery_->countText() : QString());
}

void MainWindow::setCountText(const QString& text) {
    if (text.isEmpty()) {
        countLabel_->setText(tr(kReadyText));
        return;
    }
    countShown_ = true;
    countLabel_->setText(text);
}

QList<int> MainWindow::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows())
        if (!rows.contains(index.row()))
            rows.append(index.row());
    return rows;
}

QVector<DeviceInfo> MainWindow::selectedDevices() const {
    QVector<DeviceInfo> devices;
    for (int row : selectedRows())
        if (const DeviceInfo* d = model_->deviceAt(row))
            devices.append(*d);
    return devices;
}

void MainWindow::sendScan() {
    // The scan empties the table: a probe still running must not refill it.
    probe_->detachRunning();
    discovery_->setDeviceTypeIndex(tabBar_->currentIndex());
    discovery_->setSearchColumn(keywordColumn_->currentIndex());
    discovery_->sendScan();
}

void MainWindow::ipProbe() {
    probe_->ipProbe();
}

void MainWindow::applyConfigChange() {
    configurator_->applyConfigChange(selectedRows());
}

void MainWindow::sendPlaySound() {
    configurator_->sendPlaySound(selectedRows());
}

void MainWindow::readUdpPackets() {
    discovery_->readUdpPackets();
}

void MainWindow::revertChange() {
    for (int row : selectedRows())
        model_->revertRow(row);
}

void MainWindow::rebootDevice() {
    configurator_->rebootDevice(selectedRows());
}

void MainWindow::appUpdate() {
    const QVector<DeviceInfo> devices = selectedDevices();
    if (devices.isEmpty())
        return;
    // The update dialog opens here, modal, as currentUpdateDialog.
}

void MainWindow::copyCellValue() {
    if (!contextIndex_.isValid())
        return;
    const QString text = cellCopyText(*model_, contextIndex_, selectedRows().size());
    QApplication::clipboard()->setText(text);
    showMessage(tr("\"%1\" is copied").arg(text));
}

void MainWindow::showMessage(const QString& message) {
    messageLabel_->setText(message);
    QPointer<QLabel> label = messageLabel_;
    scheduler_(3000, [label, message] {
        // A later message stays until its own time is up.
        if (label && label->text() == message)
            label->clear();
    });
}

void MainWindow::checkFilesystemStatus() {
    configurator_->checkFilesystemStatus(selectedRows());
}

void MainWindow::printerDevicesInfo() {
    // Label printing arrives with the printer support.
}

void MainWindow::showContextMenu(const QPoint& point) {
    qDebug() << "MainWindow::showContextMenu";
    contextIndex_ = view_->indexAt(point);
    if (!contextIndex_.isValid())
        return;
    const QString text = cellCopyText(*model_, contextIndex_, selectedRows().size());
    copyAction_->setText(tr("Copy to clipboard: ") + text);
    contextMenu_->popup(QCursor::pos());
}

void MainWindow::onDeviceEdited(DeviceInfo* device, const ColumnMeta* field) {
    configurator_->onDeviceEdited(device, field);
}

void MainWindow::onModelReset() {
    // The view reports changes while the window is still being built.
    if (!actions_[0])
        return;
    view_->setColumnWidth(columnOf("ICCID"), 80);
    QList<const DeviceInfo*> selected;
    for (int row : selectedRows())
        selected.append(model_->deviceAt(row));
    const ActionEnabling e = actionEnabling(selected);
    for (ActionId id : {PlaySoundAction, PlayLocalMusicAction, RebootDeviceAction,
                        UpdateDeviceAction, BatchSettingAction, WifiConnAction, TtsPlayAction})
        action(id)->setEnabled(e.anySelected);
    action(ApplyConfigAction)->setEnabled(e.anyModified);
    action(RevertChangeAction)->setEnabled(e.anyModified);
    action(DeviceExportAction)->setEnabled(e.singleSelected);
}

void MainWindow::selectionChanged(const QItemSelection&, const QItemSelection&) {
    onModelReset();
}

void MainWindow::dataChanged(const QModelIndex&, const QModelIndex&, const QVector<int>&) {
    onModelReset();
}

void MainWindow::batchDeviceSet() {
    const QVector<DeviceInfo> devices = selectedDevices();
    if (devices.isEmpty())
        return;
    // The batch-setting dialog opens here; its updatedColumn goes to dealDeviceSet.
}

void MainWindow::dealDeviceSet(const QString& id, const QMap<QString, QString>& update_data) {
    configurator_->dealDeviceSet(id, update_data);
}

void MainWindow::languageSet() {
    languageCounter_ = (languageCounter_ + 1) % 3;
    languageCode_ = QLatin1String(kLanguageCodes[languageCounter_]);
    emit changeLanguage(languageCode_);
}

void MainWindow::wifiConn() {
    configurator_->wifiConn(selectedRows());
}

void MainWindow::exportDeviceInfo() {
    // The CSV export arrives with the export support.
}

void MainWindow::setSearchMessage(const QString& message) {
    discovery_->setSearchMessage(message);
}

void MainWindow::ttsPlay() {
    const QVector<DeviceInfo> devices = selectedDevices();
    if (devices.isEmpty())
        return;
    DeviceTtsPlayDlg dialog(devices, this);
    connect(&dialog, &DeviceTtsPlayDlg::updatedColumn, this, &MainWindow::dealDeviceSet);
    connect(this, &MainWindow::updateDeviceColumnValue, &dialog,
            &DeviceTtsPlayDlg::updateDeviceColumnValue);
    dialogRunner_(dialog);
}

void MainWindow::ExportDeviceConfig() {
    const QList<int> rows = selectedRows();
    if (rows.size() != 1)
        return;
    const DeviceInfo* device = model_->deviceAt(rows.first());
    if (!device) {
        qDebug() << "设备信息无法查到, 无法导出";
        return;
    }
    // The configuration export dialog opens here with a copy of *device.
}

void MainWindow::ImportDeviceConfig() {
    const QVector<DeviceInfo> devices = selectedDevices();
    if (devices.isEmpty())
        return;
    // The configuration import dialog opens here.
}

void MainWindow::PlayLocalMusic() {
    const QVector<DeviceInfo> devices = selectedDevices();
    if (devices.isEmpty())
        return;
    PlayLocalMusicDlg dialog(devices, this);
    dialogRunner_(dialog);
}

void MainWindow::PrinterSetting() {
    // The printer settings dialog opens here; its font sizes reach
    // devNameFontSizeSet and codeFontSizeSet.
}

void MainWindow::devNameFontSizeSet(const QString& message) {
    devNameFontSize_ = message.toInt();
    settings::setValue(settings::devNameFontSize, QString::number(devNameFontSize_));
}

void MainWindow::codeFontSizeSet(const QString& message) {
    codeFontSize_ = message.toInt();
    settings::setValue(settings::codeFontSize, QString::number(codeFontSize_));
}
