#pragma once

#include "ReceivedSet.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QSqlQuery>

#include <memory>

class DatabaseConnection;

// What became of one received message.
struct StoreOutcome {
    enum class Kind { Stored, Duplicate, Failed };
    Kind kind = Kind::Failed;
    int setsStored = 0;
    int unmatched = 0; // results put into the queue of unmatched results
    QList<int> resultIds;
    QString error;
};

// Writes received messages into the laboratory's database, each in one transaction: the message
// as it came (RECEIVED_MESSAGES), per specimen one RESULTS row with a RESULT_VALUES row per
// result whose code the analyser's PARAMETERS know, and every other result into
// UNMATCHED_RESULTS (a code a technician named in PARAMETER_ALIASES counts as its parameter's). A message whose control
// id, or a set whose analyser, specimen and results, were stored before is not stored again. Either all of a message is
// committed or none of it.
class ResultStore {
public:
    ResultStore(DatabaseConnection* database, int machineId);
    ~ResultStore();

    int machineId() const { return m_machineId; }

    StoreOutcome store(const QString& protocol, const QString& controlId, const QString& content,
                       const QList<ReceivedSet>& sets, const QDateTime& receivedAt);

    // The connection's state for the program ("conectat", "deconectat", ...) and the last
    // problem; an empty problem leaves the last one standing. False when it could not be written.
    bool writeStatus(const QString& state, const QString& problem, const QDateTime& now);

    QString lastError() const { return m_error; }

private:
    QSqlQuery* query(const char* sql);
    bool run(QSqlQuery* q, const QVariantList& values);
    bool loadParameters();
    bool storeSet(const ReceivedSet& set, qint64 messageId, const QString& fingerprint, const QString& receivedText,
                  const QDateTime& receivedAt, StoreOutcome* outcome);
    void dropQueries();
    bool ensureOpen();

    DatabaseConnection* m_database;
    int m_machineId;
    QSet<QString> m_codes;             // the analyser's parameter codes
    QHash<QString, QString> m_aliases; // the analyser's own code -> its parameter's code
    bool m_codesLoaded = false;
    std::vector<std::pair<const char*, std::unique_ptr<QSqlQuery>>> m_queries;
    bool m_broken = false; // a failure left the connection in doubt: open it anew
    QString m_error;
};
