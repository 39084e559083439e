// Public: the application object that keeps one instance per user session. A later
// start connects to the first one's local socket, hands over its last argument and
// reports isRunning; the first instance then brings its window to the front.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>

class QLocalServer;
class QWidget;

namespace tesmo {

class SingleApplication : public QApplication {
    Q_OBJECT
public:
    SingleApplication(int& argc, char** argv);
    ~SingleApplication() override;

    bool isRunning() const { return isRunning_; }
    void setWindow(QWidget* window) { window_ = window; }
    QString serverName() const { return serverName_; }

private slots:
    void newLocalConnection();

private:
    void connectOrListen();

    QString serverName_;
    bool isRunning_ = false;
    QLocalServer* localServer_ = nullptr;
    QPointer<QWidget> window_;
};

} // namespace tesmo
