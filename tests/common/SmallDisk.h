#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real file system of a few pages (tmpfs), mounted for one test and filled to the last byte on
// request, so that a write meets "No space left on device" as on a full disk. Mounting needs
// root; reason() says why a disk could not be had, for the test to skip with.
class SmallDisk {
public:
    explicit SmallDisk(int kilobytes = 256) {
        if (!m_mountPoint.isValid()) {
            m_reason = QStringLiteral("no temporary folder for the mount point");
            return;
        }
        QProcess mount;
        mount.start(QStringLiteral("mount"),
                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                     QStringLiteral("size=%1k").arg(kilobytes), QStringLiteral("tmpfs"), m_mountPoint.path()});
        if (!mount.waitForFinished(30000) || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0) {
            m_reason = QStringLiteral("cannot mount a small tmpfs here (needs root): %1")
                           .arg(QString::fromLocal8Bit(mount.readAllStandardError()).trimmed());
            return;
        }
        m_mounted = true;
    }
    ~SmallDisk() {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_mountPoint.path()});
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    QString reason() const { return m_reason; }
    QString path() const { return m_mountPoint.path(); }
    QString filePath(const QString& name) const { return QDir(path()).filePath(name); }

    // Takes every free byte with a file of its own; false when the disk did not fill.
    bool fill() {
        QFile filler(filePath(QStringLiteral(".filler")));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        // The last partial page, byte by byte.
        while (filler.write("x", 1) == 1) {
        }
        return true;
    }

private:
    QTemporaryDir m_mountPoint;
    bool m_mounted = false;
    QString m_reason;
};
