#include "BrokenFiles.h"
#include "ExplorerLab.h"
#include "MdbFiles.h"
#include "ResultImporter.h"

#include <QProcess>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct ToolRun {
    int exitCode = -1; // -1: crashed or did not finish
    QString output;
};

// Damages a Jet 3 file's table catalogue so that it reads as holding no tables: every data
// page of the catalogue (the table defined on page 2) says it holds no rows.
bool emptyCatalogue(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    constexpr int kPage = 2048;
    int emptied = 0;
    for (qsizetype at = 0; at + kPage <= bytes.size(); at += kPage) {
        const auto* page = reinterpret_cast<const uchar*>(bytes.constData() + at);
        if (page[0] == 1 && qFromLittleEndian<quint32>(page + 4) == 2) {
            bytes[at + 8] = 0;
            bytes[at + 9] = 0;
            ++emptied;
        }
    }
    return emptied > 0 && file.seek(0) && file.write(bytes) == bytes.size();
}

} // namespace

// The whole import through labrosa-dbtool into a database made by the tool, on SQLite and
// on PostgreSQL when LABROSA_TEST_PG is set, then searched in the real explorer.
class TestImport : public QObject {
    Q_OBJECT

private:
    static bool writeFile(const QString& path, const QByteArray& text) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
    }

    static ToolRun runImport(ExplorerLab& x, const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(TestLab::dbTool(), QStringList(args) << x.lab.connectionString());
        ToolRun run;
        if (!p.waitForFinished(300000))
            return run;
        run.output = QString::fromUtf8(p.readAll());
        if (p.exitStatus() == QProcess::NormalExit)
            run.exitCode = p.exitCode();
        return run;
    }

    // The imported rows as text, dates compared as the program reads them back.
    static QStringList importedRows(ExplorerLab& x, const QString& ids) {
        return x.rowsAsText(QStringLiteral("SELECT ID, RequestID, PacientName, Age, SEX, VSH, comment FROM RESULTS "
                                           "WHERE ID IN (%1) ORDER BY ID")
                                .arg(ids));
    }

    // "TABLE rows" for each of the program's tables an import fills.
    static QStringList tableCounts(ExplorerLab& x) {
        QStringList counts;
        for (const QString& table : ResultImporter::targetTables())
            counts << QStringLiteral("%1 %2").arg(
                table, x.lab.scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)).toString());
        return counts;
    }

