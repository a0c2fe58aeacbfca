#include <QComboBox>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "CommentDialog.h"
#include "CorrectionJournal.h"
#include "ExplorerLab.h"
#include "PgRelay.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMainWindow>
#include <QScopeGuard>
#include <QStatusBar>

#include <future>
#include <mutex>

#ifdef LABROSA_HAVE_SQLITE3
#include <sqlite3.h>

#include "SqliteStatement.h"
#endif

using Ids = QList<qint64>;

namespace {

const QDate kDay(2026, 5, 10);

// Request 200 has two sets on 10 May (the second at 23:59:00) and continues on 11 May;
// request 201 shares the day; three sets carry identifiers whose leading number is 0. Sets
// 9 to 11 of request 200 were stored by another program, their dates in other shapes, sets 9
// and 10 with values of their own, so that each set's journal row shows what that set held;
// set 8 carries the identifier "-1" itself.
constexpr qint64 kLastId = 11;
bool fillEditLab(ExplorerLab& x) {
    return x.createEmpty() && x.addProfile(1, "Hemograma") && x.addProfile(2, "Biochimie") &&
           x.addProfile(3, "biochimie") && x.addResult(1, "200", "Ana", "2026-05-10 08:00:00", 30, "F", "vechi", 1) &&
           x.addResult(2, "200", "Ana", "2026-05-10 23:59:00", 30, "F", "vechi", 1) &&
           x.addResult(3, "200", "Ana", "2026-05-11 09:00:00", 30, "F", "vechi", 1) &&
           x.addResult(4, "201", "Bob", "2026-05-10 09:00:00", 50, "M", "altul", 2) &&
           x.addResult(5, "0", "Zero", "2026-05-10 10:00:00", 1, "F") &&
           x.addResult(6, "0", "Zero bis", "2026-05-10 10:30:00", 2, "F") &&
           x.addResult(7, "X7", "Litera", "2026-05-10 11:00:00", 3, "M") &&
           x.addResult(8, "-1", "Minus unu", "2026-05-10 12:00:00", 4, "M") &&
           x.addResult(9, "200", "ANA", "2026-05-10T13:00:00", 31, "f", "vechi (import)", 2) &&
           x.addResult(10, "200", "Ana P.", "2026-05-10", QVariant(), "F", QVariant(), 1) &&
           x.addResult(11, "200", "Ana", "2026-05-10T23:59:30", 30, "F", "vechi", 1);
}

bool startOnDay(ExplorerLab& x) {
    if (!fillEditLab(x) || !x.start())
        return false;
    x.search("", "", kDay, kDay.addDays(1));
    return x.list()->getItemCount() == kLastId;
}

// Runs action on the comment dialog once it is up; closes any modal left open so no test
// hangs. Each poll hands a copy of itself to the next timer, so nothing outlives the polling.
struct CommentDialogPoll {
    std::function<void(CommentDialog*)> action;
    int attempts = 0;
    void operator()() const {
        if (auto* dialog = qobject_cast<CommentDialog*>(QApplication::activeModalWidget())) {
            action(dialog);
            if (dialog->isVisible())
                dialog->reject();
        } else if (attempts < 500) {
            QTimer::singleShot(10, CommentDialogPoll{action, attempts + 1});
        }
    }
};
void whenCommentDialogOpens(std::function<void(CommentDialog*)> action) {
    QTimer::singleShot(0, CommentDialogPoll{std::move(action)});
}

QPlainTextEdit* commentEdit(CommentDialog* dialog) {
    return dialog->findChild<QPlainTextEdit*>("editComment");
}
void press(CommentDialog* dialog, const char* name) {
    QTest::mouseClick(dialog->findChild<QPushButton*>(name), Qt::LeftButton);
}

// Right-clicks the row of a record (or empty space when id is 0) and answers the dialog.
QString commentRoundTrip(ExplorerLab& x, qint64 id, const char* button, const QString& newText = QString(),
                         bool replace = true) {
    QString shown;
    whenCommentDialogOpens([&](CommentDialog* dialog) {
        QPlainTextEdit* edit = commentEdit(dialog);
        shown = edit->toPlainText();
        if (replace)
            edit->clear();
        const QStringList lines = newText.split('\n');
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0)
                QTest::keyClick(edit, Qt::Key_Return);
            QTest::keyClicks(edit, lines[i]);
        }
        press(dialog, button);
    });
    if (id) {
        x.selectRow(x.rowOf(id));
        x.clickCell(x.rowOf(id), 1, Qt::RightButton);
    } else {
        // Empty space below the last row.
        x.list()->clearSelection();
        QTest::mouseClick(x.list()->viewport(), Qt::RightButton, Qt::NoModifier,
                          QPoint(5, x.list()->viewport()->height() - 3));
    }
    return shown;
}

#ifdef LABROSA_HAVE_SQLITE3
int foreignKeysOn(sqlite3* db, char**, const sqlite3_api_routines*) {
    return sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
}
#endif

} // namespace

