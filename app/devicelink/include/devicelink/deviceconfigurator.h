#pragma once

#include "devicelink/devicepacket.h"
#include "devicetable/deviceinfo.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

class DeviceDiscovery;
class DevicesModel;
class QHostAddress;
class QWidget;
struct ColumnMeta;

// Configuration commands of the device table: builds and sends the requests for
// edited values, reboots, file-system checks and Wi-Fi connects, and applies the
// terminals' replies to the rows. Sends and reads through the discovery unit, so
// the current device type and the socket are shared with the scan.
//
// Rows are handled by DEV_ID: a confirmation box runs a nested event loop in which
// scan replies may insert rows and move the others.
class DeviceConfigurator : public QObject {
    Q_OBJECT
public:
    // Asks the user a yes/no question; true for OK.
    using Confirm = std::function<bool(const QString& title, const QString& text)>;
    // Shows a result and returns when the user closed it.
    using ShowResult = std::function<void(const QString& title, const QString& text)>;

    // Boxes are shown over `dialogParent` unless replaced by setConfirm/setShowResult.
    DeviceConfigurator(DeviceDiscovery* discovery, QWidget* dialogParent,
                       QObject* parent = nullptr);

    void setConfirm(Confirm confirm) { confirm_ = std::move(confirm); }
    void setShowResult(ShowResult show) { showResult_ = std::move(show); }

    // Each builder sends its request only when its condition holds; true when sent.
    bool buildNetworkRequest(DeviceInfo& device);
    bool buildAppConfigRequest(DeviceInfo& device);
    bool buildVolumeRequest(DeviceInfo& device);
    bool buildBootSoundRequest(DeviceInfo& device);
    bool buildDevNameRequest(DeviceInfo& device);
    bool buildWifiRequest(DeviceInfo& device);
    bool buildRebootScheduleRequest(DeviceInfo& device);
    bool buildDbUpperBoundRequest(DeviceInfo& device);

    // A reboot of the row with this DEV_ID after the user confirmed it.
    void rebootOne(const QString& id);
    // A file-system check of the row; `selectedCount` is only logged when not 1.
    void checkFilesystemOne(const QString& id, int selectedCount);

public slots:
    // The selection-driven commands take the selected rows in selection order.
    void applyConfigChange(const QList<int>& rows);
    void sendPlaySound(const QList<int>& rows);
    void rebootDevice(const QList<int>& rows);
    void checkFilesystemStatus(const QList<int>& rows);
    void wifiConn(const QList<int>& rows);
    void onDeviceEdited(DeviceInfo* device, const ColumnMeta* field);
    void dealDeviceSet(const QString& id, const QMap<QString, QString>& update_data);
    // Replies to configuration requests (every reply code but the scan's).
    void handleReply(const QHostAddress& sender, const DevicePacket& packet);

signals:
    // Per-device status for open dialogs: a DEV_ID, a column key and a value.
    void updateDeviceColumnValue(const QString& id, const QString& column, const QString& value);

private:
    using Pairs = QList<QPair<QByteArray, QString>>;
    struct Field {
        const char* key;
        MyString DeviceInfo::*field;
    };

    DevicesModel* model() const;
    QStringList idsOf(const QList<int>& rows) const;
    // Sends one request addressed to `device` and records it in NOTICE; a null
    // `signalText` emits no signal. False (and an error in NOTICE) when refused.
    bool send(DeviceInfo& device, uint8_t code, const Pairs& pairs, const QString& status,
              const QString& signalText = QString());
    // The listed fields whose value changed, or all of them when any changed.
    static Pairs changedPairs(DeviceInfo& device, std::initializer_list<Field> fields, bool all);
    void setNotice(DeviceInfo& device, const QString& text, const QString& signalText);
    void reportRowChanged(const DeviceInfo& device);

    DeviceDiscovery* discovery_;
    Confirm confirm_;
    ShowResult showResult_;
};
