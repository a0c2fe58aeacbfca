#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <vector>

class BulletinArchive;
class DatabaseConnection;
struct Signatory;

// One release of a request's bulletin by a signatory.
struct ValidationRecord {
    qint64 id = 0;
    QString requestId;
    QList<qint64> resultIds; // the sets the bulletin showed, ascending
    QString contentHash;     // SHA-256 of the archived bulletin's bytes, lower-case hex
    QDateTime validatedAt;   // UTC
    QString userName;
    QString workstation;
    QString fullName; // the signatory's name and title as printed
    QString title;
};

// Where a request's bulletin stands.
struct ValidationStatus {
    bool signing = false;       // the laboratory has named signatories: unvalidated means preliminary
    bool hasValidation = false; // the request was validated at least once; newest is that one
    bool validated = false;     // the newest validation still holds: same sets, none corrected since
    ValidationRecord newest;
    QString activeSignatories; // who may validate, for a message
};

// The validations (BULLETIN_VALIDATION): rows only ever added, each written in the transaction
// of the archive row of the bulletin it releases. On a database without the table nothing is
// validated and nothing is preliminary.
class BulletinValidation {
public:
    explicit BulletinValidation(DatabaseConnection* database);

    bool available();
    // The request's validations, newest first; false with errorText() when unreadable.
    bool listForRequest(const QString& requestId, std::vector<ValidationRecord>* list);
    // The status of the bulletin made of these sets of the request; false with errorText()
    // when the signatories, the validations or the journal could not be read.
    bool statusOf(const QString& requestId, const QList<qint64>& resultIds, ValidationStatus* status);
    // Archives the bulletin and records its validation by the signatory in one transaction:
    // both rows are written or neither. validatedAt is the moment the bulletin's data was read.
    bool storeWithBulletin(BulletinArchive& archive, qint64 resultId, const QString& requestId,
                           const QList<qint64>& resultIds, const QByteArray& content, const QDateTime& validatedAt,
                           const Signatory& signatory, ValidationRecord* stored = nullptr);
    // Of the listed sets (id -> request identifier), those the newest validation of their request
    // covers, none of its sets corrected since, with that validation. For the marks of a list:
    // the bulletin itself asks StatusOf.
    bool validatedSets(const QHash<qint64, QString>& sets, QHash<qint64, ValidationRecord>* validated);
    QString errorText() const { return m_error; }

    static QString idsText(QList<qint64> ids);

private:
    DatabaseConnection* m_database;
    int m_available = -1;
    QString m_error;
};