class TestExplorerEdit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { DbLab::addBackends(); }

    void scopeOfEdits_data() {
        QTest::addColumn<qint64>("editedId");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<Ids>("updated");

        const QVariant null;
        QTest::newRow("name: request of that day") << qint64(1) << 1 << "Ana Maria"
                                                   << "PacientName" << QVariant("Ana Maria") << Ids{1, 2, 9, 10};
        QTest::newRow("name from the 23:59 set") << qint64(2) << 1 << "Ana M"
                                                 << "PacientName" << QVariant("Ana M") << Ids{1, 2, 9, 10};
        QTest::newRow("name from a set dated with T") << qint64(9) << 1 << "Ana T"
                                                      << "PacientName" << QVariant("Ana T") << Ids{1, 2, 9, 10};
        QTest::newRow("age") << qint64(1) << 2 << "45"
                             << "Age" << QVariant(45) << Ids{1, 2, 9, 10};
        QTest::newRow("age with blanks and sign") << qint64(4) << 2 << " +7 "
                                                  << "Age" << QVariant(7) << Ids{4};
        QTest::newRow("age cleared is NULL") << qint64(1) << 2 << ""
                                             << "Age" << null << Ids{1, 2, 9, 10};
        QTest::newRow("age 0") << qint64(4) << 2 << "0"
                               << "Age" << QVariant(0) << Ids{4};
        QTest::newRow("sex") << qint64(3) << 3 << "M"
                             << "SEX" << QVariant("M") << Ids{3};
        QTest::newRow("request id: one record") << qint64(1) << 0 << "300"
                                                << "RequestID" << QVariant("300") << Ids{1};
        // A cell left as it was read is no correction, not even of a NULL shown empty.
        QTest::newRow("unchanged text writes nothing") << qint64(4) << 1 << "Bob"
                                                       << "PacientName" << QVariant("Bob") << Ids{};
        QTest::newRow("NULL age left empty writes nothing") << qint64(10) << 2 << ""
                                                            << "Age" << null << Ids{};
        QTest::newRow("-1 rule: id 0 alone") << qint64(5) << 1 << "Zero nou"
                                             << "PacientName" << QVariant("Zero nou") << Ids{5};
        QTest::newRow("-1 rule: letters alone") << qint64(7) << 2 << "9"
                                                << "Age" << QVariant(9) << Ids{7};
        // Quotes, statement separators, comment markers and wildcards are stored as typed.
        QTest::newRow("quote and statement in name")
            << qint64(1) << 1 << "O'Hara'; DELETE FROM RESULTS; --"
            << "PacientName" << QVariant("O'Hara'; DELETE FROM RESULTS; --") << Ids{1, 2, 9, 10};
        QTest::newRow("condition in sex") << qint64(4) << 3 << "F'OR'1'='1"
                                          << "SEX" << QVariant("F'OR'1'='1") << Ids{4};
        QTest::newRow("wildcards in request id") << qint64(4) << 0 << "2%_01' --"
                                                 << "RequestID" << QVariant("2%_01' --") << Ids{4};
        QTest::newRow("keywords in request id") << qint64(5) << 0 << "1 OR 1=1; DROP TABLE RESULTS"
                                                << "RequestID" << QVariant("1 OR 1=1; DROP TABLE RESULTS") << Ids{5};
    }
    void scopeOfEdits() {
        QFETCH(qint64, editedId);
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(QString, field);
        QFETCH(QVariant, stored);
        QFETCH(Ids, updated);

        ExplorerLab x;
        QVERIFY(startOnDay(x));
        QMap<qint64, QVariant> before;
        for (qint64 id = 1; id <= kLastId; ++id)
            before[id] = x.field(id, field);
        const int count = x.dumpResults().size();
        QVERIFY(x.logUpdates());

        QVERIFY(typeIntoCell(x, editedId, column, text));
        QCoreApplication::processEvents(); // the list hears of the end through a posted call
        QTRY_COMPARE(x.updatedIds(), updated);
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(x.dumpResults().size(), count);
        for (qint64 id = 1; id <= kLastId; ++id)
            QCOMPARE(x.field(id, field), updated.contains(id) ? stored : before[id]);
        // One journal row for each set whose value changed, with what it was and what it is.
        QStringList journal;
        auto shown = [](const QVariant& v) { return v.isNull() ? QStringLiteral("<NULL>") : v.toString(); };
        for (qint64 id : updated) {
            if (shown(before[id]) != shown(stored))
                journal << QStringLiteral("%1|%2|%3|%4").arg(id).arg(field, shown(before[id]), shown(stored));
        }
        QCOMPARE(x.journalRows(), journal);
        // The list was searched again and shows what is stored.
        const int row = x.rowOf(editedId);
        if (row >= 0)
            QCOMPARE(x.list()->getItemText(row, column), stored.isNull() ? QString() : stored.toString());
        else
            QCOMPARE(column, 0);
    }

    void refusedEdits_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hint");
        QTest::newRow("age letters") << 2 << "abc"
                                     << "Varsta";
        QTest::newRow("age trailing letter") << 2 << "12a"
                                             << "Varsta";
        QTest::newRow("age statement") << 2 << "1; DELETE FROM RESULTS"
                                       << "Varsta";
        QTest::newRow("age decimal") << 2 << "1.5"
                                     << "Varsta";
        QTest::newRow("age negative") << 2 << "-3"
                                      << "Varsta";
        QTest::newRow("age too old") << 2 << "151"
                                     << "Varsta";
        QTest::newRow("request id empty") << 0 << ""
                                          << "ID";
        QTest::newRow("request id blank") << 0 << "   "
                                          << "ID";
        QTest::newRow("request id too long") << 0 << QString(50, '4') << "ID";
        QTest::newRow("name too long") << 1 << QString(200, 'n') << "199";
        QTest::newRow("sex too long") << 3 << "femela mare"
                                      << "10";
    }
    void refusedEdits() {
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(QString, hint);
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        const QStringList dump = x.dumpResults();
        const QString shown = x.list()->getItemText(x.rowOf(1), column);

        QVERIFY(x.logUpdates());
        QVERIFY(typeIntoCell(x, 1, column, text));
        QTRY_COMPARE(x.messages.size(), 1);
        QCOMPARE(x.updatedIds(), Ids{});
        QVERIFY2(x.messages[0].contains(hint), qPrintable(x.messages[0]));
        QCOMPARE(x.dumpResults(), dump);
        QTRY_COMPARE(x.list()->getItemText(x.rowOf(1), column), shown);
    }

    void failedUpdateRestoresTheList() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        QVERIFY(x.lab.refuseUpdates());
        const QStringList dump = x.dumpResults();
        QVERIFY(typeIntoCell(x, 1, 1, "Nu se salveaza"));
        QTRY_COMPARE(x.messages.size(), 1);
        QVERIFY2(x.messages[0].startsWith("Failed tu update\n"), qPrintable(x.messages[0]));
        QCOMPARE(x.dumpResults(), dump);
        QCOMPARE(x.list()->getItemText(x.rowOf(1), 1), QString("Ana"));
        QCOMPARE(x.journalRows(), QStringList());
    }

    // A correction whose journal row cannot be written is not made.
    void correctionWithoutItsJournalRowIsNotMade() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        QVERIFY(x.lab.createTrigger("journal_refuses", "BEFORE INSERT",
                                    x.lab.isPg() ? "RAISE EXCEPTION 'journal full';"
                                                 : "SELECT RAISE(ABORT, 'journal full');",
                                    "CORRECTION_JOURNAL"));
        const QStringList dump = x.dumpResults();
        QVERIFY(typeIntoCell(x, 1, 1, "Nu se salveaza"));
        QTRY_COMPARE(x.messages.size(), 1);
        QVERIFY2(x.messages[0].contains("journal full"), qPrintable(x.messages[0]));
        QCOMPARE(x.dumpResults(), dump);
        QCOMPARE(x.journalRows(), QStringList());
        QVERIFY(x.lab.exec("DROP TRIGGER journal_refuses" + QString(x.lab.isPg() ? " ON CORRECTION_JOURNAL" : "")));
    }

    // A correction or a comment that fails, wherever in its transaction, leaves what the user
    // typed in the error log; when not even the log can be written, the message shows it.
    void failedCorrectionKeepsItsValues_data() {
        QTest::addColumn<bool>("comment"); // through the comment dialog rather than a cell
        // locked: another workstation holds the sets; journal: the journal row is refused;
        // update: the UPDATE is refused; commit: a check deferred to the commit fails
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("fullLog"); // the error log lies on a full disk
        QTest::newRow("cell, another workstation writing") << false << "locked" << false;
        QTest::newRow("comment, another workstation writing") << true << "locked" << false;
        QTest::newRow("cell, journal row refused") << false << "journal" << false;
        QTest::newRow("comment, commit refused") << true << "commit" << false;
        QTest::newRow("cell, log on a full disk") << false << "update" << true;
        QTest::newRow("comment, log on a full disk") << true << "locked" << true;
    }
    void failedCorrectionKeepsItsValues() {
        QFETCH(bool, comment);
        QFETCH(QString, failure);
        QFETCH(bool, fullLog);
        if (fullLog && !QFileInfo(QStringLiteral("/dev/full")).isWritable())
            QSKIP("no writable /dev/full to stand for a full disk");
        ExplorerLab x;
        QVERIFY(startOnDay(x));
#ifdef LABROSA_HAVE_SQLITE3
        const auto keysUnchecked =
            qScopeGuard([] { sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&foreignKeysOn)); });
