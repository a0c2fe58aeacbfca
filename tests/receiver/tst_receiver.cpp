// The receiver against a real database on each backend: what a message becomes, that it is
// stored once, that a refused message leaves nothing behind, and end to end through the
// analyser simulator with the faults of real lines and a receiver killed with SIGKILL.
#include "AstmMessage.h"
#include "CaptureLog.h"
#include "DatabaseConnection.h"
#include "DbLab.h"
#include "Hl7Message.h"
#include "MessageBox.h"
#include "MessageMapper.h"
#include "MllpFramer.h"
#include "ReceiverSession.h"
#include "ResultStore.h"
#include "UnmatchedResultsWindow.h"

#include <QBuffer>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTreeWidget>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

const QString kReceiver = QStringLiteral(LABROSA_BINARY_DIR "/tools/receiver/labrosa-receiver");
const QString kSimulator = QStringLiteral(LABROSA_BINARY_DIR "/tools/receiver/labrosa-analyser-sim");

QByteArray oru(const QString& control, const QString& specimen, const QStringList& codeValues) {
    QString text = QStringLiteral("MSH|^~\\&|Sim|Lab|Labrosa|Lab|20261209101500||ORU^R01|%1|P|2.5.1\r"
                                  "PID|1||7||Popescu^Rex||20200101|M\r"
                                  "OBR|1|%2||CBC\r")
                       .arg(control, specimen);
    int n = 0;
    for (const QString& cv : codeValues)
        text += QStringLiteral("OBX|%1|NM|%2||%3|u|||||F\r")
                    .arg(++n)
                    .arg(cv.section(QLatin1Char('='), 0, 0), cv.section(QLatin1Char('='), 1));
    return text.toUtf8();
}

// A whole ASTM session (ENQ, frames, EOT) carrying one message.
QByteArray astmSession(const QByteArray& message) {
    QByteArray out(1, 0x05);
    int number = 1;
    for (const QByteArray& r : message.split('\r'))
        if (!r.isEmpty())
            for (const AstmFrame& f : AstmFrame::splitRecord(r + '\r', &number))
                out += f.encode();
    return out + QByteArray(1, 0x04);
}

QByteArray astm(const QString& specimen, const QStringList& codeValues) {
    QString text = QStringLiteral("H|\\^&|||Sim\rP|1||||Ionescu^Maria|||F\rO|1|%1||^^^ALL|R\r").arg(specimen);
    int n = 0;
    for (const QString& cv : codeValues)
        text += QStringLiteral("R|%1|^^^%2|%3|u||N||F\r")
                    .arg(++n)
                    .arg(cv.section(QLatin1Char('='), 0, 0), cv.section(QLatin1Char('='), 1));
    return (text + QStringLiteral("L|1|N\r")).toLatin1();
}

// A session over a line that records what the receiver answered.
struct SessionLab {
    DatabaseConnection db;
    std::unique_ptr<ResultStore> store;
    QBuffer line;
    std::unique_ptr<ReceiverSession> session;
    QList<StoreOutcome> outcomes;

    bool open(DbLab& lab, ReceiverSession::Protocol protocol) {
        if (!db.open(lab.connectionString()))
            return false;
        store = std::make_unique<ResultStore>(&db, 1);
        session = std::make_unique<ReceiverSession>(protocol, store.get(), nullptr);
        QObject::connect(session.get(), &ReceiverSession::messageHandled,
                         [this](const StoreOutcome& o) { outcomes << o; });
        line.open(QIODevice::ReadWrite);
        session->attach(&line);
        return true;
    }
    QByteArray answers() const { return line.data(); }
};

} // namespace

class TestReceiver : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data() { DbLab::addBackends(); }
    void initTestCase();
    void storesSetsAndQueuesTheUnmatched();
    void sentAgainIsStoredOnce_data();
    void sentAgainIsStoredOnce();
    void refusedMessageLeavesNothing();
    void technicianPutsTheUnmatchedIn();
    void fuzzStoresNoPartialSet();
    void throughSimulator_data();
    void throughSimulator();
    void killedReceiverLosesNothing();
    void throughSerialLine();
    void serverStoppedMidTransfer();

