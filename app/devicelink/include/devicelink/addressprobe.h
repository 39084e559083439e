// The address-range probe ("Search2"): every other address of one local IPv4 segment is
// asked for GET "/rest/device_info" on port 8080; terminals that answer become rows with
// DEV_ID, ADDRESS and PROTO "-".
//
// - offeredSegments: the local segments the user may pick (prefix of 24 bits or longer).
// - probeTargets: the addresses one segment's probe asks.
// - AddressProbe: one run: sends the requests, counts replies, merges terminals into the
//   table, and emits finished() once every request has been answered or has timed out.
// - ProbeLauncher: the main window's "Search2" entry (ipProbe): empties the table and lets
//   the user choose a segment in IFaceDlg, which runs the probe.
#pragma once

#include "devicetable/devicesmodel.h"
#include "rest/rest.h"

#include <QObject>
#include <QPointer>
#include <QVector>

#include <cstdint>
#include <functional>
#include <string>

// Decoded reply of GET "/rest/device_info".
struct DeviceInfoResp : ReplyBase {
    struct Body : vo::JsonClient {
        std::string device_id;
        std::uint64_t total = 0;
        std::uint64_t used = 0;
        std::uint64_t free = 0;
        std::string wifi_ip;
        std::string mobile_ip;
        std::int64_t battery_val = 0;
        std::int64_t battery_percent = 0;
        std::int32_t route_dev_type = 0;
        std::string route_dev_name;
        std::int32_t net_connect_status = 0;
        std::string gateway;
        std::string dns0;
        std::string dns1;
        std::string eth_ip;
        std::string station_id;
        std::string port_id;

        void encode(vo::JsonEncodeVisitor& v) const override;
        void decode(vo::JsonDecodeVisitor& v) override;

    private:
        // The field list, once for both directions.
        template <typename Self, typename Visitor> static void fields(Self& self, Visitor& v);
    };
    Body value;

    void encode(vo::JsonEncodeVisitor& v) const override;
    void decode(vo::JsonDecodeVisitor& v) override;
};

// One local IPv4 segment: the host's address on it and the netmask, as numbers.
struct ProbeSegment {
    quint32 address = 0;
    quint32 netmask = 0;
    bool operator==(const ProbeSegment& o) const {
        return address == o.address && netmask == o.netmask;
    }
};

// Interface entries worth probing, in the order given: IPv4 only, not 127.0.0.1, and a
// netmask of at least 255.255.255.0 (a shorter prefix would mean far too many requests).
QVector<ProbeSegment> offeredSegments(const QVector<ProbeSegment>& entries);
// The same over every address entry of every interface of this host.
QVector<ProbeSegment> hostSegments();

// Addresses to probe: every address of the segment's subnet with a host part from 1 to
// 255, except the local one. A /24 gives 254 (its broadcast address included); a longer
// prefix gives each host address of its subnet exactly once.
QVector<quint32> probeTargets(const ProbeSegment& segment);

// One probe run. Lives until every reply has arrived, then emits finished().
class AddressProbe : public QObject {
    Q_OBJECT
public:
    explicit AddressProbe(DevicesModel* model, QObject* parent = nullptr);

    // Sends every request of the segment at once; a run starts only once.
    void start(const ProbeSegment& segment);
    // Counts one reply; a successful one with a device_id becomes a table row.
    void onProbeReply(DeviceInfoResp& resp, const std::string& error);
    // Stops adding rows (a newer probe has emptied the table); replies are still counted.
    void detachFromModel() { model_ = nullptr; }

    int requestsSent() const { return requestsSent_; }
    int repliesReceived() const { return repliesReceived_; }
    bool started() const { return started_; }
    bool done() const { return done_; }

    // The row a successful reply becomes: PROTO "-", ADDRESS eth_ip, DEV_ID device_id.
    static DeviceInfo deviceFromReply(const DeviceInfoResp::Body& body);

signals:
    void finished();

private:
    void finishWhenComplete();

    QPointer<DevicesModel> model_;
    int requestsSent_ = 0;
    int repliesReceived_ = 0;
    bool started_ = false;
    bool sending_ = false;
    bool done_ = false;
};

class IFaceDlg;
class QWidget;

// The main window's "Search2": owned by the window, which connects its action to ipProbe.
class ProbeLauncher : public QObject {
    Q_OBJECT
public:
    // Runs the chooser dialog; by default modally (exec).
    using DialogRunner = std::function<void(IFaceDlg&)>;
    // Lists the segments offered; by default hostSegments().
    using SegmentSource = std::function<QVector<ProbeSegment>()>;

    ProbeLauncher(DevicesModel* model, QWidget* dialogParent, QObject* parent = nullptr);

    void setDialogRunner(DialogRunner runner) { runner_ = std::move(runner); }
    void setSegmentSource(SegmentSource source) { segments_ = std::move(source); }

    // The dialog of the latest run while it lives (it deletes itself after the last reply).
    IFaceDlg* dialog() const { return dialog_; }
    // Keeps a run still under way from adding rows: for anything that empties the table
    // for new results (a new probe does it itself; the datagram scan does it too).
    void detachRunning();

public slots:
    void ipProbe();

private:
    QPointer<DevicesModel> model_;
    QPointer<QWidget> dialogParent_;
    DialogRunner runner_;
    SegmentSource segments_;
    QPointer<IFaceDlg> dialog_;
};
