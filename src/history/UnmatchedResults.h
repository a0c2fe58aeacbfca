#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class DatabaseConnection;

// A received result waiting for a technician (table UNMATCHED_RESULTS).
struct UnmatchedResult {
    qint64 id = 0;
    qint64 receivedSetId = 0;
    int machineId = 0;
    QString analyserName;
    QString requestId; // empty when the analyser sent none
    QString patientName;
    QString code;
    QString value;
    QString reason;      // "parameter", "specimen" or "length"
    qint64 resultId = 0; // the set the specimen's other results went into; 0 when none
    QString receivedAt;  // 'YYYY-MM-DD HH:MM:SS'
};

// What a receiver last said of its analyser's connection (table RECEIVER_STATUS).
struct AnalyserStatus {
    int machineId = 0;
    QString analyserName;
    QString state; // "conectat", "deconectat", "asteapta", "eroare"
    QString lastMessageAt;
    qint64 messages = 0;
    QString lastError;
    QString lastErrorAt;
    QString updatedAt;
};

// The queue of received results that could not be put into a set, and the state of the
// analysers' connections. A result is put into its set once a technician names the request or
// the parameter: in one transaction the value goes into RESULT_VALUES (the set made first when
// the specimen has none yet) and the queue's row is marked resolved.
class UnmatchedResults {
public:
    explicit UnmatchedResults(DatabaseConnection* database) : m_database(database) {}

    // Whether the database has the receiver's tables; false with errorText() set when the question failed.
    bool available();
    bool waiting(std::vector<UnmatchedResult>* list);
    bool analysers(std::vector<AnalyserStatus>* list);
    // The analyser's parameter codes, for the technician to choose from.
    bool parameterCodes(int machineId, QStringList* codes);
    // Puts the result into the set of the request (its own when empty) under the code; with
    // remember, the analyser's code stands for that parameter in the results still to come.
    bool resolve(const UnmatchedResult& result, const QString& requestId, const QString& code, bool remember = false);
    QString errorText() const { return m_error; }

    static QString reasonLabel(const QString& reason);

private:
    bool fail(const QString& text);

    DatabaseConnection* m_database;
    int m_available = -1;
    QString m_error;
};
