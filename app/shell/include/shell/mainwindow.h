// Public: the program's only top-level window: the device table, the toolbar,
// the type tabs, the keyword filter, the status bar and the context menu. It owns
// the discovery unit and forwards the device-link slots to it.
#pragma once

#include <QMainWindow>
#include <QMap>
#include <QModelIndex>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <functional>

class QAction;
class QComboBox;
class QDialog;
class QItemSelection;
class QLabel;
class QLineEdit;
class QMenu;
class QTabBar;
class QTableView;
class DeviceConfigurator;
class DeviceDiscovery;
class ProbeLauncher;
class DevicesModel;
struct ColumnMeta;
struct DeviceInfo;

// The update dialog opened by "Update device", or null. The in-memory file
// server reports the status of the fetching terminal through it.
extern QPointer<QDialog> currentUpdateDialog;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // The toolbar actions, in toolbar order.
    enum ActionId {
        SearchAction,
        PlaySoundAction,
        PlayLocalMusicAction,
        ApplyConfigAction,
        RevertChangeAction,
        RebootDeviceAction,
        UpdateDeviceAction,
        BatchSettingAction,
        TtsPlayAction,
        WifiConnAction,
        Search2Action,
        ExportAction,
        DeviceExportAction,
        DeviceImportAction,
        PrinterSettingAction,
        LanguageAction,
        KeywordSearchAction,
        ActionCount
    };

    // Runs a function once after a delay; tests replace the timer with their own.
    using Scheduler = std::function<void(int ms, std::function<void()>)>;
    // Runs a dialog the window opened, modally; tests drive the dialog instead.
    using DialogRunner = std::function<void(QDialog&)>;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    QAction* action(ActionId id) const { return actions_[size_t(id)]; }
    QTabBar* typeTabBar() const { return tabBar_; }
    QTableView* tableView() const { return view_; }
    DevicesModel* model() const { return model_; }
    DeviceDiscovery* discovery() const { return discovery_; }
    DeviceConfigurator* configurator() const { return configurator_; }
    ProbeLauncher* probeLauncher() const { return probe_; }
    QComboBox* keywordColumnChooser() const { return keywordColumn_; }
    QLineEdit* keywordField() const { return keywordField_; }
    QLabel* countLabel() const { return countLabel_; }
    QLabel* messageLabel() const { return messageLabel_; }
    QMenu* contextMenu() const { return contextMenu_; }
    QAction* copyAction() const { return copyAction_; }
    QString languageCode() const { return languageCode_; }
    QString exportPath() const { return exportPath_; }
    int devNameFontSize() const { return devNameFontSize_; }
    int codeFontSize() const { return codeFontSize_; }

    void setScheduler(Scheduler scheduler) { scheduler_ = std::move(scheduler); }
    void setDialogRunner(DialogRunner runner) { dialogRunner_ = std::move(runner); }
    // Selected rows in the order they were selected.
    QList<int> selectedRows() const;
    // Value copies of the selected rows, for dialogs that work on a snapshot.
    QVector<DeviceInfo> selectedDevices() const;

    // Re-applies every translated text after a language switch.
    void retranslate();

signals:
    void updateDeviceColumnValue(const QString& id, const QString& column, const QString& value);
    void changeLanguage(const QString& lang);

public slots:
    void sendScan();
    void ipProbe();
    void applyConfigChange();
    void sendPlaySound();
    void readUdpPackets();
    void revertChange();
    void rebootDevice();
    void appUpdate();
    void copyCellValue();
    void checkFilesystemStatus();
    void printerDevicesInfo();
    void showContextMenu(const QPoint& point);
    void onDeviceEdited(DeviceInfo* device, const ColumnMeta* field);
    void onModelReset();
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QVector<int>& roles);
    void batchDeviceSet();
    void dealDeviceSet(const QString& id, const QMap<QString, QString>& update_data);
    void languageSet();
    void wifiConn();
    void exportDeviceInfo();
    void setSearchMessage(const QString& message);
    void ttsPlay();
    void ExportDeviceConfig();
    void ImportDeviceConfig();
    void PlayLocalMusic();
    void PrinterSetting();

    // Font sizes chosen in the printer settings: the text read as a decimal
    // integer (0 when it is not one), kept in the settings store.
    void devNameFontSizeSet(const QString& message);
    void codeFontSizeSet(const QString& message);

private:
    void buildCentralWidget();
    void buildTable();
    void buildContextMenu();
    void buildToolBar();
    void buildStatusBar();
    void fillKeywordColumns();
    void showMessage(const QString& message);
    void setCountText(const QString& text);

    QString exportPath_ = QStringLiteral(".");
    std::array<QAction*, ActionCount> actions_{};
    QWidget* central_ = nullptr;
    QTabBar* tabBar_ = nullptr;
    DevicesModel* model_ = nullptr;
    DeviceDiscovery* discovery_ = nullptr;
    DeviceConfigurator* configurator_ = nullptr;
    ProbeLauncher* probe_ = nullptr;
    QTableView* view_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QLabel* messageLabel_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    QAction* copyAction_ = nullptr;
    QAction* checkFilesystemAction_ = nullptr;
    QAction* printAction_ = nullptr;
    QModelIndex contextIndex_;
    int languageCounter_ = 0;
    QString languageCode_ = QStringLiteral("zh");
    QComboBox* keywordColumn_ = nullptr;
    QLineEdit* keywordField_ = nullptr;
    int devNameFontSize_ = 16;
    int codeFontSize_ = 16;
    // True once replies have replaced the "ready" text with a device count.
    bool countShown_ = false;
    Scheduler scheduler_;
    DialogRunner dialogRunner_;
};
