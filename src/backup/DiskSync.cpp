#include "DiskSync.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
const char* const kMsgCannotCopy = "%1 nu a putut fi copiat in %2: %3";
const char* const kMsgCannotMake = "dosarul %1 nu a putut fi facut";
constexpr qint64 kChunk = 1 << 20;
} // namespace

bool syncPath(const QString& path, QString* error) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

bool copySynced(const QString& from, const QString& to, QString* error) {
    QFile source(from);
    QFile target(to);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = QString::fromLatin1(kMsgCannotCopy).arg(from, to, source.errorString());
        return false;
    }
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QString::fromLatin1(kMsgCannotCopy).arg(from, to, target.errorString());
        return false;
    }
    bool ok = true;
    while (ok && !source.atEnd()) {
        const QByteArray chunk = source.read(kChunk);
        ok = !chunk.isEmpty() && target.write(chunk) == chunk.size();
    }
    ok = ok && target.flush() && ::fsync(target.handle()) == 0;
    if (!ok) {
        *error =
            QString::fromLatin1(kMsgCannotCopy)
                .arg(from, to, target.error() != QFileDevice::NoError ? target.errorString() : source.errorString());
        target.close();
        QFile::remove(to);
        return false;
    }
    return true;
}

bool copyTreeSynced(const QString& from, const QString& to, int* count, QString* error) {
    // Not mkpath: a folder that vanished meanwhile (a share unmounted) is not made again on the local disk.
    if (!QDir().mkdir(to)) {
        *error = QString::fromLatin1(kMsgCannotMake).arg(to);
        return false;
    }
    const QDir source(from);
    for (const QFileInfo& entry :
         source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString target = QDir(to).filePath(entry.fileName());
        if (entry.isDir() && !entry.isSymLink()) {
            if (!copyTreeSynced(entry.filePath(), target, count, error))
                return false;
        } else if (entry.isFile()) {
            if (!copySynced(entry.filePath(), target, error))
                return false;
            ++*count;
        }
    }
    return syncPath(to, error);
}

QString sha256Of(const QString& path, QString* error) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return QString();
    }
    return QString::fromLatin1(hash.result().toHex());
}
