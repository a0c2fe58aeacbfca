#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <QSqlQuery>

#include <csignal>
#include <ctime>
#include <memory>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BulletinArchive.h"
#include "BulletinBuilder.h"
#include "BulletinData.h"
#include "BulletinReader.h"
#include "BulletinValidation.h"
#include "BulletinWriter.h"
#include "CorrectionJournal.h"
#include "CriticalNotifications.h"
#include "DatabaseConnection.h"
#include "DbLab.h"
#include "DocumentTemplate.h"
#include "MainWindow.h"
#include "Recordset.h"
#include "SharedState.h"
#include "SignatoryList.h"
#include "SigningPasswords.h"
#include "SmallDisk.h"
#include "SqliteStatement.h"
#include "ValidatedBulletins.h"

namespace {

const QString kDay = QStringLiteral("2026/3/6");

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// The page against a reference file of this folder; a differing page is kept for a look.
void compareWithReference(const QByteArray& actual, const char* reference) {
    const QByteArray expected = readFile(QStringLiteral(LABROSA_SOURCE_DIR "/tests/report/") + reference);
    if (actual != expected) {
        const QString kept = QStringLiteral(LABROSA_BINARY_DIR "/actual_") + reference;
        writeFile(kept, actual);
        QFAIL(qPrintable(QStringLiteral("the bulletin differs from %1; written to %2").arg(reference, kept)));
    }
}

// The journal's and the archive's clock (UTC), moved on by the tests.
QDateTime g_journalNow;

} // namespace

// Builds bulletins from rows arranged in a fresh laboratory database and compares the file,
// once on each backend on offer.
class TestBulletinBuilder : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { DbLab::addBackends(); }
    void initTestCase();
    void init();
    void cleanup();
    void twoAnalysersMatchReferenceFile_data();
    void twoAnalysersMatchReferenceFile();
    void correctionsSinceLastBulletinAreListed();
    void criticalValueHasItsOwnMarker();
    void validationMakesTheBulletinFinal();
    void validationIsKeptOnlyWithItsBulletin();
    void whatUndoesAValidation_data();
    void whatUndoesAValidation();
    void journalWithoutReasonsStillCorrects();
    void emptyResultStillWritesWholePage();
    void nullHeadValuesAreEmpty();
    void databaseTextsAreEscaped();
    void previousValuesAndDeltaMarks();
    void overLongTextsAreCut();
    void datesInEveryStoredShape_data();
    void datesInEveryStoredShape();
    void analysisNamesIgnoreLetterCase();
    void failedQueryGivesTwoMessagesAndNoFile();
    void uncreatableFileGivesMessageAndNoWindow();
    void fullDiskGivesMessageAndNoWindow();
    void archiveOrJournalFailureGivesMessageAndNoWindow_data();
    void archiveOrJournalFailureGivesMessageAndNoWindow();

private:
    BulletinBuildResult build(int recordId, const QString& requestId, const QString& day = kDay) {
        return buildBulletin(m_recordset, m_sharedState, recordId, requestId, day);
    }
    // One result set with its measured values: {MachineID, refcode, stringvalue}.
    int addResult(const QVariantList& columns, const QList<QVariantList>& values) {
        if (!m_lab->exec(QStringLiteral("insert into RESULTS (RequestID, PacientName, TransDate, ProcDate, Age, SEX, "
                                        "comment, profileID, VSH) values (?, ?, %1, %1, ?, ?, ?, ?, ?)")
                             .arg(m_lab->dateParameter()),
                         columns))
            return -1;
        const int id = m_lab->scalar("select max(ID) from RESULTS").toInt();
        for (const QVariantList& v : values) {
            if (!m_lab->exec(
                    "insert into RESULT_VALUES (resultID, MachineID, refcode, stringvalue) values (?, ?, ?, ?)",
                    QVariantList{id} + v))
                return -1;
        }
        return id;
    }
    void arrangeLaboratory();
    // A correction as the result list makes it (of all request 1201, or of one set), at the
    // given UTC time.
    void correct(const QDateTime& at, const char* field, const QVariant& value,
                 const QString& scope = QStringLiteral("RequestID = ?"), const QVariant& scopeValue = "1201") {
        g_journalNow = at;
        CorrectionJournal journal(m_database.get());
        QVERIFY2(journal.available(), "the test database has no journal");
        int changed = 0;
        QVERIFY2(journal.apply(QString::fromLatin1(field), value, scope, {scopeValue}, &changed),
                 qPrintable(journal.errorText()));
        QVERIFY(changed > 0);
    }

    std::unique_ptr<DbLab> m_lab;
    std::unique_ptr<DatabaseConnection> m_database;
    Recordset m_recordset;
    SharedState m_sharedState;
    std::unique_ptr<MainWindow> m_frame;
    std::unique_ptr<DocumentTemplate> m_template;
    int m_viewsMade = 0;
};

void TestBulletinBuilder::initTestCase() {
    QVERIFY2(!TestLab::dbTool().isEmpty(), "LABROSA_DBTOOL is not set");
    setBulletinClock([] { return QDateTime(QDate(2026, 3, 7), QTime(8, 4)); });
    CorrectionJournal::setClock([] { return g_journalNow; });
    // Romanian local time, with its daylight-saving gap.
    qputenv("TZ", "EET-2EEST,M3.5.0/3,M10.5.0/4");
    tzset();
}

void TestBulletinBuilder::init() {
    g_journalNow = QDateTime(QDate(2026, 3, 6), QTime(8, 5), Qt::UTC);
    m_lab = std::make_unique<DbLab>(DbLab::current());
    QVERIFY(m_lab->createEmpty());
    m_database = std::make_unique<DatabaseConnection>();
    QVERIFY2(m_database->open(m_lab->connectionString()), qPrintable(m_database->m_comError));
    m_frame = std::make_unique<MainWindow>(nullptr);
    m_viewsMade = 0;
    m_template = std::make_unique<DocumentTemplate>(129, "\nTervan\nTervan\n\n\n\n", [this](BulletinDocument*) {
        ++m_viewsMade;
        return new QWidget;
    });
    m_template->setMainFrame(m_frame.get());
    m_sharedState.m_database = m_database.get();
    m_sharedState.m_bulletinTemplate = m_template.get();
}

void TestBulletinBuilder::cleanup() {
    m_recordset.close();
    m_sharedState.m_database = nullptr;
    m_sharedState.m_bulletinTemplate = nullptr;
    m_template.reset();
    m_frame.reset();
    m_database.reset();
    m_lab.reset();
}

void TestBulletinBuilder::arrangeLaboratory() {
    QVERIFY(m_lab->exec("insert into VET_PROFILES (id, profileName) values (1, 'Caine adult'), (2, 'Pisica')"));
    QVERIFY(m_lab->exec("insert into ANALYSERS (MachineID, AnalyseName) values (3, 'Hematologie'), "
                        "(7, 'Biochimie')"));
    QVERIFY(m_lab->exec("insert into PARAMETERS (MachineID, refcode, refName, um, \"order\") values "
                        "(3, 'WBC', 'Leucocite', '10^3/uL', 1), (3, 'HGB', 'Hemoglobina', 'g/dL', 2), "
                        "(3, 'PLT', NULL, '10^3/uL', 3), (7, 'GLU', 'Glucoza', 'mg/dL', 2), "
                        "(7, 'ALT', 'ALT (TGP)', 'U/L', 1), (7, 'UREE', 'Uree', NULL, 3)"));
    QVERIFY(m_lab->exec("insert into VET_PROFILE_NORMAL_VALUES (profileID, refcode, sex, minValue, maxValue) values "
                        "(1, 'WBC', NULL, '6', '17'), (1, 'HGB', 'M', '12', '18'), (1, 'HGB', NULL, '1', '2'), "
                        "(1, 'GLU', NULL, '70', '120'), (1, 'ALT', NULL, NULL, '60'), (2, 'UREE', NULL, '1', '9')"));
    // The clicked set, a second set of the same request that day, and two that stay out.
    const int clicked =
        addResult({"1201", "Rex Popescu", "2026-03-06 09:00:00", "2026-03-06 10:05:00", 7, "M", "urgent", 1, "12"},
                  {{7, "GLU", "135"},
                   {7, "ALT",
                    QString("\x1e\x1e 42\x1e"
                            "5")},
                   {7, "UREE", "negativ"}});
    QCOMPARE(clicked, 1);
    QVERIFY(addResult({"1201", "Rex Popescu", "2026-03-06 23:59:00", "2026-03-06 11:00:00", 7, "M", "", 1, ""},
                      {{3, "WBC", "4.5"}, {3, "HGB", "15"}, {3, "PLT", "250"}}) > 0);
    QVERIFY(addResult({"1201", "Rex Popescu", "2026-03-07 00:00:00", "2026-03-07 08:00:00", 7, "M", "", 1, ""},
                      {{3, "WBC", "99"}}) > 0);
    QVERIFY(addResult({"1202", "Tom", "2026-03-06 09:30:00", "2026-03-06 10:00:00", 2, "F", "", 2, ""},
                      {{7, "UREE", "5"}}) > 0);
    writeFile("Labrosa.ini", "NumeLaborator=Laborator Veterinar <i>Labrosa</i>\r\nAdresa=Str. Florilor 12\r\n"
                             "Telefon=0264 000 111\r\nAltele=Luni - Vineri 8-18\r\n");
}

