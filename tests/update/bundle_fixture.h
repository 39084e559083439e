// Bundles made at test time with GNU tar through tools/make-bundle/make-bundle.sh.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace fixture {

inline QByteArray md5(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

// Bytes that differ from package to package and from offset to offset.
inline QByteArray pattern(int size, quint32 seed) {
    QByteArray out(size, Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x);
    }
    return out;
}

inline QString script() {
    return QString::fromLocal8Bit(qgetenv("TESMO_SOURCE_DIR")) +
           QStringLiteral("/tools/make-bundle/make-bundle.sh");
}

inline bool run(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("bash"), QStringList{script()} + args);
    const bool ok =
        p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        ADD_FAILURE() << "make-bundle.sh " << args.join(' ').toStdString() << ": "
                      << p.readAllStandardError().toStdString();
    return ok;
}

// A folder of members ("index" among them) and the archives built from it.
class BundleDir {
public:
    BundleDir() { QDir(dir_.path()).mkdir(QStringLiteral("members")); }

    QString path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
    QString memberPath(const QString& name) const {
        return path(QStringLiteral("members/") + name);
    }

    void member(const QString& name, const QByteArray& bytes) {
        QFile f(memberPath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    void index(const QByteArray& text) { member(QStringLiteral("index"), text); }
    void remove(const QString& name) { QFile::remove(memberPath(name)); }

    // A container member of runner, payload and trailer.
    QByteArray container(const QString& name, const QByteArray& runner, const QByteArray& payload,
                         quint32 version = 0x02040505) {
        const QString r = path(QStringLiteral("runner.part")),
                      p = path(QStringLiteral("payload.part"));
        write(r, runner);
        write(p, payload);
        run({QStringLiteral("container"), memberPath(name), r, p,
             QStringLiteral("0x%1").arg(version, 8, 16, QLatin1Char('0'))});
        QFile f(memberPath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Archives the members into `name` (inside the folder) and returns its path.
    QString build(const QString& name = QStringLiteral("bundle.tar")) {
        run({QStringLiteral("bundle"), path(name), path(QStringLiteral("members"))});
        return path(name);
    }

    static void write(const QString& file, const QByteArray& bytes) {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            ADD_FAILURE() << "cannot write " << file.toStdString();
        f.write(bytes);
    }
    static QByteArray read(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
};

// The bundle most tests use: plain packages of 200000 and 150000 bytes and a
// container for armv7 speakers, one entry for another arch, one for another type,
// and a line whose member is missing.
struct StandardBundle {
    QByteArray main = pattern(200000, 1);
    QByteArray web = pattern(150000, 2);
    QByteArray runner = pattern(3000, 3);
    QByteArray payload = pattern(100000, 4);
    QByteArray container;
    QByteArray otherArch = pattern(1000, 5);
    QByteArray otherType = pattern(1200, 6);

    QString build(BundleDir& dir) {
        dir.member(QStringLiteral("app-main.bin"), main);
        dir.member(QStringLiteral("app-web.bin"), web);
        container = dir.container(QStringLiteral("kub-container-firmware"), runner, payload);
        dir.member(QStringLiteral("arm64-main.bin"), otherArch);
        dir.member(QStringLiteral("mic.bin"), otherType);
        dir.index("1,armv7,speaker,app-main,1.2.0,app-main.bin,Main application\n"
                  "2,armv7,speaker,app-web,1.0.3,app-web.bin,Web console\n"
                  "3,armv7,speaker,firmware,2.4.5,kub-container-firmware,Firmware\n"
                  "4,aarch64,speaker,app-main,1.2.0,arm64-main.bin,Other arch\n"
                  "5,armv7,paging,mic,3.1.0,mic.bin,Other type\n"
                  "6,armv7,speaker,ghost,0.1,missing.bin,Missing member\n");
        return dir.build();
    }
};

} // namespace fixture
