#include "ValidationSigning.h"

#include "BulletinValidation.h"
#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "Recordset.h"
#include "SqlDialect.h"

namespace {

// %1: the dialect's date parameter.
const char* const kInsert =
    "INSERT INTO BULLETIN_VALIDATION (RequestID, TransDay, resultIDs, contentHash, fingerprint, signedContent, "
    "contentRevision, referenceRevision, validatedAt, userName, workstation, fullName, title) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, %1, ?, ?, ?, ?)";
const char* const kLastId = "SELECT max(id) FROM BULLETIN_VALIDATION WHERE RequestID = ? AND TransDay = ?";

} // namespace

ValidationSigning::ValidationSigning(DatabaseConnection* database) : m_database(database) {}

bool ValidationSigning::insert(const ValidationRecord& row, const QString& password, qint64* id) {
    Q_UNUSED(password);
    m_error.clear();
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
