// Public: the loaded update bundle (a process-wide singleton on the GUI thread), the
// pure parts of its format (index lines, container trailers, runners) and the
// chunked push of packages to file-transfer sessions.
#pragma once

#include "update/murlosession.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QTimer;

// One accepted index line. The resolvers answer for the requester's dotted IPv4
// address (the local address the terminal reached us on).
struct BundleEntry {
    qint32 id = 0;
    QByteArray arch;
    QByteArray type;
    QByteArray name;
    QByteArray version;
    QByteArray file;
    QByteArray desc;
    std::function<QByteArray(const QString& ip)> md5;
    std::function<qint32(const QString& ip)> size;
};

using ContentResolver = std::function<QByteArray(const QString& ip)>;

// What one load produced. Never changed once published: readers on other threads
// keep the snapshot they took for as long as they use it.
struct BundleSnapshot {
    QList<BundleEntry> entries;
    QMap<qint32, ContentResolver> contents;
    QString path; // of the last successful load
    // The bytes of package fileId for ip; none when no package has that id.
    std::optional<QByteArray> contentFor(qint32 fileId, const QString& ip) const;
};
using BundleSnapshotPtr = std::shared_ptr<const BundleSnapshot>;

namespace bundle {

// One non-empty index line, trimmed, and its comma-separated fields.
struct IndexLine {
    QString text;
    QStringList fields;
};
// Splits the index on "\n", trims every line, skips empty ones, keeps empty fields.
QList<IndexLine> splitIndex(const QByteArray& index);
// The entry of a seven-field line (resolvers unset); id is 0 when field 0 is no number.
BundleEntry entryFromFields(const QStringList& fields);

constexpr int kTrailerSize = 16;
constexpr quint32 kMinContainerVersion = 0x02040505;
constexpr char kContainerPrefix[] = "kub-container-";

struct ContainerTrailer {
    QByteArray raw;      // the 16 trailer bytes
    quint32 offset = 0;  // payload offset, little-endian, also the runner's length
    quint32 length = 0;  // payload length, little-endian
    quint32 version = 0; // big-endian
};
// The trailer of a valid container: offset + length + 16 equals the member's size
// and the version is at least kMinContainerVersion. None otherwise.
std::optional<ContainerTrailer> readContainerTrailer(const QByteArray& member);
// The runner, then url, then a trailer whose length field holds the url's length.
QByteArray buildRunner(const QByteArray& member, const ContainerTrailer& trailer,
                       const QByteArray& url);

} // namespace bundle

class KubBundle : public QObject {
    Q_OBJECT
public:
    // Publishes a file for terminals to fetch over HTTP (by default on MemoryFileServer).
    using Publisher = std::function<void(const QString& path, const QString& contentType,
                                         const QByteArray& data)>;
    // This computer's IPv4 addresses, without 127.0.0.1.
    using AddressSource = std::function<QStringList()>;

    // A session whose unsent output is above this is skipped by the pump for that
    // tick, so a terminal that reads slowly never makes us queue more.
    static constexpr qint64 kMaxUnsentBytes = 2 * 65536;
    static constexpr int kPumpIntervalMs = 10;

    static KubBundle* instance();
    explicit KubBundle(QObject* parent = nullptr);
    ~KubBundle() override;

    // GUI thread. Loads a ".tar" bundle; false with errorMessage otherwise.
    bool load(const QString& path, QString* errorMessage);
    // GUI thread. Loads the bundle saved in the settings at start-up (nothing when the
    // path is empty); a failure is logged as path ":" error.
    bool loadSaved(const QString& path);

    // Thread-safe readers of the current snapshot.
    BundleSnapshotPtr snapshot() const;
    QString bundlePath() const;
    QList<BundleEntry> entries() const;
    std::optional<QByteArray> contentFor(qint32 fileId, const QString& ip) const;
    // Whether the last accepted index line was published as a container.
    bool containerUpdate() const { return containerUpdate_.load(); }

    // Thread-safe: (re)starts the chunked push of package fileId (low 32 bits) to the
    // session. The push itself runs on this object's thread; when the bundle was
    // reloaded since `from` was taken, the session is closed instead.
    void startTransfer(const MurloSessionPtr& session, qint64 fileId);
    void startTransfer(const MurloSessionPtr& session, qint64 fileId, BundleSnapshotPtr from);

    // Tests and tools.
    void setPublisher(Publisher publisher);
    void setAddressSource(AddressSource source);
    // Off: no pump timer is started, the caller runs transferChunk() itself.
    void setAutoPump(bool on);
    // Called at the start of every pump tick (benchmarks measure its lateness).
    void setPumpObserver(std::function<void()> observer);
    int transferCount() const;             // GUI thread
    QList<qint64> transferOffsets() const; // GUI thread: next offset of every transfer

    // Every IPv4 address of this computer's interfaces except 127.0.0.1.
    static QStringList localIPv4Addresses();

public slots:
    // The pump: at most one chunk of at most 64 KiB per session per tick.
    void transferChunk();

signals:
    // After each load attempt.
    void loaded();

private:
    struct Transfer {
        std::weak_ptr<MurloSession> session;
        qint32 fileId = 0;
        qint64 offset = 0;
        QByteArray content;
    };

    struct TransferRequest {
        MurloSessionPtr session;
        qint32 fileId;
        BundleSnapshotPtr from;
    };

    void reset();
    void publish(BundleSnapshotPtr next);
    Q_INVOKABLE void takeTransferRequests();
    void registerTransfer(const MurloSessionPtr& session, qint32 fileId, BundleSnapshotPtr from);
    void publishContainer(BundleEntry& entry, const QByteArray& member,
                          const bundle::ContainerTrailer& trailer, BundleSnapshot& next);
    void publishPlain(BundleEntry& entry, const QByteArray& member, BundleSnapshot& next);

    mutable std::mutex mutex_; // guards snapshot_ only
    BundleSnapshotPtr snapshot_;
    std::atomic<bool> containerUpdate_{false};
    std::mutex requestMutex_; // guards requests_, filled by the servers' threads
    std::vector<TransferRequest> requests_;

    // This object's thread only.
    std::map<const MurloSession*, Transfer> transfers_;
    QTimer* pump_ = nullptr;
    bool autoPump_ = true;
    std::function<void()> pumpObserver_;
    Publisher publisher_;
    AddressSource addresses_;
};
