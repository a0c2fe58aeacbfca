#include "DatabaseBackup.h"

#include "BackupSet.h"
#include "ConnectionString.h"
#include "DiskSpace.h"
#include "DiskSync.h"
#include "SqliteHandle.h"
#include "SqliteIntegrityCheck.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

#include <sqlite3.h>

#include <pwd.h>
#include <unistd.h>

namespace {
// The copy is read from one snapshot of the database: writes of other connections go on
// meanwhile (WAL) and do not restart it.
const char* const kBegin = "BEGIN";
const char* const kTakeSnapshot = "SELECT COUNT(*) FROM sqlite_schema";
const char* const kEnd = "COMMIT";
// The copy is synced once, whole, when it is done.
const char* const kCopyUnsynced = "PRAGMA synchronous=OFF";
// A copy stands alone: no -wal beside it, whatever the database's journal was.
const char* const kSingleFile = "PRAGMA journal_mode=DELETE";
const char* const kCountResults = "SELECT COUNT(*) FROM RESULTS";
const char* const kNewestTransfer = "SELECT MAX(TransDate) FROM RESULTS";

constexpr int kPagesPerStep = 4096;
constexpr int kBusyWaitMs = 50;
constexpr int kPollMs = 200;
constexpr int kListTimeoutMs = 600000;

const char* const kSettingsFile = "Labrosa.ini";
const char* const kBulletinFolder = "buletin_files";

const char* const kMsgNoDestination =
    "Dosarul copiilor \"%1\" nu exista sau nu este un dosar (un disc sau un partaj neconectat?). Nu s-a facut nicio "
    "copie; baza de date nu a fost atinsa.";
const char* const kMsgCannotMakeFolder = "Dosarul copiilor \"%1\" nu a putut fi facut. Nu s-a facut nicio copie.";
const char* const kMsgDiskFull = "Pe discul copiilor (%1) nu mai este loc: copia nu a putut fi scrisa si a fost "
                                 "stearsa. Nu s-a sters nicio copie veche; baza de date nu a fost atinsa.\n%2";
const char* const kMsgFailed = "Copia nu a putut fi facuta in \"%1\": %2\nNu s-a sters nicio copie veche; baza de "
                               "date nu a fost atinsa.";
const char* const kMsgCancelled = "copia a fost oprita";
const char* const kMsgNoSource = "baza de date %1 nu poate fi deschisa: %2";
const char* const kMsgCheckFailed = "copia facuta nu a trecut verificarea integritatii: %1";
const char* const kMsgNotCounted = "copia nu poate fi citita: %1";
const char* const kMsgNoPgDump = "programul pg_dump nu a fost gasit; copia unei baze de date PostgreSQL o face "
                                 "pg_dump (pachetul postgresql-client)";
const char* const kMsgPgDumpFailed = "pg_dump nu a facut copia: %1";
const char* const kMsgPgListFailed = "pg_restore --list nu poate citi copia: %1";
const char* const kMsgUnknownProvider = "copii se fac doar bazelor de date SQLite si PostgreSQL";
const char* const kMsgCannotRename = "copia terminata nu a putut fi mutata in %1 (dosarul a disparut?)";
const char* const kMsgWrongSize = "fisierul copiei are %1 octeti, nu %2 cat scrie in descriere";
const char* const kMsgWrongHash = "continutul fisierului copiei nu mai este cel din descriere (SHA-256 diferit): "
                                  "copia a fost schimbata sau stricata";
const char* const kMsgNotGood = "copia nu a trecut verificarea cand a fost facuta: %1";
const char* const kMsgUnknownFormat = "copia are un format necunoscut: %1";

QString userAndHost() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("LOGNAME");
    if (const passwd* account = user.isEmpty() ? ::getpwuid(::getuid()) : nullptr)
        user = QString::fromLocal8Bit(account->pw_name);
    return user + QLatin1Char('@') + QSysInfo::machineHostName();
}

QString pgProgram(const char* name) {
    return QStandardPaths::findExecutable(QLatin1String(name));
}

// pg_restore --list of a dump, as the check of a PostgreSQL copy.
bool listDump(const QString& file, QString* error) {
    const QString program = pgProgram("pg_restore");
    if (program.isEmpty()) {
        *error = QString::fromLatin1(kMsgPgListFailed).arg(QStringLiteral("pg_restore nu a fost gasit"));
        return false;
    }
    QProcess process;
    process.start(program, {QStringLiteral("--list"), file});
    const bool finished = process.waitForFinished(kListTimeoutMs);
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        *error = QString::fromLatin1(kMsgPgListFailed).arg(said.isEmpty() ? process.errorString() : said);
        return false;
    }
    return true;
}

