#include <QBuffer>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <ctime>
#include <string>

#include "BulletinComposer.h"
#include "BulletinData.h"
#include "BulletinWriter.h"

Q_DECLARE_METATYPE(std::string)

namespace {

BulletinRow resultRow(int machine, const char* title, const char* name, const char* value, const char* lower,
                      const char* upper, const char* unit) {
    BulletinRow row;
    row.groupKey = machine;
    row.groupTitle = title;
    row.name = name;
    row.value = value;
    row.lower = lower;
    row.upper = upper;
    row.unit = unit;
    return row;
}

// The request of the reference page: two analysers, a value above and one below its interval,
// a value without one, and the laboratory header with markup of its own.
BulletinData referenceData() {
    BulletinData data;
    data.lab = {"Laborator Veterinar <i>Labrosa</i>", "Str. Florilor 12", "0264 000 111", "Luni - Vineri 8-18"};
    BulletinContent& content = data.content;
    content.setDate = "6/3/2026 10:05";
    content.requestCode = "1201";
    content.patientName = "Rex Popescu";
    content.profile = "Caine adult";
    content.age = "7";
    content.sex = "M";
    content.firstTitle = "Biochimie";
    content.rows = {resultRow(7, "Biochimie", "ALT (TGP)", "42 5", "", "60", "U/L"),
                    resultRow(7, "Biochimie", "Glucoza", "135", "70", "120", "mg/dL"),
                    resultRow(7, "Biochimie", "Uree", "negativ", "", "", ""),
                    resultRow(3, "Hematologie", "Leucocite", "4.5", "6", "17", "10^3/uL"),
                    resultRow(3, "Hematologie", "Hemoglobina", "15", "12", "18", "g/dL"),
                    resultRow(3, "Hematologie", "PLT", "250", "", "", "10^3/uL")};
    return data;
}

// The reference request after its patient's name and profile were corrected (the profile's
// intervals with it) since the copy printed the day before.
BulletinData correctedData() {
    BulletinData data = referenceData();
    data.content.patientName = "Rex <Pop> & \"Co\"";
    data.content.profile = "Pisica";
    for (BulletinRow& row : data.content.rows)
        row.lower = row.upper = std::string();
    data.content.rows[2].lower = "1";
    data.content.rows[2].upper = "9";
    data.hasLast = true;
    data.last.madeAt = QDateTime(QDate(2026, 3, 6), QTime(8, 5), Qt::UTC);
    data.correctedAt = QDateTime(QDate(2026, 3, 7), QTime(7, 15), Qt::UTC);
    data.changes = {{"Nume", "Rex Popescu", "Rex <Pop> & \"Co\""},
                    {"Profil", "Caine adult", "Pisica"},
                    {"Comentariu", "<script>alert('x')</script> & \"a\"", "<i>b</i> & 'c'"}};
    return data;
}

} // namespace

class TestBulletinWriter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void marker_data();
    void marker();
    void leadingNumber_data();
    void leadingNumber();
    void setDate_data();
    void setDate();
    void databaseTextsAreEscaped();
    void headerValuesAreWrittenAsTyped();
    void footerUsesPrintTime();
    void failedWriteIsReported();
    void composedPageMatchesReference_data();
    void composedPageMatchesReference();
    void groupingFollowsMachineId();
};

void TestBulletinWriter::initTestCase() {
    // Romanian local time, so that a set time inside the spring-forward gap is exercised.
    qputenv("TZ", "EET-2EEST,M3.5.0/3,M10.5.0/4");
    tzset();
}

