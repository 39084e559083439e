#include "update/memoryfileserver.h"

#include "update/updateprogressobserver.h"

#include <kohttp/qt/http_server.h>

#include <QMutexLocker>

#include <vector>

MemoryFileServer& MemoryFileServer::instance() {
    static MemoryFileServer server;
    return server;
}

void MemoryFileServer::addFile(const QString& path, const QString& contentType,
                               const QByteArray& content) {
    QMutexLocker lock(&mutex_);
    files_[path.toUtf8()] = File{contentType.toUtf8(), content};
}

void MemoryFileServer::setProgressObserver(UpdateProgressObserver* observer) {
    QMutexLocker lock(&mutex_);
    observer_ = observer;
}

void MemoryFileServer::handle(const kohttp::HttpEventPtr& event) {
    QByteArray path = QByteArray::fromStdString(event->path());
    if (!path.startsWith('/')) {
        path.prepend('/');
    }
    UpdateProgressObserver* observer = nullptr;
    File file;
    bool found = false;
    {
        QMutexLocker lock(&mutex_);
        observer = observer_;
        auto it = files_.find(path);
        if (it != files_.end()) {
            file = it->second; // shares the bytes; the lock is not held while answering
            found = true;
        }
    }
    // Any request, found or not, means the terminal is fetching its update.
    if (observer) {
        if (auto session = event->session<kohttp::qt::HttpSession>()) {
            observer->setStatusByIp(session->peerAddress(), tr("完成更新"));
        }
    }

    kohttp::HttpResponse& response = event->response();
    if (!found) {
        response.setStatus(404, "Not Found");
        response.setBody("Not found");
        return;
    }
    response.setHeader("Content-Type", file.contentType.isEmpty()
                                           ? std::string("application/octet-stream")
                                           : file.contentType.toStdString());
    const auto& ranges = event->request().ranges;
    if (ranges.empty()) {
        response.setBody(file.data.toStdString());
        return;
    }
    std::vector<kohttp::ByteSlice> slices;
    if (!kohttp::applyRanges(response, ranges, file.data.size(), &slices)) {
        response.setBody({});
        return;
    }
    // Several ranges go back to back, without multipart framing: terminals
    // read them that way.
    std::string body;
    for (const kohttp::ByteSlice& slice : slices) {
        body.append(file.data.constData() + slice.offset, static_cast<std::size_t>(slice.length));
    }
    response.setBody(std::move(body));
}
