#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include "BulletinKey.h"

class DatabaseConnection;

// The counters that the database's triggers raise on every change of a bulletin's sets and
// values (CONTENT_REVISIONS), and of what every bulletin shows beside them (the row ('', '')):
// whoever writes, the program or another one. Equal counters mean nothing changed; a missing
// row counts 0. A database without the table has no counters: available() is false.
class ContentRevisions {
public:
    explicit ContentRevisions(DatabaseConnection* database);

    bool available();
    // The bulletin's counter and the reference counter.
    bool read(const BulletinKey& bulletin, qint64* revision, qint64* reference);
    // The counters of the bulletins listed (those not in *revisions count 0) and the reference one.
    bool readMany(const QList<BulletinKey>& bulletins, QHash<BulletinKey, qint64>* revisions, qint64* reference);
    QString errorText() const { return m_error; }

private:
    DatabaseConnection* m_database;
    int m_available = -1;
    QString m_error;
};
