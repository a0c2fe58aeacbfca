// Result sets per second from an analyser's bytes to the committed rows: the receiver's whole
// chain (capture log, ASTM low level and records or HL7 over MLLP, mapping, duplicate checks,
// one transaction per message, the answer) beside the bare insert of the same rows (one
// transaction per set, prepared statements), in the same run, on SQLite and, when
// LABROSA_TEST_PG names a database, on PostgreSQL. An analyser sends a few sets a minute; a
// busy one, after a day offline, a few per second.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>

#include "AstmFrame.h"
#include "CaptureLog.h"
#include "DatabaseConnection.h"
#include "MllpFramer.h"
#include "ReceiverSession.h"
#include "ResultStore.h"

namespace {

const int kSetsPerRound = 200;
const char* const kCodes[] = {"WBC", "RBC", "HGB", "HCT", "PLT"};

// A fresh database of the program's with one analyser and its parameters; empty when it could
// not be made.
QString makeDatabase(const QTemporaryDir& dir, bool pg) {
    const QString cs = pg ? QString::fromLocal8Bit(qgetenv("LABROSA_TEST_PG"))
                          : QStringLiteral("Provider=SQLite;Data Source=%1").arg(dir.filePath("lab.db"));
    QProcess tool;
    tool.start(QStringLiteral(LABROSA_DBTOOL),
               pg ? QStringList{"--empty", "--force", cs} : QStringList{"--empty", dir.filePath("lab.db")});
    if (!tool.waitForFinished(120000) || tool.exitCode() != 0)
        return QString();
    DatabaseConnection db;
    if (!db.open(cs) || !db.execute("INSERT INTO ANALYSERS (MachineID, AnalyseName) VALUES (1, 'Hemo')"))
        return QString();
    for (const char* code : kCodes)
        if (!db.execute("INSERT INTO PARAMETERS (MachineID, refcode) VALUES (1, ?)", {QString::fromLatin1(code)}))
            return QString();
    return cs;
}

QByteArray hl7(int n) {
    QString text = QStringLiteral("MSH|^~\\&|Sim|Lab|Labrosa|Lab|20261209101500||ORU^R01|B%1|P|2.5.1\r"
                                  "PID|1||%1||Popescu^Rex||20200101|M\rOBR|1|%1||CBC\r")
                       .arg(n);
    int k = 0;
    for (const char* code : kCodes) {
        ++k;
        text += QStringLiteral("OBX|%1|NM|%2||%3|u|||||F\r").arg(k).arg(QLatin1String(code)).arg(n % 97 + k);
    }
    return MllpFramer::frame(text.toLatin1());
}

QByteArray astm(int n) {
    QString text = QStringLiteral("H|\\^&|||Sim\rP|1||||Popescu^Rex|||M\rO|1|%1||^^^ALL|R\r").arg(n);
    int k = 0;
    for (const char* code : kCodes) {
        ++k;
        text += QStringLiteral("R|%1|^^^%2|%3|u||N||F\r").arg(k).arg(QLatin1String(code)).arg(n % 97 + k);
    }
    text += QStringLiteral("L|1|N\r");
    QByteArray out(1, AstmFrame::kEnq);
    int number = 1;
    for (const QByteArray& r : text.toLatin1().split('\r'))
        if (!r.isEmpty())
            for (const AstmFrame& f : AstmFrame::splitRecord(r + '\r', &number))
                out += f.encode();
    return out + AstmFrame::kEot;
}

void chain(benchmark::State& state, bool pg, ReceiverSession::Protocol protocol) {
    QTemporaryDir dir;
    const QString cs = makeDatabase(dir, pg);
    DatabaseConnection db;
    if (cs.isEmpty() || !db.open(cs)) {
        state.SkipWithError("no database");
        return;
    }
    CaptureLog capture(dir.filePath("capture.log"));
    QString error;
    if (!capture.open(&error)) {
        state.SkipWithError("no capture log");
        return;
    }
    ResultStore store(&db, 1);
    ReceiverSession session(protocol, &store, &capture);
    int stored = 0, next = 0;
    QObject::connect(&session, &ReceiverSession::messageHandled,
                     [&](const StoreOutcome& o) { stored += o.setsStored; });
    for (auto _ : state) {
        state.PauseTiming();
        QList<QByteArray> messages;
        for (int i = 0; i < kSetsPerRound; ++i)
            messages << (protocol == ReceiverSession::Protocol::Hl7 ? hl7(++next) : astm(++next));
        state.ResumeTiming();
        for (const QByteArray& m : messages)
            session.receive(m);
    }
    if (stored != next)
        state.SkipWithError("a set was not stored");
    state.counters["sets/s"] = benchmark::Counter(stored, benchmark::Counter::kIsRate);
}

const char kSqlBareResultSqlite[] = "INSERT INTO RESULTS (RequestID, PacientName, TransDate, ProcDate, Age, SEX) "
                                    "VALUES (?, ?, ?, ?, ?, ?) RETURNING ID";
const char kSqlBareResultPostgres[] = "INSERT INTO RESULTS (RequestID, PacientName, TransDate, ProcDate, Age, SEX) "
                                      "VALUES (?, ?, CAST(? AS timestamp), CAST(? AS timestamp), ?, ?) RETURNING ID";
const char kSqlBareValue[] =
    "INSERT INTO RESULT_VALUES (resultID, MachineID, refcode, stringvalue) VALUES (?, ?, ?, ?)";

// The same rows, each set in its own transaction, and nothing else.
void bare(benchmark::State& state, bool pg) {
    QTemporaryDir dir;
    const QString cs = makeDatabase(dir, pg);
    DatabaseConnection db;
    if (cs.isEmpty() || !db.open(cs)) {
        state.SkipWithError("no database");
        return;
    }
    QSqlQuery result(db.connection()), value(db.connection());
    if (!result.prepare(QString::fromLatin1(pg ? kSqlBareResultPostgres : kSqlBareResultSqlite)) ||
        !value.prepare(QString::fromLatin1(kSqlBareValue))) {
        state.SkipWithError("prepare failed");
        return;
    }
    int next = 0;
    for (auto _ : state) {
        for (int i = 0; i < kSetsPerRound; ++i) {
            const int n = ++next;
            const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            bool ok = db.beginTransaction();
            const QVariantList row = {QString::number(n), QStringLiteral("Popescu Rex"), now, now, 6,
                                      QStringLiteral("M")};
            for (int k = 0; k < row.size(); ++k)
                result.bindValue(k, row.at(k));
            ok = ok && result.exec() && result.next();
            const int id = ok ? result.value(0).toInt() : 0;
            result.finish();
            int k = 0;
            for (const char* code : kCodes) {
                value.bindValue(0, id);
                value.bindValue(1, 1);
                value.bindValue(2, QString::fromLatin1(code));
                value.bindValue(3, QString::number(n % 97 + ++k));
                ok = ok && value.exec();
            }
            if (!ok || !db.commitTransaction()) {
                state.SkipWithError("insert failed");
                return;
            }
        }
    }
    state.counters["sets/s"] = benchmark::Counter(double(next), benchmark::Counter::kIsRate);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    const bool pg = !qgetenv("LABROSA_TEST_PG").isEmpty();
    for (bool onPg : {false, true}) {
        if (onPg && !pg)
            continue;
        const std::string backend = onPg ? "postgresql" : "sqlite";
        benchmark::RegisterBenchmark(("bare_insert/" + backend).c_str(), [onPg](benchmark::State& s) { bare(s, onPg); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("receiver_hl7/" + backend).c_str(),
                                     [onPg](benchmark::State& s) { chain(s, onPg, ReceiverSession::Protocol::Hl7); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("receiver_astm/" + backend).c_str(),
                                     [onPg](benchmark::State& s) { chain(s, onPg, ReceiverSession::Protocol::Astm); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