void TestBulletinWriter::marker_data() {
    QTest::addColumn<std::string>("value");
    QTest::addColumn<std::string>("lower");
    QTest::addColumn<std::string>("upper");
    QTest::addColumn<std::string>("marker");
    const std::string none, low = kMarkerLow, high = kMarkerHigh;

    QTest::newRow("above upper") << std::string("4.5") << std::string("1") << std::string("4") << high;
    QTest::newRow("below lower") << std::string("4.5") << std::string("5") << std::string("9") << low;
    QTest::newRow("equal to lower") << std::string("4.5") << std::string("4.5") << std::string("9") << none;
    QTest::newRow("equal to upper") << std::string("9") << std::string("4.5") << std::string("9.0") << none;
    QTest::newRow("inside") << std::string("6") << std::string("5") << std::string("9") << none;
    QTest::newRow("word only") << std::string("negativ") << std::string("5") << std::string("9") << none;
    QTest::newRow("word above range of negatives")
        << std::string("pozitiv") << std::string("-5") << std::string("-1") << none;
    QTest::newRow("number with unit compared")
        << std::string("12 g/dl") << std::string("1") << std::string("10") << high;
    QTest::newRow("zero without letters compared") << std::string("0") << std::string("1") << std::string("9") << low;
    QTest::newRow("zero followed by letters") << std::string("0 abc") << std::string("1") << std::string("9") << none;
    QTest::newRow("empty lower bound never compared")
        << std::string("-3") << std::string("") << std::string("9") << none;
    QTest::newRow("empty upper bound never compared")
        << std::string("30") << std::string("1") << std::string("") << none;
    QTest::newRow("both bounds empty") << std::string("30") << std::string("") << std::string("") << none;
    QTest::newRow("lower above upper: high wins") << std::string("5") << std::string("8") << std::string("2") << high;
    QTest::newRow("bound with letters reads its number")
        << std::string("3") << std::string("4 mg") << std::string("9 mg") << low;
    QTest::newRow("bound without number reads 0") << std::string("3") << std::string("") << std::string("abc") << high;
    QTest::newRow("decimal comma between digits")
        << std::string("4,9") << std::string("4.5") << std::string("9") << none;
    QTest::newRow("decimal comma below lower") << std::string("5,4") << std::string("5.5") << std::string("8.5") << low;
    QTest::newRow("bound with a decimal comma: below lower")
        << std::string("4.2") << std::string("4,5") << std::string("9") << low;
    QTest::newRow("bounds with decimal commas: inside")
        << std::string("9,2") << std::string("4,5") << std::string("9,5") << none;
    QTest::newRow("bound with a decimal comma: above upper")
        << std::string("9.6") << std::string("4,5") << std::string("9,5") << high;
    QTest::newRow("comma not after a digit") << std::string(",4") << std::string("5.5") << std::string("8.5") << none;
    QTest::newRow("exponent") << std::string("1e3") << std::string("1") << std::string("999") << high;
    QTest::newRow("hex is not a number") << std::string("0x10") << std::string("1") << std::string("9") << none;
    QTest::newRow("inf is a word") << std::string("inf") << std::string("1") << std::string("9") << none;
    QTest::newRow("leading blanks and sign") << std::string("  -2") << std::string("-1") << std::string("5") << low;
    QTest::newRow("empty value") << std::string("") << std::string("1") << std::string("9") << none;
    QTest::newRow("signs without a number") << std::string("+++") << std::string("1") << std::string("9") << none;
    QTest::newRow("sign and blank only") << std::string("- ") << std::string("1") << std::string("9") << none;
    // A value written as a bound is flagged only when every value it allows is outside.
    QTest::newRow("greater than the upper bound")
        << std::string(">1500") << std::string("300") << std::string("1500") << high;
    QTest::newRow("greater than a value inside")
        << std::string(">1400") << std::string("300") << std::string("1500") << none;
    QTest::newRow("greater than a value below lower")
        << std::string(">5") << std::string("10") << std::string("20") << none;
    QTest::newRow("at least the upper bound")
        << std::string(">=1500") << std::string("300") << std::string("1500") << none;
    QTest::newRow("at least above upper, blanks and unit")
        << std::string(" >= 1500.5 UI/l") << std::string("300") << std::string("1500") << high;
    QTest::newRow("less than the lower bound") << std::string("<0.1") << std::string("0.1") << std::string("5") << low;
    QTest::newRow("less than below lower") << std::string("< 0.05") << std::string("0.1") << std::string("5") << low;
    QTest::newRow("at most the lower bound") << std::string("<=0.1") << std::string("0.1") << std::string("5") << none;
    QTest::newRow("less than a value inside") << std::string("<3") << std::string("1") << std::string("9") << none;
    QTest::newRow("less than a value above upper")
        << std::string("<50") << std::string("1") << std::string("9") << none;
    QTest::newRow("less than, comma and negative bound")
        << std::string("<-0,5") << std::string("-0.5") << std::string("9") << low;
    QTest::newRow("relation without a number") << std::string("<") << std::string("1") << std::string("9") << none;
    QTest::newRow("relation on a lower bound above upper")
        << std::string(">5") << std::string("8") << std::string("2") << high;
}

