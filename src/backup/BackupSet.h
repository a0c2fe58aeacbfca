#pragma once

#include "BackupManifest.h"
#include "BackupSettings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

// One copy in the backup folder: its folder, when it was made (from the folder's name) and
// whether it counts: a copy counts only once its manifest says it passed its check.
struct BackupEntry {
    QString folder; // absolute
    QDateTime madeAt;
    bool good = false;
    QString problem; // why it does not count
    BackupManifest manifest;
};

// The copies of a backup folder, newest first, and the rotation that thins them out.
class BackupSet {
public:
    // "copie-2026-12-09-162751", local time; a second copy in the same second gets "-2" and on.
    static QString folderName(const QDateTime& madeAt);
    // The time of a copy's folder name; invalid for a name that is no copy's.
    static QDateTime timeOfName(const QString& name);
    // Where a copy is made before it counts; it carries the maker's process id so that one
    // left by a killed backup is known as such.
    static QString partialPrefix() { return QStringLiteral(".copie-in-lucru-"); }

    // Reads the folder; false with the reason when it is missing or cannot be read (never
    // taken for a folder without copies).
    bool scan(const QString& folder, QString* error);
    const std::vector<BackupEntry>& entries() const { return m_entries; }
    // The newest copy that counts; null when there is none.
    const BackupEntry* lastGood() const;

    // Which of entries (newest first) the rotation keeps: the newest good copy of each of the
    // last keepDaily days, keepWeekly weeks and keepMonthly months that have one, and always the
    // newest good copy. A copy that does not count is never removed by the rotation.
    static std::vector<bool> kept(const std::vector<BackupEntry>& entries, const BackupSettings& settings);
    // Removes the good copies the rotation does not keep and the folders that killed backups
    // left. Nothing is removed unless the folder was read whole. removed gets the folders.
    bool rotate(const BackupSettings& settings, QStringList* removed, QString* error);

private:
    QString m_folder;
    std::vector<BackupEntry> m_entries;
    QStringList m_abandoned; // partial folders whose maker no longer runs
};