// The plain bulletin is the same with or without the journal, the archive and the tables of
// validation, as long as the laboratory has named no signatory.
void TestBulletinBuilder::twoAnalysersMatchReferenceFile_data() {
    QTest::addColumn<QStringList>("dropped");        // tables, or "alter table ..." statements
    QTest::addColumn<QStringList>("criticalLimits"); // rows of CRITICAL_VALUES that must not apply
    QTest::newRow("with journal, archive and no signatory") << QStringList() << QStringList();
    QTest::newRow("without signatories and validations")
        << QStringList{"SIGNATORIES", "BULLETIN_VALIDATION"} << QStringList();
    QTest::newRow("without journal and archive")
        << QStringList{"CORRECTION_JOURNAL", "BULLETIN_ARCHIVE",       "SIGNATORIES",           "BULLETIN_VALIDATION",
                       "CRITICAL_VALUES",    "CRITICAL_NOTIFICATIONS", "PARAMETER_DELTA_LIMITS"}
        << QStringList();
    // Tables made by an older version, before --upgrade added the columns of days, purposes,
    // fingerprints and the values told.
    QTest::newRow("journal tables of an older version")
        << QStringList{"alter table BULLETIN_ARCHIVE drop column TransDay",
                       "alter table BULLETIN_ARCHIVE drop column purpose",
                       "alter table BULLETIN_VALIDATION drop column fingerprint",
                       "alter table CRITICAL_NOTIFICATIONS drop column toldValues"}
        << QStringList();
    // Limits of another profile, of the other sex, or under the set's own sex-specific row.
    QTest::newRow("critical limits of a namesake or the other sex")
        << QStringList()
        << QStringList{"(2, 'GLU', NULL, '50', '130')", "(1, 'HGB', 'F', NULL, '14')", "(1, 'HGB', 'M', NULL, '20')",
                       "(1, 'HGB', NULL, NULL, '14')", "(1, 'WBC', NULL, '2', '90')"};
}

void TestBulletinBuilder::twoAnalysersMatchReferenceFile() {
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, criticalLimits);
    for (const QString& table : dropped)
        QVERIFY(m_lab->exec(table.startsWith("alter ") ? table : "drop table " + table));
    for (const QString& limit : criticalLimits)
        QVERIFY(m_lab->exec("insert into CRITICAL_VALUES (profileID, refcode, sex, criticalLow, criticalHigh) values " +
                            limit));
    arrangeLaboratory();
    const BulletinBuildResult result = build(1, "1201");
    QCOMPARE(result.messages, QStringList());
    QVERIFY(result.opened);
    QCOMPARE(m_viewsMade, 1);
    compareWithReference(readFile(kBulletinFileName), "expected_bulletin.html");

    // Each build writes the file anew and opens one more window; with nothing corrected
    // since the archived one, the reprint is the same page.
    g_journalNow = g_journalNow.addSecs(3600);
    QVERIFY(build(1, "1201").messages.isEmpty());
    compareWithReference(readFile(kBulletinFileName), "expected_bulletin.html");
    QCOMPARE(m_viewsMade, 2);
}

// A critical value gets its own marker with a text that survives printing; who was told is
// recorded once, naming the values told, stated on the bulletin, and kept as written. A value is
// checked as it is printed: ALT is stored behind record separators and printed "42 5".
void TestBulletinBuilder::criticalValueHasItsOwnMarker() {
    arrangeLaboratory();
    QVERIFY(m_lab->exec("insert into CRITICAL_VALUES (profileID, refcode, sex, criticalLow, criticalHigh) values "
                        "(1, 'GLU', NULL, '40', '130'), (1, 'WBC', 'M', '5', NULL), (1, 'WBC', NULL, '1', NULL), "
                        "(1, 'ALT', NULL, NULL, '40')"));
    QTemporaryDir folder;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    struct Back {
        QString path;
        ~Back() { QDir::setCurrent(path); }
    } back{before};
    writeFile("Labrosa.ini", "NumeLaborator=Laborator\r\n");

    BulletinBuildResult result = build(1, "1201");
    QCOMPARE(result.messages, QStringList());
    QByteArray page = readFile(kBulletinFileName);
    QVERIFY2(page.contains("<B>135</B><IMG height=10 src=\"buletin_files/critic.gif\" width=10 border=0 "
                           "alt=\"!!\"><B>!!</B>"),
             page.constData());
    QVERIFY(page.contains("<B>4.5</B><IMG height=10 src=\"buletin_files/critic.gif\""));
    QVERIFY(page.contains("<B>42 5</B><IMG height=10 src=\"buletin_files/critic.gif\""));
    QVERIFY(!page.contains("ub.gif") && !page.contains("dr.gif"));
    // A laboratory folder made before the image gets it with the first such bulletin.
    QVERIFY(QFileInfo(QStringLiteral("buletin_files/critic.gif")).size() > 0);
    QCOMPARE(result.unannounced.size(), std::size_t(3));
    QCOMPARE(result.unannounced.at(1).value, QString("42 5"));
    QCOMPARE(result.resultIds, (QList<qint64>{1, 2}));

    // A record made before values were named names none: its values are asked about again.
    QVERIFY(m_lab->exec(QStringLiteral("insert into CRITICAL_NOTIFICATIONS (RequestID, resultIDs, toldName, "
                                       "toldContact, toldAt, recordedAt, userName, workstation) values ('1201', '1,2', "
                                       "'Dr. Vechi', '0700', %1, %1, 'ana', 'lab1')")
                            .arg(m_lab->dateParameter()),
                        {"2026-03-06 08:10:00", "2026-03-06 08:10:00"}));
    QCOMPARE(build(1, "1201").unannounced.size(), std::size_t(3));
    CriticalNotifications notifications(m_database.get());
    CriticalNotification told;
    told.requestId = "1201";
    told.resultIds = result.resultIds;
    told.values = result.unannounced;
    told.name = "Dr. Ionescu";
    told.contact = "0722 000 111";
    told.toldAt = QDateTime(QDate(2026, 3, 6), QTime(8, 30), Qt::UTC);
    QVERIFY2(notifications.record(told), qPrintable(notifications.errorText()));
    result = build(1, "1201");
    QCOMPARE(result.messages, QStringList());
    QVERIFY(result.unannounced.empty());
    page = readFile(kBulletinFileName);
    QVERIFY(page.contains("Valori critice (!!) anuntate: Dr. Ionescu (0722 000 111) la 6/3/2026 10:30; Dr. Vechi "
                          "(0700) la 6/3/2026 10:10"));
    if (!m_lab->isPg()) {
        // The program's PostgreSQL role is refused by its rights (see the database tool's test).
        QVERIFY(!m_lab->exec("update CRITICAL_NOTIFICATIONS set toldName = 'altcineva'"));
        QVERIFY(!m_lab->exec("delete from CRITICAL_NOTIFICATIONS"));
    }
    QCOMPARE(m_lab->scalar("select toldName from CRITICAL_NOTIFICATIONS order by id desc").toString(),
             QStringLiteral("Dr. Ionescu"));

    // Where the image cannot be put, the text alone still marks the value.
    QVERIFY(QDir(QStringLiteral("buletin_files")).removeRecursively());
    writeFile("buletin_files", "not a folder");
    QVERIFY(build(1, "1201").messages.isEmpty());
    page = readFile(kBulletinFileName);
    QVERIFY(page.contains("<B>135</B><B>!!</B>") && !page.contains("critic.gif"));

    // A value made critical after the record (here by a limit of the set's own sex) or changed
    // since was never told.
    QVERIFY(m_lab->exec("insert into CRITICAL_VALUES (profileID, refcode, sex, criticalLow, criticalHigh) values "
                        "(1, 'HGB', 'M', NULL, '14')"));
    QVERIFY(m_lab->exec("update RESULT_VALUES set stringvalue = '140' where refcode = 'GLU'"));
    result = build(1, "1201");
    QCOMPARE(result.unannounced.size(), std::size_t(2));
    QCOMPARE(result.unannounced.at(0).value + " " + result.unannounced.at(1).value, QString("140 15"));

    // A failed question is never taken for "no critical value".
    QVERIFY(m_lab->exec("drop table CRITICAL_VALUES"));
    QVERIFY(m_lab->exec("create table CRITICAL_VALUES (x integer)"));
    QVERIFY(m_lab->exec("insert into CRITICAL_VALUES (x) values (1)"));
    result = build(1, "1201");
    QCOMPARE(result.messages.size(), 1);
    QVERIFY(result.messages.at(0).startsWith("Valorile critice ale cererii nu au putut fi citite"));
    QVERIFY(!result.opened);
}