private slots:
    void initTestCase_data() { DbLab::addBackends(); }
    void initTestCase() {
        const QString missing = MdbFiles::missing();
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
    }

    void importThenSearch() {
        ExplorerLab x;
        QVERIFY(x.createEmpty());
        MdbFiles files;
        const QString mdb = files.copy("nwind.mdb");
        QVERIFY(!mdb.isEmpty());
        const QByteArray before = MdbFiles::checksum(mdb);
        QVERIFY(writeFile(files.path("orders.map"), kOrdersMapping));
        const ToolRun run = runImport(x, {"--import-mdb", mdb, "--map", files.path("orders.map")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        QVERIFY2(run.output.contains("RESULTS <- Orders: 830 randuri citite, 830 adaugate, 0 inlocuite; RESULTS are "
                                     "acum 830 randuri"),
                 qPrintable(run.output));
        // Nothing the file holds is dropped without a word.
        QVERIFY(run.output.contains("tabela Orders: coloanele CustomerID, RequiredDate, ShipVia, ShipCity, ShipRegion, "
                                    "ShipPostalCode, ShipCountry nu au loc in RESULTS"));
        QVERIFY(run.output.contains("tabela Products din fisier nu corespunde"));
        QCOMPARE(MdbFiles::checksum(mdb), before);
        QCOMPARE(importedRows(x, "10248, 10330, 11077"),
                 QStringList({"10248|10248|Vins et alcools Chevalier|5|F|32.3800|59 rue de l'Abbaye",
                              QString::fromUtf8("10330|10330|LILA-Supermercado|3|F|12.7500|Carrera 52 con Ave. "
                                                "Bolívar #65-98 Llano Largo"),
                              "11077|11077|Rattlesnake Canyon Grocery|1|F|8.5300|2817 Milton Dr."}));
        QCOMPARE(x.field(11077, "ProcDate"), QVariant());
        // A set added later without an identifier is numbered after the imported ones.
        QVERIFY(x.lab.exec("INSERT INTO RESULTS (RequestID, TransDate) VALUES ('nou', '2020-01-01 10:00:00')"));
        QCOMPARE(x.lab.scalar("SELECT ID FROM RESULTS WHERE RequestID = 'nou'").toLongLong(), 11078);

        QVERIFY(x.start());
        x.search("", "chevalier", QDate(1994, 8, 1), QDate(1994, 10, 31));
        QCOMPARE(x.listedIds(), QList<qint64>({10248, 10274, 10295}));
        x.search("10255", "", QDate(2020, 1, 1), QDate(2020, 1, 1));
        QCOMPARE(x.listedIds(), QList<qint64>({10255}));
        QCOMPARE(x.messages, QStringList());
    }

    // A newer copy brought in again with --replace updates the sets it knows and adds the new
    // ones; a set the file does not hold stays.
    void replaceBringsUpToDate() {
        ExplorerLab x;
        QVERIFY(x.createEmpty());
        MdbFiles files;
        const QString mdb = files.copy("nwind.mdb");
        QVERIFY(!mdb.isEmpty());
        QVERIFY(writeFile(files.path("orders.map"), kOrdersMapping));
        const QStringList args = {"--import-mdb", mdb, "--map", files.path("orders.map")};
        QCOMPARE(runImport(x, args).exitCode, 0);
        QVERIFY(x.lab.exec("DELETE FROM RESULTS WHERE ID IN (10248, 10249)"));
        QVERIFY(x.lab.exec("UPDATE RESULTS SET PacientName = 'corectat', VSH = NULL WHERE ID = 10250"));
        QVERIFY(x.addResult(7, "7", "Din alta parte", "2020-01-01 10:00:00"));

        const ToolRun again = runImport(x, QStringList(args) << "--replace");
        QVERIFY2(again.exitCode == 0, qPrintable(again.output));
        QVERIFY2(again.output.contains("830 randuri citite, 2 adaugate, 828 inlocuite; RESULTS are acum 831 randuri"),
                 qPrintable(again.output));
        QCOMPARE(importedRows(x, "7, 10248, 10250"),
                 QStringList({"7|7|Din alta parte|<NULL>|<NULL>|<NULL>|<NULL>",
                              "10248|10248|Vins et alcools Chevalier|5|F|32.3800|59 rue de l'Abbaye",
                              "10250|10250|Hanari Carnes|4|F|65.8300|Rua do Paço, 67"}));
    }

    // The same file imported again with --replace, and again, leaves every table as the first
    // import did: a set's values and a profile's intervals are replaced, not added once more,
    // also those the file no longer holds; a set the file does not hold keeps its values.
    void replaceTwiceAsOnce() {
        ExplorerLab x;
        QVERIFY(x.createEmpty());
        MdbFiles files;
        const QString mdb = files.copy("nwind.mdb");
        QVERIFY(!mdb.isEmpty());
        QVERIFY(writeFile(files.path("lab.map"), QByteArray(kOrdersMapping) + kLabTables));
        const QStringList args = {"--import-mdb", mdb, "--map", files.path("lab.map")};
        const ToolRun once = runImport(x, args);
        QVERIFY2(once.exitCode == 0, qPrintable(once.output));
        const QStringList counts = tableCounts(x);
        QCOMPARE(counts, QStringList({"VET_PROFILES 29", "ANALYSERS 3", "PARAMETERS 77", "RESULTS 830",
                                      "RESULT_VALUES 2155", "VET_PROFILE_NORMAL_VALUES 77"}));
        // What the bulletin of a request prints: one row per value, with its interval.
        const QString bulletinRows = QStringLiteral(
            "SELECT refcode, stringvalue, refName, minValue, maxValue FROM vResults2_vet WHERE results_id = 10248 "
            "ORDER BY refcode");
        const QStringList bulletin = x.rowsAsText(bulletinRows);
        QCOMPARE(bulletin.size(), 3);
        // Rows an earlier import of the same sets and profiles left, which the file now lacks,
        // and a set from elsewhere with a value.
        QVERIFY(x.lab.exec("INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES (10248, 1, "
                           "'99', 'vechi')"));
        QVERIFY(x.lab.exec("INSERT INTO VET_PROFILE_NORMAL_VALUES (profileID, refcode, minValue, maxValue) VALUES (20, "
                           "'1', '1', '2')"));
        QVERIFY(x.addResult(7, "7", "Din alta parte", "2020-01-01 10:00:00"));
        QVERIFY(x.lab.exec(
            "INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES (7, 1, '1', 'ramane')"));

        // The rows replaced: the second time only the file's own.
        for (const int extra : {1, 0}) {
            const ToolRun again = runImport(x, QStringList(args) << "--replace");
            QVERIFY2(again.exitCode == 0, qPrintable(again.output));
            QVERIFY2(again.output.contains(QStringLiteral("RESULT_VALUES <- Order Details: 2155 randuri citite, 0 "
                                                          "adaugate, 2155 inlocuite (in locul a %1 randuri vechi); "
                                                          "RESULT_VALUES are acum 2156 randuri")
                                               .arg(2155 + extra)),
                     qPrintable(again.output));
            QVERIFY2(again.output.contains(QStringLiteral("VET_PROFILE_NORMAL_VALUES <- Products: 77 randuri citite, "
                                                          "0 adaugate, 77 inlocuite (in locul a %1 randuri vechi)")
                                               .arg(77 + extra)),
                     qPrintable(again.output));
            QVERIFY2(again.output.contains("RESULTS <- Orders: 830 randuri citite, 0 adaugate, 830 inlocuite; RESULTS "
                                           "are acum 831 randuri"),
                     qPrintable(again.output));
            QCOMPARE(tableCounts(x), QStringList({"VET_PROFILES 29", "ANALYSERS 3", "PARAMETERS 77", "RESULTS 831",
                                                  "RESULT_VALUES 2156", "VET_PROFILE_NORMAL_VALUES 77"}));
            QCOMPARE(x.rowsAsText(bulletinRows), bulletin);
            QCOMPARE(x.rowsAsText("SELECT stringvalue FROM RESULT_VALUES WHERE resultID = 7"), QStringList("ramane"));
            QCOMPARE(x.lab.scalar("SELECT COUNT(*) FROM VET_PROFILE_NORMAL_VALUES WHERE profileID = 20").toInt(), 0);
        }
    }

    // Each failure leaves the target as it was and says what failed.
    void failures_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QByteArray>("mapping");
        QTest::addColumn<QString>("expected");
        const QByteArray orders(kOrdersMapping);
        QTest::newRow("not a Jet file") << "text" << orders << "nu este o baza de date Access";
        QTest::newRow("cut inside a page") << "cut 1000000" << orders << "incomplet (trunchiat)";
        QTest::newRow("cut at a page boundary") << "cut 1024000" << orders << "deteriorat";
        // A catalogue that reads as empty is a damaged file, not a mapping that names a missing table.
        QTest::newRow("catalogue damaged") << "catalogue" << orders
                                           << "nu a putut fi citit ca baza de date Access: lista tabelelor lui nu "
                                              "contine nicio tabela (fisierul este deteriorat sau nu este un .mdb)";
        QTest::newRow("open in Access") << "ldb" << orders << "pare deschis in Access";
        QTest::newRow("locked by another program") << "lock" << orders << "blocat de alt program";
        QTest::newRow("mapping line without an arrow")
            << "" << QByteArray("table RESULTS <- Orders\nRequestID = OrderID\n") << "maparea, randul 2: lipseste <-";
        QTest::newRow("mapping names a missing table")
            << "" << QByteArray("table RESULTS <- Comenzi\n") << "fisierul nu are tabela Comenzi";
        QTest::newRow("mapping names a missing column")
            << "" << QByteArray(orders).replace("comment <- ShipAddress", "comment <- Observatii")
            << "nu are coloana Observatii";
        QTest::newRow("mapping names no table of the program")
            << "" << QByteArray("table REZULTATE <- Orders\n") << "REZULTATE nu este o tabela a programului";
        QTest::newRow("required column without a source")
            << "" << QByteArray("table RESULTS <- Orders\nRequestID <- OrderID\n") << "RESULTS.TransDate trebuie";
        QTest::newRow("target database damaged") << "target page" << orders << "este deteriorata";
        QTest::newRow("record already there")
            << "duplicate" << orders << "ID 10300 exista deja in RESULTS; folositi --replace";
        QTest::newRow("text too long for its column")
            << "" << QByteArray(orders).replace("SEX <- 'F'", "SEX <- ShipName")
            << "randul 1, coloana ShipName (pentru RESULTS.SEX): textul \"LILA-Supermercado\" are 17 caractere";
        QTest::newRow("text where a date belongs")
            << "" << QByteArray(orders).replace("ProcDate <- ShippedDate", "ProcDate <- ShipCity")
            << "\"Barquisimeto\" nu este o data";
        // All 830 sets (numbered by the database) are written before their values fail.
        QTest::newRow("second table fails")
            << ""
            << QByteArray(orders).replace("ID <- OrderID          # the record identifier\n", "") +
                   "table RESULT_VALUES <- [Order Details]\nresultID <- OrderID\nMachineID <- UnitPrice\n"
                   "refcode <- ProductID\nstringvalue <- Quantity\n"
            << "tabela Order Details din fisier, randul 1, coloana UnitPrice (pentru RESULT_VALUES.MachineID): "
               "\"14.0000\" nu este un numar intreg; nu s-a scris nimic in baza de date";
    }
    void failures() {
        QFETCH(QString, damage);
        QFETCH(QByteArray, mapping);
        QFETCH(QString, expected);
        ExplorerLab x;
        QVERIFY(x.createEmpty());
        QVERIFY(x.addResult(10300, "10300", "Deja aici", "2020-01-01 10:00:00"));
        MdbFiles files;
        const QString mdb = files.copy("nwind.mdb");
        QVERIFY(!mdb.isEmpty());
        int lock = -1;
        if (damage == "text") {
            QVERIFY(writeFile(mdb, "Nume;Data\nIon;2020-01-01\n"));
        } else if (damage.startsWith("cut ")) {
            QVERIFY(QFile::resize(mdb, damage.mid(4).toLongLong()));
        } else if (damage == "catalogue") {
            QVERIFY(emptyCatalogue(mdb));
        } else if (damage == "ldb") {
            QVERIFY(writeFile(files.path("nwind.ldb"), "PC-RECEPTIE"));
        } else if (damage == "target page") {
            if (x.lab.isPg())
                QSKIP("A PostgreSQL server checks its own files");
            // Closed first, so that the file holds every page.
            x.lab.admin().close();
            QVERIFY(BrokenFiles::overwriteIndexPage(x.lab.lab().dbPath(), "IX_RESULT_VALUES_resultID"));
        }
        QVERIFY(writeFile(files.path("lab.map"), mapping));
        const QByteArray sourceBefore = MdbFiles::checksum(mdb);
        // A range lock as Access takes one on a file it has open (taken last: closing any
        // descriptor of the file in this process would let it go).
        if (damage == "lock") {
            lock = ::open(QFile::encodeName(mdb).constData(), O_RDWR);
            struct flock range {};
            range.l_type = F_WRLCK;
            range.l_whence = SEEK_SET;
            range.l_start = 0x10000000;
            range.l_len = 1;
            QVERIFY(lock >= 0 && fcntl(lock, F_SETLK, &range) == 0);
        }
        const QStringList before = x.dumpResults();
        const QStringList counts = tableCounts(x);

        const ToolRun run = runImport(x, {"--import-mdb", mdb, "--map", files.path("lab.map")});
        if (lock >= 0)
            ::close(lock);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.output.contains(expected), qPrintable(run.output));
        QCOMPARE(x.dumpResults(), before);
        QCOMPARE(tableCounts(x), counts);
        QCOMPARE(MdbFiles::checksum(mdb), sourceBefore);
    }
};

QTEST_MAIN(TestImport)
#include "tst_import.moc"
