#pragma once

// Faults of the files under a database, made for real: a page of a SQLite file overwritten, a
// backup copied back beside the live database's -wal, and (SmallDisk.h) a small disk filled to the last byte.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QString>
#include <QStringList>

#include <functional>

#include "SmallDisk.h"

#include <unistd.h>

namespace BrokenFiles {

// Runs steps on a connection of its own to file, closed (and its -wal copied in) afterwards.
inline bool withConnection(const QString& file, const std::function<bool(QSqlDatabase&)>& steps) {
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("broken-files"));
        db.setDatabaseName(file);
        ok = db.open() && steps(db);
        if (!ok)
            qWarning() << "broken-files:" << db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("broken-files"));
    return ok;
}

inline bool run(QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    qWarning() << "broken-files:" << sql << q.lastError().text();
    return false;
}

// The root page of an index overwritten with bytes no page holds; the tables stay readable.
inline bool overwriteIndexPage(const QString& file, const QString& index) {
    int pageSize = 0, page = 0;
    if (!withConnection(file, [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA page_size")) && q.next())
                pageSize = q.value(0).toInt();
            q.prepare(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = ?"));
            q.addBindValue(index);
            if (q.exec() && q.next())
                page = q.value(0).toInt();
            return pageSize > 0 && page > 0;
        }))
        return false;
    QFile f(file);
    return f.open(QIODevice::ReadWrite) && f.seek(qint64(page - 1) * pageSize) &&
           f.write(QByteArray(pageSize, char(0xa5))) == pageSize;
}

// Adds a copy of every measured value: enough changed pages for a -wal or a journal to matter.
inline QString doubleValues() {
    return QStringLiteral("INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) "
                          "SELECT resultID, MachineID, refcode, stringvalue FROM RESULT_VALUES");
}

// A backup taken, the live database going on (a checkpoint, then values added that stay in its
// -wal), and the backup copied back over it with the -wal left beside it, as a person
// restoring it in a hurry would. SQLite applies that -wal to the backup: an index then lacks
// rows of its table.
inline bool restoreBackupBesideLiveWal(const QString& file) {
    const QString backup = file + QStringLiteral(".backup");
    const QString wal = file + QStringLiteral("-wal");
    const QString liveWal = file + QStringLiteral(".live-wal");
    QFile::remove(backup);
    QFile::remove(liveWal);
    if (!QFile::copy(file, backup))
        return false;
    if (!withConnection(file, [&](QSqlDatabase& db) {
            return run(db, QStringLiteral("PRAGMA wal_autocheckpoint=0")) && run(db, QStringLiteral("BEGIN")) &&
                   run(db, doubleValues()) && run(db, QStringLiteral("COMMIT")) &&
                   run(db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) && run(db, QStringLiteral("BEGIN")) &&
                   run(db, doubleValues() + QStringLiteral(" WHERE id % 100 = 0")) &&
                   run(db, QStringLiteral("COMMIT")) && QFile::copy(wal, liveWal);
        }))
        return false;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(file + QLatin1String(suffix));
    return QFile::copy(backup, file) && QFile::rename(liveWal, wal);
}

// The same with a rollback journal: a backup taken, the live database going on, and the backup
// copied back beside the -journal of a transaction the live database had under way. SQLite
// rolls that journal back into the backup at the first read.
inline bool restoreBackupBesideLiveJournal(const QString& file) {
    const QString backup = file + QStringLiteral(".backup");
    const QString journal = file + QStringLiteral("-journal");
    const QString liveJournal = file + QStringLiteral(".live-journal");
    QFile::remove(backup);
    QFile::remove(liveJournal);
    if (!withConnection(file, [](QSqlDatabase& db) { return run(db, QStringLiteral("PRAGMA journal_mode=DELETE")); }) ||
        !QFile::copy(file, backup))
        return false;
    if (!withConnection(file, [&](QSqlDatabase& db) {
            // A cache of two pages puts the transaction's first pages into the file and its journal.
            return run(db, doubleValues()) && run(db, QStringLiteral("PRAGMA cache_size=2")) &&
                   run(db, QStringLiteral("BEGIN")) &&
                   run(db, QStringLiteral("UPDATE RESULT_VALUES SET stringvalue = stringvalue || 'x' "
                                          "WHERE id % 3 = 0")) &&
                   QFile::copy(journal, liveJournal) && run(db, QStringLiteral("ROLLBACK"));
        }))
        return false;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(file + QLatin1String(suffix));
    return QFile::copy(backup, file) && QFile::rename(liveJournal, journal);
}

} // namespace BrokenFiles