// Corrections through the journal after the last copy of the bulletin that left the program
// are listed on the next one, database texts escaped, however often it was only looked at
// since; every bulletin made is archived as written, with what became of it.
void TestBulletinBuilder::correctionsSinceLastBulletinAreListed() {
    arrangeLaboratory();
    const BulletinKey key{"1201", "2026-03-06"};
    // The comment is not printed, so the first page is the reference page. This correction
    // comes before the first bulletin and is not listed.
    correct(QDateTime(QDate(2026, 3, 6), QTime(8, 0), Qt::UTC), "comment", "<script>alert('x')</script> & \"a\"");
    g_journalNow = QDateTime(QDate(2026, 3, 6), QTime(8, 5), Qt::UTC);
    QVERIFY(build(1, "1201").messages.isEmpty());
    const QByteArray first = readFile(kBulletinFileName);
    compareWithReference(first, "expected_bulletin.html");
    BulletinArchive archive(m_database.get());
    QVERIFY(archive.store(1, key, first, ArchivePurpose::Printed, nullptr, g_journalNow));

    correct(QDateTime(QDate(2026, 3, 7), QTime(7, 10), Qt::UTC), "PacientName", "Rex <Pop> & \"Co\"");
    // The bulletin's second set alone: its corrections count as well.
    correct(QDateTime(QDate(2026, 3, 7), QTime(7, 12), Qt::UTC), "comment", "<i>b</i> & 'c'", "ID = ?", 2);
    correct(QDateTime(QDate(2026, 3, 7), QTime(7, 15), Qt::UTC), "profileID", 2);
    // Another request's corrections stay off this bulletin.
    {
        CorrectionJournal journal(m_database.get());
        QVERIFY(journal.apply("Age", 3, "RequestID = ?", {"1202"}));
    }
    g_journalNow = QDateTime(QDate(2026, 3, 7), QTime(7, 30), Qt::UTC);
    const BulletinBuildResult amended = build(1, "1201");
    QCOMPARE(amended.messages, QStringList());
    QVERIFY(amended.opened);
    const QByteArray second = readFile(kBulletinFileName);
    QVERIFY(second.contains("Buletin corectat"));
    // What the page says of them is read from the journal; the page composed of it is the
    // reference page of the bulletin's own tests.
    BulletinData data;
    BulletinReader reader(m_recordset, m_database.get());
    QVERIFY(reader.readContent(1, key, &data));
    QCOMPARE(data.content.patientName, std::string("Rex <Pop> & \"Co\""));
    QCOMPARE(data.content.profile, std::string("Pisica"));
    QCOMPARE(data.last.madeAt, QDateTime(QDate(2026, 3, 6), QTime(8, 5), Qt::UTC));
    QCOMPARE(data.correctedAt, QDateTime(QDate(2026, 3, 7), QTime(7, 15), Qt::UTC));
    QCOMPARE(data.reasons, std::string());
    QStringList changes;
    for (const BulletinChange& change : data.changes)
        changes << QString::fromStdString(change.label + ": " + change.oldValue + " -> " + change.newValue);
    QCOMPARE(changes, QStringList({"Nume: Rex Popescu -> Rex <Pop> & \"Co\"", "Profil: Caine adult -> Pisica",
                                   "Comentariu: <script>alert('x')</script> & \"a\" -> <i>b</i> & 'c'"}));
    // Looked at again on screen: still the page that says what changed since the printed one.
    g_journalNow = QDateTime(QDate(2026, 3, 7), QTime(7, 35), Qt::UTC);
    QVERIFY(build(1, "1201").messages.isEmpty());
    QCOMPARE(readFile(kBulletinFileName), second);
    QVERIFY(archive.store(1, key, second, ArchivePurpose::Printed, nullptr, g_journalNow));

    // A reprint with nothing corrected since is the plain page of the corrected data: the
    // amended one without its correction line.
    g_journalNow = QDateTime(QDate(2026, 3, 7), QTime(7, 40), Qt::UTC);
    QVERIFY(build(1, "1201").messages.isEmpty());
    const QByteArray third = readFile(kBulletinFileName);
    const qsizetype headEnd = third.indexOf("</THEAD> \n\t") + 11;
    QVERIFY(headEnd > 11);
    QVERIFY(second.size() > third.size());
    QVERIFY(!third.contains("Buletin corectat"));
    QCOMPARE(second.left(headEnd), third.left(headEnd));
    QCOMPARE(second.right(third.size() - headEnd), third.mid(headEnd));
    QCOMPARE(m_viewsMade, 4);

    // One archive row per bulletin made or sent out, newest first, holding the bytes of the file.
    const std::vector<ArchivedBulletin> rows = archive.listForRequest("1201");
    QCOMPARE(int(rows.size()), 6);
    const QByteArray pages[] = {third, second, second, second, first, first};
    const QTime madeAt[] = {QTime(7, 40), QTime(7, 35), QTime(7, 35), QTime(7, 30), QTime(8, 5), QTime(8, 5)};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(rows[i].resultId, 1);
        QCOMPARE(rows[i].requestId, QStringLiteral("1201"));
        QCOMPARE(rows[i].day, QStringLiteral("2026-03-06"));
        QCOMPARE(rows[i].madeAt.time(), madeAt[i]);
        QCOMPARE(rows[i].contentHash,
                 QString::fromLatin1(QCryptographicHash::hash(pages[i], QCryptographicHash::Sha256).toHex()));
        QByteArray stored;
        QVERIFY(archive.load(rows[i].id, &stored));
        QCOMPARE(stored, pages[i]);
    }
}

