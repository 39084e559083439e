#include "devicelink/deviceconfigurator.h"

#include "devicelink/devicediscovery.h"
#include "devicetable/devicesmodel.h"

#include <QDebug>
#include <QHostAddress>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <cstdio>
#include <vector>

namespace {

const char kStatic[] = "static";
const char kNotice[] = "NOTICE";
const char kHealthy[] = "ok";

// What a reply of one code writes into its row.
struct ReplyRule {
    std::vector<std::pair<QByteArray, MyString DeviceInfo::*>> fields;
    bool both = false;          // write both halves, not only the reported one
    bool fieldSignal = false;   // tell open dialogs about each written field
    bool notice = false;        // the reply's "message" goes into NOTICE
    bool noticeSignal = false;  // and to open dialogs
    bool presentCounts = false; // a key that is present is written even when empty
};

// The rule of a reply code; false for codes handled elsewhere or not at all.
// The server keys of 0x05 are those of the current device type.
bool replyRule(uint8_t code, const DeviceType& type, ReplyRule* rule) {
    using F = DeviceInfo;
    switch (code) {
    case DeviceCode::NetworkConfig + 1:
        *rule = {{{"PROTO", &F::proto},
                  {"ADDRESS", &F::address},
                  {"NETMASK", &F::netmask},
                  {"GATEWAY", &F::gateway}},
                 false,
                 true,
                 true,
                 true};
        return true;
    case DeviceCode::AppConfig + 1:
        // An empty key names nothing (types without a server).
        *rule = {{}, false, false, true, false, true};
        if (!type.serverKey.isEmpty())
            rule->fields.push_back({type.serverKey.toUtf8(), &F::server});
        if (!type.portKey.isEmpty())
            rule->fields.push_back({type.portKey.toUtf8(), &F::port});
        return true;
    case DeviceCode::PlaySound + 1:
    case DeviceCode::BootSoundConfig + 1:
        *rule = {{}, false, false, true, false};
        return true;
    case DeviceCode::Reboot + 1:
    case DeviceCode::DevNameConfig + 1:
        *rule = {{{"DEV_NAME", &F::devName}}, false, false, false, false};
        return true;
    case DeviceCode::VolumeConfig + 1:
        *rule = {
            {{"AI_VOLUME", &F::aiVolume}, {"AO_VOLUME", &F::aoVolume}}, false, true, true, true};
        return true;
    case DeviceCode::WifiConfig + 1:
        *rule = {
            {{"WIFI_NAME", &F::wifiName}, {"WIFI_PWD", &F::wifiPwd}}, true, false, true, false};
        return true;
    case DeviceCode::DbUpperBoundConfig + 1:
        *rule = {{{"INPUT_DB_UPPER_BOUND", &F::inputDbUpperBound},
                  {"OUTPUT_DB_UPPER_BOUND", &F::outputDbUpperBound}},
                 true,
                 true,
                 true,
                 true};
        return true;
    case DeviceCode::RebootScheduleConfig + 1:
        *rule = {{{"REBOOT_AT", &F::rebootAt}, {"REBOOT_ENABLE", &F::rebootEnable}},
                 true,
                 true,
                 true,
                 true};
        return true;
    default:
        return false;
    }
}

// Keys of the batch and text-to-speech dialogs and the fields they set.
const std::vector<std::pair<QString, MyString DeviceInfo::*>>& batchKeys() {
    static const std::vector<std::pair<QString, MyString DeviceInfo::*>> keys = {
        {QStringLiteral("AI_VOLUME"), &DeviceInfo::aiVolume},
        {QStringLiteral("AO_VOLUME"), &DeviceInfo::aoVolume},
        {QStringLiteral("BROADCAST_SERVER"), &DeviceInfo::server},
        {QStringLiteral("BROADCAST_PORT"), &DeviceInfo::port},
        {QStringLiteral("INPUT_DB_UPPER_BOUND"), &DeviceInfo::inputDbUpperBound},
        {QStringLiteral("OUTPUT_DB_UPPER_BOUND"), &DeviceInfo::outputDbUpperBound},
        {QStringLiteral("REBOOT_ENABLE"), &DeviceInfo::rebootEnable},
        {QStringLiteral("REBOOT_AT"), &DeviceInfo::rebootAt},
        {QStringLiteral("ADDRESS"), &DeviceInfo::address},
        {QStringLiteral("NETMASK"), &DeviceInfo::netmask},
        {QStringLiteral("GATEWAY"), &DeviceInfo::gateway},
        {QStringLiteral("PROTO"), &DeviceInfo::proto},
    };
    return keys;
}

} // namespace

