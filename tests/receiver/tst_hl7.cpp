// Conformance of the HL7 layer: MLLP framing, the separators and escapes of HL7 v2, the
// acknowledgement and the reading of ORU^R01. The "analyser layout" message follows the
// ORU^R01 layout of Mindray's BC-5300 Operator's Manual v1.5, appendix C "Communication"
// (HL7 v2.3.1 over MLLP: MSH, PID, PV1, OBR with the sample number, OBX per parameter with
// LOINC-coded identifiers; vdocuments.mx/bc-5300-operators-manual-v15.html). Its values are ours.
#include "Hl7Ack.h"
#include "Hl7Message.h"
#include "MessageMapper.h"
#include "MllpFramer.h"

#include <QTest>

namespace {
const QByteArray kOru = "MSH|^~\\&|Analizor|Lab|Labrosa|Lab|20261209101500||ORU^R01|MSG0001|P|2.5.1\r"
                        "PID|1||77^^^Lab||Popescu^Rex||20200101|M\r"
                        "OBR|1|1201||CBC\r"
                        "OBX|1|NM|WBC^Leucocite||12.5|10^3/ul|||||F\r"
                        "OBX|2|NM|HGB||14.1|g/dl|||||F\r";
}

class TestHl7 : public QObject {
    Q_OBJECT
private slots:
    void mllpSplitAtEveryByte();
    void mllpNoiseAndBrokenBlocks();
    void fields_data();
    void fields();
    void escapeRoundTrip();
    void acknowledgement_data();
    void acknowledgement();
    void oruMapping();
    void analyserLayout();
};

void TestHl7::mllpSplitAtEveryByte() {
    const QByteArray line = MllpFramer::frame(kOru) + MllpFramer::frame("MSH|^~\\&|B\r");
    for (int at = 0; at <= line.size(); ++at) {
        MllpFramer f;
        QList<QByteArray> got = f.feed(line.left(at));
        got += f.feed(line.mid(at));
        QCOMPARE(got, (QList<QByteArray>{kOru, "MSH|^~\\&|B\r"}));
        QCOMPARE(f.droppedBytes(), 0);
    }
}

void TestHl7::mllpNoiseAndBrokenBlocks() {
    MllpFramer f;
    // Noise before a block, a block cut short by a new start block, a 0x1C inside a message.
    const QByteArray line = "xx\r\n" + QByteArray(1, MllpFramer::kStart) + "MSH|cut" +
                            MllpFramer::frame("A\x1c"
                                              "B");
    QCOMPARE(f.feed(line), QList<QByteArray>{"A\x1c"
                                             "B"});
    QCOMPARE(f.droppedBytes(), 4 + 8);
    // A block without its end is no message yet.
    QVERIFY(f.feed(QByteArray(1, MllpFramer::kStart) + kOru).isEmpty());
    QVERIFY(f.inMessage());
}

void TestHl7::fields_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("segment");
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("component");
    QTest::addColumn<int>("repetition");
    QTest::addColumn<QString>("expected");
    const QString msh = QStringLiteral("MSH|^~\\&|App|Fac|Rcv|RFac|20261209||ORU^R01|C1|P|2.5.1\r");
    QTest::newRow("MSH-1 is the separator") << msh << "MSH" << 1 << 1 << 1 << "|";
    QTest::newRow("MSH-2 encoding") << msh << "MSH" << 2 << 1 << 1 << "^~\\&";
    QTest::newRow("MSH-10 control id") << msh << "MSH" << 10 << 1 << 1 << "C1";
    QTest::newRow("MSH-9 event") << msh << "MSH" << 9 << 2 << 1 << "R01";
    QTest::newRow("component") << msh + "PID|1||||Ionescu^Maria"
                               << "PID" << 5 << 2 << 1 << "Maria";
    QTest::newRow("repetition") << msh + "PID|1||A1~B2^^^X"
                                << "PID" << 3 << 1 << 2 << "B2";
    QTest::newRow("escape F S R E") << msh + "OBX|1|ST|N||a\\F\\b\\S\\c\\R\\d\\E\\e"
                                    << "OBX" << 5 << 1 << 1 << "a|b^c~d\\e";
    QTest::newRow("escape T, hex, line break") << msh + "OBX|1|ST|N||x\\T\\y\\X4142\\z\\.br\\w"
                                               << "OBX" << 5 << 1 << 1 << "x&yABz\nw";
    QTest::newRow("own separators") << "MSH#*@!%#App#F#R#RF#1##ORU*R01#C9\rOBX#1#NM#HGB*Hb##1!F!2@3"
                                    << "OBX" << 5 << 1 << 2 << "3";
    QTest::newRow("own escape") << "MSH#*@!%#App#F#R#RF#1##ORU*R01#C9\rOBX#1#NM#HGB##a!F!b"
                                << "OBX" << 5 << 1 << 1 << "a#b";
    QTest::newRow("LF between segments") << msh.chopped(1) + "\nPID|1||7"
                                         << "PID" << 3 << 1 << 1 << "7";
}

void TestHl7::fields() {
    QFETCH(QString, text);
    QFETCH(QString, segment);
    QFETCH(int, field);
    QFETCH(int, component);
    QFETCH(int, repetition);
    QFETCH(QString, expected);
    Hl7Message m;
    QString error;
    QVERIFY2(Hl7Message::parse(text, &m, &error), qPrintable(error));
    const int s = m.findSegment(segment);
    QVERIFY(s >= 0);
    QCOMPARE(field == 2 || field == 1 ? m.field(s, field) : m.component(s, field, component, repetition), expected);
}

