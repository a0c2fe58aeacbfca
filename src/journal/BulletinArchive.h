#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariantList>

#include <vector>

#include "BulletinKey.h"

class DatabaseConnection;

// What became of an archived copy: only looked at on screen, or sent out of the program.
enum class ArchivePurpose { Shown, Validated, Printed, Exported, Saved, Unknown };

// One bulletin as the program wrote it.
struct ArchivedBulletin {
    qint64 id = 0;
    qint64 resultId = 0;
    QString requestId;
    QDateTime madeAt; // UTC
    QString userName;
    QString workstation;
    QString contentHash; // SHA-256 of the bytes, lower-case hex
    QString day;         // the bulletin's transfer day; empty for a copy archived before days were kept
    ArchivePurpose purpose = ArchivePurpose::Unknown; // Unknown: archived before purposes were kept

    // Whether the copy went where a doctor may have read it; an old copy of unknown purpose may have.
    bool leftTheProgram() const { return purpose != ArchivePurpose::Shown; }
};

// Every bulletin the program writes, kept in the database (BULLETIN_ARCHIVE) so that every
// workstation sees it. Rows are only inserted. On a database without the table, available()
// is false and Store does nothing; when the database could not be asked, errorText() says why.
class BulletinArchive {
public:
    explicit BulletinArchive(DatabaseConnection* database);

    bool available();
    // Stores the bytes of the bulletin with what became of them, the time, the user and the
    // workstation. madeAt is the moment the bulletin's data was read (CorrectionJournal::now()
    // when invalid): a correction made while the bulletin was being written is then after it.
    bool store(qint64 resultId, const BulletinKey& bulletin, const QByteArray& content, ArchivePurpose purpose,
               ArchivedBulletin* stored = nullptr, const QDateTime& madeAt = QDateTime());
    // The bulletins of a request (of every day), newest first; empty with errorText() set when unreadable.
    std::vector<ArchivedBulletin> listForRequest(const QString& requestId);
    // The copies of one bulletin, newest first (with the request's copies of unknown day).
    std::vector<ArchivedBulletin> listForBulletin(const BulletinKey& bulletin);
    // The newest copy of the bulletin that left the program (validated, printed, exported,
    // saved); false when there is none or it cannot be read (errorText() tells the two apart).
    bool lastSentOut(const BulletinKey& bulletin, ArchivedBulletin* last);

    static QString purposeText(ArchivePurpose purpose); // as stored
    static ArchivePurpose purposeFromText(const QString& text);
    static QString purposeLabel(ArchivePurpose purpose); // as shown: "tiparit", ...
    bool load(qint64 id, QByteArray* content);
    QString errorText() const { return m_error; }

private:
    std::vector<ArchivedBulletin> listWhere(const QString& condition, const QVariantList& values);

    DatabaseConnection* m_database;
    int m_available = -1;
    int m_keepsDays = -1; // the copies' day and purpose columns are there (added by --upgrade)
    QString m_error;
};
