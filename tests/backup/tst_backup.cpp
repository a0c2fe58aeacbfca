// Copies of a real database while it is written, their manifest, the rotation, the restore, and
// what happens when a backup or a restore is killed, the disk fills or the destination vanishes.

#include "BackupSet.h"
#include "DatabaseBackup.h"
#include "DatabaseRestore.h"
#include "DbLab.h"
#include "DiskSync.h"
#include "SmallDisk.h"
#include "TestLab.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

namespace {

// Every table of a SQLite file: its row count and a checksum of its rows, in any order.
QMap<QString, QString> tableSums(const QString& file) {
    QMap<QString, QString> sums;
    const QString name = QStringLiteral("sums-%1").arg(QRandomGenerator::global()->generate());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery tables(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"), db);
            while (tables.next()) {
                const QString table = tables.value(0).toString();
                QSqlQuery rows(QStringLiteral("SELECT * FROM \"%1\"").arg(table), db);
                QStringList lines;
                while (rows.next()) {
                    QStringList values;
                    for (int i = 0; i < rows.record().count(); ++i)
                        values << rows.value(i).toString();
                    lines << values.join(QChar(0x1f));
                }
                lines.sort();
                sums.insert(table,
                            QStringLiteral("%1 rows %2")
                                .arg(lines.size())
                                .arg(QString::fromLatin1(QCryptographicHash::hash(lines.join(QChar(0x1e)).toUtf8(),
                                                                                  QCryptographicHash::Sha256)
                                                             .toHex())));
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return sums;
}

QString shaOf(const QString& file) {
    QString error;
    return sha256Of(file, &error);
}

BackupEntry entryAt(const QString& when, bool good = true) {
    BackupEntry entry;
    entry.madeAt = QDateTime::fromString(when, QStringLiteral("yyyy-MM-dd HH:mm"));
    entry.good = good;
    entry.folder = when;
    return entry;
}

qint64 resultCount(const QString& file) {
    qint64 count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM RESULTS"), db);
            if (query.next())
                count = query.value(0).toLongLong();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("count"));
    return count;
}

// Overwrites one page of a SQLite file (4096 bytes at the given page, counted from 1).
bool overwritePage(const QString& file, int page) {
    QFile f(file);
    if (!f.open(QIODevice::ReadWrite) || !f.seek(qint64(page - 1) * 4096))
        return false;
    return f.write(QByteArray(4096, '\x5a')) == 4096;
}

} // namespace

class TestBackup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void backupWhileWriting();
    void settings_data();
    void settings();
    void rotation_data();
    void rotation();
    void restoreGivesBackTheCopy();
    void refusedCopy_data();
    void refusedCopy();
    void killDuringBackup();
    void killDuringRestore();
    void fullDisk();
    void vanishedDestination();
    void postgresDump();

private:
    // A database big enough for a backup to take a while: made once, copied by each test.
    QString bigDatabase(TestLab& lab);
    QTemporaryDir m_seedDir;
    QString m_seed;
};

void TestBackup::initTestCase() {
    QVERIFY(!TestLab::dbTool().isEmpty());
    m_seed = m_seedDir.filePath(QStringLiteral("big.db"));
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(TestLab::dbTool(), {"--demo", "--seed", "5", "--results", "40000", m_seed});
    QVERIFY(tool.waitForFinished(120000));
    QVERIFY2(tool.exitCode() == 0, tool.readAll().constData());
}

QString TestBackup::bigDatabase(TestLab& lab) {
    QFile::remove(lab.dbPath());
    if (!QFile::copy(m_seed, lab.dbPath()))
        return QString();
    return lab.dbPath();
}

