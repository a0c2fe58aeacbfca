#include "BackupSettings.h"

#include <QDir>

namespace {
const char* const kKeys[] = {"CopiiDosar", "CopiiVechimeMaximaZile", "CopiiZilnice", "CopiiSaptamanale", "CopiiLunare"};
const char* const kDefaultFolder = "backup";
const char* const kMsgBadNumber = "%1=%2 nu este un numar intre %3 si %4; se foloseste %5.";

void readNumber(const std::function<QString(const QString&)>& value, const char* key, int min, int max, int* field,
                QStringList* problems) {
    const QString text = value(QLatin1String(key)).trimmed();
    if (text.isEmpty())
        return;
    bool ok = false;
    const int number = text.toInt(&ok);
    if (ok && number >= min && number <= max)
        *field = number;
    else
        *problems << QString::fromLatin1(kMsgBadNumber).arg(QLatin1String(key), text).arg(min).arg(max).arg(*field);
}
} // namespace

QStringList BackupSettings::keys() {
    QStringList keys;
    for (const char* key : kKeys)
        keys << QLatin1String(key);
    return keys;
}

BackupSettings BackupSettings::fromValues(const std::function<QString(const QString&)>& value, QString* problem) {
    BackupSettings settings;
    QStringList problems;
    settings.folder = value(QLatin1String(kKeys[0])).trimmed();
    readNumber(value, kKeys[1], 1, 365, &settings.maxAgeDays, &problems);
    readNumber(value, kKeys[2], 1, 366, &settings.keepDaily, &problems);
    readNumber(value, kKeys[3], 0, 520, &settings.keepWeekly, &problems);
    readNumber(value, kKeys[4], 0, 1200, &settings.keepMonthly, &problems);
    if (problem)
        *problem = problems.join(QLatin1Char('\n'));
    return settings;
}

bool BackupSettings::isDefaultFolder() const {
    const QString chosen = folder.trimmed();
    return chosen.isEmpty() || chosen == QLatin1String(kDefaultFolder);
}

QString BackupSettings::folderIn(const QString& labFolder) const {
    const QString chosen = isDefaultFolder() ? QString::fromLatin1(kDefaultFolder) : folder.trimmed();
    return QDir::cleanPath(QDir(labFolder).absoluteFilePath(chosen));
}
