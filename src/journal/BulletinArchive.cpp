#include "BulletinArchive.h"

#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"
#include "SqlDialect.h"

#include <QCryptographicHash>

namespace {

const char* const kInsert = "INSERT INTO BULLETIN_ARCHIVE (resultID, RequestID, madeAt, userName, workstation, "
                            "contentHash, content, TransDay, purpose) VALUES (?, ?, %1, ?, ?, ?, ?, ?, ?)";
// An archive made before copies kept their day and purpose (until labrosa-dbtool --upgrade).
const char* const kInsertOld = "INSERT INTO BULLETIN_ARCHIVE (resultID, RequestID, madeAt, userName, workstation, "
                               "contentHash, content) VALUES (?, ?, %1, ?, ?, ?, ?)";
// %1: the time read as text with its milliseconds; %2 the condition.
const char* const kSelectList = "SELECT id, resultID, RequestID, %1 AS madeAt, userName, workstation, contentHash, %3 "
                                "FROM BULLETIN_ARCHIVE WHERE %2 ORDER BY madeAt DESC, id DESC";
const char* const kDayColumns = "TransDay, purpose";
const char* const kNoDayColumns = "NULL AS TransDay, NULL AS purpose";
const char* const kOfRequest = "RequestID = ?";
const char* const kOfBulletin = "RequestID = ? AND (TransDay = ? OR TransDay IS NULL)";

struct PurposeName {
    ArchivePurpose purpose;
    const char* stored;
    const char* label;
};
constexpr PurposeName kPurposes[] = {{ArchivePurpose::Shown, "afisat", "afisat"},
                                     {ArchivePurpose::Validated, "validat", "validat"},
                                     {ArchivePurpose::Printed, "tiparit", "tiparit"},
                                     {ArchivePurpose::Exported, "exportat", "exportat PDF"},
                                     {ArchivePurpose::Saved, "salvat", "salvat"}};
const char* const kSelectContent = "SELECT content FROM BULLETIN_ARCHIVE WHERE id = ?";

} // namespace

BulletinArchive::BulletinArchive(DatabaseConnection* database) : m_database(database) {}

bool BulletinArchive::available() {
    // A failed question is not taken for a missing table: it is asked again next time.
    if (m_available < 0 && m_database)
        m_available = tableExists(m_database, QStringLiteral("BULLETIN_ARCHIVE"), &m_error);
    if (m_available == 1 && m_keepsDays < 0)
        m_keepsDays = columnExists(m_database, QStringLiteral("BULLETIN_ARCHIVE"), QStringLiteral("purpose"), &m_error);
    return m_available == 1 && m_keepsDays >= 0;
}

QString BulletinArchive::purposeText(ArchivePurpose purpose) {
    for (const PurposeName& name : kPurposes)
        if (name.purpose == purpose)
            return QLatin1String(name.stored);
    return QString();
}

ArchivePurpose BulletinArchive::purposeFromText(const QString& text) {
    for (const PurposeName& name : kPurposes)
        if (text.trimmed() == QLatin1String(name.stored))
            return name.purpose;
    return ArchivePurpose::Unknown;
}

QString BulletinArchive::purposeLabel(ArchivePurpose purpose) {
    for (const PurposeName& name : kPurposes)
        if (name.purpose == purpose)
            return QLatin1String(name.label);
    return QStringLiteral("facut");
}

bool BulletinArchive::store(qint64 resultId, const BulletinKey& bulletin, const QByteArray& content,
                            ArchivePurpose purpose, ArchivedBulletin* stored, const QDateTime& madeAt) {
    m_error.clear();
    if (!available())
        return false;
    ArchivedBulletin row;
    row.resultId = resultId;
    row.requestId = bulletin.requestId;
    row.day = bulletin.day;
    row.purpose = purpose;
    row.madeAt = madeAt.isValid() ? madeAt.toUTC() : CorrectionJournal::now();
    row.userName = CorrectionJournal::currentUser();
    row.workstation = CorrectionJournal::workstation();
    row.contentHash = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    QVariantList values{resultId,     bulletin.requestId, CorrectionJournal::timeText(row.madeAt),
                        row.userName, row.workstation,    row.contentHash,
                        content};
    if (m_keepsDays == 1)
        values << (bulletin.day.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(bulletin.day))
               << purposeText(purpose);
    if (!m_database->execute(
            QString::fromLatin1(m_keepsDays == 1 ? kInsert : kInsertOld).arg(m_database->dialect().dateParameter()),
            values)) {
        m_error = m_database->errorText();
        return false;
    }
    if (stored)
        *stored = row;
    return true;
}

std::vector<ArchivedBulletin> BulletinArchive::listForRequest(const QString& requestId) {
    return listWhere(QLatin1String(kOfRequest), {requestId});
}

std::vector<ArchivedBulletin> BulletinArchive::listForBulletin(const BulletinKey& bulletin) {
    // Without the days every copy of the request may be this bulletin's.
    if (available() && m_keepsDays == 0)
        return listWhere(QLatin1String(kOfRequest), {bulletin.requestId});
    return listWhere(QLatin1String(kOfBulletin), {bulletin.requestId, bulletin.day});
}

std::vector<ArchivedBulletin> BulletinArchive::listWhere(const QString& condition, const QVariantList& values) {
    std::vector<ArchivedBulletin> list;
    m_error.clear();
    if (!available())
        return list;
    const bool postgres = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    const QString madeAt =
        postgres ? QStringLiteral("to_char(madeAt, 'YYYY-MM-DD HH24:MI:SS.MS')") : QStringLiteral("madeAt");
    Recordset read;
    if (!read.open(QString::fromLatin1(kSelectList)
                       .arg(madeAt, condition, QLatin1String(m_keepsDays == 1 ? kDayColumns : kNoDayColumns)),
                   m_database, values)) {
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
        read.getFieldValue(QStringLiteral("TransDay"), &v);
        b.day = v.toString().trimmed();
        read.getFieldValue(QStringLiteral("purpose"), &v);
        b.purpose = purposeFromText(v.toString());
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

bool BulletinArchive::lastSentOut(const BulletinKey& bulletin, ArchivedBulletin* last) {
    for (const ArchivedBulletin& copy : listForBulletin(bulletin))
        if (copy.leftTheProgram()) {
            if (last)
                *last = copy;
            return true;
        }
    return false;
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