void TestBackup::backupWhileWriting() {
    TestLab lab;
    QVERIFY(!bigDatabase(lab).isEmpty());
    QVERIFY(QDir().mkpath(lab.filePath("buletin_files")));
    QFile ini(lab.filePath("Labrosa.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("NumeLaborator=Test\r\n") > 0);
    ini.close();
    const qint64 before = resultCount(lab.dbPath());

    // Another connection adds result sets, each in its own transaction, for as long as the backup runs.
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::thread writer([&] {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
            db.setDatabaseName(lab.dbPath());
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
            if (db.open()) {
                QSqlQuery insert(db);
                insert.prepare(QStringLiteral("INSERT INTO RESULTS (RequestID, PacientName, TransDate) VALUES (?, ?, "
                                              "'2030-01-01 10:00:00')"));
                while (!stop) {
                    insert.addBindValue(QStringLiteral("W%1").arg(written.load()));
                    insert.addBindValue(QStringLiteral("Scris in timpul copiei"));
                    if (insert.exec())
                        ++written;
                }
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("writer"));
    });
    QTRY_VERIFY(written > 0);
    const int writtenAtStart = written;

    DatabaseBackup backup(lab.connectionString(), lab.path());
    int progressCalls = 0;
    backup.setProgress([&](qint64 done, qint64 total) {
        ++progressCalls;
        QVERIFY(done <= total);
    });
    BackupResult result;
    QString error;
    const bool made = backup.make(lab.filePath("backup"), true, BackupSettings(), &result, &error);
    const int writtenAtEnd = written;
    stop = true;
    writer.join();
    QVERIFY2(made, qPrintable(error));
    QVERIFY(writtenAtEnd > writtenAtStart);
    QVERIFY(progressCalls > 1);

    // Whole and checked: what the manifest says is what the copy holds.
    const QString copy = QDir(result.folder).filePath(QStringLiteral("lab.db"));
    BackupManifest manifest;
    QVERIFY2(DatabaseBackup::verify(result.folder, &manifest, &error), qPrintable(error));
    QCOMPARE(manifest.check, QStringLiteral("ok"));
    QCOMPARE(manifest.sha256, shaOf(copy));
    QCOMPARE(manifest.size, QFileInfo(copy).size());
    QCOMPARE(manifest.resultSets, resultCount(copy));
    QVERIFY(manifest.resultSets >= before + writtenAtStart && manifest.resultSets <= before + writtenAtEnd);
    QCOMPARE(manifest.newestTransfer, QStringLiteral("2030-01-01 10:00:00"));
    QCOMPARE(manifest.labFiles, 1);
    QVERIFY(QFileInfo(QDir(result.folder).filePath(QStringLiteral("fisiere-laborator/Labrosa.ini"))).isFile());
    // The copy stands alone, without a -wal.
    QVERIFY(!QFileInfo::exists(copy + QStringLiteral("-wal")));
    BackupSet set;
    QVERIFY(set.scan(lab.filePath("backup"), &error));
    QVERIFY(set.lastGood() && set.lastGood()->folder == result.folder);
}

void TestBackup::settings_data() {
    QTest::addColumn<QString>("ini"); // Labrosa.ini's lines
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("made"); // the folder is made when missing
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QString>("problem");
    QTest::newRow("nothing set") << ""
                                 << "/lab/backup" << true << QList<int>{2, 7, 4, 12} << "";
    QTest::newRow("the default named") << "CopiiDosar=backup"
                                       << "/lab/backup" << true << QList<int>{2, 7, 4, 12} << "";
    QTest::newRow("another disk") << "CopiiDosar=/mnt/copii\nCopiiZilnice=10\nCopiiLunare=0"
                                  << "/mnt/copii" << false << QList<int>{2, 10, 4, 0} << "";
    QTest::newRow("not a number") << "CopiiVechimeMaximaZile=doua\nCopiiSaptamanale=-1"
                                  << "/lab/backup" << true << QList<int>{2, 7, 4, 12} << "CopiiVechimeMaximaZile=doua";
}

void TestBackup::settings() {
    QFETCH(QString, ini);
    QFETCH(QString, folder);
    QFETCH(bool, made);
    QFETCH(QList<int>, numbers);
    QFETCH(QString, problem);
    QMap<QString, QString> values;
    for (const QString& line : ini.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        values.insert(line.section('=', 0, 0), line.section('=', 1));
    QString said;
    const BackupSettings settings =
        BackupSettings::fromValues([&](const QString& key) { return values.value(key); }, &said);
    QCOMPARE(settings.folderIn(QStringLiteral("/lab")), folder);
    QCOMPARE(settings.isDefaultFolder(), made);
    QCOMPARE((QList<int>{settings.maxAgeDays, settings.keepDaily, settings.keepWeekly, settings.keepMonthly}), numbers);
    QVERIFY2(problem.isEmpty() ? said.isEmpty() : said.contains(problem), qPrintable(said));
    QCOMPARE(said.count(QLatin1Char('\n')), problem.isEmpty() ? 0 : 1);
}

void TestBackup::rotation_data() {
    QTest::addColumn<QStringList>("copies"); // newest first; a trailing "!" marks a copy that does not count
    QTest::addColumn<QList<int>>("limits");  // daily, weekly, monthly
    QTest::addColumn<QStringList>("expected");

    QStringList tenDays;
    for (int day = 20; day >= 11; --day)
        tenDays << QStringLiteral("2026-03-%1 08:00").arg(day);
    QTest::newRow("the last 7 days") << tenDays << QList<int>{7, 0, 0} << tenDays.mid(0, 7);
    QTest::newRow("the newest of a day") << QStringList{"2026-03-20 18:00", "2026-03-20 08:00", "2026-03-19 18:00"}
                                         << QList<int>{7, 0, 0} << QStringList{"2026-03-20 18:00", "2026-03-19 18:00"};
    // 2026-03-16 is a Monday: one copy kept per week beyond the days.
    QTest::newRow("weeks after days") << tenDays << QList<int>{2, 2, 0}
                                      << QStringList{"2026-03-20 08:00", "2026-03-19 08:00", "2026-03-15 08:00"};
    QTest::newRow("months") << QStringList{"2026-03-02 08:00", "2026-02-27 08:00", "2026-02-03 08:00",
                                           "2026-01-15 08:00", "2025-12-31 08:00"}
                            << QList<int>{1, 0, 3}
                            << QStringList{"2026-03-02 08:00", "2026-02-27 08:00", "2026-01-15 08:00"};
    QTest::newRow("nothing to keep still keeps the last good copy")
        << QStringList{"2026-03-20 08:00!", "2026-03-19 08:00", "2026-03-18 08:00"} << QList<int>{0, 0, 0}
        << QStringList{"2026-03-20 08:00!", "2026-03-19 08:00"};
    QTest::newRow("a copy that does not count is never removed")
        << QStringList{"2026-03-20 08:00", "2026-03-19 08:00!", "2026-03-18 08:00!"} << QList<int>{1, 0, 0}
        << QStringList{"2026-03-20 08:00", "2026-03-19 08:00!", "2026-03-18 08:00!"};
}

void TestBackup::rotation() {
    QFETCH(QStringList, copies);
    QFETCH(QList<int>, limits);
    QFETCH(QStringList, expected);
    std::vector<BackupEntry> entries;
    for (const QString& copy : copies) {
        const bool bad = copy.endsWith(QLatin1Char('!'));
        entries.push_back(entryAt(bad ? copy.chopped(1) : copy, !bad));
        entries.back().folder = copy;
    }
    BackupSettings settings;
    settings.keepDaily = limits.at(0);
    settings.keepWeekly = limits.at(1);
    settings.keepMonthly = limits.at(2);
    const std::vector<bool> keep = BackupSet::kept(entries, settings);
    QStringList kept;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (keep[i])
            kept << entries[i].folder;
    QCOMPARE(kept, expected);
}

void TestBackup::restoreGivesBackTheCopy() {
    TestLab lab;
    QVERIFY(lab.createDemo(300));
    DatabaseBackup backup(lab.connectionString(), lab.path());
    BackupResult result;
    QString error;
    QVERIFY2(backup.make(lab.filePath("backup"), true, BackupSettings(), &result, &error), qPrintable(error));
    const QMap<QString, QString> copySums = tableSums(QDir(result.folder).filePath("lab.db"));

    // The laboratory works on after the copy: rows changed, added and removed.
    QSqlQuery change(lab.admin());
    QVERIFY(change.exec("UPDATE RESULTS SET PacientName = 'Schimbat' WHERE ID % 7 = 0"));
    QVERIFY(change.exec("DELETE FROM RESULT_VALUES WHERE resultID IN (SELECT ID FROM RESULTS WHERE ID % 5 = 0)"));
    QVERIFY(change.exec("INSERT INTO RESULTS (RequestID, PacientName, TransDate) VALUES ('N1', 'Nou', "
                        "'2027-01-01 08:00:00')"));
    lab.admin().close();
    const QMap<QString, QString> currentSums = tableSums(lab.dbPath());
    QVERIFY(currentSums != copySums);
    const QString currentSha = shaOf(lab.dbPath());

    // Not while another program holds the database.
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(lab.dbPath());
        QVERIFY(other.open());
        QSqlQuery read(QStringLiteral("SELECT COUNT(*) FROM RESULTS"), other);
        QVERIFY(read.next());
        RestoreResult refused;
        QVERIFY(!DatabaseRestore::run(result.folder, lab.dbPath(), &refused, &error));
        QVERIFY2(error.contains(QStringLiteral("deschisa de alt program")), qPrintable(error));
        read.finish();
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    QCOMPARE(tableSums(lab.dbPath()), currentSums);
    QCOMPARE(QDir(lab.path()).entryList({"lab.db.*"}), QStringList());

    RestoreResult restored;
    QVERIFY2(DatabaseRestore::run(result.folder, lab.dbPath(), &restored, &error), qPrintable(error));
    QCOMPARE(tableSums(lab.dbPath()), copySums);
    QCOMPARE(restored.manifest.resultSets, qint64(300));
    // The database before is kept aside, byte for byte.
    QVERIFY(QFileInfo(restored.setAside).isFile());
    QCOMPARE(shaOf(restored.setAside), currentSha);
    QCOMPARE(tableSums(restored.setAside), currentSums);
    // The restored file keeps the database's journal (WAL), as the program made it.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("after"));
    db.setDatabaseName(lab.dbPath());
    QVERIFY(db.open());
    QSqlQuery mode(QStringLiteral("PRAGMA journal_mode"), db);
    QVERIFY(mode.next());
    QCOMPARE(mode.value(0).toString(), QStringLiteral("wal"));
    mode.finish();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("after"));
}

void TestBackup::refusedCopy_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reason");
    QTest::newRow("one page overwritten") << "page"
                                          << "SHA-256";
    QTest::newRow("one page overwritten, manifest made to match") << "page+manifest"
                                                                  << "integritatii";
    QTest::newRow("file cut short") << "truncate"
                                    << "octeti";
    QTest::newRow("manifest missing") << "nomanifest"
                                      << "manifest.json";
}

void TestBackup::refusedCopy() {
    QFETCH(QString, damage);
    QFETCH(QString, reason);
    TestLab lab;
    QVERIFY(lab.createDemo(300));
    DatabaseBackup backup(lab.connectionString(), lab.path());
    BackupResult result;
    QString error;
    QVERIFY2(backup.make(lab.filePath("backup"), true, BackupSettings(), &result, &error), qPrintable(error));
    const QString copy = QDir(result.folder).filePath("lab.db");
    const QString manifestPath = QDir(result.folder).filePath("manifest.json");
    if (damage.startsWith("page"))
        QVERIFY(overwritePage(copy, 3));
    if (damage == "page+manifest") {
        BackupManifest manifest = result.manifest;
        manifest.sha256 = shaOf(copy);
        QVERIFY(manifest.save(manifestPath, &error));
    }
    if (damage == "truncate")
        QVERIFY(QFile::resize(copy, QFileInfo(copy).size() - 4096));
    if (damage == "nomanifest")
        QVERIFY(QFile::remove(manifestPath));

    const QString before = shaOf(lab.dbPath());
    RestoreResult restored;
    QVERIFY(!DatabaseRestore::run(result.folder, lab.dbPath(), &restored, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(error.contains(QStringLiteral("Baza de date a ramas cum era")));
    QCOMPARE(shaOf(lab.dbPath()), before);
    QCOMPARE(QDir(lab.path()).entryList({"lab.db.*"}), QStringList());
}

void TestBackup::killDuringBackup() {
    TestLab lab;
    QVERIFY(!bigDatabase(lab).isEmpty());
    const QString before = shaOf(lab.dbPath());
    const QString destination = lab.filePath("copii");
    QVERIFY(QDir().mkpath(destination));
    int cutShort = 0;
    for (int delay : {5, 40, 120, 250, 400}) {
        QProcess tool;
        tool.start(TestLab::dbTool(), {"--backup", destination, lab.dbPath()});
        QVERIFY(tool.waitForStarted());
        QThread::msleep(delay);
        tool.kill();
        tool.waitForFinished();
        const bool finished = tool.exitStatus() == QProcess::NormalExit;
        BackupSet set;
        QString error;
        QVERIFY(set.scan(destination, &error));
        // Every copy that counts is whole; one cut short does not count.
        for (const BackupEntry& entry : set.entries()) {
            BackupManifest manifest;
            QVERIFY2(entry.good && DatabaseBackup::verify(entry.folder, &manifest, &error), qPrintable(error));
        }
        if (!finished && QDir(destination).entryList({".copie-in-lucru-*"}, QDir::Dirs | QDir::Hidden).size() > 0)
            ++cutShort;
        QCOMPARE(shaOf(lab.dbPath()), before);
    }
    QVERIFY2(cutShort > 0, "no backup was killed while it worked");
    // The next backup clears what the killed ones left.
    DatabaseBackup backup(lab.connectionString(), lab.path());
    BackupResult result;
    QString error;
    QVERIFY2(backup.make(destination, false, BackupSettings(), &result, &error), qPrintable(error));
    QCOMPARE(QDir(destination).entryList({".copie-in-lucru-*"}, QDir::Dirs | QDir::Hidden), QStringList());
}

void TestBackup::killDuringRestore() {
    TestLab lab;
    QVERIFY(!bigDatabase(lab).isEmpty());
    DatabaseBackup backup(lab.connectionString(), lab.path());
    BackupResult result;
    QString error;
    QVERIFY2(backup.make(lab.filePath("backup"), true, BackupSettings(), &result, &error), qPrintable(error));
    // The database moves on from the copy, so the two are told apart.
    {
        QSqlQuery change(lab.admin());
        QVERIFY(change.exec("DELETE FROM RESULT_VALUES WHERE resultID % 3 = 0"));
        lab.admin().close();
    }
    const QString old = lab.dbPath() + ".vechi";
    QVERIFY(QFile::copy(lab.dbPath(), old));
    const QString oldSha = shaOf(old);

    // What a restore that ran to its end puts in place, and how long it takes.
    QTemporaryDir other;
    const QString whole = other.filePath("lab.db");
    QVERIFY(QFile::copy(old, whole));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(QProcess::execute(TestLab::dbTool(), {"--restore", result.folder, whole}) == 0);
    const qint64 duration = timer.elapsed();
    const QString newSha = shaOf(whole);
    QVERIFY(newSha != oldSha);

    // Killed at every sixteenth of its course: checking the copy, writing it beside, setting the
    // database aside, the rename.
    int killed = 0;
    for (int step = 1; step < 16; ++step) {
        const int delay = int(duration * step / 16);
        QFile::remove(lab.dbPath());
        QVERIFY(QFile::copy(old, lab.dbPath()));
        QProcess tool;
        tool.start(TestLab::dbTool(), {"--restore", result.folder, lab.dbPath()});
        QVERIFY(tool.waitForStarted());
        QThread::msleep(delay);
        tool.kill();
        tool.waitForFinished();
        killed += tool.exitStatus() == QProcess::CrashExit ? 1 : 0;
        const QString now = shaOf(lab.dbPath());
        QVERIFY2(now == oldSha || now == newSha, qPrintable(QStringLiteral("a mix after %1 ms").arg(delay)));
        QVERIFY(!QFileInfo(lab.dbPath() + "-wal").exists() || QFileInfo(lab.dbPath() + "-wal").size() == 0);
    }
    QVERIFY2(killed > 0, "no restore was killed while it worked");
}

void TestBackup::fullDisk() {
    TestLab lab;
    QVERIFY(lab.createDemo(2000));
    const QString destination = lab.filePath("disc-mic");
    SmallDisk disk(destination, QStringLiteral("1m"));
    if (!disk.mounted())
        QSKIP(qPrintable(disk.problem()));
    // Old copies of a small database, which a rotation keeping one day only would thin out.
    TestLab small;
    QVERIFY(small.createEmpty());
    const BackupSettings settings{QString(), 2, 1, 0, 0};
    DatabaseBackup smallBackup(small.connectionString(), QString());
    QString error;
    for (int day = 1; day <= 3; ++day) {
        BackupResult made;
        QVERIFY2(smallBackup.make(destination, false, BackupSettings(), &made, &error), qPrintable(error));
        QVERIFY(QDir().rename(made.folder,
                              QDir(destination).filePath(QStringLiteral("copie-2026-01-0%1-080000").arg(day))));
    }
    const QStringList before = QDir(destination).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    QCOMPARE(before.size(), 3);

    DatabaseBackup backup(lab.connectionString(), lab.path());
    BackupResult result;
    QVERIFY(!backup.make(destination, false, settings, &result, &error));
    QVERIFY2(error.contains(QStringLiteral("nu mai este loc")), qPrintable(error));
    QVERIFY(error.contains(QStringLiteral("Nu s-a sters nicio copie veche")));
    QCOMPARE(QDir(destination).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden), before);
}

void TestBackup::vanishedDestination() {
    TestLab lab;
    QVERIFY(!bigDatabase(lab).isEmpty());
    const QString share = lab.filePath("partaj");
    DatabaseBackup backup(lab.connectionString(), lab.path());
    BackupResult result;
    QString error;

    // Not there at all: said, and not made on the local disk in its place.
    QVERIFY(!backup.make(share, false, BackupSettings(), &result, &error));
    QVERIFY2(error.contains(QStringLiteral("nu exista")), qPrintable(error));
    QVERIFY(!QFileInfo::exists(share));

    // Gone while the copy is written.
    QVERIFY(QDir().mkpath(share));
    backup.setProgress([&](qint64, qint64) { QDir(share).removeRecursively(); });
    QVERIFY(!backup.make(share, false, BackupSettings(), &result, &error));
    QVERIFY2(error.contains(QStringLiteral("Copia nu a putut fi facuta")), qPrintable(error));
    QVERIFY(!QFileInfo::exists(share));
}

void TestBackup::postgresDump() {
    if (DbLab::pgConnectionString().isEmpty())
        QSKIP("LABROSA_TEST_PG names no PostgreSQL test database");
    if (QStandardPaths::findExecutable(QStringLiteral("pg_dump")).isEmpty())
        QSKIP("pg_dump is not on the PATH");
    DbLab db(DbLab::Backend::PostgreSQL);
    QVERIFY(db.createDemo(200));
    const qint64 count = db.scalar(QStringLiteral("SELECT COUNT(*) FROM RESULTS")).toLongLong();
    DatabaseBackup backup(db.connectionString(), QString());
    BackupResult result;
    QString error;
    QVERIFY2(backup.make(db.lab().filePath("backup"), true, BackupSettings(), &result, &error), qPrintable(error));
    BackupManifest manifest;
    QVERIFY2(DatabaseBackup::verify(result.folder, &manifest, &error), qPrintable(error));
    QCOMPARE(manifest.format, QStringLiteral("pg_dump"));
    QCOMPARE(manifest.resultSets, count);
    QCOMPARE(manifest.newestTransfer.left(10),
             db.scalar(QStringLiteral("SELECT MAX(TransDate) FROM RESULTS")).toDateTime().toString("yyyy-MM-dd"));
}

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