void TestHl7::escapeRoundTrip() {
    Hl7Message m;
    QString error;
    QVERIFY(Hl7Message::parse(QStringLiteral("MSH|^~\\&|A\r"), &m, &error));
    const QString text = QStringLiteral("a|b^c~d\\e&f\rg");
    QCOMPARE(m.unescape(m.escape(text)), QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    QVERIFY(!m.escape(text).contains(QLatin1Char('|')));
}

void TestHl7::acknowledgement_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("msa");
    QTest::newRow("accept") << int(Hl7Ack::Code::Accept) << "MSA|AA|MSG0001|";
    QTest::newRow("error") << int(Hl7Ack::Code::Error) << "MSA|AE|MSG0001|nu s-a salvat";
    QTest::newRow("reject") << int(Hl7Ack::Code::Reject) << "MSA|AR|MSG0001|nu s-a salvat";
}

void TestHl7::acknowledgement() {
    QFETCH(int, code);
    QFETCH(QString, msa);
    Hl7Message m;
    QString error;
    QVERIFY(Hl7Message::parse(QString::fromLatin1(kOru), &m, &error));
    const QByteArray ack = Hl7Ack::build(m, Hl7Ack::Code(code), code ? QStringLiteral("nu s-a salvat") : QString(),
                                         QStringLiteral("A1"), QDateTime(QDate(2026, 12, 9), QTime(10, 15)));
    Hl7Message parsed;
    QVERIFY2(Hl7Message::parse(QString::fromUtf8(ack), &parsed, &error), qPrintable(error));
    QCOMPARE(parsed.messageType(), QStringLiteral("ACK^R01"));
    QCOMPARE(parsed.controlId(), QStringLiteral("A1"));
    // Sender and receiver change places.
    QCOMPARE(parsed.field(0, 3), QStringLiteral("Labrosa"));
    QCOMPARE(parsed.field(0, 5), QStringLiteral("Analizor"));
    QCOMPARE(QString::fromUtf8(ack).split(QLatin1Char('\r')).at(1), msa);
}

void TestHl7::oruMapping() {
    Hl7Message m;
    QString error;
    QList<ReceivedSet> sets;
    QVERIFY(Hl7Message::parse(QString::fromLatin1(kOru), &m, &error));
    QVERIFY(MessageMapper::fromHl7(m, &sets, &error));
    QCOMPARE(sets.size(), 1);
    QCOMPARE(sets.at(0).specimenId, QStringLiteral("1201"));
    QCOMPARE(sets.at(0).patientName, QStringLiteral("Popescu Rex"));
    QCOMPARE(sets.at(0).birthDate, QDate(2020, 1, 1));
    QCOMPARE(sets.at(0).values.size(), 2);
    QCOMPARE(sets.at(0).values.at(0).code, QStringLiteral("WBC"));
    QCOMPARE(sets.at(0).values.at(0).value, QStringLiteral("12.5"));
    // Not a result message: refused.
    QVERIFY(Hl7Message::parse(QStringLiteral("MSH|^~\\&|A|B|C|D|1||ADT^A01|X|P|2.5\r"), &m, &error));
    QVERIFY(!MessageMapper::fromHl7(m, &sets, &error));
    QVERIFY(error.contains(QLatin1String("ADT^A01")));
}

void TestHl7::analyserLayout() {
    const QString text = QStringLiteral(
        "MSH|^~\\&|||||20261209093000||ORU^R01|1|P|2.3.1||||||UNICODE\r"
        "PID|1||^^^^MR||^Bogdan Rex|||Female\r"
        "PV1|1\r"
        "OBR|1||1207|00001^Automated Count^99MRC||20261209090000|20261209092500|||||||||||||||||HM||||||||admin\r"
        "OBX|1|IS|08001^Take Mode^99MRC||O||||||F\r"
        "OBX|2|NM|6690-2^WBC^LN||10.42|10*9/L|4.00-10.00|H|||F\r"
        "OBX|3|NM|718-7^HGB^LN||131|g/L|110-150|N|||F\r"
        "OBX|4|NM|777-3^PLT^LN|||10*9/L|100-300||||X\r");
    Hl7Message m;
    QString error;
    QList<ReceivedSet> sets;
    QVERIFY2(Hl7Message::parse(text, &m, &error), qPrintable(error));
    QVERIFY2(MessageMapper::fromHl7(m, &sets, &error), qPrintable(error));
    QCOMPARE(sets.size(), 1);
    QCOMPARE(sets.at(0).specimenId, QStringLiteral("1207")); // the filler's number, no placer's
    QCOMPARE(sets.at(0).patientName, QStringLiteral("Bogdan Rex"));
    QVERIFY(sets.at(0).sex.isEmpty()); // "Female" is not an HL7 sex code
    // The take mode is a value too (mapped or left for the technician); PLT could not be counted.
    QCOMPARE(sets.at(0).values.size(), 3);
    QCOMPARE(sets.at(0).values.at(1).code, QStringLiteral("6690-2"));
    QCOMPARE(sets.at(0).values.at(1).value, QStringLiteral("10.42"));
}

QTEST_APPLESS_MAIN(TestHl7)
#include "tst_hl7.moc"