private:
    bool makeLab(DbLab& lab);
    int count(DbLab& lab, const QString& sql) { return lab.scalar(sql).toInt(); }
    // Every RESULTS row once, none twice, and each label acknowledged among them.
    void checkExactlyOnce(DbLab& lab, const QStringList& acknowledged, int expected);
    bool startReceiver(QProcess& p, DbLab& lab, const QString& protocol, int* port, const QString& capture);
};

void TestReceiver::initTestCase() {
    QVERIFY2(QFileInfo::exists(kReceiver) && QFileInfo::exists(kSimulator), "build the receiver and the simulator");
}

bool TestReceiver::makeLab(DbLab& lab) {
    return lab.createEmpty() &&
           lab.exec(QStringLiteral("INSERT INTO ANALYSERS (MachineID, AnalyseName) VALUES (1, 'Hemo')")) &&
           lab.exec(
               QStringLiteral("INSERT INTO PARAMETERS (MachineID, refcode) VALUES (1, 'WBC'), (1, 'RBC'), (1, 'HGB')"));
}

void TestReceiver::storesSetsAndQueuesTheUnmatched() {
    DbLab lab(DbLab::current());
    QVERIFY(makeLab(lab));
    SessionLab s;
    QVERIFY(s.open(lab, ReceiverSession::Protocol::Hl7));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    // Two specimens; an unknown code in the first; the second without a request.
    QByteArray message = oru(QStringLiteral("C1"), QStringLiteral("1201"), {"WBC=12.5", "HGB=14.1", "ZZZ=3"});
    message += "OBR|2|||CBC\rOBX|1|NM|RBC||6.2|u|||||F\r";
    s.session->receive(MllpFramer::frame(message));
    QCOMPARE(s.outcomes.size(), 1);
    QCOMPARE(int(s.outcomes.first().kind), int(StoreOutcome::Kind::Stored));
    QVERIFY(s.answers().contains("MSA|AA|C1"));
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM RESULTS"), 1);
    const int id = s.outcomes.first().resultIds.value(0);
    QCOMPARE(lab.scalar("SELECT RequestID FROM RESULTS WHERE ID = ?", {id}).toString(), QStringLiteral("1201"));
    QCOMPARE(lab.scalar("SELECT PacientName FROM RESULTS WHERE ID = ?", {id}).toString(),
             QStringLiteral("Popescu Rex"));
    QCOMPARE(lab.scalar("SELECT SEX FROM RESULTS WHERE ID = ?", {id}).toString(), QStringLiteral("M"));
    const QDateTime trans = QDateTime::fromString(
        lab.scalar(QStringLiteral("SELECT %1 FROM RESULTS")
                       .arg(lab.isPg() ? "to_char(TransDate, 'YYYY-MM-DD HH24:MI:SS')" : "TransDate"))
            .toString(),
        QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY2(trans >= before && trans <= QDateTime::currentDateTime(), "TransDate is the time of receipt");
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM RESULT_VALUES WHERE MachineID = 1 AND resultID = " + QString::number(id)),
             2);
    QCOMPARE(lab.scalar("SELECT stringvalue FROM RESULT_VALUES WHERE refcode = 'HGB'").toString(),
             QStringLiteral("14.1"));
    QCOMPARE(
        count(lab,
              "SELECT COUNT(*) FROM UNMATCHED_RESULTS WHERE reason = 'parameter' AND refcode = 'ZZZ' AND resultID = " +
                  QString::number(id)),
        1);
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM UNMATCHED_RESULTS WHERE reason = 'specimen' AND refcode = 'RBC' AND "
                        "resultID IS NULL"),
             1);
    // The message as it came, reachable from the set.
    QCOMPARE(lab.scalar("SELECT m.content FROM RECEIVED_MESSAGES m JOIN RECEIVED_SETS s ON s.messageID = m.id WHERE "
                        "s.resultID = ?",
                        {id})
                 .toString(),
             QString::fromUtf8(message));
    QCOMPARE(count(lab, "SELECT messages FROM RECEIVER_STATUS WHERE MachineID = 1"), 1);
}