void TestBulletinWriter::marker() {
    QFETCH(std::string, value);
    QFETCH(std::string, lower);
    QFETCH(std::string, upper);
    QFETCH(std::string, marker);
    QCOMPARE(bulletinMarker(value, lower, upper), marker);
}

void TestBulletinWriter::leadingNumber_data() {
    QTest::addColumn<std::string>("text");
    QTest::addColumn<double>("number");
    QTest::newRow("empty") << std::string() << 0.0;
    QTest::newRow("sign only") << std::string("-") << 0.0;
    QTest::newRow("point only") << std::string(".") << 0.0;
    QTest::newRow("leading point") << std::string(".5") << 0.5;
    QTest::newRow("trailing point") << std::string("7.") << 7.0;
    QTest::newRow("plus") << std::string("+3.25x") << 3.25;
    QTest::newRow("tab and newline blanks") << std::string("\t\n 8") << 8.0;
    QTest::newRow("exponent without digits stops") << std::string("2e") << 2.0;
    QTest::newRow("exponent sign without digits stops") << std::string("2e-x") << 2.0;
    QTest::newRow("negative exponent") << std::string("25E-1") << 2.5;
    QTest::newRow("huge") << std::string("1e999") << HUGE_VAL;
    QTest::newRow("tiny") << std::string("1e-999") << 0.0;
    QTest::newRow("two points") << std::string("1.2.3") << 1.2;
    QTest::newRow("comma between digits") << std::string("4,5") << 4.5;
    QTest::newRow("comma as a separator") << std::string("4, 5") << 4.0;
}

void TestBulletinWriter::leadingNumber() {
    QFETCH(std::string, text);
    QFETCH(double, number);
    QCOMPARE(::leadingNumber(text), number);
}

void TestBulletinWriter::setDate_data() {
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<std::string>("text");
    QTest::newRow("null") << QVariant() << std::string();
    QTest::newRow("stored text") << QVariant(QString("2026-03-06 09:05:00")) << std::string("6/3/2026 9:05");
    QTest::newRow("text with T") << QVariant(QString("2026-12-31T23:59:30")) << std::string("31/12/2026 23:59");
    QTest::newRow("date and time") << QVariant(QDateTime(QDate(2006, 1, 2), QTime(0, 7)))
                                   << std::string("2/1/2006 0:07");
    QTest::newRow("unreadable") << QVariant(QString("ieri")) << std::string();
    QTest::newRow("in the daylight-saving gap")
        << QVariant(QString("2026-03-29 03:30:00")) << std::string("29/3/2026 3:30");
    QTest::newRow("only a date") << QVariant(QString("2026-03-06")) << std::string("6/3/2026 0:00");
    QTest::newRow("date with trailing text") << QVariant(QString("2026-03-06x09:05")) << std::string();
    // A zone the program cannot place is refused, not dropped.
    QTest::newRow("zone after the time") << QVariant(QString("2026-03-06 09:05:00 +02")) << std::string();
}

void TestBulletinWriter::setDate() {
    QFETCH(QVariant, value);
    QFETCH(std::string, text);
    QCOMPARE(formatBulletinDate(value), text);
}

void TestBulletinWriter::databaseTextsAreEscaped() {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    BulletinWriter writer(&buffer);
    writer.writeBulletinHead("1/2/2026 8:00", "R&1", "<script>alert(1)</script> Ion & \"Ana\"", "Câine", "7", "M");
    writer.writeResultRow("<b>", "5 < 6", kMarkerHigh, "1 > 0", "9%s", "mg&dl");
    const QByteArray out = buffer.data();
    QVERIFY(!out.contains("<script>"));
    QVERIFY(out.contains("<TD>Nume:<B>&lt;script&gt;alert(1)&lt;/script&gt; Ion &amp; &quot;Ana&quot;</B>, "
                         "Profil:<b>C\xc3\xa2ine</b></TD>"));
    QVERIFY(out.contains("cerere:<B>R&amp;1</B>"));
    QVERIFY(out.contains("<B>&lt;b&gt;</B>"));
    // The marker is markup of the program's own; a per cent sign in a value stays as it is.
    QVERIFY(out.contains(QByteArray("<B>5 &lt; 6</B>") + kMarkerHigh + " </TD>"));
    QVERIFY(out.contains("1 &gt; 0 - \n            9%s  mg&amp;dl</SPAN>"));
}

