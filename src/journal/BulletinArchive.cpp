#include "BulletinArchive.h"

#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"
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

BulletinArchive::BulletinArchive(DatabaseConnection* database) : m_database(database) {}

bool BulletinArchive::available() {
    // A failed question is not taken for a missing table: it is asked again next time.
    if (m_available < 0 && m_database)
        m_available = tableExists(m_database, QStringLiteral("BULLETIN_ARCHIVE"), &m_error);
    return m_available == 1;
}

bool BulletinArchive::store(qint64 resultId, const QString& requestId, const QByteArray& content,
                            ArchivedBulletin* stored, const QDateTime& madeAt) {
    m_error.clear();
    if (!available())
        return false;
    ArchivedBulletin row;
    row.resultId = resultId;
    row.requestId = requestId;
    row.madeAt = madeAt.isValid() ? madeAt.toUTC() : CorrectionJournal::now();
    row.userName = CorrectionJournal::currentUser();
    row.workstation = CorrectionJournal::workstation();
    row.contentHash = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    if (!m_database->execute(QString::fromLatin1(kInsert).arg(m_database->dialect().dateParameter()),
                             {resultId, requestId, CorrectionJournal::timeText(row.madeAt), row.userName,
                              row.workstation, row.contentHash, content})) {
        m_error = m_database->errorText();
        return false;
    }
    if (stored)
        *stored = row;
    return true;
}

std::vector<ArchivedBulletin> BulletinArchive::listForRequest(const QString& requestId) {
    std::vector<ArchivedBulletin> list;
    m_error.clear();
    if (!available())
        return list;
    const bool postgres = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    const QString madeAt =
        postgres ? QStringLiteral("to_char(madeAt, 'YYYY-MM-DD HH24:MI:SS.MS')") : QStringLiteral("madeAt");
    Recordset read;
    if (!read.open(QString::fromLatin1(kSelectList).arg(madeAt), m_database, {requestId})) {
        m_error = read.errorText();
        return list;
    }
    QVariant v;
    while (!read.isEOF()) {
        ArchivedBulletin b;
        read.getFieldValue(QStringLiteral("id"), &v);
        b.id = v.toLongLong();
        read.getFieldValue(QStringLiteral("resultID"), &v);
        b.resultId = v.toLongLong();
        read.getFieldValue(QStringLiteral("RequestID"), &v);
        b.requestId = v.toString();
        read.getFieldValue(QStringLiteral("madeAt"), &v);
        b.madeAt = CorrectionJournal::timeFromValue(v);
        read.getFieldValue(QStringLiteral("userName"), &v);
        b.userName = v.toString();
        read.getFieldValue(QStringLiteral("workstation"), &v);
        b.workstation = v.toString();
        read.getFieldValue(QStringLiteral("contentHash"), &v);
        b.contentHash = v.toString().trimmed();
        list.push_back(std::move(b));
        read.moveNext();
    }
    if (read.readFailed()) {
        m_error = read.errorText();
        list.clear();
    }
    read.close();
    return list;
}

bool BulletinArchive::lastForRequest(const QString& requestId, ArchivedBulletin* last) {
    const std::vector<ArchivedBulletin> list = listForRequest(requestId);
    if (list.empty())
        return false;
    if (last)
        *last = list.front();
    return true;
}

bool BulletinArchive::load(qint64 id, QByteArray* content) {
    m_error.clear();
    if (!available())
        return false;
    Recordset read;
    if (!read.open(QString::fromLatin1(kSelectContent), m_database, {id})) {
        m_error = read.errorText();
        return false;
    }
    QVariant v;
    const bool found = !read.isEOF() && read.getFieldValue(QStringLiteral("content"), &v);
    read.close();
    if (!found)
        return false;
    *content = v.toByteArray();
    return true;
}
