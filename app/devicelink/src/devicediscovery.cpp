#include "devicelink/devicediscovery.h"

#include "platform/socketbuffer.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QUdpSocket>

#include <QHash>

namespace {

// Vocabulary keys with a fixed field; server and port depend on the device type.
const QHash<QByteArray, MyString DeviceInfo::*>& fixedKeys() {
    static const QHash<QByteArray, MyString DeviceInfo::*> keys = {
        {"F", &DeviceInfo::f},
        {"DEV_ID", &DeviceInfo::devId},
        {"DEV_SERIAL", &DeviceInfo::devSerial},
        {"PROTO", &DeviceInfo::proto},
        {"HW_ADDR", &DeviceInfo::hwAddr},
        {"ADDRESS", &DeviceInfo::address},
        {"NETMASK", &DeviceInfo::netmask},
        {"GATEWAY", &DeviceInfo::gateway},
        {"AI_VOLUME", &DeviceInfo::aiVolume},
        {"AO_VOLUME", &DeviceInfo::aoVolume},
        {"BOOT_SOUND", &DeviceInfo::bootSound},
        {"DEV_NAME", &DeviceInfo::devName},
        {"message", &DeviceInfo::notice},
        {"VV", &DeviceInfo::vv},
        {"AN", &DeviceInfo::an},
        {"AV", &DeviceInfo::av},
        {"WIFI_NAME", &DeviceInfo::wifiName},
        {"WIFI_PWD", &DeviceInfo::wifiPwd},
        {"INPUT_DB_UPPER_BOUND", &DeviceInfo::inputDbUpperBound},
        {"OUTPUT_DB_UPPER_BOUND", &DeviceInfo::outputDbUpperBound},
        {"REBOOT_AT", &DeviceInfo::rebootAt},
        {"REBOOT_ENABLE", &DeviceInfo::rebootEnable},
        {"PPPD_MODULE_RECOGNITION", &DeviceInfo::pppdModuleRecognition},
        {"FILESYSTEM_MESSAGE", &DeviceInfo::filesystemMessage},
        {"ICCID", &DeviceInfo::iccid},
    };
    return keys;
}

MyString DeviceInfo::*keywordField(int column) {
    switch (column) {
    case 1:
        return &DeviceInfo::devName;
    case 2:
        return &DeviceInfo::address;
    default:
        return &DeviceInfo::devId;
    }
}

} // namespace

void fillDeviceInfo(DeviceInfo& device, const DevicePacket& packet, const QHostAddress& sender,
                    const DeviceType& type, const QString& time) {
    device = DeviceInfo();
    device.time.setBoth(time);
    const QByteArray serverKey = type.serverKey.toUtf8();
    const QByteArray portKey = type.portKey.toUtf8();
    const auto& keys = fixedKeys();
    for (const auto& pair : packet.pairs) {
        MyString* field = nullptr;
        auto it = keys.constFind(pair.first);
        if (it != keys.constEnd())
            field = &(device.*(it.value()));
        // An empty key never names the server: types without one read nothing.
        else if (!serverKey.isEmpty() && pair.first == serverKey)
            field = &device.server;
        else if (!portKey.isEmpty() && pair.first == portKey)
            field = &device.port;
        if (field)
            field->setBoth(QString::fromUtf8(pair.second));
    }
    if (device.address.reported.isEmpty()) {
        const quint32 ip = sender.toIPv4Address();
        device.address.setBoth(QStringLiteral("%1.%2.%3.%4")
                                   .arg((ip >> 24) & 0xFF)
                                   .arg((ip >> 16) & 0xFF)
                                   .arg((ip >> 8) & 0xFF)
                                   .arg(ip & 0xFF));
    }
    if (device.pppdModuleRecognition.reported.isEmpty())
        device.pppdModuleRecognition.setBoth(QStringLiteral("0"));
}

bool matchesType(const DeviceInfo& device, const DeviceType& type) {
    if (type.feature == QLatin1String("any"))
        return true;
    const QString& f = device.f.reported;
    if (type.feature.isEmpty())
        return f.isEmpty();
    for (const QStringRef& part : f.splitRef(QLatin1Char(',')))
        if (part == type.feature)
            return true;
    return false;
}

