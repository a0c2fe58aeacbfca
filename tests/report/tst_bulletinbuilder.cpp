#include <QApplication>
#include <QFile>
#include <QTest>

#include <ctime>
#include <memory>

#include "BulletinBuilder.h"
#include "BulletinWriter.h"
#include "CAdoDatabase.h"
#include "CAdoRecordset.h"
#include "CDocTemplate.h"
#include "CMainFrame.h"
#include "DbLab.h"
#include "StructuraInterna.h"

namespace {

const QString kDay = QStringLiteral("2026/3/6");

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

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
    void twoAnalysersMatchReferenceFile();
    void emptyResultStillWritesWholePage();
    void nullHeadValuesAreEmpty();
    void databaseTextsAreEscaped();
    void groupingFollowsMachineId();
    void overLongTextsAreCut();
    void datesInEveryStoredShape_data();
    void datesInEveryStoredShape();
    void analysisNamesIgnoreLetterCase();
    void failedQueryGivesTwoMessagesAndNoFile();
    void uncreatableFileGivesMessageAndNoWindow();
    void fullDiskGivesMessageAndNoWindow();

private:
    BulletinBuildResult build(int recordId, const QString& requestId, const QString& day = kDay) {
        return BuildBulletin(m_recordset, m_structura, recordId, requestId, day);
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

    std::unique_ptr<DbLab> m_lab;
    std::unique_ptr<CAdoDatabase> m_database;
    CAdoRecordset m_recordset;
    StructuraInterna m_structura;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<CDocTemplate> m_template;
    int m_viewsMade = 0;
};

void TestBulletinBuilder::initTestCase() {
    QVERIFY2(!TestLab::dbTool().isEmpty(), "LABROSA_DBTOOL is not set");
    SetBulletinClock([] { return QDateTime(QDate(2026, 3, 7), QTime(8, 4)); });
    // Romanian local time, with its daylight-saving gap.
    qputenv("TZ", "EET-2EEST,M3.5.0/3,M10.5.0/4");
    tzset();
}

void TestBulletinBuilder::init() {
    m_lab = std::make_unique<DbLab>(DbLab::current());
    QVERIFY(m_lab->createEmpty());
    m_database = std::make_unique<CAdoDatabase>();
    QVERIFY2(m_database->Open(m_lab->connectionString()), qPrintable(m_database->szComError));
    m_frame = std::make_unique<CMainFrame>(nullptr);
    m_viewsMade = 0;
    m_template = std::make_unique<CDocTemplate>(129, "\nTervan\nTervan\n\n\n\n", [this](CTervanaDoc*) {
        ++m_viewsMade;
        return new QWidget;
    });
    m_template->setMainFrame(m_frame.get());
    m_structura.m_pDatabase = m_database.get();
    m_structura.m_pBulletinTemplate = m_template.get();
}

void TestBulletinBuilder::cleanup() {
    m_recordset.Close();
    m_structura.m_pDatabase = nullptr;
    m_structura.m_pBulletinTemplate = nullptr;
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
    WriteFile("Labrosa.ini", "NumeLaborator=Laborator Veterinar <i>Labrosa</i>\r\nAdresa=Str. Florilor 12\r\n"
                             "Telefon=0264 000 111\r\nAltele=Luni - Vineri 8-18\r\n");
}

void TestBulletinBuilder::twoAnalysersMatchReferenceFile() {
    arrangeLaboratory();
    const BulletinBuildResult result = build(1, "1201");
    QCOMPARE(result.messages, QStringList());
    QVERIFY(result.opened);
    QCOMPARE(m_viewsMade, 1);

    const QByteArray actual = ReadFile(kBulletinFileName);
    const QByteArray expected = ReadFile(QStringLiteral(LABROSA_SOURCE_DIR "/tests/report/expected_bulletin.html"));
    if (actual != expected) {
        const QString kept = QStringLiteral(LABROSA_BINARY_DIR "/actual_bulletin.html");
        WriteFile(kept, actual);
        QFAIL(qPrintable("the bulletin differs from the reference file; written to " + kept));
    }

    // Each build writes the file anew and opens one more window.
    QVERIFY(build(1, "1201").messages.isEmpty());
    QCOMPARE(ReadFile(kBulletinFileName), expected);
    QCOMPARE(m_viewsMade, 2);
}

void TestBulletinBuilder::emptyResultStillWritesWholePage() {
    WriteFile(kBulletinFileName, QByteArray(100000, 'x'));
    const BulletinBuildResult result = build(1, "nimic");
    QVERIFY(result.messages.isEmpty());
    QVERIFY(result.opened);
    const QByteArray page = ReadFile(kBulletinFileName);
    QVERIFY(page.startsWith("<!DOCTYPE HTML PUBLIC"));
    QVERIFY(page.contains("charset=utf-8"));
    // No Labrosa.ini: the laboratory header is there, with empty values.
    QVERIFY(page.contains("\t\t\t\t<B>\n\t\t\t\t</B><BR>"));
    QVERIFY(page.contains("\t\t\t\t<br>\n\t\t\t\t</SPAN><BR><SPAN> \n"));
    QVERIFY(page.contains("colSpan=3><B></B> </TD>\n        <TR> \n\t<TR> \n"));
    QVERIFY(!page.contains("<tr><td>&nbsp;</td></tr><TR>"));
    QVERIFY(!page.contains("black 1px solid\"><B>"));
    QVERIFY(page.contains("SEF LABORATOR"));
    QVERIFY(page.contains(">7/3/2026 8:4</TD>"));
    QVERIFY(page.endsWith("</TFOOT> \n\t</TABLE></BODY></HTML>"));
    QVERIFY(!page.contains('x' + QByteArray(10, 'x')));
}

void TestBulletinBuilder::nullHeadValuesAreEmpty() {
    QVERIFY(m_lab->exec("insert into ANALYSERS (MachineID, AnalyseName) values (5, 'Urina')"));
    QVERIFY(addResult({"77", QVariant(), "2026-03-06 12:00:00", QVariant(), QVariant(), QVariant(), QVariant(),
                       QVariant(), QVariant()},
                      {{5, "PH", "6"}, {9, "X", "1"}}) > 0);
    QVERIFY(build(1, "77").messages.isEmpty());
    const QByteArray page = ReadFile(kBulletinFileName);
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
    WriteFile("Labrosa.ini", "NumeLaborator=<b>Lab</b> & Co\r\n");
    QVERIFY(build(1, "8").messages.isEmpty());
    const QByteArray page = ReadFile(kBulletinFileName);
    QVERIFY(!page.contains("<script>"));
    QVERIFY(page.contains("Nume:<B>&lt;script&gt;alert('x')&lt;/script&gt; Ana &amp; Ion</B>"));
    QVERIFY(page.contains("<B>Urina &amp; &lt;sediment&gt;</B>"));
    QVERIFY(page.contains("<B>pH &quot;urinar&quot;</B>"));
    QVERIFY(page.contains("<B>&lt;b&gt;6&lt;/b&gt;</B> </TD>"));
    QVERIFY(page.contains("  &lt;u&gt;</SPAN>"));
    QVERIFY(page.contains("<B><b>Lab</b> & Co\n"));
}

void TestBulletinBuilder::groupingFollowsMachineId() {
    // Two analysers sharing one name still form two groups; MachineID 0 (first by name)
    // followed by another analyser starts no title.
    QVERIFY(m_lab->exec("insert into ANALYSERS (MachineID, AnalyseName) values (0, 'Aparat manual'), "
                        "(4, 'Biochimie'), (6, 'Biochimie')"));
    QVERIFY(addResult({"9", "Max", "2026-03-06 12:00:00", "2026-03-06 12:30:00", 3, "M", "", QVariant(), ""},
                      {{0, "A", "1"}, {4, "B", "2"}, {6, "C", "3"}}) > 0);
    QVERIFY(build(1, "9").messages.isEmpty());
    const QByteArray page = ReadFile(kBulletinFileName);
    QCOMPARE(page.count("<tr><td>&nbsp;</td></tr><TR>"), 1);
    QVERIFY(page.contains("colSpan=3><B>Aparat manual</B> </TD>\n        <TR>"));
    QVERIFY(page.indexOf("<B>B</B>") < page.indexOf("<tr><td>&nbsp;</td></tr><TR>"));
    QVERIFY(page.indexOf("<tr><td>&nbsp;</td></tr><TR>") < page.indexOf("<B>C</B>"));
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
        QVERIFY(m_lab->exec("create view vResults2_vet as " + view));
    }
    QVERIFY(addResult({code, name, "2026-03-06 12:00:00", "2026-03-06 12:30:00", 3, "M", "", QVariant(), ""},
                      {{5, "PH", QString(1100, QChar('7'))}}) > 0);
    QVERIFY(build(1, code).messages.isEmpty());
    const QByteArray page = ReadFile(kBulletinFileName);
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
                            << "6/3/2026 10:5";
    QTest::newRow("date alone") << "2026-03-06"
                                << "2026-03-06"
                                << "2026/3/6"
                                << "6/3/2026 0:0";
    QTest::newRow("fractional seconds") << "2026-03-06 10:00:00.1234567"
                                        << "2026-03-06 10:07:59.999999"
                                        << "2026/3/6"
                                        << "6/3/2026 10:7";
    QTest::newRow("one-digit hour") << "2026-03-06 9:00:00"
                                    << "2026-03-06 9:07"
                                    << "2026/3/6"
                                    << "6/3/2026 9:7";
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
    const QByteArray page = ReadFile(kBulletinFileName);
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
    const QByteArray page = ReadFile(kBulletinFileName);
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
    if (!QFile::exists("/dev/full"))
        QSKIP("no /dev/full on this system");
    arrangeLaboratory();
    QVERIFY(QFile::link("/dev/full", kBulletinFileName));
    const BulletinBuildResult result = build(1, "1201");
    QCOMPARE(result.messages.size(), 1);
    QVERIFY2(result.messages.at(0).startsWith("Nu pot scrie fisierul buletinului _buletin.html: "),
             qPrintable(result.messages.at(0)));
    QVERIFY(!result.opened);
    QCOMPARE(m_viewsMade, 0);
}

QTEST_MAIN(TestBulletinBuilder)
#include "tst_bulletinbuilder.moc"
