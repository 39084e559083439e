#pragma once

#include "devicelink/devicepacket.h"
#include "devicetable/devicesmodel.h"

#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <deque>
#include <functional>

class QUdpSocket;

// Builds a record from one terminal reply: every vocabulary key lands in both halves
// of its field; server and port come from the keys of `type`; a missing ADDRESS is
// the sender's address and a missing PPPD_MODULE_RECOGNITION is "0".
void fillDeviceInfo(DeviceInfo& device, const DevicePacket& packet, const QHostAddress& sender,
                    const DeviceType& type, const QString& time);
// Type filter of the tabs: "any" takes all, the empty feature takes terminals
// without features, any other feature must be one of the comma-separated parts of F.
bool matchesType(const DeviceInfo& device, const DeviceType& type);
// Glob match of the whole text: "*" matches any run, every other character itself.
bool wildcardMatch(const QString& text, const QString& pattern);

// The terminal datagram endpoint of the main window: owns the UDP socket, sends
// scans and requests, reads replies and merges scan results into the device table.
class DeviceDiscovery : public QObject {
    Q_OBJECT
public:
    // Milliseconds since the epoch; reading the local date for every reply is slow.
    using Clock = std::function<qint64()>;
    // Receive buffer asked for, so a burst of replies from a large fleet is not dropped.
    static constexpr int wantedReceiveBuffer = 16 * 1024 * 1024;
    // Datagrams read and not yet handled are held up to these bounds (whichever comes
    // first); beyond them a flood is read and dropped, so it cannot take the memory.
    // A scan reply is a few hundred bytes: the count is the bound a fleet meets first.
    static constexpr int inboxDatagramLimit = 20000;
    static constexpr qint64 inboxByteLimit = 32 * 1024 * 1024;
    // Least time between two log lines about dropped datagrams.
    static constexpr qint64 dropReportIntervalMs = 1000;

    explicit DeviceDiscovery(DevicesModel* model, QObject* parent = nullptr);
    ~DeviceDiscovery() override;

    QUdpSocket* socket() const { return socket_; }
    DevicesModel* model() const { return model_; }

    // Row of deviceTypes() chosen by the tab bar.
    void setDeviceTypeIndex(int row);
    int deviceTypeIndex() const { return typeIndex_; }
    const DeviceType& currentType() const;
    // Keyword filter: the column (index into searchColumns()) and the keyword.
    static const QStringList& searchColumns();
    void setSearchColumn(int index);
    int searchColumn() const { return searchColumn_; }
    QString searchKeyword() const { return searchKeyword_; }

    // Where requests go. By default every interface's broadcast address, then
    // 255.255.255.255, port 7669; tests point them at their own addresses.
    void setBroadcastTargets(const QList<QHostAddress>& targets);
    void setDestinationPort(quint16 port);
    void setClock(Clock clock);
    // Scan results are applied to the table in batches, at least this long after
    // the first one arrived (0: at the next pass of the event loop); the wait grows
    // with the cost of the last batch, up to half a second.
    void setCoalesceInterval(int ms);

    // Receive buffer the system granted, in bytes.
    int receiveBufferSize() const { return receiveBuffer_; }
    QString countText() const;
    // Valid replies of any code read since the last scan started.
    int repliesSinceScan() const { return replies_; }
    // Bounds of the inbox (tests make them small).
    void setInboxLimits(int datagrams, qint64 bytes);
    // Datagrams read but not yet handled, and their bytes.
    int inboxSize() const { return int(inbox_.size()); }
    qint64 inboxBytes() const { return inboxBytes_; }
    // Datagrams dropped because the inbox was full, since construction.
    qint64 droppedDatagrams() const { return dropped_; }

    // False when the request was refused: its target or payload does not fit.
    bool broadcastPacket(const DevicePacket& packet);
    void handleReply(const QHostAddress& sender, const DevicePacket& packet);
    void fillDeviceInfo(DeviceInfo& device, const DevicePacket& packet, const QHostAddress& sender);
    // Both filters of a scan reply under the current tab and keyword.
    bool passesFilters(const DeviceInfo& device) const;
    // Applies the scan results received so far to the table now.
    void flushPending();
    // Emits the status-bar text with the current row count.
    void refreshCount();

public slots:
    void sendScan();
    void readUdpPackets();
    void setSearchMessage(const QString& message);

signals:
    // Status-bar text with the row count, after replies were applied.
    void countTextChanged(const QString& text);
    // A reply to a configuration request (any known code but the scan's);
    // pending scan results are applied before it is emitted.
    void configReply(const QHostAddress& sender, const DevicePacket& packet);

private:
    // Longest time one pass of the event loop spends handling replies.
    static constexpr qint64 handleBudgetMs = 8;
    // Handles read datagrams in order; with a budget >= 0, stops after it and
    // goes on at the next pass of the event loop.
    void processInbox(qint64 budgetMs);
    // Logs the drops not yet logged, unless a line went out less than a second ago;
    // then the timer brings the rest once the second is over.
    void reportDrops();
    QString nowText();

    DevicesModel* model_;
    QUdpSocket* socket_;
    int typeIndex_ = 0;
    int searchColumn_ = 0;
    QString searchKeyword_;
    QList<QHostAddress> targets_;
    bool customTargets_ = false;
    quint16 port_ = DevicePacket::port;
    Clock clock_;
    qint64 lastSecond_ = -1;
    QString lastTimeText_;
    int receiveBuffer_ = 0;
    int replies_ = 0;
    QVector<DeviceInfo> pending_;
    int coalesceMs_ = 100;
    QTimer flushTimer_;
    struct Received {
        QByteArray bytes;
        QHostAddress sender;
    };
    // Datagrams read but not handled yet, oldest first.
    std::deque<Received> inbox_;
    qint64 inboxBytes_ = 0;
    int inboxDatagrams_ = inboxDatagramLimit;
    qint64 inboxByteBound_ = inboxByteLimit;
    QTimer processTimer_;
    qint64 dropped_ = 0;
    qint64 unreportedDrops_ = 0;
    bool dropsReported_ = false;
    qint64 lastDropReport_ = 0;
    QTimer dropReportTimer_;
};

// Replies cross queued connections and signal spies with their sender.
Q_DECLARE_METATYPE(QHostAddress)
