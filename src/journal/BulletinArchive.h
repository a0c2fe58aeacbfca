#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

class CAdoDatabase;

// One bulletin as the program wrote it.
struct ArchivedBulletin {
    qint64 id = 0;
    qint64 resultId = 0;
    QString requestId;
    QDateTime madeAt; // UTC
    QString userName;
    QString workstation;
    QString contentHash; // SHA-256 of the bytes, lower-case hex
};

// Every bulletin the program writes, kept in the database (BULLETIN_ARCHIVE) so that every
// workstation sees it. Rows are only inserted. On a database without the table, Available()
// is false and Store does nothing; when the database could not be asked, ErrorText() says why.
class BulletinArchive {
public:
    explicit BulletinArchive(CAdoDatabase* database);

    bool Available();
    // Stores the bytes with the time, the user and the workstation. madeAt is the moment the
    // bulletin's data was read (CorrectionJournal::Now() when invalid): a correction made while
    // the bulletin was being written is then after it, and the next bulletin reports it.
    bool Store(qint64 resultId, const QString& requestId, const QByteArray& content, ArchivedBulletin* stored = nullptr,
               const QDateTime& madeAt = QDateTime());
    // The bulletins of a request, newest first; empty with ErrorText() set when unreadable.
    std::vector<ArchivedBulletin> ListForRequest(const QString& requestId);
    // The newest bulletin of a request; false when there is none or it cannot be read
    // (ErrorText() tells the two apart).
    bool LastForRequest(const QString& requestId, ArchivedBulletin* last);
    bool Load(qint64 id, QByteArray* content);
    QString ErrorText() const { return m_error; }

private:
    CAdoDatabase* m_database;
    int m_available = -1;
    QString m_error;
};
