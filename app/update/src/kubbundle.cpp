#include "update/kubbundle.h"

#include "update/memoryfileserver.h"
#include "update/murlo_wire.h"
#include "update/tarreader.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFileInfo>
#include <QHostAddress>
#include <QMetaObject>
#include <QNetworkInterface>
#include <QTimer>

#include <cstring>

namespace bundle {

namespace {

quint32 readLe32(const char* p) {
    return quint32(quint8(p[0])) | quint32(quint8(p[1])) << 8 | quint32(quint8(p[2])) << 16 |
           quint32(quint8(p[3])) << 24;
}

quint32 readBe32(const char* p) {
    return quint32(quint8(p[3])) | quint32(quint8(p[2])) << 8 | quint32(quint8(p[1])) << 16 |
           quint32(quint8(p[0])) << 24;
}

} // namespace

QList<IndexLine> splitIndex(const QByteArray& index) {
    QList<IndexLine> lines;
    for (const QString& raw : QString::fromUtf8(index).split(QLatin1Char('\n'))) {
        const QString text = raw.trimmed();
        if (text.isEmpty())
            continue;
        lines << IndexLine{text, text.split(QLatin1Char(','), Qt::KeepEmptyParts)};
    }
    return lines;
}

BundleEntry entryFromFields(const QStringList& fields) {
    BundleEntry e;
    e.id = fields.value(0).toInt();
    e.arch = fields.value(1).toUtf8();
    e.type = fields.value(2).toUtf8();
    e.name = fields.value(3).toUtf8();
    e.version = fields.value(4).toUtf8();
    e.file = fields.value(5).toUtf8();
    e.desc = fields.value(6).toUtf8();
    return e;
}

std::optional<ContainerTrailer> readContainerTrailer(const QByteArray& member) {
    if (member.size() < kTrailerSize)
        return std::nullopt;
    const char* t = member.constData() + member.size() - kTrailerSize;
    ContainerTrailer trailer;
    trailer.raw = QByteArray(t, kTrailerSize);
    trailer.offset = readLe32(t + 4);
    trailer.length = readLe32(t + 8);
    trailer.version = readBe32(t + 12);
    // 64-bit sum: two large 32-bit fields must not wrap around to the member's size.
    if (quint64(trailer.offset) + trailer.length + kTrailerSize != quint64(member.size()) ||
        trailer.version < kMinContainerVersion)
        return std::nullopt;
    return trailer;
}

QByteArray buildRunner(const QByteArray& member, const ContainerTrailer& trailer,
                       const QByteArray& url) {
    QByteArray out;
    out.reserve(int(trailer.offset) + url.size() + kTrailerSize);
    out.append(member.constData(), int(trailer.offset));
    out.append(url);
    QByteArray t = trailer.raw;
    const quint32 n = quint32(url.size());
    for (int i = 0; i < 4; ++i)
        t[8 + i] = char((n >> (8 * i)) & 0xFF);
    out.append(t);
    return out;
}

} // namespace bundle

std::optional<QByteArray> BundleSnapshot::contentFor(qint32 fileId, const QString& ip) const {
    const auto it = contents.constFind(fileId);
    if (it == contents.constEnd() || !*it)
        return std::nullopt;
    return (*it)(ip);
}

namespace {

QByteArray md5Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

// Per-address runners of one container.
struct RunnerTables {
    QMap<QString, QByteArray> content;
    QMap<QString, QByteArray> md5;
    QMap<QString, qint32> size;
};

// A table's value for ip; the empty ip (the bundle view) takes the first address.
template <class T> T lookup(const QMap<QString, T>& table, const QString& ip) {
    if (ip.isEmpty())
        return table.isEmpty() ? T() : table.first();
    return table.value(ip);
}

} // namespace

KubBundle* KubBundle::instance() {
    static KubBundle* bundle = new KubBundle;
    return bundle;
}

KubBundle::KubBundle(QObject* parent)
    : QObject(parent), snapshot_(std::make_shared<BundleSnapshot>()),
      publisher_([](const QString& path, const QString& contentType, const QByteArray& data) {
          MemoryFileServer::instance().addFile(path, contentType, data);
      }),
      addresses_(&KubBundle::localIPv4Addresses) {
    registerMurloTypes();
}

KubBundle::~KubBundle() = default;

QStringList KubBundle::localIPv4Addresses() {
    QStringList out;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            const QHostAddress a = entry.ip();
            if (a.protocol() != QAbstractSocket::IPv4Protocol || a == QHostAddress::LocalHost)
                continue;
            out << a.toString();
        }
    return out;
}

