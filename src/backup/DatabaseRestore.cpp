#include "DatabaseRestore.h"

#include "DatabaseBackup.h"
#include "DiskSync.h"
#include "SqliteHandle.h"
#include "SqliteIntegrityCheck.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
// Committed rows still in the -wal go into the database before it is set aside, and no other
// connection may hold it: an exclusive lock is refused while one does.
const char* const kCheckpoint = "PRAGMA wal_checkpoint(TRUNCATE)";
const char* const kExclusive = "PRAGMA locking_mode=EXCLUSIVE";
const char* const kTakeLock = "BEGIN EXCLUSIVE";
const char* const kReleaseLock = "COMMIT";
const char* const kWal = "PRAGMA journal_mode=WAL";
// Byte 18 of a SQLite file's header is 2 for a database in WAL mode.
constexpr int kWalHeaderByte = 18;
constexpr int kInUseWaitMs = 2000;

const char* const kMsgRefused = "Copia \"%1\" nu a fost pusa in locul bazei de date: %2\nBaza de date a ramas cum era.";
const char* const kMsgNotSqlite = "copia este a unei baze de date PostgreSQL; o pune la loc administratorul, cu "
                                  "pg_restore";
const char* const kMsgInUse = "baza de date este deschisa de alt program (Labrosa pe alt calculator, "
                              "labrosa-dbtool?); inchideti-l si incercati din nou";
const char* const kMsgCannotSetAside = "baza de date de acum nu a putut fi pusa deoparte in \"%1\": %2";
const char* const kMsgCannotWrite = "copia nu a putut fi scrisa langa baza de date: %1";
const char* const kMsgCannotReplace = "copia nu a putut fi pusa in locul bazei de date: %1";

bool isWal(const QString& file) {
    QFile database(file);
    if (!database.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = database.read(kWalHeaderByte + 1);
    return header.size() > kWalHeaderByte && header.at(kWalHeaderByte) == 2;
}

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A second name for the same file, or a synced copy where the file system has no hard links.
bool keepAside(const QString& file, const QString& aside, QString* error) {
    if (::link(QFile::encodeName(file).constData(), QFile::encodeName(aside).constData()) == 0)
        return true;
    return copySynced(file, aside, error);
}
} // namespace

QString DatabaseRestore::setAsideName(const QString& databaseFile, const QDateTime& when) {
    return databaseFile + when.toString(QStringLiteral("'.inainte-de-restaurare-'yyyy-MM-dd-HHmmss"));
}

bool DatabaseRestore::run(const QString& copyFolder, const QString& databaseFile, RestoreResult* result,
                          QString* error) {
    const QString database = QFileInfo(databaseFile).absoluteFilePath();
    const QString shown = QDir::toNativeSeparators(copyFolder);
    BackupManifest manifest;
    QString reason;
    if (!DatabaseBackup::verify(copyFolder, &manifest, &reason)) {
        *error = QString::fromLatin1(kMsgRefused).arg(shown, reason);
        return false;
    }
    if (manifest.format != QLatin1String("sqlite")) {
        *error = QString::fromLatin1(kMsgRefused).arg(shown, QLatin1String(kMsgNotSqlite));
        return false;
    }
    const bool exists = QFileInfo(database).isFile();
    const bool wal = !exists || isWal(database);
    const QString folder = QFileInfo(database).absolutePath();

    // The copy is written beside the database first: the rename that puts it in place stays in
    // one file system.
    const QString incoming = database + QStringLiteral(".restaurare");
    QFile::remove(incoming);
    if (!copySynced(QDir(copyFolder).filePath(manifest.file), incoming, &reason)) {
        *error = QString::fromLatin1(kMsgRefused).arg(shown, QString::fromLatin1(kMsgCannotWrite).arg(reason));
        return false;
    }
    if (wal) {
        SqliteHandle copy;
        if (!copy.open(incoming, false) || !copy.exec(kWal) || !copy.close() || !syncPath(incoming, &reason)) {
            QFile::remove(incoming);
            *error =
                QString::fromLatin1(kMsgRefused)
                    .arg(shown, QString::fromLatin1(kMsgCannotWrite).arg(reason.isEmpty() ? copy.errorText() : reason));
            return false;
        }
    }

    QString aside;
    if (exists) {
        aside = setAsideName(database, QDateTime::currentDateTime());
        // What lies beside a database whose last rows are still in its -wal (or a hot journal)
        // is kept aside as it was found, before SQLite applies it.
        const QStringList leftovers = SqliteIntegrityCheck::leftoversOf(database);
        bool ok = true;
        if (!leftovers.isEmpty()) {
            ok = copySynced(database, aside, &reason);
            for (const QString& leftover : leftovers)
                ok = ok && copySynced(leftover, aside + leftover.mid(database.size()), &reason);
        }
        SqliteHandle current;
        if (ok && current.open(database, false)) {
            sqlite3_busy_timeout(current.handle(), kInUseWaitMs);
            const bool locked = current.exec(kCheckpoint) && current.exec(kExclusive) && current.exec(kTakeLock);
            if (!locked && (current.errorCode() & 0xff) == SQLITE_BUSY) {
                current.close();
                QFile::remove(incoming);
                if (!leftovers.isEmpty()) {
                    QFile::remove(aside);
                    for (const QString& leftover : leftovers)
                        QFile::remove(aside + leftover.mid(database.size()));
                }
                *error = QString::fromLatin1(kMsgRefused).arg(shown, QLatin1String(kMsgInUse));
                return false;
            }
            // A damaged database may refuse the checkpoint; it is kept aside as it is.
            if (locked)
                current.exec(kReleaseLock);
            current.close();
        }
        if (ok && leftovers.isEmpty())
            ok = keepAside(database, aside, &reason);
        ok = ok && syncPath(folder, &reason);
        if (!ok) {
            QFile::remove(incoming);
            *error =
                QString::fromLatin1(kMsgRefused)
                    .arg(shown, QString::fromLatin1(kMsgCannotSetAside).arg(QDir::toNativeSeparators(aside), reason));
            return false;
        }
    }
    // The database's companions belong to it, not to the copy: SQLite would apply them to
    // whatever file carries its name.
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        QFile::remove(database + QLatin1String(suffix));
    if (::rename(QFile::encodeName(incoming).constData(), QFile::encodeName(database).constData()) != 0) {
        reason = errnoText();
        QFile::remove(incoming);
        *error = QString::fromLatin1(kMsgRefused).arg(shown, QString::fromLatin1(kMsgCannotReplace).arg(reason));
        return false;
    }
    syncPath(folder, &reason);
    result->manifest = manifest;
    result->setAside = aside;
    return true;
}
