#include "DatabaseConnection.h"

#include "ConnectionString.h"
#include "PostgresStatement.h"
#include "SqliteIntegrityCheck.h"
#include "SqliteStatement.h"
#include "TextUtils.h"

#ifdef LABROSA_HAVE_SQLITE3
#include <sqlite3.h>
#endif
#ifdef LABROSA_HAVE_LIBPQ
#include <libpq-fe.h>
#endif

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QStringList>
#include <QSysInfo>
#include <QUrl>
#include <QVarLengthArray>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include <pwd.h>
#include <unistd.h>

namespace {

// Capacities of the texts, terminator excluded.
constexpr int kErrorTextLength = 999;
constexpr int kLogEntryLength = 10027;

DatabaseConnection::LogClock g_logClock = nullptr;
QAtomicInt g_connectionCounter;

// Cuts a text to a capacity without leaving half of a surrogate pair at the end.
QString cut(const QString& text, int length) {
    if (text.size() <= length)
        return text;
    int n = length;
    if (n > 0 && text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n);
}

quint32 codeFor(QSqlError::ErrorType type) {
    switch (type) {
    case QSqlError::StatementError:
        return 0x80040e14u;
    case QSqlError::TransactionError:
        return 0x8000ffffu;
    case QSqlError::ConnectionError:
    case QSqlError::UnknownError:
    case QSqlError::NoError:
        break;
    }
    return 0x80004005u;
}

QString codeMeaning(quint32 code) {
    switch (code) {
    case 0x80004005u:
        return QStringLiteral("Unspecified error");
    case 0x8000ffffu:
        return QStringLiteral("Catastrophic failure");
    case 0x80004003u:
        return QStringLiteral("Invalid pointer");
    default:
        break;
    }
    if (code >= 0x80040200u && code <= 0x8004ffffu && code != 0x80040200u)
        return QStringLiteral("IDispatch error #%1").arg(code - 0x80040200u);
    return QString::asprintf("Unknown error 0x%0X", code);
}

QString orNull(const QString& text) {
    return text.isEmpty() ? QStringLiteral("(null)") : text;
}

// The failure of an open that never reached the driver, or that the program refused itself.
QSqlError openError(const QString& text) {
    return QSqlError(text, text, QSqlError::ConnectionError);
}

// Whether the process has the given access (access() mode) to a path; *reason gets the
// system's words when not.
bool accessible(const QString& path, int mode, QString* reason) {
    if (::access(QFile::encodeName(path).constData(), mode) == 0)
        return true;
    *reason = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

// A bound value as it would be typed again: texts quoted, NULL as NULL.
QString valueForLog(const QVariant& value) {
    if (value.isNull())
        return QStringLiteral("NULL");
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toString();
    default:
        break;
    }
    QString text = value.toString();
    text.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// A lost server connection shows as a connection error or an SQLSTATE of class 08 (PostgreSQL),
// or as the text libpq gives when the server ended the session.
bool isConnectionLoss(const QSqlError& error) {
    if (error.type() == QSqlError::ConnectionError)
        return true;
    if (error.nativeErrorCode().startsWith(QLatin1String("08")) ||
        error.nativeErrorCode().startsWith(QLatin1String("57P")))
        return true;
    const QString text = error.databaseText() + QLatin1Char(' ') + error.driverText();
    return text.contains(QLatin1String("server closed the connection"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("no connection to the server"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("terminating connection"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("connection to server"), Qt::CaseInsensitive);
}

// A limit in seconds from the connection string, as milliseconds; false when it is no number of
// seconds up to a day.
bool limitFrom(const ConnectionString& cs, const char* key, int* ms) {
    if (!cs.contains(QLatin1String(key)))
        return true;
    bool ok = false;
    const double seconds = cs.value(QLatin1String(key)).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok || !(seconds >= 0 && seconds <= 86400))
        return false;
    *ms = int(std::lround(seconds * 1000));
    return true;
}

// A value of a libpq connection keyword, quoted as libpq reads it.
QString conninfoValue(QString value) {
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

// Each line of a database's message trimmed, blank lines and PostgreSQL's caret marker
// dropped, joined into one line so the error text keeps its five lines.
QString oneLine(const QString& text) {
    QStringList parts;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        if (!t.isEmpty() && t != QLatin1String("^"))
            parts << t;
    }
    return parts.join(QLatin1Char(' '));
}

#ifdef LABROSA_HAVE_SQLITE3
// labrosa_fold(text): the text with Unicode case folding and the Romanian letters' marks
// taken off, NULL for NULL.
void foldCase(sqlite3_context* context, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int size = sqlite3_value_bytes(argv[0]);
    // Most names are plain ASCII, whose folding is A-Z to a-z: done on the bytes, as a name
    // search folds every candidate name.
    if (isAscii(text, size_t(size))) {
        QVarLengthArray<char, 256> lower(size);
        std::transform(text, text + size, lower.data(), [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
        sqlite3_result_text(context, lower.data(), size, SQLITE_TRANSIENT);
        return;
    }
    static const QString marked = QString::fromUtf8(kMarkedLetters);
    QString plain = QString::fromUtf8(text, size).toCaseFolded();
    for (QChar& c : plain) {
        const qsizetype at = c.unicode() < 0x80 ? -1 : marked.indexOf(c);
        if (at >= 0)
            c = QLatin1Char(kPlainLetters[at]);
    }
    const QByteArray folded = plain.toUtf8();
    sqlite3_result_text(context, folded.constData(), int(folded.size()), SQLITE_TRANSIENT);
}

// Offers labrosa_fold on an open QSQLITE connection; false when the driver gives no handle.
bool registerFoldFunction(const QSqlDatabase& db) {
    sqlite3* connection = SqliteStatement::handleOf(db);
    return connection &&
           sqlite3_create_function_v2(connection, SqlDialect::foldFunctionName(), 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                      nullptr, foldCase, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// SQLite quietly falls back to reading when it cannot open the file for writing, for instance
// on a share that refuses the program's user although the local permission bits allow it.
bool openedReadOnly(const QSqlDatabase& db) {
    sqlite3* connection = SqliteStatement::handleOf(db);
    return connection && sqlite3_db_readonly(connection, "main") == 1;
}
#else
bool registerFoldFunction(const QSqlDatabase&) {
    return false;
}

bool openedReadOnly(const QSqlDatabase&) {
    return false;
}
#endif

} // namespace

bool holdsSeveralStatements(const QString& sql) {
    const int n = sql.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // A doubled quote inside stays inside: the scan just re-enters the literal.
            const int close = sql.indexOf(c, i + 1);
            if (close < 0)
                return false;
            i = close;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            const int eol = sql.indexOf(QLatin1Char('\n'), i);
            if (eol < 0)
                return false;
            i = eol;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql.at(i + 1) == QLatin1Char('*')) {
            const int close = sql.indexOf(QLatin1String("*/"), i + 2);
            if (close < 0)
                return false;
            i = close + 1;
        } else if (c == QLatin1Char(';')) {
            for (int j = i + 1; j < n; ++j)
                if (!sql.at(j).isSpace() && sql.at(j) != QLatin1Char(';'))
                    return true;
            return false;
        }
    }
    return false;
}

QSqlError severalStatementsError() {
    const QString text = QStringLiteral("Only one SQL statement can be run at a time");
    return QSqlError(text, text, QSqlError::StatementError);
}

QSqlError closedConnectionError() {
    const QString text = QStringLiteral("The database connection is not open");
    return QSqlError(text, text, QSqlError::ConnectionError);
}

QString formatComError(const QSqlError& error, const QString& source) {
    const quint32 code = codeFor(error.type());
    QString text = QStringLiteral("Error\n");
    text += QString::asprintf("\tCode = %08x\n", code);
    text += QStringLiteral("\tCode meaning = ") + codeMeaning(code) + QLatin1Char('\n');
    text += QStringLiteral("\tSource = ") + orNull(source) + QLatin1Char('\n');
    text += QStringLiteral("\tDescription = ") + orNull(oneLine(error.databaseText())) + QLatin1Char('\n');
    return cut(text, kErrorTextLength);
}

QString combinedErrorText(const QString& databaseText, const QString& providerError) {
    const QString reason = oneLine(databaseText);
    const QString provider = providerError.trimmed();
    if (reason.isEmpty() || provider.contains(reason))
        return provider;
    return provider.isEmpty() ? reason : reason + QLatin1Char('\n') + provider;
}

QString getProviderErrors(const QSqlError& error) {
    const QString native = error.nativeErrorCode().trimmed();
    if (native.isEmpty() && error.driverText().isEmpty())
        return QString();
    bool numeric = false;
    const qlonglong number = native.toLongLong(&numeric);
    QString description = oneLine(error.driverText());
    // PostgreSQL reports a five-character SQLSTATE that need not be a number; keep it visible.
    if (!numeric && !native.isEmpty())
        description += QStringLiteral(" (") + native + QLatin1Char(')');
    const QString text = QStringLiteral("\t Error number: ") + QString::number(numeric ? number : 0, 16) +
                         QLatin1Char('\t') + description;
    return cut(text, kErrorTextLength);
}

DatabaseConnection::DatabaseConnection() = default;

DatabaseConnection::~DatabaseConnection() {
    dropConnection();
    dropCancelHandle();
}

void DatabaseConnection::setLogClock(LogClock clock) {
    g_logClock = clock;
}

void DatabaseConnection::setLogFile(const QString& fileName) {
    m_logFile = fileName.left(1023);
    m_logEnabled = true;
}

bool DatabaseConnection::openAccess(const QString& dataSource, const QString& password) {
    m_password = password.left(49);
    m_databaseName = dataSource.left(99);
    return open(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1 ;Mode=ReadWrite;Persist Security "
                               "Info=False;Jet OLEDB:Database Password=%2 ;")
                    .arg(m_databaseName, m_password));
}

bool DatabaseConnection::openSqlServer(const QString& server, const QString& user, const QString& password,
                                       const QString& database) {
    m_server = server.left(99);
    m_user = user.left(49);
    m_password = password.left(49);
    m_databaseName = database.left(99);
    return open(QStringLiteral("PROVIDER=SQLOLEDB.1;server=%1;uid=%2;pwd=%3;database=%4")
                    .arg(m_server, m_user, m_password, m_databaseName));
}

QSqlDatabase DatabaseConnection::connection() const {
    if (m_connectionName.isEmpty())
        return QSqlDatabase();
    return QSqlDatabase::database(m_connectionName, false);
}

QString DatabaseConnection::driverName() const {
    return connection().driverName();
}

void DatabaseConnection::dropConnection() {
    if (m_connectionName.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
}

void DatabaseConnection::fail(const char* context, const QSqlError& error, const QString& source, bool withProvider) {
    m_comError = formatComError(error, source);
    m_databaseText = error.databaseText();
    m_lastErrorCode = error.nativeErrorCode();
    if (withProvider)
        m_providerError = getProviderErrors(error);
    logError(QString::fromLatin1(context), m_comError, m_providerError);
}

bool DatabaseConnection::open(const QString& connectionString) {
    m_opened = false;
    dropConnection();
    m_integrityCheck.reset(); // it belonged to the file opened before
    m_connectionString = connectionString;
    m_file.clear();

    const ConnectionString cs = ConnectionString::parse(connectionString);
    QString driver;
    if (cs.isSQLite())
        driver = QStringLiteral("QSQLITE");
    else if (cs.isPostgreSQL())
        driver = QStringLiteral("QPSQL");
    if (driver.isEmpty()) {
        // No connection object comes into being, so the provider text stays as it was.
        const QString provider = cs.provider();
        fail("CAdoDatabase::Open",
             openError(provider.isEmpty()
                           ? QStringLiteral("The connection string names no provider; use Provider=SQLite or "
                                            "Provider=PostgreSQL")
                           : QStringLiteral("Provider \"%1\" is not available; use Provider=SQLite or "
                                            "Provider=PostgreSQL")
                                 .arg(provider)),
             provider, false);
        return false;
    }
    m_limits = Limits();
    const struct {
        const char* key;
        int* ms;
    } limits[] = {{"lock timeout", &m_limits.lockMs},
                  {"idle transaction timeout", &m_limits.idleTransactionMs},
                  {"statement timeout", &m_limits.statementMs},
                  {"busy timeout", &m_limits.busyMs}};
    for (const auto& limit : limits) {
        if (!limitFrom(cs, limit.key, limit.ms)) {
            fail("CAdoDatabase::Open",
                 openError(QStringLiteral("\"%1\" in the connection string must be a number of seconds from 0 to "
                                          "86400, not \"%2\"")
                               .arg(QLatin1String(limit.key), cs.value(QLatin1String(limit.key)))),
                 driver, false);
            return false;
        }
    }
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        fail("CAdoDatabase::Open", openError(QStringLiteral("The Qt SQL driver %1 is not installed").arg(driver)),
             driver, false);
        return false;
    }

    m_connectionName = QStringLiteral("labrosa-ado-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1) + 1);
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, m_connectionName);
    if (driver == QLatin1String("QSQLITE")) {
        m_dialect = SqlDialect(SqlDialect::Kind::SQLite);
        const QString file = cs.sqliteFile();
        m_databaseName = file.left(99);
        if (file.isEmpty()) {
            fail("CAdoDatabase::Open", openError(QStringLiteral("The connection string names no Data Source")), driver,
                 true);
            return false;
        }
        m_file = QFileInfo(file).absoluteFilePath();
        // The program never creates a database: a missing file is a failed open.
        if (!QFileInfo(file).isFile()) {
            fail("CAdoDatabase::Open", openError(QStringLiteral("Could not find the database file \"%1\"").arg(file)),
                 driver, true);
            return false;
        }
        // Every correction writes, and SQLite writes its -wal, -shm and -journal files beside
        // the database: a file or folder the program cannot write is refused now, not at the
        // first correction.
        QString reason;
        if (!accessible(m_file, R_OK | W_OK, &reason)) {
            fail("CAdoDatabase::Open",
                 openError(QStringLiteral("The database file \"%1\" cannot be written: %2").arg(file, reason)), driver,
                 true);
            return false;
        }
        const QString folder = QFileInfo(m_file).absolutePath();
        if (!accessible(folder, W_OK | X_OK, &reason)) {
            fail("CAdoDatabase::Open",
                 openError(QStringLiteral("The folder \"%1\" of the database cannot be written (SQLite keeps its "
                                          "-wal, -shm and -journal files there): %2")
                               .arg(folder, reason)),
                 driver, true);
            return false;
        }
        // mode=rw opens an existing file read-write and never creates one. The URI always has
        // an empty authority, so a path written with a leading "//" stays a path.
        db.setDatabaseName(QStringLiteral("file://") + QString::fromLatin1(QUrl::toPercentEncoding(m_file, "/:")) +
                           QStringLiteral("?mode=rw"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(m_limits.busyMs));
    } else {
        m_dialect = SqlDialect(SqlDialect::Kind::PostgreSQL);
        auto first = [&cs](std::initializer_list<const char*> keys) {
            for (const char* key : keys)
                if (cs.contains(QLatin1String(key)))
                    return cs.value(QLatin1String(key));
            return QString();
        };
        const QString server = first({"server", "host", "data source"});
        const QString port = first({"port"});
        const QString database = first({"database", "initial catalog", "dbname"});
        const QString user = first({"user id", "uid", "user", "username"});
        const QString password = first({"password", "pwd"});
        m_server = server.left(99);
        m_databaseName = database.left(99);
        m_user = user.left(49);
        m_password = password.left(49);
        if (!server.isEmpty())
            db.setHostName(server);
        if (!port.isEmpty())
            db.setPort(port.toInt());
        db.setDatabaseName(database);
        db.setUserName(user);
        db.setPassword(password);
        // An unreachable server should fail in seconds, not hang the window; keepalives notice a
        // server (or a path to it) gone without a word. The server ends what waits too long: a
        // row another workstation holds, a transaction left open by a workstation that stopped,
        // a statement (a search) past its limit. Other workstations see this session by its name.
        QStringList settings;
        settings << QStringLiteral("-c lock_timeout=%1").arg(m_limits.lockMs)
                 << QStringLiteral("-c idle_in_transaction_session_timeout=%1").arg(m_limits.idleTransactionMs)
                 << QStringLiteral("-c statement_timeout=%1").arg(m_limits.statementMs);
        const QStringList options{QStringLiteral("connect_timeout=5"),
                                  QStringLiteral("keepalives=1"),
                                  QStringLiteral("keepalives_idle=30"),
                                  QStringLiteral("keepalives_interval=10"),
                                  QStringLiteral("keepalives_count=3"),
                                  QStringLiteral("application_name=") + conninfoValue(sessionName()),
                                  QStringLiteral("options=") + conninfoValue(settings.join(QLatin1Char(' ')))};
        // The driver reads the options separated by ';' (and none of them holds one).
        db.setConnectOptions(options.join(QLatin1Char(';')));
    }

    if (!openConnection(db)) {
        fail("CAdoDatabase::Open", db.lastError(), driver, true);
        return false;
    }
    if (m_dialect.kind() == SqlDialect::Kind::SQLite) {
        // A file that is not a database opens without complaint; the first read tells.
        QSqlQuery probe(db);
        if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
            const QSqlError error = probe.lastError();
            probe.finish();
            db.close();
            fail("CAdoDatabase::Open", error, driver, true);
            return false;
        }
        if (openedReadOnly(db)) {
            db.close();
            fail("CAdoDatabase::Open",
                 openError(QStringLiteral("The database file \"%1\" could only be opened read-only").arg(m_file)),
                 driver, true);
            return false;
        }
        m_dialect.setFoldFunction(registerFoldFunction(db));
    }
    m_opened = true;
    return true;
}

bool DatabaseConnection::openConnection(QSqlDatabase& db) {
    if (!db.open())
        return false;
    noteCancelHandle();
    if (m_dialect.kind() == SqlDialect::Kind::PostgreSQL) {
        // A results database is read from the server's memory or a solid-state disk: reading a
        // page out of order costs little more than reading the next. At the server's default
        // (four times as much) the planner sorts a month of sets itself instead of following
        // the index of the list's order, at twice the time. Only lowered for this session, never
        // raised; a server that refuses keeps its own value, with no harm to the connection.
        QSqlQuery tune(db);
        tune.exec(QStringLiteral("SELECT set_config('random_page_cost', '1.1', false) "
                                 "WHERE current_setting('random_page_cost')::float8 > 1.1"));
    }
    return true;
}

QString DatabaseConnection::sessionName() {
    QString user;
    if (const passwd* entry = getpwuid(geteuid()))
        user = QString::fromLocal8Bit(entry->pw_name);
    else
        user = qEnvironmentVariable("USER");
    return QSysInfo::machineHostName() + QLatin1Char('/') + user;
}

void DatabaseConnection::noteCancelHandle() {
    QSqlDatabase db = connection();
    m_busySince = 0;
#ifdef LABROSA_HAVE_LIBPQ
    if (m_dialect.kind() == SqlDialect::Kind::PostgreSQL) {
        pg_conn* session = PostgresStatement::sessionOf(db);
        const std::lock_guard<std::mutex> lock(m_cancelGuard);
        if (m_pgCancel)
            PQfreeCancel(static_cast<PGcancel*>(m_pgCancel));
        m_pgCancel = session ? PQgetCancel(session) : nullptr;
        m_backend = session ? PQbackendPID(session) : 0;
    }
#endif
#ifdef LABROSA_HAVE_SQLITE3
    if (m_dialect.kind() == SqlDialect::Kind::SQLite) {
        // The program's own wait for a locked file, so that a wait given up ends at once.
        if (sqlite3* handle = SqliteStatement::handleOf(db))
            sqlite3_busy_handler(handle, &DatabaseConnection::sqliteBusyWait, this);
    }
#endif
}

void DatabaseConnection::dropCancelHandle() {
#ifdef LABROSA_HAVE_LIBPQ
    const std::lock_guard<std::mutex> lock(m_cancelGuard);
    if (m_pgCancel)
        PQfreeCancel(static_cast<PGcancel*>(m_pgCancel));
    m_pgCancel = nullptr;
#endif
}

void DatabaseConnection::requestCancel() {
    m_cancelRequested = true;
#ifdef LABROSA_HAVE_LIBPQ
    // A cancel request goes to the server on a connection of its own, whatever this one does; a
    // session that runs nothing at that moment ignores it.
    const std::lock_guard<std::mutex> lock(m_cancelGuard);
    if (m_pgCancel) {
        char error[256];
        PQcancel(static_cast<PGcancel*>(m_pgCancel), error, int(sizeof error));
    }
#endif
}

int DatabaseConnection::sqliteBusyWait(void* connection, int count) {
    auto* self = static_cast<DatabaseConnection*>(connection);
    const qint64 now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    if (count == 0)
        self->m_busySince = now;
    if (self->m_cancelRequested || now - self->m_busySince >= self->m_limits.busyMs)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(count < 5 ? 2 : 10));
    return 1;
}

bool DatabaseConnection::close() {
    if (!m_opened)
        return true;
    QSqlDatabase db = connection();
    db.close();
    m_opened = false;
    m_lost = false;
    return true;
}

bool DatabaseConnection::reconnectAfter(const QSqlError& error) {
    // A statement repeated on a new connection would run outside the transaction it belonged to.
    if (m_inTransaction)
        return false;
    QSqlDatabase db = connection();
    // Qt closes a connection whose server went away, whatever words libpq found for it.
    if (!m_opened || m_dialect.kind() != SqlDialect::Kind::PostgreSQL || (!isConnectionLoss(error) && db.isOpen()))
        return false;
    db.close();
    if (openConnection(db)) {
        m_lost = false;
        return true;
    }
    // Still away: the next action tries once more.
    m_lost = true;
    return false;
}

bool DatabaseConnection::ensureOpen(bool* reopened) {
    *reopened = false;
    QSqlDatabase db = connection();
    if (db.isOpen())
        return true;
    if (!m_opened || !m_lost)
        return false;
    *reopened = true;
    if (!openConnection(db))
        return false;
    m_lost = false;
    return true;
}

bool DatabaseConnection::writeAllowed(const char* context, const QString& sql, const QVariantList& values) {
    if (!m_integrityCheck || m_integrityCheck->wait())
        return true;
    fail(context, QSqlError(QString(), m_integrityCheck->refusalText(), QSqlError::StatementError), driverName(), true);
    if (!sql.isEmpty())
        logStatement(sql, values);
    return false;
}

bool DatabaseConnection::execute(const QString& sql, const QVariantList& values) {
    if (!writeAllowed("CAdoDatabase::Execute", sql, values))
        return false;
    if (m_connectionName.isEmpty()) {
        m_comError = formatComError(
            QSqlError(QString(), QStringLiteral("No database connection has been opened"), QSqlError::ConnectionError),
            QString());
        m_providerError.clear();
        logError(QStringLiteral("CAdoDatabase::Execute"), m_comError, m_providerError);
        logStatement(sql, values);
        return false;
    }

    QSqlError error;
    // Some drivers would run a second statement while preparing the first; none may run.
    if (holdsSeveralStatements(sql)) {
        fail("CAdoDatabase::Execute", severalStatementsError(), driverName(), true);
        logStatement(sql, values);
        return false;
    }
    bool reopened = false;
    if (!ensureOpen(&reopened)) {
        const QSqlError lastError = connection().lastError();
        fail("CAdoDatabase::Execute", reopened ? lastError : closedConnectionError(), driverName(), true);
        logStatement(sql, values);
        return false;
    }
    for (int attempt = reopened ? 1 : 0; attempt < 2; ++attempt) {
        QSqlQuery query(connection());
        bool ok = query.prepare(sql);
        if (ok) {
            for (int i = 0; i < values.size(); ++i)
                query.bindValue(i, values.at(i));
            ok = query.exec();
        }
        if (ok) {
            m_rowsAffected = query.numRowsAffected();
            return true;
        }
        error = query.lastError();
        query.finish();
        if (attempt > 0 || !reconnectAfter(error))
            break;
    }
    fail("CAdoDatabase::Execute", error, driverName(), true);
    logStatement(sql, values);
    return false;
}

// Transaction control runs as a plain statement: PostgreSQL cannot prepare BEGIN or COMMIT.
// Outside a transaction a lost server is reconnected to once, as for any statement.
bool DatabaseConnection::executeControl(const char* context, const QString& sql) {
    bool reopened = false;
    if (!ensureOpen(&reopened)) {
        fail(context, reopened ? connection().lastError() : closedConnectionError(), driverName(), true);
        return false;
    }
    for (int attempt = reopened ? 1 : 0; attempt < 2; ++attempt) {
        QSqlQuery query(connection());
        if (query.exec(sql))
            return true;
        const QSqlError error = query.lastError();
        query.finish();
        if (attempt > 0 || !reconnectAfter(error)) {
            fail(context, error, driverName(), true);
            return false;
        }
    }
    return false;
}

bool DatabaseConnection::beginTransaction() {
    if (!writeAllowed("CAdoDatabase::BeginTransaction"))
        return false;
    // SQLite takes the write lock at once, so what the transaction reads stays as read.
    const bool ok = executeControl("CAdoDatabase::BeginTransaction", m_dialect.kind() == SqlDialect::Kind::SQLite
                                                                         ? QStringLiteral("BEGIN IMMEDIATE")
                                                                         : QStringLiteral("BEGIN"));
    m_inTransaction = ok;
    m_commitAnswerLost = false;
    m_transactionBackend = ok ? m_backend : 0;
    return ok;
}

bool DatabaseConnection::commitTransaction() {
    QSqlQuery query(connection());
    if (query.exec(QStringLiteral("COMMIT"))) {
        m_inTransaction = false;
        return true;
    }
    const QSqlError error = query.lastError();
    fail("CAdoDatabase::CommitTransaction", error, driverName(), true);
    query.finish();
    m_commitAnswerLost = isConnectionLoss(error) || !connection().isOpen();
    rollbackTransaction();
    return false;
}

void DatabaseConnection::rollbackTransaction() {
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    // The reason of the failure that led here stays the one reported.
    const QString comError = m_comError, providerError = m_providerError, databaseText = m_databaseText;
    const QString errorCode = m_lastErrorCode;
    QSqlDatabase db = connection();
    // A server that went away took the transaction with it, and Qt may already have closed the
    // connection: the next action opens it anew, as after an idle drop.
    bool gone = !db.isOpen();
    if (!gone) {
        QSqlQuery rollback(db);
        if (!rollback.exec(QStringLiteral("ROLLBACK"))) {
            const QSqlError error = rollback.lastError();
            rollback.finish();
            gone = isConnectionLoss(error) || !db.isOpen();
        }
    }
    if (gone)
        markConnectionLost();
    m_comError = comError;
    m_providerError = providerError;
    m_databaseText = databaseText;
    m_lastErrorCode = errorCode;
}

void DatabaseConnection::markConnectionLost() {
    if (!m_opened || m_dialect.kind() != SqlDialect::Kind::PostgreSQL)
        return;
    connection().close();
    m_lost = true;
}

bool DatabaseConnection::writeLog(const QString& entry) {
    if (!m_logEnabled)
        return true;
    const QDateTime now = g_logClock ? g_logClock() : QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    const QString text = cut(
        QString::asprintf("\n[%d.%d.%d %d.%d.%d]->", d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()) +
            entry,
        kLogEntryLength);
    // A full disk shows at the write or only when the buffer goes out: both are checked, so a
    // lost entry is reported to whoever depends on it.
    QFile file(m_logFile);
    const QByteArray bytes = text.toUtf8();
    if (file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size() && file.flush()) {
        file.close();
        if (file.error() == QFileDevice::NoError)
            return true;
    }
    ++m_logWriteFailures;
    m_logWriteError = file.errorString();
    return false;
}

QString statementForLog(const QString& sql, const QVariantList& values) {
    if (values.isEmpty())
        return sql;
    QStringList shown;
    shown.reserve(values.size());
    for (const QVariant& value : values)
        shown << valueForLog(value);
    return sql + QStringLiteral("\nValues: ") + shown.join(QStringLiteral(", "));
}

bool DatabaseConnection::logStatement(const QString& sql, const QVariantList& values) {
    return writeLog(statementForLog(sql, values));
}

void DatabaseConnection::logError(const QString& context, const QString& comError, const QString& providerError) {
    writeLog(context + QStringLiteral("\nComError: ") + comError + QStringLiteral("\nProviderError: ") + providerError);
}
