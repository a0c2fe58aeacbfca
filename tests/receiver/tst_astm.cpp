// Conformance of the ASTM low level (E1381) and record layer (E1394) with messages written
// from the standards. The "analyser layout" message follows the record layout of Sysmex's
// CA-600 ASTM host interface manual (Ver. 1.03, 2014, published at
// studylib.net/doc/27539319): H, P, O with the sample number in its components, R per test,
// L. Its values and names are ours.
#include "AstmFrame.h"
#include "AstmLink.h"
#include "AstmMessage.h"
#include "MessageMapper.h"

#include <QTest>

namespace {

const QByteArray kEnq(1, AstmFrame::kEnq), kAck(1, AstmFrame::kAck), kNak(1, AstmFrame::kNak), kEot(1, AstmFrame::kEot);

const QByteArray kMessage = "H|\\^&|||Analizor^1|||||||P|LIS2-A2|20261209101500\r"
                            "P|1||77||Popescu^Rex||20200101|M\r"
                            "O|1|1201||^^^WBC\\^^^HGB|R\r"
                            "R|1|^^^WBC|12.5|10^3/ul||N||F\r"
                            "R|2|^^^HGB|14.1|g/dl||N||F\r"
                            "L|1|N\r";

// The frames of a message as a sender puts them on the line.
QByteArray framed(const QByteArray& message, int* next = nullptr) {
    int number = 1;
    QByteArray out;
    for (const QByteArray& r : message.split('\r')) {
        if (r.isEmpty())
            continue;
        for (const AstmFrame& f : AstmFrame::splitRecord(r + '\r', next ? next : &number))
            out += f.encode();
    }
    return out;
}

// A receiving link that stores every message and records what it answered.
struct Receiver {
    AstmLink link{AstmLink::Side::Computer};
    QByteArray answers;
    QList<QByteArray> messages;
    bool storeWorks = true;
    qint64 now = 0;
    Receiver() {
        link.output = [this](const QByteArray& b) { answers += b; };
        link.messageReceived = [this](const QByteArray& m) {
            if (storeWorks)
                messages << m;
            link.acknowledgeMessage(storeWorks, now);
        };
    }
    void feed(const QByteArray& b) { link.feed(b, now); }
};

} // namespace

class TestAstm : public QObject {
    Q_OBJECT
private slots:
    void checksum_data();
    void checksum();
    void splitAtEveryByte();
    void badChecksumIsNakedAndRetried();
    void etbContinuationAndNumberWrap();
    void repeatedFrameIsTakenOnce();
    void storeFailureNaksTheLastFrame();
    void silentSenderIsDropped();
    void linkToLink_data();
    void linkToLink();
    void records_data();
    void records();
    void analyserLayout();
};

void TestAstm::checksum_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("sum");
    // 0x31 + 0x41 + 0x42 + 0x43 + 0x03 = 0xFA
    QTest::newRow("etx") << QByteArray("1ABC\x03") << QByteArray("FA");
    // 0x32 + 0x17 = 0x49: one digit of the sum still gives two
    QTest::newRow("etb") << QByteArray("2\x17") << QByteArray("49");
    // 0x30 + 0xFF*2 + 0x03 = 0x231: modulo 256, 0x31
    QTest::newRow("wraps") << QByteArray("0\xff\xff\x03") << QByteArray("31");
}

void TestAstm::checksum() {
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, sum);
    QCOMPARE(AstmFrame::checksum(body), sum);
    QByteArray frame = '\x02' + body + sum + "\r\n";
    AstmFrame f;
    QCOMPARE(AstmFrame::decode(frame, &f), AstmFrame::Check::Good);
    frame[frame.size() - 3] = frame.at(frame.size() - 3) == '0' ? '1' : '0';
    QCOMPARE(AstmFrame::decode(frame, &f), AstmFrame::Check::BadChecksum);
}

