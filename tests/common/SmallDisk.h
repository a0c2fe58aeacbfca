#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QString>

#include <unistd.h>

// A tmpfs of the given size ("64k", "2m") mounted over a folder (what was in it is hidden
// meanwhile), unmounted again on the way out; filled to the last byte on request, a write there
// meets "No space left on device" as on a full disk. Mounting needs root and a system that lets
// it; problem() says why the disk could not be had, for the test to skip with.
class SmallDisk {
public:
    SmallDisk(const QString& folder, const QString& size) : m_folder(folder) {
        if (geteuid() != 0) {
            m_problem = QStringLiteral("mounting a small tmpfs needs root");
            return;
        }
        QDir().mkpath(folder);
        QProcess mount;
        mount.setProcessChannelMode(QProcess::MergedChannels);
        mount.start(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder});
        m_mounted = mount.waitForFinished(30000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
        if (!m_mounted)
            m_problem = QStringLiteral("cannot mount a small tmpfs here: ") +
                        QString::fromLocal8Bit(mount.readAll()).trimmed() + mount.errorString();
    }
    ~SmallDisk() {
        if (!m_mounted)
            return;
        // Lazily when something still holds a file there.
        if (QProcess::execute(QStringLiteral("umount"), {m_folder}) != 0)
            QProcess::execute(QStringLiteral("umount"), {"-l", m_folder});
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    // Why the disk could not be had.
    QString problem() const { return m_problem; }
    QString filePath(const QString& name) const { return QDir(m_folder).filePath(name); }
    // Fills the disk with a file of its own until it takes no more, the last partial page byte
    // by byte; true when nothing is left. What should stay is written before.
    bool fill() const {
        QFile filler(filePath(QStringLiteral("filler")));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
        while (filler.write("f", 1) == 1) {
        }
        filler.close();
        return QStorageInfo(m_folder).bytesAvailable() == 0;
    }

private:
    QString m_folder;
    QString m_problem;
    bool m_mounted = false;
};