#endif
        const QString log = fullLog ? QStringLiteral("/dev/full") : QStringLiteral("_database_err.log");
        x.database.setLogFile(log);
        const QStringList dump = x.dumpResults();
        const bool pg = x.lab.isPg();
        if (failure == "locked") {
            // SQLite refuses the write lock at BEGIN, PostgreSQL the set at the read of old values;
            // this workstation, whose limits say so, gives up at once instead of after the usual wait.
            QVERIFY(x.lab.exec(pg ? "BEGIN" : "BEGIN IMMEDIATE"));
            QVERIFY(x.lab.exec(pg ? "SELECT ID FROM RESULTS WHERE ID = 2 FOR UPDATE"
                                  : "UPDATE RESULTS SET SEX = SEX WHERE ID = 2"));
            QVERIFY(x.database.open(x.lab.connectionString() + ";Lock Timeout=0.001;Busy Timeout=0"));
        } else if (failure == "journal") {
            QVERIFY(x.lab.createTrigger("journal_refuses", "BEFORE INSERT",
                                        pg ? "RAISE EXCEPTION 'journal full';" : "SELECT RAISE(ABORT, 'journal full');",
                                        "CORRECTION_JOURNAL"));
        } else if (failure == "commit") {
            // Each journal row adds a row whose reference is checked only at the commit, and fails.
            QVERIFY(x.lab.exec("DROP TABLE IF EXISTS test_child"));
            QVERIFY(x.lab.createTable("test_parent", "id INTEGER PRIMARY KEY"));
            QVERIFY(x.lab.createTable("test_child",
                                      "parent INTEGER REFERENCES test_parent (id) DEFERRABLE INITIALLY DEFERRED"));
            QVERIFY(x.lab.createTrigger("journal_checked_late", "AFTER INSERT", "INSERT INTO test_child VALUES (0);",
                                        "CORRECTION_JOURNAL"));
            if (!pg) {
#ifdef LABROSA_HAVE_SQLITE3
                // Every connection the program opens from now on checks references.
                QVERIFY(sqlite3_auto_extension(reinterpret_cast<void (*)()>(&foreignKeysOn)) == SQLITE_OK);
#else
                QSKIP("a commit of SQLite fails only on a deferred check of references");
#endif
            }
        } else {
            QVERIFY(x.lab.refuseUpdates());
        }
        const QString field = comment ? "comment" : "PacientName";
        const QString text = comment ? "Proba de pastrat" : "Nume de pastrat";
        if (comment) {
            commentRoundTrip(x, 1, "buttonOk", text);
        } else {
            x.list()->setItemText(x.rowOf(1), 1, text);
            x.view->onGridEditDone(x.rowOf(1), 1);
        }
        if (failure == "locked")
            QVERIFY(x.lab.exec("ROLLBACK"));
        else if (failure == "journal")
            QVERIFY(x.lab.exec("DROP TRIGGER journal_refuses" + QString(pg ? " ON CORRECTION_JOURNAL" : "")));
        else if (failure == "commit")
            QVERIFY(x.lab.exec("DROP TRIGGER journal_checked_late" + QString(pg ? " ON CORRECTION_JOURNAL" : "")));

        QCOMPARE(x.messages.size(), 1);
        const QString& message = x.messages[0];
        QVERIFY2(message.startsWith(comment ? "Comentariul nu a fost salvat.\n" : "Failed tu update\n"),
                 qPrintable(message));
        QCOMPARE(x.dumpResults(), dump);
        QCOMPARE(x.journalRows(), QStringList());
        // The statement with the values as they would be typed again, the new value first.
        const QString entry = "UPDATE RESULTS SET " + field + " = ? WHERE ";
        const QString values = "\nValues: '" + text + "', ";
        if (fullLog) {
            QVERIFY2(message.contains("jurnalul de erori /dev/full nu a putut fi scris (No space left on device)"),
                     qPrintable(message));
            QVERIFY2(message.contains(entry) && message.contains(values), qPrintable(message));
        } else {
            QVERIFY2(!message.contains("jurnalul de erori"), qPrintable(message));
            const QString written = QString::fromUtf8(fileBytes(log));
            const qsizetype at = written.indexOf("]->" + entry);
            QVERIFY2(at >= 0 && written.indexOf(values, at) > at, qPrintable(written));
        }
    }

    // The question whether the journal exists fails while another workstation writes to a
    // database kept with a rollback journal: the correction is refused, never stored without
    // its journal row, and the next one asks again.
    void failedJournalQuestionRefusesTheCorrection() {
        ExplorerLab x;
        if (x.lab.isPg())
            QSKIP("a question that fails on a locked file is SQLite's");
#ifndef LABROSA_HAVE_SQLITE3
        QSKIP("the test needs the SQLite library to hold the other workstation's lock");
#else
        QVERIFY(fillEditLab(x));
        QVERIFY(x.lab.exec("PRAGMA journal_mode=DELETE"));
        QVERIFY(x.database.open(x.lab.connectionString()));
        x.database.setLogFile("_database_err.log");
        sqlite3* handle = SqliteStatement::handleOf(x.database.connection());
        QVERIFY(handle);
        // The other workstation holds the file: at start-up the questions fail at once; later it
        // lets go as soon as the correction's question has failed, before anything is written.
        struct OtherWorkstation {
            DbLab* lab;
            bool letGo = false;
            int waits = 0;
        } other{&x.lab};
        QVERIFY(x.lab.exec("BEGIN EXCLUSIVE"));
        sqlite3_busy_handler(
            handle,
            [](void* p, int) {
                auto* o = static_cast<OtherWorkstation*>(p);
                if (o->letGo && o->waits++ == 0)
                    o->lab->exec("ROLLBACK");
                return 0;
            },
            &other);
        {
            // The start-up does not take the failed question for a database without the journal.
            QMainWindow frame;
            x.sharedState.m_database = &x.database;
            auto* view = new ResultsWindow(&x.sharedState);
            frame.setCentralWidget(view);
            frame.show();
            view->onInitialUpdate();
            QVERIFY(!x.messages.isEmpty());
            QVERIFY2(!frame.statusBar()->currentMessage().contains("jurnal"),
                     qPrintable(frame.statusBar()->currentMessage()));
        }
        x.messages.clear();
        other.letGo = true;
        CorrectionJournal journal(&x.database);
        QVERIFY(!journal.apply("PacientName", "Ana Maria", "ID = ?", {1}));
        QCOMPARE(other.waits, 1);
        QVERIFY2(journal.errorText().contains("locked"), qPrintable(journal.errorText()));
        QCOMPARE(x.field(1, "PacientName"), QVariant("Ana"));
        QVERIFY(fileBytes("_database_err.log")
                    .contains("]->UPDATE RESULTS SET PacientName = ? WHERE ID = ?\nValues: 'Ana Maria', 1"));

        QVERIFY2(journal.apply("PacientName", "Ana Maria", "ID = ?", {1}), qPrintable(journal.errorText()));
        QCOMPARE(x.journalRows(), QStringList{"1|PacientName|Ana|Ana Maria"});
#endif
    }

    // The server stops and starts again while a correction is open: the correction fails with
    // the server-away message, nothing of it stays, and the next search and correction work.
    void serverRestartInsideACorrection() {
        ExplorerLab x;
        if (!x.lab.isPg())
            QSKIP("only a database server can go away");
        PgServerControl server;
        if (!server.available())
            QSKIP("LABROSA_PG_BIN, LABROSA_PG_DATA and LABROSA_PG_PORT are needed to restart the server");
        QVERIFY(startOnDay(x));
        const QStringList dump = x.dumpResults();
        // The journal asks the time between the correction's UPDATE and its journal rows.
        bool restarted = false;
        CorrectionJournal::setClock([&] {
            if (!restarted)
                restarted = server.stop() && server.start();
            return QDateTime::currentDateTimeUtc();
        });
        const auto restoreClock = qScopeGuard([] { CorrectionJournal::setClock(nullptr); });
        x.list()->setItemText(x.rowOf(1), 1, "Nu ajunge");
        x.view->onGridEditDone(x.rowOf(1), 1);
        QVERIFY(restarted);
        QCOMPARE(x.messages.size(), 1);
        QVERIFY2(x.messages[0].startsWith("Failed tu update\n") && x.messages[0].contains("serverul bazei de date"),
                 qPrintable(x.messages[0]));
        // The refresh after the failed correction already searched on a new connection.
        QCOMPARE(x.list()->getItemCount(), int(kLastId));
        x.lab.reopenAdmin();
        QCOMPARE(x.dumpResults(), dump);
        QCOMPARE(x.journalRows(), QStringList());

        x.messages.clear();
        x.list()->setItemText(x.rowOf(4), 1, "Bob M");
        x.view->onGridEditDone(x.rowOf(4), 1);
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(x.field(4, "PacientName"), QVariant("Bob M"));
        QCOMPARE(x.journalRows(), QStringList{"4|PacientName|Bob|Bob M"});
    }

    // Two workstations correct one request over and over, each from another of its sets and by
    // cell and comment alike: they take the sets in one order, so none is refused for a deadlock,
    // and every correction keeps its journal rows.
    void twoWorkstationsOnOneRequest() {
        ExplorerLab x;
        if (!x.lab.isPg())
            QSKIP("SQLite lets one workstation write at a time; a deadlock is the server's");
        QVERIFY(fillEditLab(x));
        const QString connection = x.lab.connectionString();
        constexpr int kRounds = 150;
        std::mutex guard;
        QStringList failures;
        auto workstation = [&](int which) {
            DatabaseConnection database;
            if (!database.open(connection)) {
                const std::lock_guard<std::mutex> lock(guard);
                failures << database.errorText();
                return;
            }
            CorrectionJournal journal(&database);
            QVariantList dayValues;
            const QString sameDay =
                database.dialect().dayRangeCondition("TransDate", "2026/5/10", "2026/5/10", &dayValues);
            // The scopes of the list: the request of that day from a set, the whole request
            // for a comment.
            const qint64 from = which == 0 ? 1 : 10;
            const QString ofDay = "ID = ? OR (RequestID = ? AND " + sameDay + ")";
            const QString request =
                "RequestID = ? AND EXISTS (SELECT 1 FROM RESULTS AS clicked WHERE clicked.ID = ? AND "
                "clicked.RequestID = ?)";
            for (int round = 0; round < kRounds; ++round) {
                const QString value = QStringLiteral("%1-%2").arg(which).arg(round);
                const bool ok = round % 2 == which
                                    ? journal.apply("PacientName", value, ofDay, QVariantList{from, "200"} + dayValues)
                                    : journal.apply("comment", value, request, {"200", from, "200"});
                if (!ok) {
                    const std::lock_guard<std::mutex> lock(guard);
                    failures << journal.errorText();
                }
            }
        };
        std::thread first(workstation, 0), second(workstation, 1);
        first.join();
        second.join();
        QCOMPARE(failures, QStringList());
        // Each correction of the name wrote four journal rows, each of the comment six.
        QCOMPARE(x.journalRows().size(), kRounds * (4 + 6));
    }

    // A deadlock that still happens (with another program that locks things its own way) is
    // tried once more: the correction is stored with its journal rows, not refused.
    void deadlockIsTriedAgain() {
        ExplorerLab x;
        if (!x.lab.isPg())
            QSKIP("SQLite lets one workstation write at a time; a deadlock is the server's");
        QVERIFY(fillEditLab(x));
        // The first correction's UPDATE waits for a lock the other program holds; a retry does not.
        QVERIFY(x.lab.exec("DROP SEQUENCE IF EXISTS test_first_update"));
        QVERIFY(x.lab.exec("CREATE SEQUENCE test_first_update"));
        QVERIFY(x.lab.createTrigger("test_waits_once", "BEFORE UPDATE",
                                    "IF nextval('test_first_update') = 1 THEN PERFORM pg_advisory_xact_lock(42); "
                                    "END IF;"));
        QVERIFY(x.database.open(x.lab.connectionString()));
        QSqlQuery pid(x.database.connection());
        QVERIFY(pid.exec("SELECT pg_backend_pid()") && pid.next());
        const int ownPid = pid.value(0).toInt();
        pid.finish();
        // The other program holds that lock, waits until this workstation holds set 1 and waits
        // for it, then asks for set 1. It waits long before it looks for a deadlock, so the
        // server ends this workstation's transaction, not the other's.
        std::promise<void> holdsLock;
        QString otherError;
        DbLab& lab = x.lab;
        std::thread other([&] {
            {
                QSqlDatabase db = lab.addConnection(QStringLiteral("other-program"));
                QSqlQuery q(db);
                bool ok = db.open() && q.exec("BEGIN") && q.exec("SET LOCAL deadlock_timeout = '60s'") &&
                          q.exec("SELECT pg_advisory_xact_lock(42)");
                holdsLock.set_value();
                ok = ok &&
                     q.exec(QStringLiteral("DO $$ BEGIN WHILE NOT EXISTS (SELECT 1 FROM pg_locks WHERE pid = %1 "
                                           "AND NOT granted) LOOP PERFORM pg_sleep(0.01); END LOOP; "
                                           "PERFORM ID FROM RESULTS WHERE ID = 1 FOR UPDATE; END $$")
                                .arg(ownPid)) &&
                     q.exec("COMMIT");
                if (!ok)
                    otherError = q.lastError().text() + db.lastError().text();
                q.finish();
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("other-program"));
        });
        holdsLock.get_future().wait();
        x.database.setLogFile("_database_err.log");
        CorrectionJournal journal(&x.database);
        const bool applied = journal.apply("PacientName", "Ana Maria", "RequestID = ? AND ID IN (1, 2)", {"200"});
        other.join();
        QVERIFY2(applied, qPrintable(journal.errorText()));
        QCOMPARE(otherError, QString());
        QVERIFY(fileBytes("_database_err.log").contains("deadlock detected"));
        QCOMPARE(x.journalRows(), QStringList({"1|PacientName|Ana|Ana Maria", "2|PacientName|Ana|Ana Maria"}));
    }

    // A workstation that stopped in the middle of a correction holds sets of the request: another
    // workstation's correction of it gives up within its limit, names the request and the
    // workstation holding it, and stores nothing.
    void lockHeldByAStoppedWorkstation() {
        ExplorerLab x;
        if (!x.lab.isPg())
            QSKIP("the server names the workstation; an SQLite wait is given up in the window");
        QVERIFY(startOnDay(x));
        QVERIFY(x.database.open(x.lab.connectionString() + ";Lock Timeout=0.3"));
        const QStringList dump = x.dumpResults();
        // This workstation too names its sessions to the server.
        QVERIFY(x.lab
                    .scalar("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = ?",
                            {DatabaseConnection::sessionName()})
                    .toInt() >= 1);
        {
            QSqlDatabase other = x.lab.addConnection(QStringLiteral("stopped-workstation"));
            QSqlQuery q(other);
            QVERIFY(other.open() && q.exec("SET application_name = 'statia-2/maria'") && q.exec("BEGIN") &&
                    q.exec("UPDATE RESULTS SET comment = 'oprita' WHERE ID = 2"));
            QElapsedTimer waited;
            waited.start();
            x.list()->setItemText(x.rowOf(1), 1, "Ana Maria");
            x.view->onGridEditDone(x.rowOf(1), 1);
            QVERIFY2(waited.elapsed() < 3000, qPrintable(QString::number(waited.elapsed())));
            QVERIFY(q.exec("ROLLBACK"));
            q.finish();
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("stopped-workstation"));
        QCOMPARE(x.messages, QStringList{"Failed tu update\nCererea 200 este corectata chiar acum pe statia statia-2 "
                                         "(utilizatorul maria), asa ca aceasta corectura nu a fost salvata. Incercati "
                                         "din nou dupa ce se termina corectura de acolo."});
        QCOMPARE(x.dumpResults(), dump);
        QCOMPARE(x.journalRows(), QStringList());
    }

    // The server's answer to a COMMIT never comes: the program reaches the server again and tells
    // from the journal whether the correction was stored. The answer lost on the way back, it
    // was; the COMMIT held back until the server ended the idle transaction, it was not.
    void lostCommitAnswerIsToldTruthfully_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("stored");
        QTest::newRow("answer dropped") << int(PgRelay::Mode::DropCommitAnswer) << true;
        QTest::newRow("commit held, transaction ended by the server") << int(PgRelay::Mode::HoldCommit) << false;
    }
    void lostCommitAnswerIsToldTruthfully() {
        QFETCH(int, mode);
        QFETCH(bool, stored);
        ExplorerLab x;
        if (!x.lab.isPg())
            QSKIP("only a database server's answer can be lost");
        QVERIFY(fillEditLab(x));
        const quint16 serverPort = ConnectionString::parse(x.lab.connectionString()).value("port").toUShort();
        PgRelay relay(serverPort ? serverPort : 5432, PgRelay::Mode(mode));
        const quint16 port = relay.listen();
        QVERIFY(port != 0);
        QVERIFY(x.database.open(x.lab.connectionString() +
                                QStringLiteral(";Port=%1;Idle Transaction Timeout=0.3").arg(port)));
        CorrectionJournal journal(&x.database);
        QElapsedTimer waited;
        waited.start();
        const bool applied = journal.apply("PacientName", "Ana Maria", "RequestID = ? AND ID IN (1, 2)", {"200"});
        QVERIFY(relay.fired());
        QVERIFY2(waited.elapsed() < 5000, qPrintable(QString::number(waited.elapsed())));
        QVERIFY(journal.commitAnswerLost());
        QVERIFY(!journal.outcomeUnknown());
        QCOMPARE(applied, stored);
        QCOMPARE(x.journalRows(),
                 stored ? QStringList({"1|PacientName|Ana|Ana Maria", "2|PacientName|Ana|Ana Maria"}) : QStringList());
        QCOMPARE(x.field(2, "PacientName"), QVariant(stored ? "Ana Maria" : "Ana"));
    }

    void profileFromTheDropDown() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        auto* combo = qobject_cast<QComboBox*>(startEditing(x, x.rowOf(1), 6));
        QVERIFY(combo);
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, QStringList({"Biochimie", "Hemograma", "biochimie"}));
        combo->setCurrentIndex(combo->findText("biochimie"));
        QTest::keyClick(combo, Qt::Key_Return);
        QTRY_COMPARE(x.field(1, "profileID"), QVariant(3));
        QCOMPARE(x.field(2, "profileID"), QVariant(3));
        QCOMPARE(x.field(3, "profileID"), QVariant(1));
        QCOMPARE(x.field(4, "profileID"), QVariant(2));
        QTRY_COMPARE(x.list()->getItemText(x.rowOf(1), 6), QString("biochimie"));
        QVERIFY(x.messages.isEmpty());
    }

    void unknownProfileNameWritesNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("no such profile") << "Urina";
        QTest::newRow("case differs") << "HEMOGRAMA";
        QTest::newRow("empty") << "";
    }
    void unknownProfileNameWritesNothing() {
        QFETCH(QString, name);
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        const QStringList dump = x.dumpResults();
        QVERIFY(x.logUpdates());
        const int row = x.rowOf(4);
        x.list()->setItemText(row, 6, name);
        x.view->onGridEditDone(row, 6);
        QCOMPARE(x.updatedIds(), Ids{});
        QCOMPARE(x.dumpResults(), dump);
        QVERIFY(x.messages.isEmpty());
        QCOMPARE(x.list()->getItemText(x.rowOf(4), 6), QString("Biochimie"));
    }

    void commentForEveryDateOfTheRequest() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        const QString text = "Proba hemolizata; repetati 'urgent' -- 100% _ DROP TABLE RESULTS";
        QVERIFY(x.logUpdates());
        QCOMPARE(commentRoundTrip(x, 1, "buttonOk", text), QString("vechi"));
        QCOMPARE(x.updatedIds(), Ids({1, 2, 3, 9, 10, 11}));
        // Each set's journal row holds what that set held.
        QStringList journal;
        for (const QString old : {"1|vechi", "2|vechi", "3|vechi", "9|vechi (import)", "10|<NULL>", "11|vechi"})
            journal << old.section('|', 0, 0) + "|comment|" + old.section('|', 1) + "|" + text;
        QCOMPARE(x.journalRows(), journal);
        QVERIFY(x.messages.isEmpty());
        for (qint64 id : {1, 2, 3})
            QCOMPARE(x.field(id, "comment"), QVariant(text));
        QCOMPARE(x.field(4, "comment"), QVariant("altul"));
        QCOMPARE(x.field(5, "comment"), QVariant());
        // Only the clicked row shows it until the next search.
        QCOMPARE(x.list()->getItemText(x.rowOf(1), 5), text);
        QCOMPARE(x.list()->getItemText(x.rowOf(2), 5), QString("vechi"));
        QTest::mouseClick(x.searchButton(), Qt::LeftButton);
        QCOMPARE(x.list()->getItemText(x.rowOf(2), 5), text);
    }

    void commentWithLineBreaksAndEmptyText() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        // "0" names no request: the comment stays with the record, not every "0" of every date.
        QVERIFY(x.logUpdates());
        QCOMPARE(commentRoundTrip(x, 5, "buttonOk", "rand 1\nrand 2"), QString());
        QCOMPARE(x.updatedIds(), Ids{5});
        QCOMPARE(x.field(5, "comment"), QVariant("rand 1\nrand 2"));
        QCOMPARE(x.field(6, "comment"), QVariant());

        // An empty comment is stored as empty text, not NULL.
        commentRoundTrip(x, 5, "buttonOk", "");
        QCOMPARE(x.field(5, "comment"), QVariant(QString("")));
        QVERIFY(!x.field(5, "comment").isNull());
    }

    void commentCancelOrNoRowChangesNothing() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        const QStringList dump = x.dumpResults();
        QVERIFY(x.logUpdates());
        commentRoundTrip(x, 1, "buttonCancel", "nu");
        QCOMPARE(x.updatedIds(), Ids{});
        QCOMPARE(x.dumpResults(), dump);
        QCOMPARE(x.list()->getItemText(x.rowOf(1), 5), QString("vechi"));

        QCOMPARE(commentRoundTrip(x, 0, "buttonOk", "fara rand"), QString());
        QCOMPARE(x.updatedIds(), Ids{});
        QCOMPARE(x.dumpResults(), dump);
        QVERIFY(x.messages.isEmpty());

        // OK on the comment as shown is no correction: a NULL comment (an empty box) does not
        // become empty text, and an unchanged request comment does not spread to the request's
        // other sets.
        QCOMPARE(commentRoundTrip(x, 5, "buttonOk", QString(), false), QString());
        QCOMPARE(commentRoundTrip(x, 1, "buttonOk", QString(), false), QString("vechi"));
        // Changed and typed back is unchanged as well.
        QCOMPARE(commentRoundTrip(x, 1, "buttonOk", "vechi"), QString("vechi"));
        QCOMPARE(x.updatedIds(), Ids{});
        QCOMPARE(x.dumpResults(), dump);
        QCOMPARE(x.journalRows(), QStringList());
        QVERIFY(x.field(5, "comment").isNull());
        QVERIFY(x.messages.isEmpty());
    }

    // Several rows selected: the comment is the one of the row under the pointer.
    void rightClickInsideASelection() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        x.selectRow(x.rowOf(1));
        QTest::mouseClick(x.list()->viewport(), Qt::LeftButton, Qt::ControlModifier, x.cellCentre(x.rowOf(4), 0));
        QCOMPARE(x.list()->selectionModel()->selectedRows().size(), 2);
        QString shown;
        whenCommentDialogOpens([&](CommentDialog* dialog) {
            shown = commentEdit(dialog)->toPlainText();
            QTest::keyClicks(commentEdit(dialog), " nou");
            press(dialog, "buttonOk");
        });
        x.clickCell(x.rowOf(4), 1, Qt::RightButton);
        QCOMPARE(shown, QString("altul"));
        QCOMPARE(x.field(4, "comment"), QVariant("altul nou"));
        QCOMPARE(x.field(1, "comment"), QVariant("vechi"));
    }

    // Another workstation gave the record a new identifier after this search: nothing is
    // written, neither to the record nor to the rest of its old request, and the user is told.
    void commentOnARecordMovedElsewhere() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        QVERIFY(x.lab.exec("UPDATE RESULTS SET RequestID = '999' WHERE ID = 1"));
        QVERIFY(x.logUpdates());
        commentRoundTrip(x, 1, "buttonOk", "nou");
        QCOMPARE(x.updatedIds(), Ids{});
        QCOMPARE(x.messages.size(), 1);
        QVERIFY2(x.messages[0].contains("nu a fost salvat"), qPrintable(x.messages[0]));
        QCOMPARE(x.list()->getItemText(x.rowOf(1), 5), QString("vechi"));
        QCOMPARE(x.field(2, "comment"), QVariant("vechi"));
    }

    void failedCommentKeepsTheRow() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        QVERIFY(x.lab.refuseUpdates());
        const QStringList dump = x.dumpResults();
        commentRoundTrip(x, 1, "buttonOk", "nou");
        QCOMPARE(x.messages.size(), 1);
        QVERIFY(x.messages[0].contains("Comentariul"));
        QCOMPARE(x.dumpResults(), dump);
        QCOMPARE(x.list()->getItemText(x.rowOf(1), 5), QString("vechi"));
    }

    // Two program instances on one database: what one stores, the other's next search shows.
    void secondInstanceSeesTheEdit() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        DatabaseConnection otherDatabase;
        QVERIFY(otherDatabase.open(x.lab.connectionString()));
        SharedState otherState;
        otherState.m_database = &otherDatabase;
        ResultsWindow other(&otherState);
        other.show();
        other.onInitialUpdate();
        other.findChild<QDateEdit*>("dateStart")->setDate(kDay);
        other.findChild<QDateEdit*>("dateEnd")->setDate(kDay);
        other.onSearch();
        EditableListView* otherList = other.resultList();
        auto otherRowOf = [otherList](qint64 id) {
            for (int row = 0; row < otherList->getItemCount(); ++row)
                if (otherList->getItemData(row) == id)
                    return row;
            return -1;
        };
        QCOMPARE(otherList->getItemText(otherRowOf(2), 1), QString("Ana"));

        QVERIFY(typeIntoCell(x, 1, 1, "Ana Maria"));
        QTRY_COMPARE(x.field(2, "PacientName"), QVariant("Ana Maria"));
        other.onSearch();
        QCOMPARE(otherList->getItemText(otherRowOf(1), 1), QString("Ana Maria"));
        QCOMPARE(otherList->getItemText(otherRowOf(2), 1), QString("Ana Maria"));
        // The other workstation sees that the name was corrected, and what it was.
        QVERIFY2(otherList->getCellNote(otherRowOf(2), 1).contains("Inainte: Ana"),
                 qPrintable(otherList->getCellNote(otherRowOf(2), 1)));
        QVERIFY(!otherList->hasCellNote(otherRowOf(2), 2));

        // And back: the other instance corrects the age, the first one's next search shows it.
        const int row = otherRowOf(4);
        otherList->setItemText(row, 2, "51");
        other.onGridEditDone(row, 2);
        QTest::mouseClick(x.searchButton(), Qt::LeftButton);
        QCOMPARE(x.list()->getItemText(x.rowOf(4), 2), QString("51"));
        // Marks reach the sets of the smallest and the largest id, neither of them in the first
        // or the last row.
        x.list()->setItemText(x.rowOf(kLastId), 2, "31");
        x.view->onGridEditDone(x.rowOf(kLastId), 2);
        QCOMPARE(x.field(kLastId, "Age").toInt(), 31);
        QVERIFY(x.rowOf(1) != 0 && x.rowOf(kLastId) != x.list()->getItemCount() - 1);
        QVERIFY(x.list()->hasCellNote(x.rowOf(1), 1));
        QVERIFY(x.list()->hasCellNote(x.rowOf(kLastId), 2));
        QCOMPARE(x.messages, QStringList());
    }

    // Another instance is in the middle of writing the same request: the edit waits for it
    // instead of failing, and then corrects every record of the request, none half-way.
    void editWaitsForAnotherInstance() {
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        std::atomic<int> state{0}; // 1: the other instance holds its write, 2: it committed, -1: failed
        const bool pg = x.lab.isPg();
        DbLab& lab = x.lab;
        std::thread otherInstance([&state, &lab, pg] {
            {
                QSqlDatabase db = lab.addConnection(QStringLiteral("other-instance"));
                QSqlQuery q(db);
                if (!db.open() || !q.exec(pg ? "BEGIN" : "BEGIN IMMEDIATE") ||
                    !q.exec("UPDATE RESULTS SET PacientName = 'Alt nume' WHERE ID = 2")) {
                    state = -1;
                } else {
                    state = 1;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
                    state = q.exec("COMMIT") ? 2 : -1;
                }
                q.finish();
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("other-instance"));
        });
        QTRY_VERIFY(state != 0);
        QCOMPARE(int(state), 1);

        const bool typed = typeIntoCell(x, 1, 1, "Ana Maria");
        QTRY_VERIFY_WITH_TIMEOUT(state == 2 || state == -1, 10000);
        otherInstance.join();
        QVERIFY(typed);
        QCOMPARE(int(state), 2);
        QTRY_COMPARE(x.field(1, "PacientName"), QVariant("Ana Maria"));
        QCOMPARE(x.field(2, "PacientName"), QVariant("Ana Maria"));
        QCOMPARE(x.messages, QStringList());
        QCOMPARE(x.list()->getItemText(x.rowOf(2), 1), QString("Ana Maria"));
    }

    // A correction waits for another workstation that holds the request: the window shows the wait
    // and stays usable (the search field takes what is typed), and "Renunta" ends the wait with
    // nothing stored, long before the limit; closing the window meanwhile does the same and the
    // window stays until the correction has ended.
    void windowStaysUsableWhileACorrectionWaits_data() {
        QTest::addColumn<bool>("closing");
        QTest::newRow("Renunta") << false;
        QTest::newRow("window closed") << true;
    }
    void windowStaysUsableWhileACorrectionWaits() {
        QFETCH(bool, closing);
        ExplorerLab x;
        QVERIFY(startOnDay(x));
        QVERIFY(x.database.open(x.lab.connectionString() + ";Lock Timeout=60;Busy Timeout=60"));
        const QStringList dump = x.dumpResults();
        const bool pg = x.lab.isPg();
        QVERIFY(x.lab.exec(pg ? "BEGIN" : "BEGIN IMMEDIATE"));
        QVERIFY(x.lab.exec("UPDATE RESULTS SET SEX = SEX WHERE ID = 2"));
        auto* bar = x.view->findChild<QWidget*>("waitingBar");
        QVERIFY(bar && !bar->isVisible());
        bool sawWait = false;
        QString typed;
        std::function<void(int)> poll = [&](int attempts) {
            if (!bar->isVisible()) {
                if (attempts < 1000)
                    QTimer::singleShot(10, [&poll, attempts] { poll(attempts + 1); });
                return;
            }
            sawWait = true;
            x.requestIdEdit()->clear();
            QTest::keyClicks(x.requestIdEdit(), "201");
            typed = x.requestIdEdit()->text();
            if (closing)
                x.view->close();
            else
                QTest::mouseClick(bar->findChild<QPushButton*>("buttonGiveUp"), Qt::LeftButton);
        };
        QTimer::singleShot(0, [&poll] { poll(0); });
        QElapsedTimer waited;
        waited.start();
        x.list()->setItemText(x.rowOf(1), 1, "Ana Maria");
        x.view->onGridEditDone(x.rowOf(1), 1);
        QVERIFY2(waited.elapsed() < 20000, qPrintable(QString::number(waited.elapsed())));
        QVERIFY(x.lab.exec("ROLLBACK"));
        QVERIFY(sawWait);
        QCOMPARE(typed, QString("201"));
        QVERIFY(!bar->isVisible());
        QVERIFY(x.view->isVisible());
        QCOMPARE(x.messages, QStringList{"Failed tu update\nAti renuntat la corectura; nu s-a salvat nimic."});
        QCOMPARE(x.dumpResults(), dump);
        QCOMPARE(x.journalRows(), QStringList());
        // The refresh after it searched for what was typed meanwhile.
        QCOMPARE(x.listedIds(), Ids{4});
    }

    void commentLimit() {
        QString text = QString(9990, 'a');
        CommentDialog dialog;
        dialog.m_text = &text;
        whenCommentDialogOpens([](CommentDialog* d) {
            QPlainTextEdit* edit = commentEdit(d);
            QTest::keyClicks(edit, "0123456789xyz");
            QCOMPARE(edit->toPlainText().size(), 9999);
            QVERIFY(edit->toPlainText().endsWith("012345678"));
            // Pasting in the middle keeps the text whole at the limit.
            edit->clear();
            QTest::keyClicks(edit, "start-end");
            QTextCursor cursor = edit->textCursor();
            cursor.setPosition(6);
            edit->setTextCursor(cursor);
            edit->insertPlainText(QString(20000, 'p'));
            QCOMPARE(edit->toPlainText().size(), 9999);
            QVERIFY(edit->toPlainText().startsWith("start-ppp"));
            QVERIFY(edit->toPlainText().endsWith("pppend"));
            press(d, "buttonOk");
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(text.size(), 9999);

        // A stored text longer than the limit is shown cut, never more.
        QString tooLong = QString(12000, 'b');
        CommentDialog second;
        second.m_text = &tooLong;
        whenCommentDialogOpens([](CommentDialog* d) {
            QCOMPARE(commentEdit(d)->toPlainText().size(), 9999);
            press(d, "buttonCancel");
        });
        QCOMPARE(second.exec(), int(QDialog::Rejected));
        QCOMPARE(tooLong.size(), 12000);
    }
};

QTEST_MAIN(TestExplorerEdit)
#include "tst_explorer_edit.moc"