// TCP hands the bytes over in pieces of any size: split anywhere, the same message comes
// through once, with the same answers.
void TestAstm::splitAtEveryByte() {
    const QByteArray line = kEnq + framed(kMessage) + kEot;
    const QByteArray expected = kAck + kAck.repeated(6);
    for (int at = 0; at <= line.size(); ++at) {
        Receiver r;
        r.feed(line.left(at));
        r.feed(line.mid(at));
        QCOMPARE(r.messages, QList<QByteArray>{kMessage});
        QCOMPARE(r.answers, expected);
    }
    Receiver byByte;
    for (char c : line)
        byByte.feed(QByteArray(1, c));
    QCOMPARE(byByte.messages, QList<QByteArray>{kMessage});
}

void TestAstm::badChecksumIsNakedAndRetried() {
    Receiver r;
    r.feed(kEnq);
    QByteArray frames = framed(kMessage);
    const int firstEnd = int(frames.indexOf('\n')) + 1;
    QByteArray bad = frames.left(firstEnd);
    bad[bad.size() - 3] = bad.at(bad.size() - 3) == 'A' ? 'B' : 'A';
    r.feed(bad);
    QCOMPARE(r.answers, kAck + kNak);
    r.feed(frames + kEot); // the frame again, right this time, and the rest
    QCOMPARE(r.messages, QList<QByteArray>{kMessage});
    QCOMPARE(r.answers, kAck + kNak + kAck.repeated(6));
}

void TestAstm::etbContinuationAndNumberWrap() {
    // A result of 600 characters takes three frames (240, 240, 120); with ten records the
    // frame numbers pass 7 and go on from 0.
    QByteArray message = "H|\\^&\rP|1\rO|1|55\r";
    message += "R|1|^^^NOTE|" + QByteArray(588, 'x') + "\r";
    for (int i = 2; i <= 6; ++i)
        message += "R|" + QByteArray::number(i) + "|^^^T" + QByteArray::number(i) + "|" + QByteArray::number(i) + "\r";
    message += "L|1\r";
    int next = 1;
    const QList<AstmFrame> note = AstmFrame::splitRecord("R|1|^^^NOTE|" + QByteArray(588, 'x') + "\r", &next);
    QCOMPARE(note.size(), 3);
    QCOMPARE(note.at(0).text.size(), 240);
    QVERIFY(!note.at(0).last && !note.at(1).last && note.at(2).last);
    const QByteArray frames = framed(message);
    QVERIFY(frames.contains("\x02"
                            "0")); // the frame after 7 is 0
    Receiver r;
    r.feed(kEnq + frames + kEot);
    QCOMPARE(r.messages, QList<QByteArray>{message});
    AstmMessage parsed;
    QString error;
    QVERIFY(AstmMessage::parse(QString::fromLatin1(r.messages.first()), &parsed, &error));
    QCOMPARE(parsed.records().at(3).field(4), QString(588, QLatin1Char('x')));
}

// The sender did not hear our ACK and sends the frame again: taken once.
void TestAstm::repeatedFrameIsTakenOnce() {
    Receiver r;
    const QByteArray frames = framed(kMessage);
    const int cut = int(frames.indexOf('\n', frames.indexOf('\n') + 1)) + 1; // after the second frame
    const QByteArray second = frames.mid(frames.indexOf('\n') + 1, cut - frames.indexOf('\n') - 1);
    r.feed(kEnq + frames.left(cut) + second + frames.mid(cut) + kEot);
    QCOMPARE(r.messages, QList<QByteArray>{kMessage});
    // A frame out of turn (the fourth where the third belongs) is refused.
    Receiver skip;
    const QList<QByteArray> parts = frames.split('\n');
    skip.feed(kEnq + parts.at(0) + '\n' + parts.at(2) + '\n');
    QCOMPARE(skip.answers, kAck + kAck + kNak);
}

