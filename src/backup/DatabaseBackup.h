#pragma once

#include "BackupManifest.h"
#include "BackupSettings.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// What a backup made: its folder, its manifest, and what the rotation removed after it.
struct BackupResult {
    QString folder;
    BackupManifest manifest;
    QStringList removed;
    QString rotationProblem; // a copy the rotation could not remove; the new copy counts all the same
};

// Makes a copy of the laboratory's database while it is in use: SQLite's online backup API on a
// read snapshot of a connection of its own (never a copy of the file), synced to disk, then
// checked with PRAGMA integrity_check; on PostgreSQL, pg_dump in custom format checked with
// pg_restore --list. Labrosa.ini and buletin_files go beside it. The copy is made in a folder
// that does not count and is renamed to its final name only once its manifest is written, so a
// copy cut short (a crash, a full disk, a vanished share) never counts. Runs in the calling
// thread; a window runs it on a thread of its own.
class DatabaseBackup {
public:
    // done and total in pages (SQLite) or bytes written (pg_dump, total 0: unknown).
    using Progress = std::function<void(qint64 done, qint64 total)>;

    DatabaseBackup(const QString& connectionString, const QString& labFolder);

    void setProgress(Progress progress) { m_progress = std::move(progress); }
    // Asks a running make() to stop; what it made so far is removed.
    void cancel() { m_cancelled = true; }

    // Makes a copy in destination and rotates the folder's copies. The destination must exist,
    // unless makeFolder (the laboratory's own backup/). False with the reason, for a person;
    // nothing is removed by the rotation then.
    bool make(const QString& destination, bool makeFolder, const BackupSettings& settings, BackupResult* result,
              QString* error);

    // Checks a copy again: its file against the manifest's size and SHA-256, then SQLite's
    // integrity check (or pg_restore --list). False with the reason.
    static bool verify(const QString& copyFolder, BackupManifest* manifest, QString* error);
    // The manifest's file name in a copy's folder, and the folder of the laboratory's files.
    static QString manifestName() { return QStringLiteral("manifest.json"); }
    static QString labFilesName() { return QStringLiteral("fisiere-laborator"); }

private:
    bool copySqlite(const QString& source, const QString& copy, QString* error);
    bool dumpPostgres(const QString& copy, QString* error);
    bool describeSqliteCopy(const QString& copy, BackupManifest* manifest, QString* error);
    bool describeDump(const QString& copy, BackupManifest* manifest, QString* error);
    QString failure(const QString& destination, const QString& reason, int sqliteCode = 0) const;

    QString m_connectionString;
    QString m_labFolder;
    Progress m_progress;
    std::atomic<bool> m_cancelled{false};
};
