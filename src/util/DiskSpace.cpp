#include "DiskSpace.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace {
constexpr qint64 kNearlyFull = 1024 * 1024;
}

QString fullDiskOf(const QString& path) {
    // A file that does not exist yet is on the disk of its folder.
    QFileInfo info(path);
    while (!info.exists() && !info.isRoot() && info.absolutePath() != info.absoluteFilePath())
        info = QFileInfo(info.absolutePath());
    const QStorageInfo storage(info.absoluteFilePath());
    if (!storage.isValid() || !storage.isReady() || storage.bytesAvailable() < 0 ||
        storage.bytesAvailable() >= kNearlyFull)
        return QString();
    return QDir::toNativeSeparators(storage.rootPath());
}
