#include "SettingsLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const char* const kMsgNotMoved = "Setarile din %1 nu au putut fi mutate in %2 (%3). Au ramas acolo si sunt folosite "
                                 "in continuare; mutarea se incearca din nou la urmatoarea pornire.";

QString statusText(QSettings::Status status) {
    switch (status) {
    case QSettings::NoError:
        return QStringLiteral("not written");
    case QSettings::AccessError:
        return QStringLiteral("access error");
    case QSettings::FormatError:
        return QStringLiteral("format error");
    }
    return QString();
}
} // namespace

void SettingsLocation::use() {
    QString problem;
    const bool moved = moveOldFile(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), &problem);
    if (!moved)
        qWarning("Labrosa: %s", qUtf8Printable(problem));
    // Until the move succeeds the settings stay where they are, so nothing the user set is lost.
    QCoreApplication::setOrganizationName(QLatin1String(moved ? kOrganization : kOldOrganization));
    QCoreApplication::setApplicationName(QLatin1String(kApplication));
}

QString SettingsLocation::filePath(const QString& configDir) {
    return QDir(configDir).filePath(
        QStringLiteral("%1/%2.conf").arg(QLatin1String(kOrganization), QLatin1String(kApplication)));
}

QString SettingsLocation::oldFilePath(const QString& configDir) {
    return QDir(configDir).filePath(
        QStringLiteral("%1/%2.conf").arg(QLatin1String(kOldOrganization), QLatin1String(kApplication)));
}

bool SettingsLocation::moveOldFile(const QString& configDir, QString* problem) {
    const QString oldPath = oldFilePath(configDir);
    const QString newPath = filePath(configDir);
    // The new file wins: the old one was moved before, or the user has settings there already.
    if (configDir.isEmpty() || !QFileInfo(oldPath).isFile() || QFileInfo::exists(newPath))
        return true;
    auto fail = [&](const QString& why) {
        if (problem)
            *problem = QString::fromLatin1(kMsgNotMoved).arg(oldPath, newPath, why);
        return false;
    };
    const QSettings from(oldPath, QSettings::IniFormat);
    if (from.status() != QSettings::NoError)
        return fail(statusText(from.status()));
    const QStringList keys = from.allKeys();
    if (!keys.isEmpty()) {
        if (!QDir().mkpath(QFileInfo(newPath).absolutePath()))
            return fail(QStringLiteral("folder not created"));
        QSettings to(newPath, QSettings::IniFormat);
        for (const QString& key : keys)
            to.setValue(key, from.value(key));
        to.sync();
        if (to.status() != QSettings::NoError || !QFileInfo(newPath).isFile()) {
            QFile::remove(newPath);
            return fail(statusText(to.status()));
        }
    }
    // The new file is whole: from now on it is the one read, whatever becomes of the old one.
    if (QFile::remove(oldPath))
        QDir().rmdir(QFileInfo(oldPath).absolutePath()); // only when nothing else is left in it
    return true;
}
