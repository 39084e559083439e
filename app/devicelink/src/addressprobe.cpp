#include "devicelink/addressprobe.h"

#include "devicelink/ifacedlg.h"

#include <QDebug>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QWidget>

namespace {

const char* const deviceInfoPath = "/rest/device_info";
constexpr quint32 shortestOfferedMask = 0xFFFFFF00u;

QString dotted(quint32 address) {
    return QHostAddress(address).toString();
}

} // namespace

template <typename Self, typename Visitor>
void DeviceInfoResp::Body::fields(Self& self, Visitor& v) {
    v.visit("device_id", self.device_id);
    v.visit("total", self.total);
    v.visit("used", self.used);
    v.visit("free", self.free);
    v.visit("wifi_ip", self.wifi_ip);
    v.visit("mobile_ip", self.mobile_ip);
    v.visit("battery_val", self.battery_val);
    v.visit("battery_percent", self.battery_percent);
    v.visit("route_dev_type", self.route_dev_type);
    v.visit("route_dev_name", self.route_dev_name);
    v.visit("net_connect_status", self.net_connect_status);
    v.visit("gateway", self.gateway);
    v.visit("dns0", self.dns0);
    v.visit("dns1", self.dns1);
    v.visit("eth_ip", self.eth_ip);
    v.visit("station_id", self.station_id);
    v.visit("port_id", self.port_id);
}

void DeviceInfoResp::Body::encode(vo::JsonEncodeVisitor& v) const {
    fields(*this, v);
}

void DeviceInfoResp::Body::decode(vo::JsonDecodeVisitor& v) {
    fields(*this, v);
}

void DeviceInfoResp::encode(vo::JsonEncodeVisitor& v) const {
    ReplyBase::encode(v);
    v.visit("value", value);
}

void DeviceInfoResp::decode(vo::JsonDecodeVisitor& v) {
    ReplyBase::decode(v);
    v.visit("value", value);
}

QVector<ProbeSegment> offeredSegments(const QVector<ProbeSegment>& entries) {
    const quint32 loopback = QHostAddress(QHostAddress::LocalHost).toIPv4Address();
    QVector<ProbeSegment> offered;
    for (const ProbeSegment& e : entries) {
        if (e.address == loopback || e.netmask < shortestOfferedMask)
            continue;
        offered.append(e);
    }
    return offered;
}

QVector<ProbeSegment> hostSegments() {
    QVector<ProbeSegment> entries;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        const QList<QNetworkAddressEntry> addresses = iface.addressEntries();
        for (const QNetworkAddressEntry& entry : addresses) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            entries.append({entry.ip().toIPv4Address(), entry.netmask().toIPv4Address()});
        }
    }
    return offeredSegments(entries);
}

QVector<quint32> probeTargets(const ProbeSegment& segment) {
    const quint32 network = segment.address & segment.netmask;
    // Host numbers run up to the subnet's all-ones host part: 255 for a /24, fewer for a
    // longer prefix, so no address is formed twice.
    const quint32 lastHost = ~segment.netmask & 0xFFu;
    QVector<quint32> targets;
    for (quint32 h = 1; h <= lastHost; ++h) {
        const quint32 candidate = network | h;
        if (candidate == segment.address || (candidate & segment.netmask) != network)
            continue;
        targets.append(candidate);
    }
    return targets;
}

AddressProbe::AddressProbe(DevicesModel* model, QObject* parent) : QObject(parent), model_(model) {}

void AddressProbe::start(const ProbeSegment& segment) {
    if (started_)
        return;
    started_ = true;
    qDebug().noquote() << "local_ip" << dotted(segment.address) << "mask"
                       << dotted(segment.netmask);
    requestsSent_ = 0;
    repliesReceived_ = 0;
    // A reply arriving while requests still go out must not end the run early.
    sending_ = true;
    const QPointer<AddressProbe> self(this);
    for (quint32 target : probeTargets(segment)) {
        request<DeviceInfoResp>(
            dotted(target), QString::fromLatin1(deviceInfoPath), std::string(), std::string(),
            [self](DeviceInfoResp& resp, const std::string& error) {
                // The run may be gone (its dialog's parent closed); late replies are dropped.
                if (self)
                    self->onProbeReply(resp, error);
            },
            false);
        ++requestsSent_;
    }
    sending_ = false;
    finishWhenComplete();
}

DeviceInfo AddressProbe::deviceFromReply(const DeviceInfoResp::Body& body) {
    DeviceInfo device;
    device.proto.setBoth(QStringLiteral("-"));
    device.address.setBoth(QString::fromStdString(body.eth_ip));
    device.devId.setBoth(QString::fromStdString(body.device_id));
    return device;
}

void AddressProbe::onProbeReply(DeviceInfoResp& resp, const std::string& error) {
    ++repliesReceived_;
    if (error.empty() && !resp.value.device_id.empty() && model_)
        model_->addOrUpdate(deviceFromReply(resp.value));
    finishWhenComplete();
}

void AddressProbe::finishWhenComplete() {
    if (done_ || sending_ || !started_ || repliesReceived_ < requestsSent_)
        return;
    done_ = true;
    emit finished();
}

ProbeLauncher::ProbeLauncher(DevicesModel* model, QWidget* dialogParent, QObject* parent)
    : QObject(parent), model_(model), dialogParent_(dialogParent),
      runner_([](IFaceDlg& dlg) { dlg.exec(); }), segments_(hostSegments) {}

void ProbeLauncher::detachRunning() {
    if (dialog_)
        dialog_->probe()->detachFromModel();
}

void ProbeLauncher::ipProbe() {
    if (!model_)
        return;
    // Replies of an earlier run still under way belong to the table it filled, not to
    // this one (a cancelled new probe leaves the table empty).
    detachRunning();
    model_->clear();
    auto* dlg = new IFaceDlg(model_, segments_(), dialogParent_);
    dialog_ = dlg;
    const QPointer<IFaceDlg> guard(dlg);
    runner_(*dlg);
    // Closed without a probe (Cancel, or closed while no segment was offered): nothing
    // else would ever delete it.
    if (guard && !guard->probe()->started())
        guard->deleteLater();
}