// The analyser hears ACK for the L frame only once the message is stored: a store that fails
// answers NAK, and the frame sent again offers the whole message once more.
void TestAstm::storeFailureNaksTheLastFrame() {
    Receiver r;
    r.storeWorks = false;
    const QByteArray frames = framed(kMessage);
    r.feed(kEnq + frames);
    QCOMPARE(r.answers, kAck + kAck.repeated(5) + kNak);
    QVERIFY(r.messages.isEmpty());
    r.storeWorks = true;
    const QByteArray last = frames.mid(frames.lastIndexOf('\x02'));
    r.feed(last + kEot);
    QCOMPARE(r.messages, QList<QByteArray>{kMessage});
    QCOMPARE(r.answers, kAck + kAck.repeated(5) + kNak + kAck);
}

// A sender that stops in the middle: after the receiver's 30 s its records are dropped (they
// were never acknowledged as a message) and the next session starts clean.
void TestAstm::silentSenderIsDropped() {
    Receiver r;
    const QByteArray frames = framed(kMessage);
    r.feed(kEnq + frames.left(frames.indexOf("R|2") - 2));
    r.now = 29999;
    r.link.tick(r.now);
    QVERIFY(!r.link.idle());
    r.now = 31000;
    r.link.tick(r.now);
    QVERIFY(r.link.idle());
    r.feed(kEnq + frames + kEot);
    QCOMPARE(r.messages, QList<QByteArray>{kMessage});
}

void TestAstm::linkToLink_data() {
    QTest::addColumn<int>("nakEvery"); // the receiver's store fails for the first n tries
    QTest::addColumn<bool>("contention");
    QTest::addColumn<bool>("delivered");
    QTest::newRow("plain") << 0 << false << true;
    QTest::newRow("store fails twice") << 2 << false << true;
    // Six retransmissions at most, then the sender gives up the session (and tries later).
    QTest::newRow("store keeps failing") << 100 << false << false;
    QTest::newRow("both ask for the line") << 0 << true << true;
}

// An instrument's link sending to a computer's link, in memory, with the time running.
void TestAstm::linkToLink() {
    QFETCH(int, nakEvery);
    QFETCH(bool, contention);
    QFETCH(bool, delivered);
    AstmLink sender(AstmLink::Side::Instrument), receiver(AstmLink::Side::Computer);
    qint64 now = 0;
    QByteArray toReceiver, toSender;
    int tries = 0, sent = 0;
    QList<QByteArray> got;
    sender.output = [&](const QByteArray& b) { toReceiver += b; };
    receiver.output = [&](const QByteArray& b) { toSender += b; };
    sender.messageSent = [&]() { ++sent; };
    receiver.messageReceived = [&](const QByteArray& m) {
        const bool ok = ++tries > nakEvery;
        if (ok)
            got << m;
        receiver.acknowledgeMessage(ok, now);
    };
    if (contention)
        receiver.send("H|\\^&\rL|1\r", now); // the computer asks for the line at the same moment
    sender.send(kMessage, now);
    for (int step = 0; step < 2000 && (toReceiver.size() || toSender.size() || !sender.idle()); ++step) {
        const QByteArray a = toReceiver, b = toSender;
        toReceiver.clear();
        toSender.clear();
        receiver.feed(a, now);
        sender.feed(b, now);
        if (a.isEmpty() && b.isEmpty()) {
            now += 100;
            sender.tick(now);
            receiver.tick(now);
        }
        if (!delivered && tries >= 7)
            break;
    }
    if (delivered) {
        QCOMPARE(got, QList<QByteArray>{kMessage});
        QCOMPARE(sent, 1);
    } else {
        QVERIFY(got.isEmpty());
        QCOMPARE(tries, 7); // the first try and six retransmissions
        QCOMPARE(sent, 0);
    }
}