void TestReceiver::sentAgainIsStoredOnce_data() {
    QTest::addColumn<bool>("hl7");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("again");
    QTest::addColumn<int>("sets");
    const QByteArray m = oru("C1", "1201", {"WBC=12.5", "HGB=14.1"});
    QTest::newRow("same control id") << true << m << oru("C1", "1299", {"WBC=1"}) << 1;
    QTest::newRow("same results, new control id") << true << m << oru("C2", "1201", {"HGB=14.1", "WBC=12.5"}) << 1;
    QTest::newRow("one value differs") << true << m << oru("C2", "1201", {"WBC=12.5", "HGB=14.2"}) << 2;
    QTest::newRow("astm without control id") << false << astm("1201", {"WBC=1"}) << astm("1201", {"WBC=1"}) << 1;
    QTest::newRow("astm other specimen") << false << astm("1201", {"WBC=1"}) << astm("1202", {"WBC=1"}) << 2;
}

void TestReceiver::sentAgainIsStoredOnce() {
    QFETCH(bool, hl7);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, again);
    QFETCH(int, sets);
    DbLab lab(DbLab::current());
    QVERIFY(makeLab(lab));
    SessionLab s;
    QVERIFY(s.open(lab, hl7 ? ReceiverSession::Protocol::Hl7 : ReceiverSession::Protocol::Astm));
    for (const QByteArray& m : {first, again})
        s.session->receive(hl7 ? MllpFramer::frame(m) : astmSession(m));
    QCOMPARE(s.outcomes.size(), 2);
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM RESULTS"), sets);
    // A message sent again is acknowledged like the first: the analyser must stop sending it.
    QCOMPARE(int(s.outcomes.last().kind), int(sets == 1 ? StoreOutcome::Kind::Duplicate : StoreOutcome::Kind::Stored));
    if (hl7)
        QCOMPARE(s.answers().count("MSA|AA|"), 2);
}

// A message the database refuses halfway (here a value that a trigger rejects) is answered
// with AE (NAK) and leaves no row of any table behind; sent again once the cause is gone, it is stored.
void TestReceiver::refusedMessageLeavesNothing() {
    DbLab lab(DbLab::current());
    QVERIFY(makeLab(lab));
    const QString raise = lab.isPg()
                              ? QStringLiteral("IF NEW.stringvalue = '666' THEN RAISE EXCEPTION 'refuzat'; END IF;")
                              : QStringLiteral("SELECT RAISE(ABORT, 'refuzat') WHERE NEW.stringvalue = '666';");
    QVERIFY(lab.createTrigger("refuse_value", "BEFORE INSERT", raise, "RESULT_VALUES"));
    for (bool hl7 : {true, false}) {
        SessionLab s;
        QVERIFY(s.open(lab, hl7 ? ReceiverSession::Protocol::Hl7 : ReceiverSession::Protocol::Astm));
        const QStringList values = {"WBC=1", "RBC=666"};
        s.session->receive(hl7 ? MllpFramer::frame(oru("C1", "1201", values)) : astmSession(astm("1201", values)));
        QCOMPARE(int(s.outcomes.value(0).kind), int(StoreOutcome::Kind::Failed));
        if (hl7)
            QVERIFY(s.answers().contains("MSA|AE|C1"));
        else
            QVERIFY(s.answers().endsWith(QByteArray(1, 0x15))); // the L frame: NAK
        for (const char* table :
             {"RESULTS", "RESULT_VALUES", "RECEIVED_MESSAGES", "RECEIVED_SETS", "UNMATCHED_RESULTS"})
            QCOMPARE(count(lab, QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)), 0);
    }
    QVERIFY(lab.exec(lab.isPg() ? "DROP TRIGGER refuse_value ON RESULT_VALUES" : "DROP TRIGGER refuse_value"));
    SessionLab s;
    QVERIFY(s.open(lab, ReceiverSession::Protocol::Hl7));
    s.session->receive(MllpFramer::frame(oru("C1", "1201", {"WBC=1", "RBC=666"})));
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM RESULT_VALUES"), 2);
}