void TestBulletinWriter::headerValuesAreWrittenAsTyped() {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    BulletinWriter writer(&buffer);
    writer.writeLabHeader("<i>Lab</i> & Co", "Str. 1", "Tel", "100%");
    const QByteArray out = buffer.data();
    QVERIFY(out.contains("\t\t\t\t<B><i>Lab</i> & Co\n"));
    QVERIFY(out.contains("\t\t\t\tStr. 1<br>Tel\n"));
    QVERIFY(out.contains("<SPAN>100% \n"));
    QVERIFY(out.startsWith(" <TABLE id=Table1 width=\"100%\" border=0>\n"));
}

void TestBulletinWriter::footerUsesPrintTime() {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    BulletinWriter writer(&buffer);
    writer.writeFooter(QDateTime(QDate(2026, 5, 4), QTime(7, 3)));
    QVERIFY(buffer.data().contains("noWrap>4/5/2026 7:03</TD></TR> \n</TFOOT> \n\t"));

    setBulletinClock([] { return QDateTime(QDate(2001, 2, 3), QTime(4, 5)); });
    QCOMPARE(bulletinNow(), QDateTime(QDate(2001, 2, 3), QTime(4, 5)));
    setBulletinClock(nullptr);
    QVERIFY(qAbs(bulletinNow().secsTo(QDateTime::currentDateTime())) < 3600);
}

void TestBulletinWriter::failedWriteIsReported() {
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    BulletinWriter writer(&readOnly);
    QVERIFY(writer.ok());
    writer.writeDocumentHead();
    QVERIFY(!writer.ok());
    QVERIFY(!writer.errorString().isEmpty());
}

// The page is composed from the bulletin's data alone, byte for byte the reference page.
void TestBulletinWriter::composedPageMatchesReference_data() {
    QTest::addColumn<bool>("corrected");
    QTest::addColumn<QString>("reference");
    QTest::newRow("plain") << false << "expected_bulletin.html";
    QTest::newRow("corrected since the printed copy") << true << "expected_bulletin_corrected.html";
}

void TestBulletinWriter::composedPageMatchesReference() {
    QFETCH(bool, corrected);
    QFETCH(QString, reference);
    QFile file(QStringLiteral(LABROSA_SOURCE_DIR "/tests/report/") + reference);
    QVERIFY(file.open(QIODevice::ReadOnly));
    BulletinPageOptions options;
    options.printedAt = QDateTime(QDate(2026, 3, 7), QTime(8, 4));
    const QByteArray page = composeBulletin(corrected ? correctedData() : referenceData(), options);
    const QByteArray expected = file.readAll();
    if (page != expected) {
        const qsizetype at =
            std::mismatch(page.begin(), page.end(), expected.begin(), expected.end()).first - page.begin();
        QFAIL(qPrintable(QStringLiteral("differs at byte %1: %2").arg(at).arg(QString::fromUtf8(page.mid(at, 120)))));
    }
}

void TestBulletinWriter::groupingFollowsMachineId() {
    // Two analysers sharing one name still form two groups; MachineID 0 (first by name)
    // followed by another analyser starts no title.
    BulletinData data;
    data.content.firstTitle = "Aparat manual";
    data.content.rows = {resultRow(0, "Aparat manual", "A", "1", "", "", ""),
                         resultRow(4, "Biochimie", "B", "2", "", "", ""),
                         resultRow(6, "Biochimie", "C", "3", "", "", "")};
    const QByteArray page = composeBulletin(data, BulletinPageOptions());
    QCOMPARE(page.count("<tr><td>&nbsp;</td></tr><TR>"), 1);
    QVERIFY(page.contains("colSpan=3><B>Aparat manual</B> </TD>\n        <TR>"));
    QVERIFY(page.indexOf("<B>B</B>") < page.indexOf("<tr><td>&nbsp;</td></tr><TR>"));
    QVERIFY(page.indexOf("<tr><td>&nbsp;</td></tr><TR>") < page.indexOf("<B>C</B>"));
}

QTEST_GUILESS_MAIN(TestBulletinWriter)
#include "tst_bulletinwriter.moc"
