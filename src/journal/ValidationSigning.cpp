#include "ValidationSigning.h"

#include "BulletinValidation.h"
#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "Recordset.h"
#include "SigningPasswords.h"
#include "SqlDialect.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

// %1: the dialect's date parameter.
const char* const kInsert =
    "INSERT INTO BULLETIN_VALIDATION (RequestID, TransDay, resultIDs, contentHash, fingerprint, signedContent, "
    "contentRevision, referenceRevision, validatedAt, userName, workstation, fullName, title) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, %1, ?, ?, ?, ?)";
const char* const kLastId = "SELECT max(id) FROM BULLETIN_VALIDATION WHERE RequestID = ? AND TransDay = ?";
const char* const kServerValidate =
    "SELECT labrosa_validate_bulletin(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, CAST(? AS timestamp), ?, ?)";
// The server's refusals: invalid_password, invalid_authorization_specification (a lock, or no
// such active signatory).
const char* const kRefusedCodes[] = {"28P01", "28000"};
// undefined_function: a database made before signing passwords.
const char* const kMissingFunction = "42883";

} // namespace

ValidationSigning::ValidationSigning(DatabaseConnection* database) : m_database(database) {}

bool ValidationSigning::insert(const ValidationRecord& row, const QString& password, qint64* id) {
    m_error.clear();
    m_refused = false;
    if (m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL)
        return insertOnServer(row, password, id);
    SigningPasswords passwords(m_database);
    const SigningPasswords::Outcome outcome = passwords.verify(row.userName, password);
    if (outcome != SigningPasswords::Outcome::accepted) {
        m_refused = outcome != SigningPasswords::Outcome::failed;
        m_error = passwords.outcomeText(outcome, row.userName);
        return false;
    }
    if (!passwords.recordAccepted(row.userName)) {
        m_error = passwords.errorText();
        return false;
    }
    if (!m_database->execute(QString::fromLatin1(kInsert).arg(m_database->dialect().dateParameter()),
                             {row.requestId, row.day, BulletinValidation::idsText(row.resultIds), row.contentHash,
                              row.fingerprint, row.signedContent, row.contentRevision, row.referenceRevision,
                              CorrectionJournal::timeText(row.validatedAt), row.userName, row.workstation, row.fullName,
                              row.title})) {
        m_error = m_database->errorText();
        return false;
    }
    if (id) {
        Recordset read;
        if (read.open(QString::fromLatin1(kLastId), m_database, {row.requestId, row.day}) && !read.isEOF()) {
            QVariant last;
            read.getFieldValueAt(0, &last);
            *id = last.toLongLong();
        }
        read.close();
    }
    return true;
}

// Run outside the connection's logged path: a failed statement is logged with its values, and
// one of them is the password.
bool ValidationSigning::insertOnServer(const ValidationRecord& row, const QString& password, qint64* id) {
    // A refusal is an error, which would leave the caller's transaction aborted until its
    // rollback; the savepoint keeps it usable, so the statement can be freed.
    QSqlQuery savepoint(m_database->connection());
    if (!savepoint.exec(QStringLiteral("SAVEPOINT labrosa_signing"))) {
        m_error = savepoint.lastError().text();
        return false;
    }
    QSqlQuery query(m_database->connection());
    const QVariantList values = {row.userName,
                                 password,
                                 row.workstation,
                                 row.requestId,
                                 row.day,
                                 BulletinValidation::idsText(row.resultIds),
                                 row.contentHash,
                                 row.fingerprint,
                                 row.signedContent,
                                 row.contentRevision,
                                 row.referenceRevision,
                                 CorrectionJournal::timeText(row.validatedAt),
                                 row.fullName,
                                 row.title};
    bool ok = query.prepare(QString::fromLatin1(kServerValidate));
    for (int i = 0; ok && i < values.size(); ++i)
        query.bindValue(i, values.at(i));
    if (ok && query.exec() && query.next()) {
        if (id)
            *id = query.value(0).toLongLong();
        query.finish();
        savepoint.exec(QStringLiteral("RELEASE SAVEPOINT labrosa_signing"));
        return true;
    }
    const QSqlError error = query.lastError();
    savepoint.exec(QStringLiteral("ROLLBACK TO SAVEPOINT labrosa_signing"));
    const QString code = error.nativeErrorCode();
    m_database->noteErrorCode(code);
    for (const char* refused : kRefusedCodes)
        m_refused = m_refused || code == QLatin1String(refused);
    m_error = code == QLatin1String(kMissingFunction)
                  ? QStringLiteral("Baza de date nu are parolele de semnare (se adauga cu labrosa-dbtool --upgrade).")
                  : error.databaseText();
    return false;
}