// "Rezultate nepotrivite": the technician names the parameter of an unknown code and the
// request of a specimen that had none; each value goes into its set, and the queue empties.
void TestReceiver::technicianPutsTheUnmatchedIn() {
    DbLab lab(DbLab::current());
    QVERIFY(makeLab(lab));
    SessionLab s;
    QVERIFY(s.open(lab, ReceiverSession::Protocol::Hl7));
    QByteArray message = oru("C1", "1201", {"WBC=12.5", "Hb=14.1"});
    message += "OBR|2|||CBC\rOBX|1|NM|RBC||6.2|u|||||F\rOBX|2|NM|WBC||7.1|u|||||F\r";
    s.session->receive(MllpFramer::frame(message));
    QVERIFY(s.store->writeStatus("conectat", "suma de control gresita", QDateTime::currentDateTime()));
    QStringList messages;
    setMessageBoxHook([&](const QString& text) { messages << text; });
    DatabaseConnection program;
    QVERIFY(program.open(lab.connectionString()));
    UnmatchedResultsWindow window(&program);
    QVERIFY2(window.reload(), qPrintable(window.errorText()));
    auto* analysers = window.findChild<QTreeWidget*>("listAnalysers");
    QCOMPARE(analysers->topLevelItemCount(), 1);
    QCOMPARE(analysers->topLevelItem(0)->text(0), QStringLiteral("Hemo (1)"));
    QVERIFY(analysers->topLevelItem(0)->text(4).endsWith("suma de control gresita"));
    auto* list = window.findChild<QTreeWidget*>("listUnmatched");
    QCOMPARE(list->topLevelItemCount(), 3);
    auto* request = window.findChild<QLineEdit*>("editRequestId");
    auto* parameter = window.findChild<QComboBox*>("comboParameter");
    auto* apply = window.findChild<QPushButton*>("buttonApply");
    // Hb is the analyser's name for HGB: into set 1201 beside WBC.
    list->setCurrentItem(list->topLevelItem(0));
    QCOMPARE(request->text(), QStringLiteral("1201"));
    QCOMPARE(parameter->currentIndex(), -1);
    parameter->setCurrentText("HGB");
    QTest::mouseClick(apply, Qt::LeftButton);
    QCOMPARE(messages, QStringList());
    const int set = lab.scalar("SELECT ID FROM RESULTS WHERE RequestID = '1201'").toInt();
    QCOMPARE(
        lab.scalar("SELECT stringvalue FROM RESULT_VALUES WHERE resultID = ? AND refcode = 'HGB'", {set}).toString(),
        QStringLiteral("14.1"));
    // The specimen without a request: its first value makes the set, the second joins it.
    QCOMPARE(list->topLevelItemCount(), 2);
    for (int i = 0; i < 2; ++i) {
        list->setCurrentItem(list->topLevelItem(0));
        QCOMPARE(request->text(), QString());
        QTest::mouseClick(apply, Qt::LeftButton); // nothing named yet: refused, nothing written
        QCOMPARE(messages.size(), 1);
        messages.clear();
        QTest::keyClicks(request, "1305");
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(messages, QStringList());
    }
    QCOMPARE(list->topLevelItemCount(), 0);
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM RESULTS WHERE RequestID = '1305'"), 1);
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM RESULT_VALUES v JOIN RESULTS r ON r.ID = v.resultID WHERE "
                        "r.RequestID = '1305'"),
             2);
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM UNMATCHED_RESULTS WHERE resolvedAt IS NULL"), 0);
    // Hb was kept as HGB: the next set's Hb goes straight in.
    s.session->receive(MllpFramer::frame(oru("C2", "1202", {"Hb=13.0"})));
    QCOMPARE(lab.scalar("SELECT v.refcode FROM RESULT_VALUES v JOIN RESULTS r ON r.ID = v.resultID WHERE "
                        "r.RequestID = '1202'")
                 .toString(),
             QStringLiteral("HGB"));
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM UNMATCHED_RESULTS"), 3);
    setMessageBoxHook({});
}

