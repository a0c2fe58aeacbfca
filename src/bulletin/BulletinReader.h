#pragma once

#include <QString>
#include <QStringList>

#include "BulletinContent.h"

class DatabaseConnection;
class Recordset;
struct BulletinData;

// Reads all the data of one bulletin (the sets of a request transferred on one day) as a
// BulletinData, in two steps so that a validation can stop between them. Nothing is shown:
// what went wrong is in messages(), in the words the bulletin window's caller shows.
class BulletinReader {
public:
    // settingsFile: the laboratory's Labrosa.ini, read for the head of the page.
    BulletinReader(Recordset& recordset, DatabaseConnection* database,
                   const QString& settingsFile = QStringLiteral("Labrosa.ini"));

    // The content of (recordId or its request) on key's day, the corrections since the copy
    // that last left the program, and the validation status. False when any of them could not
    // be read: a bulletin is never made of part of its data.
    bool readContent(int recordId, const BulletinKey& key, BulletinData* data);
    // The laboratory's settings, the patient's earlier values with the delta marks, and who
    // was told of the critical values. False when the earlier values the page needs could not
    // be read; who was told, unreadable, leaves a message, and all values count as untold.
    bool readSurroundings(BulletinData* data);
    // True when the content read again is still the one data holds (what was shown is what is
    // signed); else errorText() may say why it could not be read.
    bool contentUnchanged(int recordId, const BulletinData& data);

    QStringList messages() const { return m_messages; }
    // The rows themselves could not all be read (no earlier bulletin must stand for this one).
    bool rowsUnreadable() const { return m_rowsUnreadable; }
    QString errorText() const { return m_contentReader.errorText(); }

private:
    bool readCorrections(BulletinData* data);
    void readCriticalNotice(BulletinData* data);

    DatabaseConnection* m_database;
    QString m_settingsFile;
    BulletinContentReader m_contentReader;
    QStringList m_messages;
    bool m_rowsUnreadable = false;
};