DeviceConfigurator::DeviceConfigurator(DeviceDiscovery* discovery, QWidget* dialogParent,
                                       QObject* parent)
    : QObject(parent), discovery_(discovery) {
    QPointer<QWidget> owner = dialogParent;
    confirm_ = [owner](const QString& title, const QString& text) {
        return QMessageBox::warning(owner, title, text, QMessageBox::Ok | QMessageBox::Cancel) ==
               QMessageBox::Ok;
    };
    showResult_ = [owner](const QString& title, const QString& text) {
        QMessageBox::information(owner, title, text, QMessageBox::Ok);
    };
    connect(discovery_, &DeviceDiscovery::configReply, this, &DeviceConfigurator::handleReply);
}

DevicesModel* DeviceConfigurator::model() const {
    return discovery_->model();
}

QStringList DeviceConfigurator::idsOf(const QList<int>& rows) const {
    QStringList ids;
    for (int row : rows)
        if (const DeviceInfo* d = model()->deviceAt(row))
            ids.append(d->devId.reported);
    return ids;
}

DeviceConfigurator::Pairs DeviceConfigurator::changedPairs(DeviceInfo& device,
                                                           std::initializer_list<Field> fields,
                                                           bool all) {
    Pairs pairs;
    bool any = false;
    for (const Field& f : fields) {
        const MyString& value = device.*(f.field);
        any = any || value.isModified();
        if (all || value.isModified())
            pairs.append({QByteArray(f.key), value.current});
    }
    return any ? pairs : Pairs();
}

bool DeviceConfigurator::send(DeviceInfo& device, uint8_t code, const Pairs& pairs,
                              const QString& status, const QString& signalText) {
    DevicePacket packet = DevicePacket::request(code);
    packet.setTargetHwAddr(device.hwAddr.reported);
    packet.setTargetDevId(device.devId.reported);
    QString error;
    for (const auto& pair : pairs) {
        const QByteArray value = pair.second.toUtf8();
        // The payload has no escaping for ";": the terminal would read another value.
        // An "=" inside a value is safe, only a segment's first "=" ends its key.
        if (value.contains(';'))
            error = tr("Not sent: a value contains ';'");
        packet.insert(pair.first, value);
    }
    if (error.isEmpty() && !discovery_->broadcastPacket(packet))
        error = tr("Not sent: the request does not fit a datagram");
    if (!error.isEmpty()) {
        qWarning().noquote() << "request" << int(code) << "for" << device.devId.reported
                             << "not sent:" << error;
        setNotice(device, error, signalText.isNull() ? QString() : error);
        return false;
    }
    setNotice(device, status, signalText);
    return true;
}

void DeviceConfigurator::setNotice(DeviceInfo& device, const QString& text,
                                   const QString& signalText) {
    device.notice.current = text;
    model()->touch(device);
    if (!signalText.isNull())
        emit updateDeviceColumnValue(device.devId.reported, QLatin1String(kNotice), signalText);
}

void DeviceConfigurator::reportRowChanged(const DeviceInfo& device) {
    DevicesModel* m = model();
    for (int row = 0; row < m->rowCount(); ++row) {
        if (m->deviceAt(row) == &device) {
            emit m->dataChanged(m->index(row, 0), m->index(row, m->columnCount() - 1));
            return;
        }
    }
}

bool DeviceConfigurator::buildNetworkRequest(DeviceInfo& device) {
    const bool addressChanged =
        device.address.isModified() || device.netmask.isModified() || device.gateway.isModified();
    // Under DHCP the terminal picks its own address: only a change of PROTO counts.
    if (!device.proto.isModified() &&
        !(device.proto.current == QLatin1String(kStatic) && addressChanged))
        return false;
    const QString status = tr("Network config request is sent");
    return send(device, DeviceCode::NetworkConfig,
                {{"PROTO", device.proto.current},
                 {"ADDRESS", device.address.current},
                 {"NETMASK", device.netmask.current},
                 {"GATEWAY", device.gateway.current}},
                status, status);
}

bool DeviceConfigurator::buildAppConfigRequest(DeviceInfo& device) {
    const DeviceType& type = discovery_->currentType();
    Pairs pairs;
    if (device.server.isModified())
        pairs.append({type.serverKey.toUtf8(), device.server.current});
    if (device.port.isModified())
        pairs.append({type.portKey.toUtf8(), device.port.current});
    if (pairs.isEmpty())
        return false;
    return send(device, DeviceCode::AppConfig, pairs, tr("App config request is sent"),
                QStringLiteral("App config request is sentt"));
}

bool DeviceConfigurator::buildVolumeRequest(DeviceInfo& device) {
    const Pairs pairs = changedPairs(
        device, {{"AI_VOLUME", &DeviceInfo::aiVolume}, {"AO_VOLUME", &DeviceInfo::aoVolume}},
        false);
    return !pairs.isEmpty() &&
           send(device, DeviceCode::VolumeConfig, pairs, tr("Volume config request is sent"),
                QStringLiteral("Volume config request is sent"));
}