// Random bytes, messages cut short and messages with bytes changed, in pieces of any size:
// nothing crashes, and every set stored holds exactly what its stored message says.
void TestReceiver::fuzzStoresNoPartialSet() {
    DbLab lab(DbLab::current());
    QVERIFY(makeLab(lab));
    QRandomGenerator random(20261209);
    int sent = 0;
    for (bool hl7 : {true, false}) {
        SessionLab s;
        QVERIFY(s.open(lab, hl7 ? ReceiverSession::Protocol::Hl7 : ReceiverSession::Protocol::Astm));
        for (int i = 0; i < 150; ++i) {
            const QString specimen = QStringLiteral("F%1%2").arg(hl7 ? "h" : "a").arg(i);
            const QStringList values = {QStringLiteral("WBC=%1").arg(i), QStringLiteral("RBC=%1.5").arg(i), "HGB=9"};
            QByteArray bytes =
                hl7 ? MllpFramer::frame(oru(specimen, specimen, values)) : astmSession(astm(specimen, values));
            switch (random.bounded(4)) {
            case 0: // cut short
                bytes.truncate(random.bounded(int(bytes.size())));
                break;
            case 1: // bytes changed
                for (int k = 0, n = 1 + random.bounded(4); k < n; ++k)
                    bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
                break;
            case 2: // noise
                bytes = QByteArray(random.bounded(300), '\0');
                for (char& c : bytes)
                    c = char(random.bounded(256));
                break;
            default:
                ++sent;
            }
            for (int at = 0; at < bytes.size();) {
                const int n = 1 + random.bounded(64);
                s.session->receive(bytes.mid(at, n));
                at += n;
            }
        }
    }
    QVERIFY(count(lab, "SELECT COUNT(*) FROM RESULTS") >= sent / 2);
    // Read each stored message again and compare its sets with what the tables hold.
    QSqlQuery q(lab.admin());
    QVERIFY(
        q.exec("SELECT s.resultID, m.content, m.protocol, s.fingerprint FROM RECEIVED_SETS s JOIN RECEIVED_MESSAGES m "
               "ON m.id = s.messageID"));
    int checked = 0;
    while (q.next()) {
        QList<ReceivedSet> sets;
        QString error;
        if (q.value(2).toString() == QLatin1String("HL7")) {
            Hl7Message m;
            QVERIFY(Hl7Message::parse(q.value(1).toString(), &m, &error));
            QVERIFY(MessageMapper::fromHl7(m, &sets, &error));
        } else {
            AstmMessage m;
            QVERIFY(AstmMessage::parse(q.value(1).toString(), &m, &error));
            sets = MessageMapper::fromAstm(m);
        }
        const ReceivedSet* set = nullptr;
        for (const ReceivedSet& candidate : sets)
            if (candidate.fingerprint(1) == q.value(3).toString())
                set = &candidate;
        QVERIFY(set);
        const QVariant resultId = q.value(0);
        const int stored =
            resultId.isNull()
                ? 0
                : count(lab, "SELECT COUNT(*) FROM RESULT_VALUES WHERE resultID = " + resultId.toString());
        const int waiting =
            count(lab, QStringLiteral("SELECT COUNT(*) FROM UNMATCHED_RESULTS u JOIN RECEIVED_SETS s ON "
                                      "s.id = u.receivedSetID WHERE s.fingerprint = '%1'")
                           .arg(q.value(3).toString()));
        QCOMPARE(stored + waiting, int(set->values.size()));
        ++checked;
    }
    QCOMPARE(checked, count(lab, "SELECT COUNT(*) FROM RECEIVED_SETS"));
    QCOMPARE(
        count(
            lab,
            "SELECT COUNT(*) FROM RESULTS r WHERE NOT EXISTS (SELECT 1 FROM RECEIVED_SETS s WHERE s.resultID = r.ID)"),
        0);
}