bool checkSqliteCopy(const QString& file, QString* error) {
    SqliteIntegrityCheck check(file);
    if (check.run())
        return true;
    *error = QString::fromLatin1(kMsgCheckFailed).arg(check.findings().join(QLatin1String("; ")));
    return false;
}
} // namespace

DatabaseBackup::DatabaseBackup(const QString& connectionString, const QString& labFolder)
    : m_connectionString(connectionString), m_labFolder(labFolder) {}

QString DatabaseBackup::failure(const QString& destination, const QString& reason, int sqliteCode) const {
    const QString disk = fullDiskOf(destination);
    if ((sqliteCode & 0xff) == SQLITE_FULL || !disk.isEmpty())
        return QString::fromLatin1(kMsgDiskFull).arg(disk.isEmpty() ? destination : disk, reason);
    return QString::fromLatin1(kMsgFailed).arg(QDir::toNativeSeparators(destination), reason);
}

bool DatabaseBackup::make(const QString& destination, bool makeFolder, const BackupSettings& settings,
                          BackupResult* result, QString* error) {
    m_cancelled = false;
    const QString target = QDir(destination).absolutePath();
    if (makeFolder && !QFileInfo(target).isDir() && !QDir().mkpath(target)) {
        *error = QString::fromLatin1(kMsgCannotMakeFolder).arg(QDir::toNativeSeparators(target));
        return false;
    }
    if (!QFileInfo(target).isDir()) {
        *error = QString::fromLatin1(kMsgNoDestination).arg(QDir::toNativeSeparators(target));
        return false;
    }
    const ConnectionString connection = ConnectionString::parse(m_connectionString);
    const bool sqlite = connection.isSQLite();
    if (!sqlite && !connection.isPostgreSQL()) {
        *error = QString::fromLatin1(kMsgFailed).arg(target, QLatin1String(kMsgUnknownProvider));
        return false;
    }
    const QString source = sqlite ? QFileInfo(connection.sqliteFile()).absoluteFilePath() : QString();

    const QDateTime madeAt = QDateTime::currentDateTime();
    QString name = BackupSet::folderName(madeAt);
    for (int n = 2; QFileInfo::exists(QDir(target).filePath(name)); ++n)
        name = BackupSet::folderName(madeAt) + QStringLiteral("-%1").arg(n);
    const QString partial =
        QDir(target).filePath(BackupSet::partialPrefix() + QStringLiteral("%1-%2").arg(::getpid()).arg(name));
    const QString final = QDir(target).filePath(name);

    BackupManifest manifest;
    manifest.format = sqlite ? QStringLiteral("sqlite") : QStringLiteral("pg_dump");
    manifest.file = sqlite ? QFileInfo(source).fileName() : connection.value(QStringLiteral("Database")) + ".dump";
    manifest.madeBy = userAndHost();
    manifest.madeAt = madeAt.toUTC().toString(Qt::ISODate);
    manifest.source = sqlite ? source
                             : QStringLiteral("%1 @ %2").arg(connection.value(QStringLiteral("Database")),
                                                             connection.value(QStringLiteral("Server")));

    QString reason;
    int sqliteCode = 0;
    const QString copy = QDir(partial).filePath(manifest.file);
    // Not mkpath: a destination that vanished since is not made again on the local disk.
    bool ok = QDir().mkdir(partial);
    if (!ok)
        reason = QStringLiteral("dosarul %1 nu a putut fi facut").arg(QDir::toNativeSeparators(partial));
    if (ok && sqlite) {
        ok = copySqlite(source, copy, &reason);
        if (ok)
            ok = describeSqliteCopy(copy, &manifest, &reason);
        else
            sqliteCode = reason.startsWith(QLatin1String("SQLITE_FULL")) ? SQLITE_FULL : 0;
    } else if (ok) {
        ok = dumpPostgres(copy, &reason) && describeDump(copy, &manifest, &reason);
    }
    if (ok && !m_labFolder.isEmpty()) {
        // The laboratory's own files travel beside the database: its settings and the bulletins' images.
        const QString files = QDir(partial).filePath(labFilesName());
        ok = QDir().mkdir(files);
        const QString ini = QDir(m_labFolder).filePath(QLatin1String(kSettingsFile));
        if (ok && QFileInfo(ini).isFile()) {
            ok = copySynced(ini, QDir(files).filePath(QLatin1String(kSettingsFile)), &reason);
            manifest.labFiles += ok ? 1 : 0;
        }
        const QString bulletins = QDir(m_labFolder).filePath(QLatin1String(kBulletinFolder));
        if (ok && QFileInfo(bulletins).isDir())
            ok = copyTreeSynced(bulletins, QDir(files).filePath(QLatin1String(kBulletinFolder)), &manifest.labFiles,
                                &reason);
        ok = ok && syncPath(files, &reason);
    }
    if (ok && m_cancelled) {
        ok = false;
        reason = QLatin1String(kMsgCancelled);
    }
    if (ok) {
        manifest.check = QStringLiteral("ok");
        ok = manifest.save(QDir(partial).filePath(manifestName()), &reason) && syncPath(partial, &reason);
    }
    // The copy counts from here on: renamed whole into its final name, the folder synced.
    if (ok && (!QFileInfo(target).isDir() ||
               ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(final).constData()) != 0)) {
        ok = false;
        reason = QString::fromLatin1(kMsgCannotRename).arg(QDir::toNativeSeparators(target));
    }
    if (!ok) {
        QDir(partial).removeRecursively();
        *error = reason == QLatin1String(kMsgCancelled) ? reason : failure(target, reason, sqliteCode);
        return false;
    }
    QString syncProblem;
    syncPath(target, &syncProblem);

    result->folder = final;
    result->manifest = manifest;
    result->removed.clear();
    result->rotationProblem.clear();
    BackupSet set;
    QString scanProblem;
    if (!set.scan(target, &scanProblem))
        result->rotationProblem = scanProblem;
    else
        set.rotate(settings, &result->removed, &result->rotationProblem);
    return true;
}