bool DeviceConfigurator::buildBootSoundRequest(DeviceInfo& device) {
    const Pairs pairs = changedPairs(device, {{"BOOT_SOUND", &DeviceInfo::bootSound}}, false);
    return !pairs.isEmpty() &&
           send(device, DeviceCode::BootSoundConfig, pairs, tr("request is sent"));
}

bool DeviceConfigurator::buildDevNameRequest(DeviceInfo& device) {
    const Pairs pairs = changedPairs(device, {{"DEV_NAME", &DeviceInfo::devName}}, false);
    return !pairs.isEmpty() &&
           send(device, DeviceCode::DevNameConfig, pairs, tr("request is sent"));
}

bool DeviceConfigurator::buildWifiRequest(DeviceInfo& device) {
    const Pairs pairs = changedPairs(
        device, {{"WIFI_NAME", &DeviceInfo::wifiName}, {"WIFI_PWD", &DeviceInfo::wifiPwd}}, true);
    return !pairs.isEmpty() &&
           send(device, DeviceCode::WifiConfig, pairs, tr("wifi config request is sent"));
}

bool DeviceConfigurator::buildRebootScheduleRequest(DeviceInfo& device) {
    const Pairs pairs = changedPairs(
        device,
        {{"REBOOT_AT", &DeviceInfo::rebootAt}, {"REBOOT_ENABLE", &DeviceInfo::rebootEnable}},
        false);
    return !pairs.isEmpty() && send(device, DeviceCode::RebootScheduleConfig, pairs,
                                    tr("dev reboot config request is sent"),
                                    QStringLiteral("dev reboot config request is sent"));
}

bool DeviceConfigurator::buildDbUpperBoundRequest(DeviceInfo& device) {
    const Pairs pairs = changedPairs(device,
                                     {{"INPUT_DB_UPPER_BOUND", &DeviceInfo::inputDbUpperBound},
                                      {"OUTPUT_DB_UPPER_BOUND", &DeviceInfo::outputDbUpperBound}},
                                     false);
    return !pairs.isEmpty() && send(device, DeviceCode::DbUpperBoundConfig, pairs,
                                    tr("DBUpperBound config request is sent"),
                                    QStringLiteral("DBUpperBound config request is sent"));
}

void DeviceConfigurator::applyConfigChange(const QList<int>& rows) {
    for (const QString& id : idsOf(rows)) {
        DeviceInfo* d = model()->find(id);
        if (!d)
            continue;
        buildNetworkRequest(*d);
        buildAppConfigRequest(*d);
        buildVolumeRequest(*d);
        buildBootSoundRequest(*d);
        buildDevNameRequest(*d);
        buildWifiRequest(*d);
        buildRebootScheduleRequest(*d);
        buildDbUpperBoundRequest(*d);
    }
}

void DeviceConfigurator::sendPlaySound(const QList<int>& rows) {
    const QStringList ids = idsOf(rows);
    if (ids.isEmpty())
        return;
    if (DeviceInfo* d = model()->find(ids.first()))
        send(*d, DeviceCode::PlaySound, {}, tr("Play sound request is sent"));
}

void DeviceConfigurator::rebootDevice(const QList<int>& rows) {
    for (const QString& id : idsOf(rows))
        rebootOne(id);
}

void DeviceConfigurator::rebootOne(const QString& id) {
    if (!confirm_(tr("Confirm"), tr("Are you sure to reboot the selected deivce?")))
        return;
    // Looked up after the box: the table may have changed while it was open.
    if (DeviceInfo* d = model()->find(id))
        send(*d, DeviceCode::Reboot, {}, tr("Reboot request is sent"));
}

void DeviceConfigurator::checkFilesystemStatus(const QList<int>& rows) {
    const QStringList ids = idsOf(rows);
    for (const QString& id : ids)
        checkFilesystemOne(id, ids.size());
}

void DeviceConfigurator::checkFilesystemOne(const QString& id, int selectedCount) {
    if (selectedCount != 1)
        qDebug().noquote() << "无法批量检查文件系统，选择设备数量不对：" << selectedCount;
    if (DeviceInfo* d = model()->find(id))
        send(*d, DeviceCode::CheckFilesystem, {}, tr("check filesystem status request is sent"));
}

void DeviceConfigurator::wifiConn(const QList<int>& rows) {
    for (const QString& id : idsOf(rows)) {
        DeviceInfo* d = model()->find(id);
        if (!d)
            continue;
        if (d->wifiName.current.isEmpty() || d->wifiPwd.current.isEmpty())
            return;
        send(*d, DeviceCode::WifiConfig,
             {{"WIFI_NAME", d->wifiName.current}, {"WIFI_PWD", d->wifiPwd.current}},
             tr("wifi config request is sent"));
    }
}