namespace {

// The reference page with a piece put in before the first occurrence of a mark (after it with
// after set).
QByteArray inserted(QByteArray page, const QByteArray& mark, const QByteArray& piece, bool after = false) {
    const qsizetype at = page.indexOf(mark);
    if (at < 0)
        return "<no " + mark + ">";
    return page.insert(at + (after ? mark.size() : 0), piece);
}

const QByteArray kHeadEnd = "</THEAD> \n\t";
const QByteArray kFooterStart = " <TFOOT";
const QByteArray kPreliminaryRow = "\n\t\t<TR>\n          <TD style=\"FONT-SIZE: 12pt; PADDING-LEFT: 5.4pt\" "
                                   "colSpan=3><B>BULETIN PRELIMINAR - nevalidat</B></TD></TR>";

QByteArray validatedRow(const char* when) {
    return QByteArray("\n\t<tr><td style=\"FONT-SIZE: 8pt; COLOR: black; \" colSpan=3>Validat de: Dr. med. vet. "
                      "Ana Pop, ") +
           when + "</td></tr>";
}

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

// Once the laboratory has a signatory every bulletin is preliminary until validated; the
// validated page carries who and when, a correction makes it preliminary again, naming the
// validated bulletin it replaces and the reason of the correction.
void TestBulletinBuilder::validationMakesTheBulletinFinal() {
    arrangeLaboratory();
    QVERIFY(m_lab->exec("insert into SIGNATORIES (userName, fullName, title, active) values (?, 'Ana Pop', "
                        "'Dr. med. vet.', 1), ('ion', 'Ion Ionescu', 'Dr.', 0)",
                        {CorrectionJournal::currentUser()}));
    SignatoryList signatories(m_database.get());
    QVERIFY(signatories.load());
    QVERIFY(!signatories.activeByLogin("ion"));
    const Signatory* ana = signatories.activeByLogin(CorrectionJournal::currentUser());
    QVERIFY(ana);
    SigningPasswords passwords(m_database.get());
    QCOMPARE(passwords.reset(ana->login, "parola-anei"), SigningPasswords::Outcome::accepted);
    const QByteArray reference = readFile(QStringLiteral(LABROSA_SOURCE_DIR "/tests/report/expected_bulletin.html"));

    QVERIFY(build(1, "1201").messages.isEmpty());
    QCOMPARE(readFile(kBulletinFileName), inserted(reference, kHeadEnd, kPreliminaryRow, true));

    // Not confirmed: nothing is written, the preliminary file stays.
    QByteArray shown;
    QString summary;
    bool answer = false;
    QString typed = "parola-anei";
    BulletinRelease release;
    release.signatory = ana;
    release.confirm = [&](const QByteArray& bulletin, const QString& what, QString* password) {
        shown = bulletin;
        summary = what;
        *password = typed;
        return answer;
    };
    BulletinBuildResult result = buildBulletin(m_recordset, m_sharedState, 1, "1201", kDay, &release);
    QVERIFY(result.cancelled && !result.opened && result.messages.isEmpty());
    QCOMPARE(summary, QStringLiteral("Cererea 1201 din 6/3/2026, pacientul Rex Popescu, seturile de rezultate 1,2"));
    QCOMPARE(m_lab->scalar("select count(*) from BULLETIN_VALIDATION").toInt(), 0);
    QCOMPARE(readFile(kBulletinFileName), inserted(reference, kHeadEnd, kPreliminaryRow, true));

    // A wrong signing password stores nothing; the attempt is recorded all the same.
    answer = true;
    typed = "parola-gresita";
    result = buildBulletin(m_recordset, m_sharedState, 1, "1201", kDay, &release);
    QVERIFY(!result.opened);
    QVERIFY2(result.messages.size() == 1 && result.messages.at(0).contains("este gresita"),
             qPrintable(result.messages.join('\n')));
    QCOMPARE(m_lab->scalar("select count(*) from BULLETIN_VALIDATION").toInt(), 0);
    QCOMPARE(m_lab->scalar("select count(*) from BULLETIN_ARCHIVE").toInt(), 1);
    QCOMPARE(m_lab->scalar("select count(*) from SIGNING_ATTEMPTS where accepted = 0").toInt(), 1);

    typed = "parola-anei";
    g_journalNow = QDateTime(QDate(2026, 3, 6), QTime(9, 0), Qt::UTC);
    result = buildBulletin(m_recordset, m_sharedState, 1, "1201", kDay, &release);
    QCOMPARE(result.messages, QStringList());
    QVERIFY(result.opened);
    const QByteArray validated = inserted(reference, kFooterStart, validatedRow("6/3/2026 11:00"));
    QCOMPARE(readFile(kBulletinFileName), validated);
    // The page confirmed is the one released but for the line of who validated and when.
    QCOMPARE(shown, reference);
    QCOMPARE(m_lab->scalar("select contentHash from BULLETIN_VALIDATION").toString().trimmed().toLatin1(),
             sha256(validated));
    QCOMPARE(m_lab->scalar("select resultIDs from BULLETIN_VALIDATION").toString(), QStringLiteral("1,2"));
    BulletinArchive archive(m_database.get());
    ArchivedBulletin last;
    QVERIFY(archive.lastSentOut({"1201", "2026-03-06"}, &last));
    QCOMPARE(last.contentHash.toLatin1(), sha256(validated));
    QCOMPARE(last.purpose, ArchivePurpose::Validated);

    // A reprint keeps the validation; validating it again is refused.
    g_journalNow = QDateTime(QDate(2026, 3, 6), QTime(9, 30), Qt::UTC);
    QVERIFY(build(1, "1201").messages.isEmpty());
    QCOMPARE(readFile(kBulletinFileName), validated);
    result = buildBulletin(m_recordset, m_sharedState, 1, "1201", kDay, &release);
    QCOMPARE(result.messages.size(), 1);
    QVERIFY2(result.messages.at(0).contains("este deja validat de Dr. med. vet. Ana Pop la 6/3/2026 11:00"),
             qPrintable(result.messages.at(0)));

    // A correction of one set, with its reason: preliminary again, naming what it replaces.
    g_journalNow = QDateTime(QDate(2026, 3, 6), QTime(10, 0), Qt::UTC);
    {
        CorrectionJournal journal(m_database.get());
        QVERIFY(journal.apply("Age", 8, "ID = ?", {2}, nullptr, "Varsta gresita la inregistrare"));
    }
    g_journalNow = QDateTime(QDate(2026, 3, 6), QTime(10, 30), Qt::UTC);
    QVERIFY(build(1, "1201").messages.isEmpty());
    const QByteArray amended = readFile(kBulletinFileName);
    const QByteArray replacedRow = "\n\t\t<TR>\n          <TD style=\"FONT-SIZE: 9pt; PADDING-LEFT: 5.4pt\" "
                                   "colSpan=3>Inlocuieste buletinul validat de Dr. med. vet. Ana Pop, 6/3/2026 "
                                   "11:00. Schimbari de atunci: Varsta (setul 2): 7 -&gt; 8.</TD></TR>";
    QVERIFY2(amended.contains(kHeadEnd + kPreliminaryRow + replacedRow + "\n\t\t<TR>"), amended.constData());
    // The copy it replaces is the validated one: the reprint after it was only looked at.
    QVERIFY(amended.contains("<B>Buletin corectat la 6/3/2026 12:00; inlocuieste buletinul din 6/3/2026 11:00.</B> "
                             "Modificari: Varsta: 7 -&gt; 8. Motiv: Varsta gresita la inregistrare</TD>"));
    QVERIFY(!amended.contains("Validat de"));

    g_journalNow = QDateTime(QDate(2026, 3, 6), QTime(11, 0), Qt::UTC);
    QVERIFY(buildBulletin(m_recordset, m_sharedState, 1, "1201", kDay, &release).messages.isEmpty());
    const QByteArray revalidated = readFile(kBulletinFileName);
    QVERIFY(!revalidated.contains("BULETIN PRELIMINAR"));
    QVERIFY(revalidated.contains(kHeadEnd + replacedRow));
    // The page released holds the correction looked at before, with its reason.
    QVERIFY(revalidated.contains("Modificari: Varsta: 7 -&gt; 8. Motiv: Varsta gresita la inregistrare</TD>"));
    QVERIFY(revalidated.contains(validatedRow("6/3/2026 13:00") + kFooterStart));
    QCOMPARE(m_lab->scalar("select count(*) from BULLETIN_VALIDATION").toInt(), 2);
}

// A validation holds exactly while the bulletin's content is the one signed, whoever changed it
// and whatever the clocks say; the bulletin, the list's mark and the list's filter agree.
void TestBulletinBuilder::whatUndoesAValidation_data() {
    QTest::addColumn<QString>("change"); // SQL statements separated by "; ", or a named action
    QTest::addColumn<bool>("holds");
    QTest::newRow("a journaled correction") << "journal" << false;
    QTest::newRow("a value changed by another program")
        << "update RESULT_VALUES set stringvalue = '300' where resultID = 1 and refcode = 'GLU'" << false;
    QTest::newRow("the sets replaced by an import")
        << "delete from RESULT_VALUES where resultID = 2; insert into RESULT_VALUES (resultID, MachineID, refcode, "
           "stringvalue) values (2, 3, 'WBC', '4.5'), (2, 3, 'HGB', '15'), (2, 3, 'PLT', '25')"
        << false;
    QTest::newRow("a changed interval") << "update VET_PROFILE_NORMAL_VALUES set maxValue = '130' where refcode = 'GLU'"
                                        << false;
    QTest::newRow("a new critical limit that marks a value")
        << "insert into CRITICAL_VALUES (profileID, refcode, sex, criticalLow, criticalHigh) values (1, 'GLU', "
           "NULL, NULL, '130')"
        << false;
    QTest::newRow("a correction from a workstation 5 minutes slow") << "slow clock" << false;
    QTest::newRow("a set added the same day")
        << "insert into RESULTS (RequestID, PacientName, TransDate, ProcDate, Age, SEX, profileID) values ('1201', "
           "'Rex Popescu', '2026-03-06 15:00:00', '2026-03-06 15:00:00', 7, 'M', 1); insert into RESULT_VALUES "
           "(resultID, MachineID, refcode, stringvalue) values (5, 7, 'GLU', '99')"
        << false;
    QTest::newRow("a changed comment") << "update RESULTS set comment = 'repetat' where ID = 2" << false;
    // Another workstation corrects while the signatory reads the page to confirm: nothing is signed.
    QTest::newRow("a correction while the page is read") << "race" << false;
    // Broken on purpose: the server gone while the signatory confirms, the workstation gone between
    // the archived copy and its validation (its session ended by the server). Nothing is validated.
    QTest::newRow("the server stopped while signing") << "server stopped" << false;
    QTest::newRow("the workstation gone inside the validation") << "workstation gone" << false;
    // Another workstation validates the same page while this one's signatory confirms it: both
    // validations hold, and the bulletin and the mark name the newest.
    QTest::newRow("two workstations validating at once") << "two at once" << true;
    QTest::newRow("another day of the request validated and corrected") << "other day" << true;
    QTest::newRow("a changed laboratory header") << "header" << true;
    QTest::newRow("reprinted a day later") << "next day" << true;
    QTest::newRow("a value written again as it was")
        << "update RESULT_VALUES set stringvalue = '135' where resultID = 1 and refcode = 'GLU'; update RESULTS set "
           "comment = NULL where ID = 2 and comment = ''"
        << true;
}

void TestBulletinBuilder::whatUndoesAValidation() {
    QFETCH(QString, change);
    QFETCH(bool, holds);
    arrangeLaboratory();
    QVERIFY(m_lab->exec("insert into SIGNATORIES (userName, fullName, title, active) values (?, 'Ana Pop', "
                        "'Dr. med. vet.', 1)",
                        {CorrectionJournal::currentUser()}));
    QCOMPARE(SigningPasswords(m_database.get()).reset(CorrectionJournal::currentUser(), "parola-anei"),
             SigningPasswords::Outcome::accepted);
    SignatoryList signatories(m_database.get());
    QVERIFY(signatories.load());
    BulletinRelease release;
    release.signatory = signatories.activeByLogin(CorrectionJournal::currentUser());
    release.confirm = [](const QByteArray&, const QString&, QString* password) {
        *password = QStringLiteral("parola-anei");
        return true;
    };
    g_journalNow = QDateTime(QDate(2026, 3, 6), QTime(9, 0), Qt::UTC);
    const bool race = change == "race";
    const bool gone = change == "server stopped" || change == "workstation gone";
    if (change == "server stopped" && !m_lab->isPg())
        QSKIP("only a database server can go away");
    PgServerControl server;
    if (change == "server stopped" && !server.available())
        QSKIP("LABROSA_PG_BIN, LABROSA_PG_DATA and LABROSA_PG_PORT are needed to stop the server");
    if (race)
        release.confirm = [this](const QByteArray&, const QString&, QString* password) {
            *password = QStringLiteral("parola-anei");
            return m_lab->exec("update RESULT_VALUES set stringvalue = '300' where resultID = 1 and refcode = 'GLU'");
        };
    if (change == "server stopped")
        release.confirm = [&server](const QByteArray&, const QString&, QString* password) {
            *password = QStringLiteral("parola-anei");
            return server.stop();
        };
    if (change == "workstation gone" && m_lab->isPg()) {
        QVERIFY(m_lab->exec("create or replace function end_session() returns trigger as $$ begin perform "
                            "pg_terminate_backend(pg_backend_pid()); return new; end $$ language plpgsql"));
        QVERIFY(m_lab->exec("create trigger end_session after insert on BULLETIN_ARCHIVE for each row execute "
                            "function end_session()"));
    }
    if (change == "two at once")
        release.confirm = [this, &release](const QByteArray&, const QString&, QString* password) {
            *password = QStringLiteral("parola-anei");
            DatabaseConnection other;
            if (!other.open(m_lab->connectionString()))
                return false;
            SharedState otherState;
            otherState.m_database = &other;
            otherState.m_bulletinTemplate = m_sharedState.m_bulletinTemplate;
            Recordset otherRecordset;
            BulletinRelease second{release.signatory, [](const QByteArray&, const QString&, QString* typed) {
                                       *typed = QStringLiteral("parola-anei");
                                       return true;
                                   }};
            const bool validated =
                buildBulletin(otherRecordset, otherState, 1, "1201", kDay, &second).messages.isEmpty();
            otherRecordset.close();
            return validated;
        };
    QStringList signing;
    if (change == "workstation gone" && !m_lab->isPg()) {
        // Killed as kill -9 kills, between the archived copy and the validation: a child process
        // whose own connection dies after writing the copy, inside the transaction.
        const pid_t child = fork();
        if (child == 0) {
            DatabaseConnection dying;
            if (!dying.open(m_lab->connectionString()))
                _exit(1);
            sqlite3_create_function(
                SqliteStatement::handleOf(dying.connection()), "die", 0, SQLITE_UTF8, nullptr,
                [](sqlite3_context*, int, sqlite3_value**) { ::kill(::getpid(), SIGKILL); }, nullptr, nullptr);
            QSqlQuery trigger(dying.connection());
            if (!trigger.exec("create temp trigger die after insert on main.BULLETIN_ARCHIVE begin select die(); end"))
                _exit(1);
            SharedState state;
            state.m_database = &dying;
            Recordset recordset;
            buildBulletin(recordset, state, 1, "1201", kDay, &release);
            _exit(2);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, qPrintable(QString::number(status)));
        signing << QStringLiteral("Buletinul nu a fost validat (the workstation was killed)");
    } else {
        signing = buildBulletin(m_recordset, m_sharedState, 1, "1201", kDay, &release).messages;
    }
    if (race || gone) {
        if (change == "workstation gone" && m_lab->isPg())
            QVERIFY(m_lab->exec("drop trigger end_session on BULLETIN_ARCHIVE"));
        if (change == "server stopped")
            QVERIFY(server.start());
        QCOMPARE(signing.size(), 1);
        const char* said = race                         ? "s-au schimbat"
                           : change == "server stopped" ? "nu au mai putut fi citite"
                                                        : "Buletinul nu a fost validat";
        QVERIFY2(signing.at(0).contains(said), qPrintable(signing.at(0)));
        QCOMPARE(m_lab->scalar("select count(*) from BULLETIN_VALIDATION").toInt(), 0);
        QCOMPARE(m_lab->scalar("select count(*) from BULLETIN_ARCHIVE where purpose = 'validat'").toInt(), 0);
    } else {
        QCOMPARE(signing, QStringList());
    }

    if (change == "journal" || change == "slow clock") {
        // The slow workstation writes a time before the validation's.
        g_journalNow =
            QDateTime(QDate(2026, 3, 6), QTime(change == "journal" ? 9 : 8, change == "journal" ? 5 : 57), Qt::UTC);
        CorrectionJournal journal(m_database.get());
        QVERIFY(journal.apply("Age", 8, "RequestID = ?", {"1201"}));
    } else if (change == "other day") {
        QVERIFY(buildBulletin(m_recordset, m_sharedState, 3, "1201", "2026/3/7", &release).messages.isEmpty());
        g_journalNow = QDateTime(QDate(2026, 3, 7), QTime(9, 0), Qt::UTC);
        CorrectionJournal journal(m_database.get());
        QVERIFY(journal.apply("Age", 9, "ID = ?", {3}));
    } else if (change == "header") {
        writeFile("Labrosa.ini", "NumeLaborator=Alt laborator\r\n");
    } else if (change == "next day") {
        setBulletinClock([] { return QDateTime(QDate(2026, 3, 8), QTime(8, 4)); });
    } else if (!race && !gone && change != "two at once") {
        for (const QString& statement : change.split("; "))
            QVERIFY(m_lab->exec(statement));
    }
    g_journalNow = QDateTime(QDate(2026, 3, 7), QTime(10, 0), Qt::UTC);
    const BulletinBuildResult result = build(1, "1201");
    setBulletinClock([] { return QDateTime(QDate(2026, 3, 7), QTime(8, 4)); });
    QCOMPARE(result.messages, QStringList());
    const QByteArray page = readFile(kBulletinFileName);
    QCOMPARE(page.contains("Validat de: Dr. med. vet. Ana Pop, 6/3/2026 11:00"), holds);
    QCOMPARE(page.contains("BULETIN PRELIMINAR"), !holds);
    if (!holds && !race && !gone)
        QVERIFY2(page.contains("Schimbari de atunci: "), page.constData());

    // The list's mark and its filter of unvalidated bulletins ask the same piece.
    ValidatedBulletins list(m_database.get());
    const BulletinKey validatedOne{"1201", "2026-03-06"}, other{"1202", "2026-03-06"};
    QHash<BulletinKey, ValidationRecord> validated;
    QVERIFY2(list.find({validatedOne, other}, &validated), qPrintable(list.errorText()));
    QCOMPARE(validated.contains(validatedOne), holds);
    QVERIFY(!validated.contains(other));

    // The auditor's listing says the same, and fails when the newest validation no longer holds.
    QProcess audit;
    audit.setProcessChannelMode(QProcess::MergedChannels);
    audit.start(TestLab::dbTool(), {"--validations", "days", "2026-03-06", "2026-03-06", m_lab->connectionString()});
    QVERIFY(audit.waitForFinished(60000));
    const QString listed = QString::fromUtf8(audit.readAll());
    if (race || gone) {
        QVERIFY2(audit.exitCode() == 0 && listed.contains("0 validari"), qPrintable(listed));
        return;
    }
    if (change == "two at once")
        QCOMPARE(m_lab->scalar("select count(*) from BULLETIN_VALIDATION").toInt(), 2);
    QVERIFY2(audit.exitCode() == (holds ? 0 : 3), qPrintable(listed));
    QVERIFY2(listed.contains(QStringLiteral("1201\t2026-03-06\t2026-03-06 11:00:00\tDr. med. vet. Ana Pop\t") +
                             (holds ? "valabila" : "NU mai corespunde datelor de azi: ")),
             qPrintable(listed));
}

// A validation that cannot be written leaves no archived bulletin behind, and the other way
// round: the two rows go in one transaction.
void TestBulletinBuilder::validationIsKeptOnlyWithItsBulletin() {
    arrangeLaboratory();
    QVERIFY(m_lab->exec("insert into SIGNATORIES (userName, fullName, title) values (?, 'Ana Pop', 'Dr. med. vet.')",
                        {CorrectionJournal::currentUser()}));
    if (m_lab->isPg()) {
        QVERIFY(m_lab->exec("create or replace function refuse_validation() returns trigger as $$ begin raise "
                            "exception 'no more validations'; end $$ language plpgsql"));
        QVERIFY(m_lab->exec("create trigger refuse_validation before insert on BULLETIN_VALIDATION for each row "
                            "execute function refuse_validation()"));
    } else {
        QVERIFY(m_lab->exec("create trigger refuse_validation before insert on BULLETIN_VALIDATION begin select "
                            "raise(abort, 'no more validations'); end"));
    }
    SignatoryList signatories(m_database.get());
    QVERIFY(signatories.load());
    QCOMPARE(SigningPasswords(m_database.get()).reset(CorrectionJournal::currentUser(), "parola-anei"),
             SigningPasswords::Outcome::accepted);
    BulletinRelease release;
    release.signatory = signatories.activeByLogin(CorrectionJournal::currentUser());
    QString typed = "parola-anei";
    release.confirm = [&typed](const QByteArray&, const QString&, QString* password) {
        *password = typed;
        return true;
    };
    BulletinBuildResult result = buildBulletin(m_recordset, m_sharedState, 1, "1201", kDay, &release);
    QCOMPARE(result.messages.size(), 1);
    QVERIFY2(result.messages.at(0).startsWith("Buletinul nu a fost validat") &&
                 result.messages.at(0).contains("no more validations"),
             qPrintable(result.messages.at(0)));
    QVERIFY(!result.opened);
    QCOMPARE(m_lab->scalar("select count(*) from BULLETIN_ARCHIVE").toInt(), 0);
    QVERIFY(!QFile::exists(kBulletinFileName));

    // Five wrong passwords in a row lock the signatory: the right one is then refused before
    // anything is tried, with the moment the lock ends.
    typed = "parola-gresita";
    for (int attempt = 1; attempt <= SigningPasswords::kLockAttempts; ++attempt) {
        result = buildBulletin(m_recordset, m_sharedState, 1, "1201", kDay, &release);
        QVERIFY2(result.messages.size() == 1 && result.messages.at(0).contains("este gresita") &&
                     result.messages.at(0).contains("pana la") == (attempt == SigningPasswords::kLockAttempts),
                 qPrintable(result.messages.join('\n')));
    }
    typed = "parola-anei";
    result = buildBulletin(m_recordset, m_sharedState, 1, "1201", kDay, &release);
    QVERIFY2(result.messages.size() == 1 && result.messages.at(0).contains("nu poate semna pana la "),
             qPrintable(result.messages.join('\n')));
    SigningPasswords passwords(m_database.get());
    QCOMPARE(passwords.check(CorrectionJournal::currentUser(), "parola-anei"), SigningPasswords::Outcome::locked);
    QVERIFY(passwords.lockedUntil() > CorrectionJournal::now().addSecs(60 * SigningPasswords::kLockMinutes - 120));
    QCOMPARE(m_lab->scalar("select count(*) from SIGNING_ATTEMPTS where accepted = 0").toInt(),
             SigningPasswords::kLockAttempts);
    QCOMPARE(m_lab->scalar("select count(*) from BULLETIN_ARCHIVE").toInt(), 0);
}

// A journal made before corrections carried a reason still takes the correction, without it.
void TestBulletinBuilder::journalWithoutReasonsStillCorrects() {
    arrangeLaboratory();
    QVERIFY(build(1, "1201").messages.isEmpty());
    QVERIFY(BulletinArchive(m_database.get())
                .store(1, {"1201", "2026-03-06"}, readFile(kBulletinFileName), ArchivePurpose::Printed));
    QVERIFY(m_lab->exec("drop table CORRECTION_JOURNAL"));
    QVERIFY(m_lab->exec(QStringLiteral("create table CORRECTION_JOURNAL (id %1 primary key, resultID integer not null, "
                                       "RequestID varchar(50), field varchar(30) not null, oldValue text, newValue "
                                       "text, changedAt timestamp not null, userName varchar(100) not null, "
                                       "workstation varchar(255) not null)")
                            .arg(m_lab->isPg() ? "bigserial" : "integer")));
    g_journalNow = QDateTime(QDate(2026, 3, 7), QTime(7, 10), Qt::UTC);
    CorrectionJournal journal(m_database.get());
    QVERIFY2(journal.apply("Age", 8, "RequestID = ?", {"1201"}, nullptr, "Varsta gresita"),
             qPrintable(journal.errorText()));
    QCOMPARE(m_lab->scalar("select count(*) from CORRECTION_JOURNAL").toInt(), 3); // the request's three sets
    g_journalNow = QDateTime(QDate(2026, 3, 7), QTime(7, 30), Qt::UTC);
    QCOMPARE(build(1, "1201").messages, QStringList());
    const QByteArray page = readFile(kBulletinFileName);
    QVERIFY(page.contains("Modificari: Varsta: 7 -&gt; 8</TD>"));
}

void TestBulletinBuilder::emptyResultStillWritesWholePage() {
    writeFile(kBulletinFileName, QByteArray(100000, 'x'));
    const BulletinBuildResult result = build(1, "nimic");
    QVERIFY(result.messages.isEmpty());
    QVERIFY(result.opened);
    const QByteArray page = readFile(kBulletinFileName);
    QVERIFY(page.startsWith("<!DOCTYPE HTML PUBLIC"));
    QVERIFY(page.contains("charset=utf-8"));
    // No Labrosa.ini: the laboratory header is there, with empty values.
    QVERIFY(page.contains("\t\t\t\t<B>\n\t\t\t\t</B><BR>"));
    QVERIFY(page.contains("\t\t\t\t<br>\n\t\t\t\t</SPAN><BR><SPAN> \n"));
    QVERIFY(page.contains("colSpan=3><B></B> </TD>\n        <TR> \n\t<TR> \n"));
    QVERIFY(!page.contains("<tr><td>&nbsp;</td></tr><TR>"));
    QVERIFY(!page.contains("black 1px solid\"><B>"));
    QVERIFY(page.contains("SEF LABORATOR"));
    QVERIFY(page.contains(">7/3/2026 8:04</TD>"));
    QVERIFY(page.endsWith("</TFOOT> \n\t</TABLE></BODY></HTML>"));
    QVERIFY(!page.contains('x' + QByteArray(10, 'x')));
}

void TestBulletinBuilder::nullHeadValuesAreEmpty() {
    QVERIFY(m_lab->exec("insert into ANALYSERS (MachineID, AnalyseName) values (5, 'Urina')"));
    QVERIFY(addResult({"77", QVariant(), "2026-03-06 12:00:00", QVariant(), QVariant(), QVariant(), QVariant(),
                       QVariant(), QVariant()},
                      {{5, "PH", "6"}, {9, "X", "1"}}) > 0);
    QVERIFY(build(1, "77").messages.isEmpty());
    const QByteArray page = readFile(kBulletinFileName);
    QVERIFY(page.contains("Data setului de analize  \n"));
    QVERIFY(page.contains("cerere:<B>77</B>"));
    QVERIFY(page.contains("<TD>Nume:<B></B>, Profil:<b></b></TD>"));
    QVERIFY(page.contains("Varsta:<B></B>"));
    QVERIFY(page.contains("Sex:<B></B>"));
    // No parameter row: the code stands for the name; no unit and no bounds stay empty.
    QVERIFY(page.contains("<B>PH</B></TD>"));
    QVERIFY(page.contains("<B>6</B> </TD>"));
    QVERIFY(page.contains("\"> - \n" + QByteArray(14, ' ') + "</SPAN>"));
    // An analyser without a name gives an empty title; the set sorts first under it.
    QVERIFY(page.contains("colSpan=3><B></B> </TD>\n        <TR>"));
    QVERIFY(page.contains("colSpan=3><B>Urina</B> </TD>\n\t\t\t\t\t<TR>"));
}

void TestBulletinBuilder::databaseTextsAreEscaped() {
    QVERIFY(m_lab->exec("insert into ANALYSERS (MachineID, AnalyseName) values (5, 'Urina & <sediment>')"));
    QVERIFY(m_lab->exec("insert into PARAMETERS (MachineID, refcode, refName, um, \"order\") values "
                        "(5, 'PH', 'pH \"urinar\"', '<u>', 1)"));
    QVERIFY(addResult({"8", "<script>alert('x')</script> Ana & Ion", "2026-03-06 12:00:00", "2026-03-06 12:30:00", 3,
                       "F", "", QVariant(), ""},
                      {{5, "PH", "<b>6</b>"}}) > 0);
    writeFile("Labrosa.ini", "NumeLaborator=<b>Lab</b> & Co\r\n");
    QVERIFY(build(1, "8").messages.isEmpty());
    const QByteArray page = readFile(kBulletinFileName);
    QVERIFY(!page.contains("<script>"));
    QVERIFY(page.contains("Nume:<B>&lt;script&gt;alert('x')&lt;/script&gt; Ana &amp; Ion</B>"));
    QVERIFY(page.contains("<B>Urina &amp; &lt;sediment&gt;</B>"));
    QVERIFY(page.contains("<B>pH &quot;urinar&quot;</B>"));
    QVERIFY(page.contains("<B>&lt;b&gt;6&lt;/b&gt;</B> </TD>"));
    QVERIFY(page.contains("  &lt;u&gt;</SPAN>"));
    QVERIFY(page.contains("<B><b>Lab</b> & Co\n"));
}

// With the laboratory's key on, each value's previous one (of the same patient only) is printed
// beside it; a change beyond its limit is listed for the window, never written on the page.
void TestBulletinBuilder::previousValuesAndDeltaMarks() {
    arrangeLaboratory();
    QVERIFY(addResult({"1100", "Rex Popescu", "2026-02-01 09:00:00", "2026-02-01 10:00:00", 7, "M", "", 1, ""},
                      {{7, "GLU", "100"}, {3, "WBC", "4,4"}}) > 0);
    QVERIFY(addResult({"1150", "Rex Popescu", "2026-02-15 09:00:00", "2026-02-15 10:00:00", 7, "F", "", 1, ""},
                      {{7, "GLU", "50"}}) > 0);
    QVERIFY(m_lab->exec("insert into PARAMETER_DELTA_LIMITS (MachineID, refcode, maxChange, maxChangePercent) "
                        "values (7, 'GLU', NULL, 20), (3, 'WBC', 1, NULL)"));
    writeFile("Labrosa.ini", "NumeLaborator=Lab\r\nValoriAnterioare=1\r\n");
    const BulletinBuildResult result = build(1, "1201");
    QCOMPARE(result.messages, QStringList());
    const QByteArray page = readFile(kBulletinFileName);
    QCOMPARE(page.count(">Anterior</SPAN>"), 2);
    QVERIFY(page.contains("black\">100 (1/2/2026)</SPAN>"));
    QVERIFY(page.contains("black\">4,4 (1/2/2026)</SPAN>"));
    QVERIFY(page.contains("(aceeasi denumire, acelasi profil si sex)"));
    QVERIFY(!page.contains("Schimbare"));
    QCOMPARE(result.deltaMarks.size(), 1);
    QVERIFY2(result.deltaMarks.front().startsWith("Glucoza 135: ") &&
                 result.deltaMarks.front().contains("anterioara 100 din 1/2/2026 9:00") &&
                 result.deltaMarks.front().contains("limita 20%"),
             qPrintable(result.deltaMarks.front()));
}

void TestBulletinBuilder::overLongTextsAreCut() {
    const QString name = QString(200, QChar(0x0219)); // s-comma: two bytes each
    const QString code = QString(60, QChar('9'));
    if (m_lab->isPg()) {
        // A laboratory's own database may hold longer texts than the schema the tool makes.
        const QString view = m_lab->scalar("select pg_get_viewdef('vresults2_vet')").toString();
        QVERIFY(!view.isEmpty());
        QVERIFY(m_lab->exec("drop view vResults2_vet"));
        QVERIFY(m_lab->exec("alter table RESULTS alter column RequestID type text"));
        QVERIFY(m_lab->exec("alter table RESULT_VALUES alter column stringvalue type text"));
        // Its archive then holds such identifiers too: a bulletin that cannot be archived is not shown.
        QVERIFY(m_lab->exec("alter table BULLETIN_ARCHIVE alter column RequestID type text"));
        QVERIFY(m_lab->exec("create view vResults2_vet as " + view));
    }
    QVERIFY(addResult({code, name, "2026-03-06 12:00:00", "2026-03-06 12:30:00", 3, "M", "", QVariant(), ""},
                      {{5, "PH", QString(1100, QChar('7'))}}) > 0);
    QVERIFY(build(1, code).messages.isEmpty());
    const QByteArray page = readFile(kBulletinFileName);
    QVERIFY(page.contains("Nume:<B>" + QString(127, QChar(0x0219)).toUtf8() + "</B>"));
    QVERIFY(page.contains("cerere:<B>" + QByteArray(50, '9') + "</B>"));
    QVERIFY(page.contains("<B>" + QByteArray(1034, '7') + "</B>"));
}

// Sets written by other programs: the set is found for its day and its set date printed.
void TestBulletinBuilder::datesInEveryStoredShape_data() {
    QTest::addColumn<QString>("transDate");
    QTest::addColumn<QString>("procDate");
    QTest::addColumn<QString>("day");
    QTest::addColumn<QString>("printed");
    // 03:30 on the spring-forward night does not exist as a local time here.
    QTest::newRow("daylight-saving gap") << "2026-03-29 03:30:00"
                                         << "2026-03-29 03:30:00"
                                         << "2026/3/29"
                                         << "29/3/2026 3:30";
    QTest::newRow("with T") << "2026-03-06T10:00:00"
                            << "2026-03-06T10:05:00"
                            << "2026/3/6"
                            << "6/3/2026 10:05";
    QTest::newRow("date alone") << "2026-03-06"
                                << "2026-03-06"
                                << "2026/3/6"
                                << "6/3/2026 0:00";
    QTest::newRow("fractional seconds") << "2026-03-06 10:00:00.1234567"
                                        << "2026-03-06 10:07:59.999999"
                                        << "2026/3/6"
                                        << "6/3/2026 10:07";
    QTest::newRow("one-digit hour") << "2026-03-06 9:00:00"
                                    << "2026-03-06 9:07"
                                    << "2026/3/6"
                                    << "6/3/2026 9:07";
}

void TestBulletinBuilder::datesInEveryStoredShape() {
    QFETCH(QString, transDate);
    QFETCH(QString, procDate);
    QFETCH(QString, day);
    QFETCH(QString, printed);
    QVERIFY(m_lab->exec("insert into ANALYSERS (MachineID, AnalyseName) values (5, 'Urina')"));
    QVERIFY(addResult({"31", "Max", transDate, procDate, 3, "M", "", QVariant(), ""}, {{5, "PH", "6"}}) > 0);
    const BulletinBuildResult result = build(1, "31", day);
    QVERIFY(result.messages.isEmpty());
    const QByteArray page = readFile(kBulletinFileName);
    QVERIFY2(page.contains(("Data setului de analize " + printed + " \n").toUtf8()), page.constData());
    QVERIFY(page.contains("<B>PH</B>"));
}

// SQLite and PostgreSQL sort text by different rules; the groups come in one order on both.
void TestBulletinBuilder::analysisNamesIgnoreLetterCase() {
    QVERIFY(m_lab->exec("insert into ANALYSERS (MachineID, AnalyseName) values (4, 'Urina'), (5, 'biochimie'), "
                        "(6, 'Hematologie')"));
    QVERIFY(addResult({"9", "Max", "2026-03-06 12:00:00", "2026-03-06 12:30:00", 3, "M", "", QVariant(), ""},
                      {{4, "U", "1"}, {5, "B", "2"}, {6, "H", "3"}}) > 0);
    QVERIFY(build(1, "9").messages.isEmpty());
    const QByteArray page = readFile(kBulletinFileName);
    QVERIFY(page.indexOf("<B>biochimie</B>") < page.indexOf("<B>Hematologie</B>"));
    QVERIFY(page.indexOf("<B>Hematologie</B>") < page.indexOf("<B>Urina</B>"));
}

void TestBulletinBuilder::failedQueryGivesTwoMessagesAndNoFile() {
    QVERIFY(m_lab->exec("drop view vResults2_vet"));
    const BulletinBuildResult result = build(1, "1201");
    QCOMPARE(result.messages.size(), 2);
    QVERIFY(!result.messages.at(0).isEmpty());
    QVERIFY(result.messages.at(1).startsWith("select PacientName"));
    QVERIFY(result.messages.at(1).contains("from vResults2_vet"));
    QVERIFY(!result.opened);
    QVERIFY(!QFile::exists(kBulletinFileName));
    QCOMPARE(m_viewsMade, 0);
}

void TestBulletinBuilder::uncreatableFileGivesMessageAndNoWindow() {
    arrangeLaboratory();
    // A folder in the file's place cannot be opened for writing, even for root.
    QVERIFY(QDir().mkdir(kBulletinFileName));
    const BulletinBuildResult result = build(1, "1201");
    QCOMPARE(result.messages.size(), 1);
    QVERIFY2(result.messages.at(0).startsWith("Nu pot crea fisierul buletinului _buletin.html: "),
             qPrintable(result.messages.at(0)));
    QVERIFY(result.messages.at(0).size() > 50);
    QVERIFY(!result.opened);
    QCOMPARE(m_viewsMade, 0);
    // The recordset was closed: the next query on it works.
    QVERIFY(QDir().rmdir(kBulletinFileName));
    QVERIFY(build(1, "1201").messages.isEmpty());
    QCOMPARE(m_viewsMade, 1);
}

void TestBulletinBuilder::fullDiskGivesMessageAndNoWindow() {
    arrangeLaboratory();
    const QString folder = QDir::current().filePath("disc");
    SmallDisk disk(folder, "256k");
    if (!disk.mounted())
        QSKIP(qPrintable(disk.problem()));
    // The laboratory folder on the full disk, with the bulletin printed before.
    const QByteArray before = "<HTML>the bulletin printed before</HTML>";
    writeFile(disk.filePath(kBulletinFileName), before);
    QVERIFY(QFile::copy("Labrosa.ini", disk.filePath("Labrosa.ini")));
    QVERIFY(disk.fill());
    const QString home = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder));
    const BulletinBuildResult result = build(1, "1201");
    QVERIFY(QDir::setCurrent(home));
    QCOMPARE(result.messages.size(), 1);
    QVERIFY2(result.messages.at(0).startsWith("Nu pot scrie fisierul buletinului _buletin.html: "),
             qPrintable(result.messages.at(0)));
    QVERIFY2(result.messages.at(0).contains("No space left on device"), qPrintable(result.messages.at(0)));
    QVERIFY(!result.opened);
    QCOMPARE(m_viewsMade, 0);
    QCOMPARE(readFile(disk.filePath(kBulletinFileName)), before);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