BundleSnapshotPtr KubBundle::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_;
}

QString KubBundle::bundlePath() const {
    return snapshot()->path;
}

QList<BundleEntry> KubBundle::entries() const {
    return snapshot()->entries;
}

std::optional<QByteArray> KubBundle::contentFor(qint32 fileId, const QString& ip) const {
    return snapshot()->contentFor(fileId, ip);
}

void KubBundle::publish(BundleSnapshotPtr next) {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot_ = std::move(next);
}

void KubBundle::setPublisher(Publisher publisher) {
    publisher_ = std::move(publisher);
}

void KubBundle::setAddressSource(AddressSource source) {
    addresses_ = std::move(source);
}

void KubBundle::setAutoPump(bool on) {
    autoPump_ = on;
    if (!on && pump_)
        pump_->stop();
}

void KubBundle::setPumpObserver(std::function<void()> observer) {
    pumpObserver_ = std::move(observer);
}

int KubBundle::transferCount() const {
    return int(transfers_.size());
}

QList<qint64> KubBundle::transferOffsets() const {
    QList<qint64> out;
    for (const auto& t : transfers_)
        out << t.second.offset;
    return out;
}

void KubBundle::reset() {
    // Requests still on their way were answered from the bundle this load replaces.
    takeTransferRequests();
    for (const auto& t : transfers_)
        if (MurloSessionPtr s = t.second.session.lock())
            s->outbox->close(s);
    transfers_.clear();
    auto empty = std::make_shared<BundleSnapshot>();
    empty->path = bundlePath();
    publish(std::move(empty));
}

bool KubBundle::loadSaved(const QString& path) {
    if (path.isEmpty())
        return false;
    QString error;
    if (load(path, &error))
        return true;
    qWarning().noquote() << path << ":" << error;
    return false;
}

bool KubBundle::load(const QString& path, QString* errorMessage) {
    const QString suffix = QFileInfo(path).suffix();
    if (suffix == QLatin1String("kub")) {
        *errorMessage = tr("暂不支持kub升级包");
        return false;
    }
    if (suffix != QLatin1String("tar")) {
        *errorMessage = tr("不支持文件名后缀: ") + suffix;
        return false;
    }

    reset();
    auto next = std::make_shared<BundleSnapshot>();
    next->path = bundlePath();
    const auto finish = [&](bool ok) {
        if (ok)
            next->path = path;
        publish(next);
        emit loaded();
        return ok;
    };

    TarReader reader(path);
    if (!reader.scan()) {
        if (!reader.errorString().isEmpty())
            qWarning().noquote() << path << ":" << reader.errorString();
        *errorMessage = tr("文件不存在或损坏");
        return finish(false);
    }
    QByteArray index;
    if (reader.size("index") == 0 || !reader.read("index", &index)) {
        *errorMessage = tr("该文件不是有效的升级包");
        return finish(false);
    }

    for (const bundle::IndexLine& line : bundle::splitIndex(index)) {
        qDebug().noquote() << line.text;
        if (line.fields.size() != 7) {
            *errorMessage = tr("索引文件格式错误");
            qDebug().noquote() << line.text << "fields.size()" << line.fields.size();
            return finish(false);
        }
        BundleEntry entry = bundle::entryFromFields(line.fields);
        if (reader.size(entry.file) == 0)
            continue;
        QByteArray member;
        if (!reader.read(entry.file, &member)) {
            qWarning().noquote() << path << ":"
                                 << "cannot read member" << entry.file;
            *errorMessage = tr("文件不存在或损坏");
            return finish(false);
        }
        if (next->contents.contains(entry.id))
            qWarning() << "index line" << line.text << "reuses id" << entry.id
                       << ": downloads of that id get this package";
        next->contents[entry.id];
        const std::optional<bundle::ContainerTrailer> trailer =
            entry.file.startsWith(bundle::kContainerPrefix) ? bundle::readContainerTrailer(member)
                                                            : std::nullopt;
        if (trailer) {
            publishContainer(entry, member, *trailer, *next);
            containerUpdate_ = true;
        } else {
            containerUpdate_ = false;
            publishPlain(entry, member, *next);
        }
        next->entries << entry;
    }
    return finish(true);
}

void KubBundle::publishPlain(BundleEntry& entry, const QByteArray& member, BundleSnapshot& next) {
    const QByteArray md5 = md5Hex(member);
    const qint32 size = member.size();
    entry.md5 = [md5](const QString&) { return md5; };
    entry.size = [size](const QString&) { return size; };
    next.contents[entry.id] = [member](const QString&) { return member; };
}

