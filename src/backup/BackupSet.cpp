#include "BackupSet.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <set>
#include <signal.h>

namespace {
const char* const kNameFormat = "'copie-'yyyy-MM-dd-HHmmss";
const char* const kManifestFile = "manifest.json";
const char* const kMsgNoFolder = "dosarul copiilor %1 nu exista sau nu poate fi citit (disc sau partaj neconectat?)";
const char* const kMsgNotChecked = "copia nu a trecut verificarea: %1";
const char* const kMsgNoCopyFile = "fisierul copiei %1 lipseste";
const char* const kMsgWrongSize = "fisierul copiei %1 are %2 octeti, nu %3 cat scrie in descriere";
const char* const kMsgCannotRemove = "copia veche %1 nu a putut fi stearsa";

bool processRuns(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}
} // namespace

QString BackupSet::folderName(const QDateTime& madeAt) {
    return madeAt.toLocalTime().toString(QLatin1String(kNameFormat));
}

QDateTime BackupSet::timeOfName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^(copie-\\d{4}-\\d{2}-\\d{2}-\\d{6})(-\\d+)?$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return QDateTime();
    return QDateTime::fromString(match.captured(1), QLatin1String(kNameFormat));
}

bool BackupSet::scan(const QString& folder, QString* error) {
    m_folder = QDir(folder).absolutePath();
    m_entries.clear();
    m_abandoned.clear();
    const QDir dir(m_folder);
    if (!QFileInfo(m_folder).isDir() || !dir.isReadable()) {
        *error = QString::fromLatin1(kMsgNoFolder).arg(QDir::toNativeSeparators(m_folder));
        return false;
    }
    const QFileInfoList list = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QFileInfo& info : list) {
        const QString name = info.fileName();
        if (name.startsWith(partialPrefix())) {
            const qint64 pid = name.mid(partialPrefix().size()).section(QLatin1Char('-'), 0, 0).toLongLong();
            if (!processRuns(pid))
                m_abandoned << info.absoluteFilePath();
            continue;
        }
        const QDateTime madeAt = timeOfName(name);
        if (!madeAt.isValid())
            continue;
        BackupEntry entry;
        entry.folder = info.absoluteFilePath();
        entry.madeAt = madeAt;
        QString problem;
        if (!BackupManifest::load(QDir(entry.folder).filePath(QLatin1String(kManifestFile)), &entry.manifest,
                                  &problem)) {
            entry.problem = problem;
        } else if (entry.manifest.check != QLatin1String("ok")) {
            entry.problem = QString::fromLatin1(kMsgNotChecked).arg(entry.manifest.check);
        } else {
            const QFileInfo file(QDir(entry.folder).filePath(entry.manifest.file));
            if (!file.isFile())
                entry.problem = QString::fromLatin1(kMsgNoCopyFile).arg(entry.manifest.file);
            else if (file.size() != entry.manifest.size)
                entry.problem = QString::fromLatin1(kMsgWrongSize)
                                    .arg(entry.manifest.file)
                                    .arg(file.size())
                                    .arg(entry.manifest.size);
            else
                entry.good = true;
        }
        m_entries.push_back(entry);
    }
    std::stable_sort(m_entries.begin(), m_entries.end(), [](const BackupEntry& a, const BackupEntry& b) {
        return a.madeAt != b.madeAt ? a.madeAt > b.madeAt : a.folder > b.folder;
    });
    return true;
}

const BackupEntry* BackupSet::lastGood() const {
    for (const BackupEntry& entry : m_entries)
        if (entry.good)
            return &entry;
    return nullptr;
}

std::vector<bool> BackupSet::kept(const std::vector<BackupEntry>& entries, const BackupSettings& settings) {
    std::vector<bool> keep(entries.size(), false);
    std::set<qint64> days;
    std::set<qint64> weeks;
    std::set<qint64> months;
    bool newestKept = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BackupEntry& entry = entries[i];
        if (!entry.good) {
            keep[i] = true;
            continue;
        }
        if (!newestKept)
            keep[i] = newestKept = true;
        const QDate date = entry.madeAt.date();
        int weekYear = 0;
        const int week = date.weekNumber(&weekYear);
        const qint64 day = date.toJulianDay();
        const qint64 weekKey = qint64(weekYear) * 100 + week;
        const qint64 monthKey = qint64(date.year()) * 100 + date.month();
        // Entries come newest first: the first seen of a day, week or month is its newest.
        if (!days.count(day) && int(days.size()) < settings.keepDaily) {
            days.insert(day);
            keep[i] = true;
        }
        if (!weeks.count(weekKey) && int(weeks.size()) < settings.keepWeekly) {
            weeks.insert(weekKey);
            keep[i] = true;
        }
        if (!months.count(monthKey) && int(months.size()) < settings.keepMonthly) {
            months.insert(monthKey);
            keep[i] = true;
        }
    }
    return keep;
}

bool BackupSet::rotate(const BackupSettings& settings, QStringList* removed, QString* error) {
    const std::vector<bool> keep = kept(m_entries, settings);
    QStringList failed;
    std::vector<BackupEntry> left;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (keep[i]) {
            left.push_back(m_entries[i]);
            continue;
        }
        if (QDir(m_entries[i].folder).removeRecursively())
            removed->append(m_entries[i].folder);
        else
            failed << QString::fromLatin1(kMsgCannotRemove).arg(QDir::toNativeSeparators(m_entries[i].folder));
    }
    m_entries = left;
    for (const QString& folder : std::as_const(m_abandoned))
        if (QDir(folder).removeRecursively())
            removed->append(folder);
    m_abandoned.clear();
    *error = failed.join(QLatin1Char('\n'));
    return failed.isEmpty();
}