bool DatabaseBackup::copySqlite(const QString& source, const QString& copy, QString* error) {
    SqliteHandle from;
    SqliteHandle to;
    if (!from.open(source, true) || !from.exec(kBegin) || !from.exec(kTakeSnapshot)) {
        *error = QString::fromLatin1(kMsgNoSource).arg(QDir::toNativeSeparators(source), from.errorText());
        return false;
    }
    if (!to.open(copy, false) || !to.exec(kCopyUnsynced)) {
        *error = to.errorText();
        return false;
    }
    sqlite3_backup* backup = sqlite3_backup_init(to.handle(), "main", from.handle(), "main");
    if (!backup) {
        to.takeError();
        *error = to.errorText();
        return false;
    }
    int rc = SQLITE_OK;
    while (!m_cancelled) {
        rc = sqlite3_backup_step(backup, kPagesPerStep);
        if (m_progress) {
            const qint64 total = sqlite3_backup_pagecount(backup);
            m_progress(total - sqlite3_backup_remaining(backup), total);
        }
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            QThread::msleep(kBusyWaitMs);
        else if (rc != SQLITE_OK)
            break;
    }
    sqlite3_backup_finish(backup);
    from.exec(kEnd);
    if (m_cancelled) {
        *error = QLatin1String(kMsgCancelled);
        return false;
    }
    if (rc != SQLITE_DONE) {
        to.takeError();
        const int code = to.errorCode() ? to.errorCode() : rc;
        *error = QStringLiteral("%1%2").arg((code & 0xff) == SQLITE_FULL ? QStringLiteral("SQLITE_FULL: ") : QString(),
                                            QString::fromUtf8(sqlite3_errstr(rc)));
        return false;
    }
    if (!to.exec(kSingleFile) || !to.close()) {
        *error =
            (to.errorCode() & 0xff) == SQLITE_FULL ? QStringLiteral("SQLITE_FULL: ") + to.errorText() : to.errorText();
        return false;
    }
    return syncPath(copy, error);
}

bool DatabaseBackup::describeSqliteCopy(const QString& copy, BackupManifest* manifest, QString* error) {
    if (!checkSqliteCopy(copy, error))
        return false;
    SqliteHandle db;
    QString count;
    QString newest;
    if (!db.open(copy, true) || !db.queryText(kCountResults, &count) || !db.queryText(kNewestTransfer, &newest)) {
        *error = QString::fromLatin1(kMsgNotCounted).arg(db.errorText());
        return false;
    }
    db.close();
    manifest->resultSets = count.toLongLong();
    manifest->newestTransfer = newest;
    manifest->size = QFileInfo(copy).size();
    manifest->sha256 = sha256Of(copy, error);
    return !manifest->sha256.isEmpty();
}

