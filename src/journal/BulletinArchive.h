#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

class DatabaseConnection;

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
// workstation sees it. Rows are only inserted. On a database without the table, available()
// is false and Store does nothing; when the database could not be asked, errorText() says why.
class BulletinArchive {
public:
    explicit BulletinArchive(DatabaseConnection* database);

    bool available();
    // Stores the bytes with the time, the user and the workstation. madeAt is the moment the
    // bulletin's data was read (CorrectionJournal::now() when invalid): a correction made while
    // the bulletin was being written is then after it, and the next bulletin reports it.
    bool store(qint64 resultId, const QString& requestId, const QByteArray& content, ArchivedBulletin* stored = nullptr,
               const QDateTime& madeAt = QDateTime());
    // The bulletins of a request, newest first; empty with errorText() set when unreadable.
    std::vector<ArchivedBulletin> listForRequest(const QString& requestId);
    // The newest bulletin of a request; false when there is none or it cannot be read
    // (errorText() tells the two apart).
    bool lastForRequest(const QString& requestId, ArchivedBulletin* last);
    bool load(qint64 id, QByteArray* content);
    QString errorText() const { return m_error; }

private:
    DatabaseConnection* m_database;
    int m_available = -1;
    QString m_error;
};