bool TestReceiver::startReceiver(QProcess& p, DbLab& lab, const QString& protocol, int* port, const QString& capture) {
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardErrorFile(capture + ".err", QIODevice::Append);
    p.start(kReceiver, {"--database", lab.connectionString(), "--machine", "1", "--protocol", protocol, "--listen",
                        QStringLiteral("127.0.0.1:%1").arg(*port), "--capture", capture});
    if (!p.waitForStarted(10000))
        return false;
    QByteArray out;
    while (!out.contains('\n') && p.waitForReadyRead(10000))
        out += p.readAllStandardOutput();
    bool ok = false;
    const int given = out.trimmed().split(' ').last().toInt(&ok);
    if (!ok)
        return false;
    *port = given;
    return true;
}

void TestReceiver::checkExactlyOnce(DbLab& lab, const QStringList& acknowledged, int expected) {
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM RESULTS"), expected);
    QCOMPARE(count(lab, "SELECT COUNT(DISTINCT RequestID) FROM RESULTS"), expected);
    QCOMPARE(count(lab, "SELECT COUNT(*) FROM RESULT_VALUES"), expected * 3);
    QSet<QString> stored;
    QSqlQuery q(lab.admin());
    QVERIFY(q.exec("SELECT RequestID FROM RESULTS"));
    while (q.next())
        stored.insert(q.value(0).toString());
    for (const QString& label : acknowledged)
        QVERIFY2(stored.contains(label), qPrintable(label + " was acknowledged but is not stored"));
}

void TestReceiver::throughSimulator_data() {
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("faults");
    QTest::newRow("astm") << "astm"
                          << "split,checksum,drop-ack,duplicate,disconnect";
    QTest::newRow("hl7") << "hl7"
                         << "split,drop-ack,duplicate,disconnect";
}

