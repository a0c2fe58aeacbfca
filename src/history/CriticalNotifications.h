#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <vector>

#include "CriticalLimits.h"

class DatabaseConnection;

// Who was told of a request's critical values, and when.
struct CriticalNotification {
    qint64 id = 0;
    QString requestId;
    QList<qint64> resultIds; // the sets whose critical values were told
    // The values told, each by its set, MachineID, code and value as printed; none on a record
    // made before values were named, which therefore covers no value.
    std::vector<CriticalValue> values;
    QString name;         // who was told
    QString contact;      // their phone or e-mail
    QDateTime toldAt;     // UTC
    QDateTime recordedAt; // UTC, when the record was written
    QString userName;
    QString workstation;
};

// The record of critical values told (table CRITICAL_NOTIFICATIONS): rows are only ever
// added, like the correction journal's. Each row names the values it told. A database without
// the table records nothing and available() says so.
class CriticalNotifications {
public:
    explicit CriticalNotifications(DatabaseConnection* database);

    // Whether the database holds the table; false with errorText() set when the question failed.
    bool available();
    // Adds the record; the time it is written, the user and the workstation are taken here.
    bool record(const CriticalNotification& told);
    // The records of a request, newest first.
    bool forRequest(const QString& requestId, std::vector<CriticalNotification>* list);
    // Of the critical values, those that no record of their request names: same set, MachineID,
    // code and value as printed. A value made critical after a record, or changed since, is left.
    bool unannounced(const std::vector<CriticalValue>& critical, std::vector<CriticalValue>* left);
    QString errorText() const { return m_error; }

    // "Anuntat <name> (<contact>) la <time>, inregistrat de <user>": one record as shown.
    static QString describe(const CriticalNotification& told);
    // The values as stored in a record: one line per value, set, MachineID, code and value
    // apart by tabs, with backslash, tab and line ends escaped; and read back.
    static QString valuesText(const std::vector<CriticalValue>& values);
    static std::vector<CriticalValue> valuesFromText(const QString& text);

private:
    DatabaseConnection* m_database;
    int m_available = -1;
    QString m_error;
};
