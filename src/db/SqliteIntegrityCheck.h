#pragma once

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QSqlDatabase;
struct sqlite3;

// SQLite's integrity check of a database file, on a read-only connection of its own: in the
// background while the program is used (writes wait for its result), or in the caller's thread
// before a tool writes. A file that fails is to be read, never written: every write could
// spread the damage.
//
// The -wal and -journal files beside the database are noted when the object is made, before
// an open applies them: SQLite applies them to whatever file carries the database's name, so
// a backup copied back beside the live database's leftovers comes out damaged.
class SqliteIntegrityCheck {
public:
    enum class State {
        NotStarted,
        Running,
        passed,
        Damaged,   // SQLite found the file damaged
        NotChecked // the check could not run (the reason in findings())
    };

    explicit SqliteIntegrityCheck(const QString& file);
    // Stops a check still running and waits for its thread.
    ~SqliteIntegrityCheck();
    SqliteIntegrityCheck(const SqliteIntegrityCheck&) = delete;
    SqliteIntegrityCheck& operator=(const SqliteIntegrityCheck&) = delete;

    // The check of the SQLite file a connection string names; null for any other database.
    static std::shared_ptr<SqliteIntegrityCheck> forConnection(const QString& connectionString);

    // Starts the check on a thread of its own. finished, when given, is called on that thread
    // once the check is over, before wait() returns its result (so finished may only pass the
    // news on, e.g. post it to the window thread, whose handler then calls wait()).
    void start(std::function<void()> finished = {});
    // Runs the check in the calling thread; true when the file passed.
    bool run();
    // The result of a started check, waiting for it while it runs; true when the file passed.
    // A check never started holds nothing back.
    bool wait();

    State state() const;
    bool passed() const { return state() == State::passed; }
    // Finished and not passed: the file is not to be written.
    bool failed() const;
    // The database file, absolute.
    QString file() const { return m_file; }
    // The -wal and -journal files that lay beside the database, not empty, when this was made.
    QStringList leftovers() const { return m_leftovers; }
    // SQLite's own first lines about the damage, or the reason the check could not run.
    QStringList findings() const;
    // Why the database refuses a write, in one paragraph; empty unless failed().
    QString refusalText() const;

    // Keeps SQLite from copying the -wal into the database when this connection, the last,
    // closes: a damaged file and its companions stay as they were found, so that restoring a
    // backup or recovering rows starts from them. False when the driver gives no handle.
    static bool keepWalOnClose(const QSqlDatabase& db);
    // The file's -wal and -journal companions that exist and hold something.
    static QStringList leftoversOf(const QString& file);

private:
    void check();
    void finish(State state, const QStringList& findings);

    QString m_file;
    QStringList m_leftovers;
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    State m_state = State::NotStarted;
    QStringList m_findings;
    std::function<void()> m_finished;
    std::thread m_thread;
    sqlite3* m_running = nullptr; // the check's connection while it works, for an interrupt
    bool m_stop = false;
};
