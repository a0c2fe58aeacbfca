#pragma once

#include <QString>

#include <vector>

class DatabaseConnection;

// A message an analyser sent, as labrosa-receiver stored it, and the set it became.
struct ReceivedMessage {
    qint64 id = 0;
    qint64 resultId = 0;
    QString receivedAt; // 'YYYY-MM-DD HH:MM:SS', the receiver's local time, like TransDate
    int machineId = 0;
    QString analyserName; // empty when ANALYSERS does not name it
    QString protocol;     // "ASTM" or "HL7"
    QString controlId;
    QString content; // records or segments ended by CR, as received
};

// The received messages that a request's sets came from (tables RECEIVED_MESSAGES and
// RECEIVED_SETS). A database without them received nothing and available() says so.
class ReceivedMessages {
public:
    explicit ReceivedMessages(DatabaseConnection* database) : m_database(database) {}

    // Whether the database holds the tables; false with errorText() set when the question failed.
    bool available();
    // The messages of the request's sets, newest first; with a record id only that set's.
    bool forRequest(const QString& requestId, std::vector<ReceivedMessage>* list);
    bool forRecord(qint64 resultId, std::vector<ReceivedMessage>* list);
    QString errorText() const { return m_error; }

    // The message as a person reads it: one record or segment a line.
    static QString displayText(const QString& content);

private:
    bool read(const QString& condition, const QVariant& value, std::vector<ReceivedMessage>* list);

    DatabaseConnection* m_database;
    int m_available = -1;
    QString m_error;
};
