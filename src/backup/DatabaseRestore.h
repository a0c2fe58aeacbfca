#pragma once

#include "BackupManifest.h"

#include <QDateTime>
#include <QString>

// What a restore put in place and what it set aside.
struct RestoreResult {
    BackupManifest manifest; // of the copy now in place
    QString setAside;        // the database as it was before, renamed beside it; empty when there was none
};

// Puts a checked SQLite copy in place of the laboratory's database, whole: the copy is checked
// again, written beside the database and synced, the database is kept aside under a new name
// (never deleted; with its -wal when that held rows), the stale -wal and -shm are removed, and
// one rename puts the copy in its place. A crash at any moment leaves either the database as it
// was or the copy in place, never a mix. The database must not be open anywhere else.
class DatabaseRestore {
public:
    static bool run(const QString& copyFolder, const QString& databaseFile, RestoreResult* result, QString* error);
    // The name the database before a restore is kept under, beside it.
    static QString setAsideName(const QString& databaseFile, const QDateTime& when);
};
