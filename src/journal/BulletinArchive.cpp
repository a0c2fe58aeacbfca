#include "BulletinArchive.h"

#include "CAdoDatabase.h"
#include "CAdoRecordset.h"
#include "CorrectionJournal.h"
#include "LabSchemaCheck.h"
#include "SqlDialect.h"

#include <QCryptographicHash>

namespace {

const char* const kInsert = "INSERT INTO BULLETIN_ARCHIVE (resultID, RequestID, madeAt, userName, workstation, "
                            "contentHash, content) VALUES (?, ?, %1, ?, ?, ?, ?)";
// %1: the time read as text with its milliseconds.
const char* const kSelectList = "SELECT id, resultID, RequestID, %1 AS madeAt, userName, workstation, contentHash "
                                "FROM BULLETIN_ARCHIVE WHERE RequestID = ? ORDER BY madeAt DESC, id DESC";
const char* const kSelectContent = "SELECT content FROM BULLETIN_ARCHIVE WHERE id = ?";

} // namespace

BulletinArchive::BulletinArchive(CAdoDatabase* database) : m_database(database) {}

bool BulletinArchive::Available() {
    // A failed question is not taken for a missing table: it is asked again next time.
    if (m_available < 0 && m_database)
        m_available = TableExists(m_database, QStringLiteral("BULLETIN_ARCHIVE"), &m_error);
    return m_available == 1;
}

bool BulletinArchive::Store(qint64 resultId, const QString& requestId, const QByteArray& content,
                            ArchivedBulletin* stored, const QDateTime& madeAt) {
    m_error.clear();
    if (!Available())
        return false;
    ArchivedBulletin row;
    row.resultId = resultId;
    row.requestId = requestId;
    row.madeAt = madeAt.isValid() ? madeAt.toUTC() : CorrectionJournal::Now();
    row.userName = CorrectionJournal::CurrentUser();
    row.workstation = CorrectionJournal::Workstation();
    row.contentHash = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    if (!m_database->Execute(QString::fromLatin1(kInsert).arg(m_database->dialect().dateParameter()),
                             {resultId, requestId, CorrectionJournal::TimeText(row.madeAt), row.userName,
                              row.workstation, row.contentHash, content})) {
        m_error = m_database->ErrorText();
        return false;
    }
    if (stored)
        *stored = row;
    return true;
}

std::vector<ArchivedBulletin> BulletinArchive::ListForRequest(const QString& requestId) {
    std::vector<ArchivedBulletin> list;
    m_error.clear();
    if (!Available())
        return list;
    const bool postgres = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    const QString madeAt =
        postgres ? QStringLiteral("to_char(madeAt, 'YYYY-MM-DD HH24:MI:SS.MS')") : QStringLiteral("madeAt");
    CAdoRecordset read;
    if (!read.Open(QString::fromLatin1(kSelectList).arg(madeAt), m_database, {requestId})) {
        m_error = read.ErrorText();
        return list;
    }
    QVariant v;
    while (!read.IsEOF()) {
        ArchivedBulletin b;
        read.GetFieldValue(QStringLiteral("id"), &v);
        b.id = v.toLongLong();
        read.GetFieldValue(QStringLiteral("resultID"), &v);
        b.resultId = v.toLongLong();
        read.GetFieldValue(QStringLiteral("RequestID"), &v);
        b.requestId = v.toString();
        read.GetFieldValue(QStringLiteral("madeAt"), &v);
        b.madeAt = CorrectionJournal::TimeFromValue(v);
        read.GetFieldValue(QStringLiteral("userName"), &v);
        b.userName = v.toString();
        read.GetFieldValue(QStringLiteral("workstation"), &v);
        b.workstation = v.toString();
        read.GetFieldValue(QStringLiteral("contentHash"), &v);
        b.contentHash = v.toString().trimmed();
        list.push_back(std::move(b));
        read.MoveNext();
    }
    if (read.ReadFailed()) {
        m_error = read.ErrorText();
        list.clear();
    }
    read.Close();
    return list;
}

bool BulletinArchive::LastForRequest(const QString& requestId, ArchivedBulletin* last) {
    const std::vector<ArchivedBulletin> list = ListForRequest(requestId);
    if (list.empty())
        return false;
    if (last)
        *last = list.front();
    return true;
}

bool BulletinArchive::Load(qint64 id, QByteArray* content) {
    m_error.clear();
    if (!Available())
        return false;
    CAdoRecordset read;
    if (!read.Open(QString::fromLatin1(kSelectContent), m_database, {id})) {
        m_error = read.ErrorText();
        return false;
    }
    QVariant v;
    const bool found = !read.IsEOF() && read.GetFieldValue(QStringLiteral("content"), &v);
    read.Close();
    if (!found)
        return false;
    *content = v.toByteArray();
    return true;
}
