#include "NewFileMode.h"

#include <QFile>

#include <utility>

#include <sys/stat.h>

namespace {
// The umask as the kernel reports it, without setting it: umask() can only be read by
// changing it, which would race with files other threads create meanwhile.
bool umaskFromProc(mode_t* mask) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    while (!status.atEnd()) {
        const QByteArray line = status.readLine();
        if (line.startsWith("Umask:")) {
            bool ok = false;
            const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
            if (ok)
                *mask = static_cast<mode_t>(value);
            return ok;
        }
    }
    return false;
}
} // namespace

QFileDevice::Permissions newFilePermissions() {
    mode_t mask = 0;
    if (!umaskFromProc(&mask)) {
        mask = ::umask(077);
        ::umask(mask);
    }
    const mode_t mode = 0666 & ~mask;
    QFileDevice::Permissions permissions;
    const std::pair<mode_t, QFileDevice::Permission> bits[] = {
        {S_IRUSR, QFileDevice::ReadOwner},  {S_IWUSR, QFileDevice::WriteOwner}, {S_IRGRP, QFileDevice::ReadGroup},
        {S_IWGRP, QFileDevice::WriteGroup}, {S_IROTH, QFileDevice::ReadOther},  {S_IWOTH, QFileDevice::WriteOther}};
    for (const auto& [bit, permission] : bits)
        if (mode & bit)
            permissions |= permission;
    // Qt reports the owner's bits also as the "user" ones; set both so they agree.
    if (mode & S_IRUSR)
        permissions |= QFileDevice::ReadUser;
    if (mode & S_IWUSR)
        permissions |= QFileDevice::WriteUser;
    return permissions;
}