// A bulletin is shown only when it is archived and everything corrected since the last one
// could be read.
void TestBulletinBuilder::archiveOrJournalFailureGivesMessageAndNoWindow_data() {
    QTest::addColumn<QString>("sabotage");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("fileKept");
    QTest::newRow("archive refuses the bulletin")
        << "refuse"
        << "Buletinul nu a putut fi pastrat in arhiva, asa ca nu este afisat.\n"
        << false;
    QTest::newRow("journal unreadable")
        << "drop table CORRECTION_JOURNAL; create table CORRECTION_JOURNAL (x integer)"
        << "Corecturile cererii nu au putut fi citite, asa ca buletinul nu a fost facut.\n"
        << true;
    QTest::newRow("archive unreadable")
        << "drop table BULLETIN_ARCHIVE; create table BULLETIN_ARCHIVE (x integer)"
        << "Arhiva buletinelor nu a putut fi citita, asa ca buletinul nu a fost facut.\n"
        << true;
}

void TestBulletinBuilder::archiveOrJournalFailureGivesMessageAndNoWindow() {
    QFETCH(QString, sabotage);
    QFETCH(QString, message);
    QFETCH(bool, fileKept);
    arrangeLaboratory();
    QVERIFY(build(1, "1201").messages.isEmpty());
    QCOMPARE(m_viewsMade, 1);
    QVERIFY(BulletinArchive(m_database.get())
                .store(1, {"1201", "2026-03-06"}, readFile(kBulletinFileName), ArchivePurpose::Printed));
    correct(QDateTime(QDate(2026, 3, 7), QTime(7, 10), Qt::UTC), "Age", 8);
    if (sabotage == "refuse") {
        if (m_lab->isPg()) {
            QVERIFY(m_lab->exec("create or replace function refuse_bulletin() returns trigger as $$ begin raise "
                                "exception 'archive full'; end $$ language plpgsql"));
            QVERIFY(m_lab->exec("create trigger refuse_bulletin before insert on BULLETIN_ARCHIVE for each row "
                                "execute function refuse_bulletin()"));
        } else {
            QVERIFY(m_lab->exec("create trigger refuse_bulletin before insert on BULLETIN_ARCHIVE begin select "
                                "raise(abort, 'archive full'); end"));
        }
    } else {
        for (const QString& statement : sabotage.split("; "))
            QVERIFY(m_lab->exec(statement));
    }
    const BulletinBuildResult result = build(1, "1201");
    QCOMPARE(result.messages.size(), 1);
    QVERIFY2(result.messages.at(0).startsWith(message), qPrintable(result.messages.at(0)));
    QVERIFY(result.messages.at(0).size() > message.size());
    QVERIFY(!result.opened);
    QCOMPARE(m_viewsMade, 1);
    // No page of the new bulletin is left to be opened by hand.
    QCOMPARE(QFile::exists(kBulletinFileName), fileKept);
    if (fileKept)
        QVERIFY(!readFile(kBulletinFileName).contains("Buletin corectat"));
    if (sabotage == "refuse")
        QCOMPARE(m_lab->scalar("select count(*) from BULLETIN_ARCHIVE").toInt(), 2);
}

QTEST_MAIN(TestBulletinBuilder)
#include "tst_bulletinbuilder.moc"
