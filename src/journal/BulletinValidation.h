#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <vector>

#include "BulletinKey.h"

class BulletinArchive;
class DatabaseConnection;
struct Signatory;

// One release of a bulletin by a signatory, bound to the clinical content that was signed.
struct ValidationRecord {
    qint64 id = 0;
    QString requestId;
    QString day;                   // the bulletin's transfer day; empty for a validation made before days were kept
    QList<qint64> resultIds;       // the sets the bulletin showed, ascending
    QString contentHash;           // SHA-256 of the archived bulletin's bytes, lower-case hex
    QString fingerprint;           // SHA-256 of signedContent; empty for a validation made before fingerprints
    QString signedContent;         // the clinical content signed, in its canonical form
    qint64 contentRevision = -1;   // the bulletin's CONTENT_REVISIONS counter when its content was read
    qint64 referenceRevision = -1; // the counter of intervals, limits and names then
    QDateTime validatedAt;         // UTC, the moment of signing
    QString userName;              // the signatory's user name
    QString workstation;
    QString fullName; // the signatory's name and title as printed
    QString title;

    BulletinKey key() const { return {requestId, day}; }
};

// Where a bulletin stands.
struct ValidationStatus {
    bool signing = false;       // the laboratory has named signatories: unvalidated means preliminary
    bool hasValidation = false; // the bulletin was validated at least once; newest is that one
    bool validated = false;     // today's content has the newest validation's fingerprint
    ValidationRecord newest;
    QStringList changes;       // what differs from the content the newest validation signed
    QString activeSignatories; // who may validate, for a message
};

// The validations (BULLETIN_VALIDATION): rows only ever added, each written in the transaction
// of the archive row of the bulletin it releases. A validation holds exactly as long as the
// bulletin's clinical content has the fingerprint it signed, whatever changed it. On a database
// without the table nothing is validated and nothing is preliminary.
class BulletinValidation {
public:
    explicit BulletinValidation(DatabaseConnection* database);

    bool available();
    // The validations of a request (every day), newest first; false with errorText() when unreadable.
    bool listForRequest(const QString& requestId, std::vector<ValidationRecord>* list);
    // The validations of the bulletins of these transfer days ('YYYY-MM-DD'), newest first.
    bool listForDays(const QString& firstDay, const QString& lastDay, std::vector<ValidationRecord>* list);
    // The validations of one bulletin, newest first.
    bool listForBulletin(const BulletinKey& bulletin, std::vector<ValidationRecord>* list);
    // The status of the bulletin (of these sets) whose clinical content is today canonicalContent;
    // false with errorText() when the signatories or the validations could not be read.
    bool statusOf(const BulletinKey& bulletin, const QString& canonicalContent, const QList<qint64>& resultIds,
                  ValidationStatus* status);
    // Archives the bulletin and records its validation by the signatory in one transaction:
    // both rows are written or neither. row carries the key, sets, signed content and revisions;
    // the hash of content, the signatory and the workstation are filled in here.
    bool storeWithBulletin(BulletinArchive& archive, qint64 resultId, const QByteArray& content, ValidationRecord row,
                           const Signatory& signatory, const QString& password, ValidationRecord* stored = nullptr);
    // The newest validation with a fingerprint of each of the bulletins (none for a bulletin never
    // validated). A search of a whole range asks once per day range, a short list by request.
    bool newestOf(const QSet<BulletinKey>& bulletins, QHash<BulletinKey, ValidationRecord>* newest);
    // Whether the table holds any validation at all: a list without any needs no more questions.
    bool anyValidation(bool* any);
    QString errorText() const { return m_error; }

    static QString idsText(QList<qint64> ids);
    static QString fingerprintOf(const QString& canonicalContent);
    // The lines of the content that differ, as named on a bulletin that replaces a validated one.
    static QStringList differences(const QString& signedContent, const QString& canonicalContent);

private:
    bool readList(const QString& condition, const QVariantList& values, bool full, std::vector<ValidationRecord>* list);

    DatabaseConnection* m_database;
    int m_available = -1;
    bool m_outdated = false; // the table lacks the signed content's columns
    QString m_error;
};