void TestAstm::records_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("record");
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("component");
    QTest::addColumn<int>("repeat");
    QTest::addColumn<QString>("expected");
    const QString h = QStringLiteral("H|\\^&\r");
    QTest::newRow("component") << h + "R|1|^^^GLU^1|5.4" << 1 << 3 << 4 << 1 << "GLU";
    QTest::newRow("second repeat") << h + "O|1|7||^^^WBC\\^^^HGB" << 1 << 5 << 4 << 2 << "HGB";
    QTest::newRow("escaped field delimiter") << h + "C|1|L|a&F&b" << 1 << 4 << 1 << 1 << "a|b";
    QTest::newRow("escaped component, repeat, escape") << h + "C|1|L|x&S&y&R&z&E&w" << 1 << 4 << 1 << 1 << "x^y\\z&w";
    QTest::newRow("hexadecimal") << h + "C|1|L|&X4142&" << 1 << 4 << 1 << 1 << "AB";
    QTest::newRow("highlighting dropped") << h + "C|1|L|&H&bold&N&" << 1 << 4 << 1 << 1 << "bold";
    // Delimiters are whatever H declares.
    QTest::newRow("own delimiters") << "H!@#$\rR!1!###GLU#9!5.4@6.1" << 1 << 3 << 4 << 1 << "GLU";
    QTest::newRow("own repeat") << "H!@#$\rR!1!###GLU#9!5.4@6.1" << 1 << 4 << 1 << 2 << "6.1";
    QTest::newRow("own escape") << "H!@#$\rC!1!L!a$F$b" << 1 << 4 << 1 << 1 << "a!b";
    QTest::newRow("missing field") << h + "R|1" << 1 << 9 << 1 << 1 << "";
}

void TestAstm::records() {
    QFETCH(QString, text);
    QFETCH(int, record);
    QFETCH(int, field);
    QFETCH(int, component);
    QFETCH(int, repeat);
    QFETCH(QString, expected);
    AstmMessage m;
    QString error;
    QVERIFY2(AstmMessage::parse(text, &m, &error), qPrintable(error));
    QCOMPARE(m.records().at(record).component(field, component, repeat), expected);
}

void TestAstm::analyserLayout() {
    // Two samples in one message, a quality control between them under a patient's number.
    const QString text = QStringLiteral("H|\\^&|||CA-600^00-01|||||||P|1|20261209093000\r"
                                        "P|1||||^Dumitru Ana|||F\r"
                                        "O|1|^^        1201^B||^^^040^PT-SEC\\^^^050^APTT|R||||||N\r"
                                        "R|1|^^^040^PT-SEC^^|12.3|s||N||F||||20261209092900\r"
                                        "R|2|^^^050^APTT^^|31.0|s||N||F||||20261209092900\r"
                                        "O|1|1201||^^^040^PT-SEC|R||||||Q\r"
                                        "R|1|^^^040^PT-SEC^^|99.9|s||N||F\r"
                                        "P|2\r"
                                        "O|1|1202||^^^040^PT-SEC|R||||||N\r"
                                        "R|1|^^^040^PT-SEC^^|X&S&Y|s||N||F\r"
                                        "R|2|^^^050^APTT^^||s||N||X\r"
                                        "L|1|N\r");
    AstmMessage m;
    QString error;
    QVERIFY2(AstmMessage::parse(text, &m, &error), qPrintable(error));
    QVERIFY(m.hasTerminator());
    const QList<ReceivedSet> sets = MessageMapper::fromAstm(m);
    QCOMPARE(sets.size(), 2); // the control is not a patient's set
    QCOMPARE(sets.at(0).specimenId, QStringLiteral("1201"));
    QCOMPARE(sets.at(0).patientName, QStringLiteral("Dumitru Ana"));
    QCOMPARE(sets.at(0).sex, QStringLiteral("F"));
    QCOMPARE(sets.at(0).values.size(), 2);
    QCOMPARE(sets.at(0).values.at(0).code, QStringLiteral("040"));
    QCOMPARE(sets.at(0).values.at(0).value, QStringLiteral("12.3"));
    QCOMPARE(sets.at(1).specimenId, QStringLiteral("1202"));
    QVERIFY(sets.at(1).patientName.isEmpty()); // the second P has no name
    QCOMPARE(sets.at(1).values.size(), 1);     // the test that could not be done has no value
    QCOMPARE(sets.at(1).values.at(0).value, QStringLiteral("X^Y"));
}

QTEST_APPLESS_MAIN(TestAstm)
#include "tst_astm.moc"
