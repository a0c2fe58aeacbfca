#include "SqliteIntegrityCheck.h"

#include "ConnectionString.h"
#include "SqliteStatement.h"

#ifdef LABROSA_HAVE_SQLITE3
#include <sqlite3.h>
#endif

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

namespace {

// The full check, not the quick one: it also finds an index that disagrees with its table, as
// a -wal of another database leaves behind.
const char* const kCheck = "PRAGMA integrity_check";
// How many of SQLite's lines a person is shown.
constexpr int kShownFindings = 5;
// SQLite's primary result codes for a damaged file.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

QAtomicInt g_checkCounter;

// The first bytes of a -wal (either byte order of its checksums) and of a rollback journal
// that holds pages; a journal with any other start has been committed and is not applied.
bool holdsPages(const QString& path, bool wal) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(8);
    if (wal)
        return head.startsWith(QByteArray::fromHex("377f0682")) || head.startsWith(QByteArray::fromHex("377f0683"));
    return head == QByteArray::fromHex("d9d505f920a163d7");
}

int primaryCode(const QSqlError& error) {
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric);
    return numeric ? code & 0xff : -1;
}

} // namespace

SqliteIntegrityCheck::SqliteIntegrityCheck(const QString& file)
    : m_file(QFileInfo(file).absoluteFilePath()), m_leftovers(leftoversOf(m_file)) {}

SqliteIntegrityCheck::~SqliteIntegrityCheck() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
#ifdef LABROSA_HAVE_SQLITE3
        // The program is closing: what the check would still find matters to no one now.
        if (m_running)
            sqlite3_interrupt(m_running);
#endif
    }
    if (m_thread.joinable())
        m_thread.join();
}

std::shared_ptr<SqliteIntegrityCheck> SqliteIntegrityCheck::forConnection(const QString& connectionString) {
    const ConnectionString parsed = ConnectionString::parse(connectionString);
    if (!parsed.isSQLite() || parsed.sqliteFile().isEmpty())
        return nullptr;
    return std::make_shared<SqliteIntegrityCheck>(parsed.sqliteFile());
}

QStringList SqliteIntegrityCheck::leftoversOf(const QString& file) {
    QStringList found;
    for (const char* suffix : {"-wal", "-journal"}) {
        const QFileInfo companion(file + QLatin1String(suffix));
        if (companion.isFile() && companion.size() > 0 && holdsPages(companion.filePath(), suffix[1] == 'w'))
            found << companion.absoluteFilePath();
    }
    return found;
}

bool SqliteIntegrityCheck::keepWalOnClose(const QSqlDatabase& db) {
#ifdef LABROSA_HAVE_SQLITE3
    sqlite3* connection = SqliteStatement::handleOf(db);
    int set = 0;
    return connection && sqlite3_db_config(connection, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, &set) == SQLITE_OK &&
           set == 1;
#else
    Q_UNUSED(db);
    return false;
#endif
}

void SqliteIntegrityCheck::start(std::function<void()> finished) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != State::NotStarted)
        return;
    m_state = State::Running;
    m_finished = std::move(finished);
    m_thread = std::thread([this] { check(); });
}

bool SqliteIntegrityCheck::run() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != State::NotStarted)
            return m_state == State::passed;
        m_state = State::Running;
    }
    check();
    return passed();
}

bool SqliteIntegrityCheck::wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [this] { return m_state != State::Running || m_stop; });
    return m_state == State::passed || m_state == State::NotStarted;
}

SqliteIntegrityCheck::State SqliteIntegrityCheck::state() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

bool SqliteIntegrityCheck::failed() const {
    const State s = state();
    return s == State::Damaged || s == State::NotChecked;
}

QStringList SqliteIntegrityCheck::findings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_findings;
}

QString SqliteIntegrityCheck::refusalText() const {
    const State s = state();
    const QString found = findings().join(QLatin1String("; "));
    if (s == State::NotChecked)
        return QStringLiteral("The integrity of the database file \"%1\" could not be checked, so nothing is written "
                              "to it: %2")
            .arg(m_file, found);
    if (s != State::Damaged)
        return QString();
    QString text =
        QStringLiteral("The database file \"%1\" failed SQLite's integrity check, so nothing is written to it: %2")
            .arg(m_file, found);
    if (!m_leftovers.isEmpty())
        text += QStringLiteral(" (SQLite applied the files found beside it to it: %1)")
                    .arg(m_leftovers.join(QLatin1String(", ")));
    return text;
}

void SqliteIntegrityCheck::check() {
    const QString name = QStringLiteral("labrosa-integrity-%1").arg(g_checkCounter.fetchAndAddRelaxed(1) + 1);
    State result = State::NotChecked;
    QStringList found;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        // Read-only: this connection never writes the file, nor copies a -wal into it on close.
        db.setDatabaseName(QStringLiteral("file://") + QString::fromLatin1(QUrl::toPercentEncoding(m_file, "/:")) +
                           QStringLiteral("?mode=ro"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            found << db.lastError().text();
        } else {
            bool stopped = false;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_running = SqliteStatement::handleOf(db);
                stopped = m_stop;
            }
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (stopped) {
                found << QStringLiteral("the check was stopped");
            } else if (!query.exec(QString::fromLatin1(kCheck))) {
                const QSqlError error = query.lastError();
                const int code = primaryCode(error);
                // A file too damaged for the check to go through is damaged all the same.
                if (code == kSqliteCorrupt || code == kSqliteNotADatabase)
                    result = State::Damaged;
                found << error.databaseText();
            } else {
                int lines = 0;
                while (query.next()) {
                    for (const QString& line : query.value(0).toString().split(QLatin1Char('\n'))) {
                        if (line.isEmpty() || line.startsWith(QLatin1String("*** in database")))
                            continue;
                        if (++lines <= kShownFindings)
                            found << line;
                    }
                }
                const QSqlError error = query.lastError();
                const bool listed = lines > 0 && found.value(0) != QLatin1String("ok");
                if (error.isValid()) {
                    // SQLite may list damage and then give up on the rest of the file.
                    const int code = primaryCode(error);
                    if (listed || code == kSqliteCorrupt || code == kSqliteNotADatabase)
                        result = State::Damaged;
                    found << error.databaseText();
                } else if (!listed && lines == 1) {
                    result = State::passed;
                    found.clear();
                } else {
                    result = State::Damaged;
                    if (lines > kShownFindings)
                        found << QStringLiteral("... (%1 lines in all)").arg(lines);
                }
            }
            query.finish();
            std::lock_guard<std::mutex> lock(m_mutex);
            m_running = nullptr;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    finish(result, found);
}

void SqliteIntegrityCheck::finish(State result, const QStringList& found) {
    std::function<void()> finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_stop)
            finished = std::move(m_finished);
    }
    // Told before the result is published: whoever wait() returns to finds the news already sent.
    if (finished)
        finished();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_findings = found;
        m_state = result;
    }
    m_done.notify_all();
}