void KubBundle::publishContainer(BundleEntry& entry, const QByteArray& member,
                                 const bundle::ContainerTrailer& trailer, BundleSnapshot& next) {
    const QString file = QString::fromUtf8(entry.file);
    const QString dataPath = QLatin1Char('/') + file + QLatin1String("-data");
    const QString contentType = QStringLiteral("application/octet-stream");
    publisher_(dataPath, contentType, member.mid(int(trailer.offset), int(trailer.length)));
    qInfo().noquote() << "add" << dataPath;

    auto tables = std::make_shared<RunnerTables>();
    for (const QString& ip : addresses_ ? addresses_() : QStringList()) {
        const QByteArray url = (QStringLiteral("http://") + ip + QLatin1Char(':') +
                                QString::number(MemoryFileServer::kHttpPort) + dataPath)
                                   .toUtf8();
        const QByteArray runner = bundle::buildRunner(member, trailer, url);
        const QString runnerPath = QLatin1Char('/') + file + QLatin1String("-runner-") + ip;
        publisher_(runnerPath, contentType, runner);
        qInfo().noquote() << "add" << runnerPath;
        tables->content.insert(ip, runner);
        tables->md5.insert(ip, md5Hex(runner));
        tables->size.insert(ip, runner.size());
    }
    std::shared_ptr<const RunnerTables> t = tables;
    entry.md5 = [t](const QString& ip) { return lookup(t->md5, ip); };
    entry.size = [t](const QString& ip) { return lookup(t->size, ip); };
    next.contents[entry.id] = [t](const QString& ip) {
        const auto it = t->content.constFind(ip);
        return it == t->content.constEnd() ? QByteArray("") : *it;
    };
}

void KubBundle::startTransfer(const MurloSessionPtr& session, qint64 fileId) {
    startTransfer(session, fileId, snapshot());
}

void KubBundle::startTransfer(const MurloSessionPtr& session, qint64 fileId,
                              BundleSnapshotPtr from) {
    // The table and the pump live on this object's thread; handlers call from theirs.
    std::lock_guard<std::mutex> lock(requestMutex_);
    requests_.push_back(TransferRequest{session, qint32(fileId), std::move(from)});
    if (requests_.size() == 1)
        // By name: the call object is then made inside Qt, not shared by our two threads.
        QMetaObject::invokeMethod(this, "takeTransferRequests", Qt::QueuedConnection);
}

void KubBundle::takeTransferRequests() {
    std::vector<TransferRequest> requests;
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        requests.swap(requests_);
    }
    for (TransferRequest& r : requests)
        registerTransfer(r.session, r.fileId, std::move(r.from));
}

void KubBundle::registerTransfer(const MurloSessionPtr& session, qint32 fileId,
                                 BundleSnapshotPtr from) {
    if (session->isClosed())
        return;
    if (from != snapshot()) {
        // Answered from a bundle that has since been replaced: the size the terminal was
        // told no longer holds, so it goes the way of every session a reload interrupts.
        session->outbox->close(session);
        return;
    }
    Transfer& t = transfers_[session.get()];
    t.session = session;
    t.fileId = fileId;
    t.offset = 0;
    t.content = from->contentFor(fileId, session->localIp).value_or(QByteArray());
    if (!pump_) {
        pump_ = new QTimer(this);
        pump_->setTimerType(Qt::PreciseTimer);
        pump_->setInterval(kPumpIntervalMs);
        connect(pump_, &QTimer::timeout, this, &KubBundle::transferChunk);
    }
    if (autoPump_ && !pump_->isActive())
        pump_->start();
}

void KubBundle::transferChunk() {
    if (pumpObserver_)
        pumpObserver_();
    for (auto it = transfers_.begin(); it != transfers_.end();) {
        const MurloSessionPtr s = it->second.session.lock();
        if (!s || s->isClosed()) {
            it = transfers_.erase(it);
            continue;
        }
        Transfer& t = it->second;
        ++it;
        const qint64 size = t.content.size();
        if (t.offset >= size || s->unsentBytes() > kMaxUnsentBytes)
            continue;
        const int n = int(qMin<qint64>(size - t.offset, murlo::kChunkSize));
        s->queuedBytes += murlo::chunkFrameSize(n);
        // The package bytes travel shared; the server's thread frames them.
        s->outbox->post(MurloChunk{s, t.fileId, t.offset, n, t.content});
        t.offset += n;
    }
}