void DeviceConfigurator::onDeviceEdited(DeviceInfo* device, const ColumnMeta* field) {
    if (!device || !field || !field->getter)
        return;
    const MyString* value = field->getter(*device);
    if (!value || !value->isModified())
        return;
    using Builder = bool (DeviceConfigurator::*)(DeviceInfo&);
    // Network and Wi-Fi edits wait for "Apply config" or "Wifi conn".
    static const std::pair<const char*, Builder> routes[] = {
        {"LOUDSPEAKER_VOLUME", &DeviceConfigurator::buildVolumeRequest},
        {"MICROPHONE_VOLUME", &DeviceConfigurator::buildVolumeRequest},
        {"AO_VOLUME", &DeviceConfigurator::buildVolumeRequest},
        {"AI_VOLUME", &DeviceConfigurator::buildVolumeRequest},
        {"SERVER", &DeviceConfigurator::buildAppConfigRequest},
        {"PORT", &DeviceConfigurator::buildAppConfigRequest},
        {"BOOT_SOUND", &DeviceConfigurator::buildBootSoundRequest},
        {"DEV_NAME", &DeviceConfigurator::buildDevNameRequest},
        {"INPUT_DB_UPPER_BOUND", &DeviceConfigurator::buildDbUpperBoundRequest},
        {"OUTPUT_DB_UPPER_BOUND", &DeviceConfigurator::buildDbUpperBoundRequest},
        {"REBOOT_AT", &DeviceConfigurator::buildRebootScheduleRequest},
        {"REBOOT_ENABLE", &DeviceConfigurator::buildRebootScheduleRequest},
    };
    for (const auto& route : routes) {
        if (qstrcmp(field->name, route.first) == 0) {
            (this->*route.second)(*device);
            return;
        }
    }
}

void DeviceConfigurator::dealDeviceSet(const QString& id,
                                       const QMap<QString, QString>& update_data) {
    DeviceInfo* d = model()->find(id);
    if (!d)
        return;
    for (auto it = update_data.cbegin(); it != update_data.cend(); ++it)
        for (const auto& key : batchKeys())
            if (key.first == it.key())
                ((*d).*(key.second)).current = it.value();
    buildVolumeRequest(*d);
    buildAppConfigRequest(*d);
    buildDbUpperBoundRequest(*d);
    buildRebootScheduleRequest(*d);
    buildNetworkRequest(*d);
    // Values that sent nothing (an address under DHCP) still show in the table.
    reportRowChanged(*d);
}

void DeviceConfigurator::handleReply(const QHostAddress& sender, const DevicePacket& packet) {
    DeviceInfo r;
    discovery_->fillDeviceInfo(r, packet, sender);
    const QString id = r.devId.reported;
    if (id.isEmpty())
        return;
    DeviceInfo* row = model()->find(id);
    if (!row)
        return;

    if (packet.code == DeviceCode::CheckFilesystem + 1) {
        const QString message = r.filesystemMessage.reported;
        if (!message.isEmpty() && message != QLatin1String(kHealthy)) {
            row->notice.setBoth(message);
            reportRowChanged(*row);
            // Modal: the row may be gone when the box closes, so it is not used after.
            showResult_(tr("result"), message);
            discovery_->refreshCount();
        } else {
            row->notice.setBoth(tr("文件系统正常"));
            reportRowChanged(*row);
        }
        return;
    }

    ReplyRule rule;
    if (!replyRule(packet.code, discovery_->currentType(), &rule))
        return;
    for (const auto& field : rule.fields) {
        const QString& value = (r.*(field.second)).reported;
        const bool write =
            rule.presentCounts ? packet.pairs.count(field.first) > 0 : !value.isEmpty();
        if (!write)
            continue;
        MyString& target = (*row).*(field.second);
        if (rule.both)
            target.setBoth(value);
        else
            target.reported = value;
        if (rule.fieldSignal)
            emit updateDeviceColumnValue(id, QString::fromUtf8(field.first), value);
    }
    const QString& message = r.notice.reported;
    if (rule.notice && !message.isEmpty()) {
        row->notice.setBoth(message);
        if (rule.noticeSignal)
            emit updateDeviceColumnValue(id, QLatin1String(kNotice), message);
        if (packet.code == DeviceCode::WifiConfig + 1) {
            std::printf("%s\n", message.toLocal8Bit().constData());
            std::fflush(stdout);
        }
    }
    row->time.setBoth(r.time.reported);
    model()->touch(*row);
}