bool DatabaseBackup::dumpPostgres(const QString& copy, QString* error) {
    const QString program = pgProgram("pg_dump");
    if (program.isEmpty()) {
        *error = QLatin1String(kMsgNoPgDump);
        return false;
    }
    const ConnectionString connection = ConnectionString::parse(m_connectionString);
    QStringList args{QStringLiteral("--format=custom"), QStringLiteral("--no-password"), QStringLiteral("--file"),
                     copy};
    const QString host = connection.value(QStringLiteral("Server"));
    const QString port = connection.value(QStringLiteral("Port"));
    const QString user = connection.value(QStringLiteral("User ID"));
    if (!host.isEmpty())
        args << QStringLiteral("--host") << host;
    if (!port.isEmpty())
        args << QStringLiteral("--port") << port;
    if (!user.isEmpty())
        args << QStringLiteral("--username") << user;
    args << QStringLiteral("--dbname") << connection.value(QStringLiteral("Database"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString password = connection.value(QStringLiteral("Password"));
    if (!password.isEmpty())
        environment.insert(QStringLiteral("PGPASSWORD"), password);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, args);
    while (!process.waitForFinished(kPollMs) && process.state() != QProcess::NotRunning) {
        if (m_cancelled) {
            process.kill();
            process.waitForFinished();
            *error = QLatin1String(kMsgCancelled);
            return false;
        }
        if (m_progress)
            m_progress(QFileInfo(copy).size(), 0);
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        *error = QString::fromLatin1(kMsgPgDumpFailed).arg(said.isEmpty() ? process.errorString() : said);
        return false;
    }
    return syncPath(copy, error);
}

bool DatabaseBackup::describeDump(const QString& copy, BackupManifest* manifest, QString* error) {
    if (!listDump(copy, error))
        return false;
    // The result sets and the newest transfer date as the dump itself holds them: the rows of
    // RESULTS that pg_restore would load.
    QProcess process;
    process.start(pgProgram("pg_restore"),
                  {QStringLiteral("--data-only"), QStringLiteral("--table=results"), QStringLiteral("--file=-"), copy});
    qint64 rows = 0;
    int transferColumn = -1;
    bool inData = false;
    QString newest;
    QByteArray pending;
    auto takeLine = [&](const QByteArray& line) {
        if (!inData) {
            if (line.startsWith("COPY ") && line.contains(" FROM stdin")) {
                const QByteArray columns = line.mid(line.indexOf('(') + 1, line.indexOf(')') - line.indexOf('(') - 1);
                const QList<QByteArray> names = columns.split(',');
                for (int i = 0; i < names.size(); ++i)
                    if (names.at(i).trimmed().toLower() == "transdate")
                        transferColumn = i;
                inData = true;
            }
            return;
        }
        if (line == "\\.") {
            inData = false;
            return;
        }
        ++rows;
        const QByteArray value = transferColumn < 0 ? QByteArray() : line.split('\t').value(transferColumn);
        if (value != "\\N" && QString::fromUtf8(value) > newest)
            newest = QString::fromUtf8(value);
    };
    while (process.state() != QProcess::NotRunning || process.bytesAvailable() > 0) {
        if (process.bytesAvailable() == 0)
            process.waitForReadyRead(kPollMs);
        pending += process.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            takeLine(pending.left(end));
            pending.remove(0, end + 1);
        }
        if (process.state() == QProcess::NotRunning && process.bytesAvailable() == 0)
            break;
    }
    process.waitForFinished();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QString::fromLatin1(kMsgPgListFailed).arg(QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    manifest->resultSets = rows;
    manifest->newestTransfer = newest;
    manifest->size = QFileInfo(copy).size();
    manifest->sha256 = sha256Of(copy, error);
    return !manifest->sha256.isEmpty();
}

bool DatabaseBackup::verify(const QString& copyFolder, BackupManifest* manifest, QString* error) {
    if (!BackupManifest::load(QDir(copyFolder).filePath(manifestName()), manifest, error))
        return false;
    if (manifest->check != QLatin1String("ok")) {
        *error = QString::fromLatin1(kMsgNotGood).arg(manifest->check);
        return false;
    }
    const QString file = QDir(copyFolder).filePath(manifest->file);
    const qint64 size = QFileInfo(file).size();
    if (!QFileInfo(file).isFile() || size != manifest->size) {
        *error = QString::fromLatin1(kMsgWrongSize).arg(size).arg(manifest->size);
        return false;
    }
    const QString sha = sha256Of(file, error);
    if (sha.isEmpty())
        return false;
    if (sha != manifest->sha256) {
        *error = QLatin1String(kMsgWrongHash);
        return false;
    }
    if (manifest->format == QLatin1String("sqlite"))
        return checkSqliteCopy(file, error);
    if (manifest->format == QLatin1String("pg_dump"))
        return listDump(file, error);
    *error = QString::fromLatin1(kMsgUnknownFormat).arg(manifest->format);
    return false;
}