// 1,000 sets through a line that splits, corrupts, loses answers, repeats and drops: each set
// arrives exactly once.
void TestReceiver::throughSimulator() {
    QFETCH(QString, protocol);
    QFETCH(QString, faults);
    DbLab lab(DbLab::current());
    QVERIFY(makeLab(lab));
    const QString capture = lab.lab().path() + "/capture-" + protocol + ".log";
    QProcess receiver;
    int port = 0;
    QVERIFY(startReceiver(receiver, lab, protocol, &port, capture));
    const QString acked = lab.lab().path() + "/acked.txt";
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(kSimulator, {"--protocol", protocol, "--connect", QStringLiteral("127.0.0.1:%1").arg(port), "--generate",
                           "1000", "--codes", "WBC,RBC,HGB", "--faults", faults, "--fault-rate", "0.003",
                           "--reply-timeout", "100", "--seed", "5", "--acked", acked});
    QVERIFY(sim.waitForFinished(120000));
    QCOMPARE(sim.exitCode(), 0);
    receiver.kill();
    receiver.waitForFinished();
    const QStringList labels = QString::fromUtf8(fileBytes(acked)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(labels.size() >= 1000);
    checkExactlyOnce(lab, labels, 1000);
    // Every byte the analyser sent is in the capture log.
    QString error;
    QVERIFY(CaptureLog::read(capture, '<', &error).size() > 1000 * 100);
}

// The receiver killed with SIGKILL at random moments and started again: no set the analyser
// heard acknowledged is lost, none is stored twice.
void TestReceiver::killedReceiverLosesNothing() {
    DbLab lab(DbLab::current());
    QVERIFY(makeLab(lab));
    const QString capture = lab.lab().path() + "/capture.log";
    int port = 0;
    auto receiver = std::make_unique<QProcess>();
    QVERIFY(startReceiver(*receiver, lab, "astm", &port, capture));
    const QString acked = lab.lab().path() + "/acked.txt";
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(kSimulator, {"--protocol", "astm", "--connect", QStringLiteral("127.0.0.1:%1").arg(port), "--generate",
                           "400", "--codes", "WBC,RBC,HGB", "--reply-timeout", "200", "--acked", acked});
    QRandomGenerator random(33);
    int kills = 0;
    while (!sim.waitForFinished(50 + random.bounded(250))) {
        receiver->kill(); // SIGKILL
        receiver->waitForFinished();
        ++kills;
        receiver = std::make_unique<QProcess>();
        QVERIFY(startReceiver(*receiver, lab, "astm", &port, capture));
        QVERIFY2(kills < 200, "the simulator did not finish");
    }
    QCOMPARE(sim.exitCode(), 0);
    receiver->kill();
    receiver->waitForFinished();
    QVERIFY(kills >= 2);
    const QStringList labels = QString::fromUtf8(fileBytes(acked)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    checkExactlyOnce(lab, labels, 400);
}

// An analyser on a serial line (here the other end of a pseudo-terminal): the same low level,
// one frame at a time, each answered.
void TestReceiver::throughSerialLine() {
    if (DbLab::current() != DbLab::Backend::SQLite)
        QSKIP("the line does not depend on the backend");
    DbLab lab(DbLab::current());
    QVERIFY(makeLab(lab));
    const int line = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(line >= 0 && grantpt(line) == 0 && unlockpt(line) == 0);
    QProcess receiver;
    receiver.start(kReceiver, {"--database", lab.connectionString(), "--machine", "1", "--protocol", "astm", "--serial",
                               QString::fromLocal8Bit(ptsname(line)), "--capture", lab.lab().path() + "/serial.log"});
    QVERIFY(receiver.waitForReadyRead(10000));
    QVERIFY(receiver.readAllStandardOutput().contains("este deschisa"));
    auto answer = [line]() {
        pollfd p{line, POLLIN, 0};
        char c = 0;
        return poll(&p, 1, 5000) == 1 && read(line, &c, 1) == 1 ? c : char(0);
    };
    auto send = [line](const QByteArray& bytes) {
        return write(line, bytes.constData(), size_t(bytes.size())) == bytes.size();
    };
    QVERIFY(send(QByteArray(1, AstmFrame::kEnq)));
    QCOMPARE(answer(), AstmFrame::kAck);
    int number = 1;
    for (const QByteArray& r : astm("1201", {"WBC=5", "RBC=6"}).split('\r')) {
        if (r.isEmpty())
            continue;
        for (const AstmFrame& f : AstmFrame::splitRecord(r + '\r', &number)) {
            QVERIFY(send(f.encode()));
            QCOMPARE(answer(), AstmFrame::kAck);
        }
    }
    QVERIFY(send(QByteArray(1, AstmFrame::kEot)));
    QTRY_COMPARE(
        count(lab,
              "SELECT COUNT(*) FROM RESULT_VALUES v JOIN RESULTS r ON r.ID = v.resultID WHERE r.RequestID = '1201'"),
        2);
    receiver.kill();
    receiver.waitForFinished();
    ::close(line);
}

// The database server stopped in the middle of a transfer: the analyser hears AE, and once the
// server is back every set arrives, once.
void TestReceiver::serverStoppedMidTransfer() {
    DbLab lab(DbLab::current());
    PgServerControl server;
    if (!lab.isPg() || !server.available())
        QSKIP("needs the PostgreSQL test server");
    QVERIFY(makeLab(lab));
    const QString capture = lab.lab().path() + "/capture.log";
    int port = 0;
    QProcess receiver;
    QVERIFY(startReceiver(receiver, lab, "hl7", &port, capture));
    const QString acked = lab.lab().path() + "/acked.txt";
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(kSimulator, {"--protocol", "hl7", "--connect", QStringLiteral("127.0.0.1:%1").arg(port), "--generate",
                           "3000", "--codes", "WBC,RBC,HGB", "--reply-timeout", "500", "--acked", acked});
    QTRY_VERIFY_WITH_TIMEOUT(fileBytes(acked).count('\n') > 100, 20000);
    QVERIFY(server.stop());
    QTest::qWait(1500);
    QVERIFY(server.start());
    lab.reopenAdmin();
    QVERIFY(sim.waitForFinished(120000));
    QCOMPARE(sim.exitCode(), 0);
    receiver.kill();
    receiver.waitForFinished();
    QString error;
    QVERIFY(CaptureLog::read(capture, '>', &error).contains("MSA|AE|"));
    const QStringList labels = QString::fromUtf8(fileBytes(acked)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    checkExactlyOnce(lab, labels, 3000);
}

QTEST_MAIN(TestReceiver)
#include "tst_receiver.moc"
