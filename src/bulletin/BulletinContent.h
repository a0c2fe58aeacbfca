#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

#include "BulletinKey.h"
#include "CriticalLimits.h"

class DatabaseConnection;
class Recordset;

// A column as text in UTF-8, cut to fit a buffer of bufferSize bytes (terminator included, as the
// bulletin's fixed buffers had); NULL gives "".
std::string bulletinFieldText(Recordset& rs, const char* column, int bufferSize);

// One result row of a bulletin, as printed.
struct BulletinRow {
    int groupKey = 0; // MachineID: a group ends where it changes
    qint64 resultId = 0;
    QString refcode;
    bool critical = false;
    std::string groupTitle, name, value, lower, upper, unit;
    std::string marker() const; // the interval's marker, empty inside it
};

// The clinical content of a bulletin: the patient block, every row with its interval, marker
// and critical mark, and the sets' comments. Read whole before any page is written; its
// canonical form, and so its fingerprint, leaves out everything that is not the patient's
// (the laboratory header, the printing time, the set identifiers).
struct BulletinContent {
    BulletinKey key;
    std::string setDate, requestCode, patientName, profile, age, sex, firstTitle;
    QList<qint64> resultIds; // the clicked set first, then in the order read
    std::vector<BulletinRow> rows;
    std::vector<CriticalValue> critical;
    // Each set's own patient fields as stored (the head prints the first set's), its comment too.
    QList<QStringList> sets;

    // One line per item: "<what>\t<as printed>", the same text for the same content on every
    // backend and workstation.
    QString canonical() const;
};

// Reads a bulletin's content: the sets of (recordId or the request) transferred on the day,
// and their critical values. False with errorText() when anything could not be read: a
// bulletin is never made of part of its rows.
class BulletinContentReader {
public:
    BulletinContentReader(Recordset& recordset, DatabaseConnection* database);

    enum class Failure { Query, Rows, Critical };

    bool read(int recordId, const BulletinKey& bulletin, BulletinContent* content);
    QString errorText() const { return m_error; }
    Failure failure() const { return m_failure; }
    QString failedSql() const { return m_sql; } // the query, when it could not be opened

private:
    Recordset& m_recordset;
    DatabaseConnection* m_database;
    QString m_error;
    QString m_sql;
    Failure m_failure = Failure::Query;
};