bool wildcardMatch(const QString& text, const QString& pattern) {
    int t = 0, p = 0;
    int starP = -1, starT = 0;
    const int tn = text.size(), pn = pattern.size();
    while (t < tn) {
        if (p < pn && pattern[p] == QLatin1Char('*')) {
            starP = p++;
            starT = t;
        } else if (p < pn && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (starP >= 0) {
            // Let the last "*" swallow one more character and retry.
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pn && pattern[p] == QLatin1Char('*'))
        ++p;
    return p == pn;
}

DeviceDiscovery::DeviceDiscovery(DevicesModel* model, QObject* parent)
    : QObject(parent), model_(model), socket_(new QUdpSocket(this)),
      clock_([] { return QDateTime::currentMSecsSinceEpoch(); }) {
    qRegisterMetaType<DevicePacket>();
    qRegisterMetaType<QHostAddress>();
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(coalesceMs_);
    connect(&flushTimer_, &QTimer::timeout, this, &DeviceDiscovery::flushPending);
    processTimer_.setSingleShot(true);
    processTimer_.setInterval(0);
    connect(&processTimer_, &QTimer::timeout, this, [this] { processInbox(handleBudgetMs); });
    dropReportTimer_.setSingleShot(true);
    dropReportTimer_.setInterval(int(dropReportIntervalMs));
    connect(&dropReportTimer_, &QTimer::timeout, this, &DeviceDiscovery::reportDrops);
    connect(socket_, &QUdpSocket::readyRead, this, &DeviceDiscovery::readUdpPackets);
    if (!socket_->bind(QHostAddress::AnyIPv4, 0,
                       QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        qWarning().noquote() << "udp bind failed:" << socket_->errorString();
        return;
    }
    receiveBuffer_ = requestReceiveBuffer(socket_->socketDescriptor(), wantedReceiveBuffer);
    if (receiveBuffer_ < wantedReceiveBuffer)
        qWarning().noquote() << "udp receive buffer capped by the system at" << receiveBuffer_
                             << "bytes, asked for" << wantedReceiveBuffer
                             << "; replies of a large fleet may be lost";
}

DeviceDiscovery::~DeviceDiscovery() = default;

const QStringList& DeviceDiscovery::searchColumns() {
    static const QStringList columns = {QStringLiteral("DEV_ID"), QStringLiteral("DEV_NAME"),
                                        QStringLiteral("ADDRESS")};
    return columns;
}

void DeviceDiscovery::setDeviceTypeIndex(int row) {
    if (row >= 0 && size_t(row) < deviceTypes().size())
        typeIndex_ = row;
}

const DeviceType& DeviceDiscovery::currentType() const {
    return deviceTypes()[size_t(typeIndex_)];
}

void DeviceDiscovery::setSearchColumn(int index) {
    if (index >= 0 && index < searchColumns().size())
        searchColumn_ = index;
}

void DeviceDiscovery::setSearchMessage(const QString& message) {
    searchKeyword_ = message;
}

void DeviceDiscovery::setBroadcastTargets(const QList<QHostAddress>& targets) {
    targets_ = targets;
    customTargets_ = true;
}

void DeviceDiscovery::setDestinationPort(quint16 port) {
    port_ = port;
}

void DeviceDiscovery::setClock(Clock clock) {
    clock_ = std::move(clock);
    lastSecond_ = -1;
}

void DeviceDiscovery::setInboxLimits(int datagrams, qint64 bytes) {
    inboxDatagrams_ = datagrams;
    inboxByteBound_ = bytes;
}

void DeviceDiscovery::setCoalesceInterval(int ms) {
    coalesceMs_ = ms;
    flushTimer_.setInterval(ms);
}

QString DeviceDiscovery::countText() const {
    return tr("%1 devices").arg(model_->rowCount());
}

void DeviceDiscovery::refreshCount() {
    emit countTextChanged(countText());
}

QString DeviceDiscovery::nowText() {
    // Formatting a date is slow next to parsing a reply; a burst shares one second.
    const qint64 ms = clock_();
    const qint64 second = ms / 1000;
    if (second != lastSecond_) {
        lastSecond_ = second;
        lastTimeText_ =
            QDateTime::fromMSecsSinceEpoch(ms).toString(QLatin1String(deviceTimeFormat));
    }
    return lastTimeText_;
}

void DeviceDiscovery::fillDeviceInfo(DeviceInfo& device, const DevicePacket& packet,
                                     const QHostAddress& sender) {
    ::fillDeviceInfo(device, packet, sender, currentType(), nowText());
}

bool DeviceDiscovery::passesFilters(const DeviceInfo& device) const {
    if (!matchesType(device, currentType()))
        return false;
    if (searchKeyword_.isEmpty())
        return true;
    const QString pattern = QLatin1Char('*') + searchKeyword_ + QLatin1Char('*');
    return wildcardMatch((device.*keywordField(searchColumn_)).reported, pattern);
}

void DeviceDiscovery::sendScan() {
    // Replies read before this scan belong to the table being emptied.
    processInbox(-1);
    pending_.clear();
    flushTimer_.stop();
    replies_ = 0;
    model_->clear();
    DevicePacket packet = DevicePacket::request(DeviceCode::Scan);
    const DeviceType& type = currentType();
    if (!type.serverKey.isEmpty())
        packet.insert("config_key", type.serverKey.toUtf8());
    if (!type.portKey.isEmpty())
        packet.insert("config_key", type.portKey.toUtf8());
    packet.insert("feature", type.feature.toUtf8());
    broadcastPacket(packet);
}

bool DeviceDiscovery::broadcastPacket(const DevicePacket& packet) {
    if (packet.targetCut()) {
        // A cut target could name another terminal; better not to send at all.
        qWarning("request not sent: its target does not fit the header");
        return false;
    }
    const QByteArray bytes = packet.marshal();
    if (bytes.size() - DevicePacket::headerSize > 0xFFFF) {
        qWarning("request not sent: payload longer than 65535 bytes");
        return false;
    }
    qDebug() << "datagram:" << bytes;
    if (customTargets_) {
        for (const QHostAddress& target : targets_)
            socket_->writeDatagram(bytes, target, port_);
        return true;
    }
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            if (entry.ip().toIPv4Address() == 0)
                continue;
            qDebug().noquote() << "get iface info,  ip:" << entry.ip().toString()
                               << ", netmask: " << entry.netmask().toString();
            // Loopback and point-to-point links have no broadcast address.
            if (!entry.broadcast().isNull())
                socket_->writeDatagram(bytes, entry.broadcast(), port_);
        }
    }
    socket_->writeDatagram(bytes, QHostAddress(QHostAddress::Broadcast), port_);
    return true;
}

void DeviceDiscovery::readUdpPackets() {
    // Drain everything queued at once: the kernel drops what does not fit its
    // buffer. Reading is cheap; handling is done in slices (processInbox). What does
    // not fit the inbox is read and dropped, and counted.
    while (socket_->hasPendingDatagrams()) {
        const qint64 size = qMax<qint64>(socket_->pendingDatagramSize(), 0);
        if (inboxSize() >= inboxDatagrams_ || inboxBytes_ + size > inboxByteBound_) {
            if (socket_->readDatagram(nullptr, 0) < 0)
                break;
            ++dropped_;
            ++unreportedDrops_;
            continue;
        }
        Received r;
        r.bytes.resize(int(size) + 1);
        const qint64 n = socket_->readDatagram(r.bytes.data(), r.bytes.size(), &r.sender);
        if (n < 0)
            break;
        r.bytes.resize(int(n));
        inboxBytes_ += n;
        inbox_.push_back(std::move(r));
    }
    reportDrops();
    processInbox(handleBudgetMs);
}

void DeviceDiscovery::reportDrops() {
    if (unreportedDrops_ == 0)
        return;
    const qint64 now = clock_();
    // A clock stepped back does not hold the next line up.
    if (dropsReported_ && now >= lastDropReport_ && now - lastDropReport_ < dropReportIntervalMs) {
        if (!dropReportTimer_.isActive())
            dropReportTimer_.start();
        return;
    }
    qWarning().noquote() << QStringLiteral(
                                "udp inbox full: %1 datagrams dropped (%2 waiting to be handled, "
                                "at most %3 datagrams or %4 bytes)")
                                .arg(unreportedDrops_)
                                .arg(inboxSize())
                                .arg(inboxDatagrams_)
                                .arg(inboxByteBound_);
    unreportedDrops_ = 0;
    dropsReported_ = true;
    lastDropReport_ = now;
}

void DeviceDiscovery::processInbox(qint64 budgetMs) {
    QElapsedTimer spent;
    spent.start();
    while (!inbox_.empty()) {
        const Received r = std::move(inbox_.front());
        inbox_.pop_front();
        inboxBytes_ -= r.bytes.size();
        DevicePacket packet;
        if (!packet.unmarshal(r.bytes.constData(), r.bytes.size()))
            qWarning("unmarshal failed");
        else
            handleReply(r.sender, packet);
        // A burst from a large fleet is handled over several passes of the event
        // loop so the window stays responsive.
        if (budgetMs >= 0 && spent.elapsed() >= budgetMs && !inbox_.empty()) {
            processTimer_.start();
            return;
        }
    }
}

void DeviceDiscovery::handleReply(const QHostAddress& sender, const DevicePacket& packet) {
    ++replies_;
    if (packet.code == DeviceCode::Scan + 1) {
        DeviceInfo device;
        fillDeviceInfo(device, packet, sender);
        if (passesFilters(device)) {
            pending_.append(std::move(device));
            if (!flushTimer_.isActive())
                flushTimer_.start();
        } else if (!flushTimer_.isActive()) {
            refreshCount();
        }
        return;
    }
    if (DeviceCode::isKnownReply(packet.code)) {
        // Scan results first, so the reply finds its row; the count is refreshed once.
        if (!pending_.isEmpty())
            flushPending();
        emit configReply(sender, packet);
        // The healthy file-system reply leaves the count alone; its handler
        // refreshes it in the other case.
        if (packet.code != DeviceCode::CheckFilesystem + 1)
            refreshCount();
        return;
    }
    qDebug().noquote() << "---------------- 未知消息码" << int(packet.code)
                       << "---------------------";
    refreshCount();
}

void DeviceDiscovery::flushPending() {
    flushTimer_.stop();
    if (!pending_.isEmpty()) {
        QVector<DeviceInfo> batch;
        batch.swap(pending_);
        QElapsedTimer cost;
        cost.start();
        model_->addOrUpdateAll(batch);
        // A view that measures its rows makes each batch cost more as the table
        // grows; batch less often then, so the event loop keeps most of its time.
        if (coalesceMs_ > 0)
            flushTimer_.setInterval(int(qBound<qint64>(coalesceMs_, 4 * cost.elapsed(), 500)));
    }
    refreshCount();
}
