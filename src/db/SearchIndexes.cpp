#include "SearchIndexes.h"

#include "DatabaseConnection.h"

#include <QHash>
#include <QMutex>
#include <QSqlQuery>

namespace {

const char* const kNameShadowParts =
    "SELECT count(*) FROM sqlite_master WHERE (type = 'table' AND name = 'RESULTS_NAME_SEARCH') OR "
    "(type = 'trigger' AND tbl_name = 'RESULTS' AND name IN ('RESULTS_NAME_SEARCH_insert', "
    "'RESULTS_NAME_SEARCH_update', 'RESULTS_NAME_SEARCH_delete'))";
constexpr int kNameShadowPartCount = 4;
// A SQLite without FTS5 or its trigram tokenizer cannot read the table.
const char* const kNameShadowProbe =
    "SELECT rowid FROM RESULTS_NAME_SEARCH WHERE RESULTS_NAME_SEARCH MATCH '\"abc\"' LIMIT 1";

// Asked directly of the connection, so that a database without the table leaves nothing in
// the error log. False when the question cannot be answered.
bool hasNameShadow(const QSqlDatabase& db, bool* answered) {
    QSqlQuery parts(db);
    parts.setForwardOnly(true);
    if (!parts.exec(QString::fromLatin1(kNameShadowParts)) || !parts.next()) {
        *answered = false;
        return false;
    }
    *answered = true;
    if (parts.value(0).toInt() != kNameShadowPartCount)
        return false;
    parts.finish();
    QSqlQuery probe(db);
    probe.setForwardOnly(true);
    return probe.exec(QString::fromLatin1(kNameShadowProbe));
}

} // namespace

SearchIndexes SearchIndexes::of(DatabaseConnection* database) {
    SearchIndexes indexes;
    if (!database || !database->m_opened || !database->hasConnection() ||
        database->dialect().kind() != SqlDialect::Kind::SQLite)
        return indexes;
    // Every Open makes a connection with a name of its own.
    static QMutex mutex;
    static QHash<QString, SearchIndexes> known;
    const QSqlDatabase db = database->connection();
    const QString connection = db.connectionName();
    {
        QMutexLocker lock(&mutex);
        const auto found = known.constFind(connection);
        if (found != known.constEnd())
            return *found;
    }
    bool answered = false;
    indexes.nameShadow = hasNameShadow(db, &answered);
    if (answered) {
        QMutexLocker lock(&mutex);
        known.insert(connection, indexes);
    }
    return indexes;
}
