#include "BulletinValidation.h"

#include "BulletinArchive.h"
#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"
#include "SignatoryList.h"
#include "SqlDialect.h"

#include <QCryptographicHash>
#include <QSet>

#include <algorithm>

namespace {

const char* const kInsert =
    "INSERT INTO BULLETIN_VALIDATION (RequestID, resultIDs, contentHash, validatedAt, userName, "
    "workstation, fullName, title) VALUES (?, ?, ?, %1, ?, ?, ?, ?)";
// %1: the time read as text with its milliseconds.
const char* const kSelectList =
    "SELECT id, RequestID, resultIDs, contentHash, %1 AS validatedAt, userName, workstation, fullName, title "
    "FROM BULLETIN_VALIDATION WHERE RequestID = ? ORDER BY validatedAt DESC, id DESC";

QList<qint64> idsFromText(const QString& text) {
    QList<qint64> ids;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        ids << part.trimmed().toLongLong();
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

BulletinValidation::BulletinValidation(DatabaseConnection* database) : m_database(database) {}

bool BulletinValidation::available() {
    if (m_available < 0 && m_database)
        m_available = tableExists(m_database, QStringLiteral("BULLETIN_VALIDATION"), &m_error);
    return m_available == 1;
}

QString BulletinValidation::idsText(QList<qint64> ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    QStringList parts;
    for (qint64 id : ids)
        parts << QString::number(id);
    return parts.join(QLatin1Char(','));
}

bool BulletinValidation::listForRequest(const QString& requestId, std::vector<ValidationRecord>* list) {
    list->clear();
    m_error.clear();
    if (!available())
        return m_error.isEmpty();
    const bool postgres = m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL;
    const QString when =
        postgres ? QStringLiteral("to_char(validatedAt, 'YYYY-MM-DD HH24:MI:SS.MS')") : QStringLiteral("validatedAt");
    Recordset read;
    if (!read.open(QString::fromLatin1(kSelectList).arg(when), m_database, {requestId})) {
        m_error = read.errorText();
        return false;
    }
    QVariant v;
    while (!read.isEOF()) {
        ValidationRecord r;
        read.getFieldValue(QStringLiteral("id"), &v);
        r.id = v.toLongLong();
        read.getFieldValue(QStringLiteral("RequestID"), &v);
        r.requestId = v.toString();
        read.getFieldValue(QStringLiteral("resultIDs"), &v);
        r.resultIds = idsFromText(v.toString());
        read.getFieldValue(QStringLiteral("contentHash"), &v);
        r.contentHash = v.toString().trimmed();
        read.getFieldValue(QStringLiteral("validatedAt"), &v);
        r.validatedAt = CorrectionJournal::timeFromValue(v);
        read.getFieldValue(QStringLiteral("userName"), &v);
        r.userName = v.toString();
        read.getFieldValue(QStringLiteral("workstation"), &v);
        r.workstation = v.toString();
        read.getFieldValue(QStringLiteral("fullName"), &v);
        r.fullName = v.toString();
        read.getFieldValue(QStringLiteral("title"), &v);
        r.title = v.toString();
        list->push_back(std::move(r));
        read.moveNext();
    }
    const bool complete = !read.readFailed();
    if (!complete) {
        m_error = read.errorText();
        list->clear();
    }
    read.close();
    return complete;
}

bool BulletinValidation::statusOf(const QString& requestId, const QList<qint64>& resultIds, ValidationStatus* status) {
    *status = ValidationStatus();
    m_error.clear();
    SignatoryList signatories(m_database);
    if (!signatories.load()) {
        m_error = signatories.errorText();
        return false;
    }
    status->signing = signatories.any();
    status->activeSignatories = signatories.activeNames().join(QLatin1String(", "));
    std::vector<ValidationRecord> list;
    if (!listForRequest(requestId, &list))
        return false;
    if (list.empty())
        return true;
    status->hasValidation = true;
    status->newest = list.front();
    if (idsText(resultIds) != idsText(status->newest.resultIds))
        return true; // a set joined or left the request since
    // Any correction of the sets after the data of the validated bulletin was read undoes it.
    CorrectionJournal journal(m_database);
    const std::vector<JournalEntry> since = journal.entriesFor(resultIds, status->newest.validatedAt);
    if (!journal.errorText().isEmpty()) {
        m_error = journal.errorText();
        return false;
    }
    status->validated = since.empty();
    return true;
}

bool BulletinValidation::validatedSets(const QHash<qint64, QString>& sets, QHash<qint64, ValidationRecord>* validated) {
    validated->clear();
    m_error.clear();
    if (sets.isEmpty() || !available())
        return m_error.isEmpty();
    // Each request once, in a set beside the list: a search of a whole year lists many thousands.
    QStringList requests;
    QSet<QString> seen;
    for (const QString& request : sets)
        if (!seen.contains(request)) {
            seen.insert(request);
            requests << request;
        }
    // The newest validation of each request, read a few hundred requests at a time.
    QHash<QString, ValidationRecord> newest;
    constexpr int kChunk = 400;
    for (int first = 0; first < requests.size(); first += kChunk) {
        QVariantList values;
        QStringList marks;
        for (int i = first; i < std::min<int>(first + kChunk, int(requests.size())); ++i) {
            values << requests.at(i);
            marks << QStringLiteral("?");
        }
        Recordset read;
        const QString sql =
            QStringLiteral("SELECT RequestID, resultIDs, %1 AS validatedAt, fullName, title FROM "
                           "BULLETIN_VALIDATION WHERE RequestID IN (%2) ORDER BY validatedAt DESC, id DESC")
                .arg(m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL
                         ? QStringLiteral("to_char(validatedAt, 'YYYY-MM-DD HH24:MI:SS.MS')")
                         : QStringLiteral("validatedAt"),
                     marks.join(QLatin1String(", ")));
        if (!read.open(sql, m_database, values, Recordset::Reading::Texts)) {
            m_error = read.errorText();
            return false;
        }
        QVariant v;
        while (!read.isEOF()) {
            ValidationRecord r;
            read.getFieldValue(QStringLiteral("RequestID"), &v);
            r.requestId = v.toString();
            if (!newest.contains(r.requestId)) {
                read.getFieldValue(QStringLiteral("resultIDs"), &v);
                r.resultIds = idsFromText(v.toString());
                read.getFieldValue(QStringLiteral("validatedAt"), &v);
                r.validatedAt = CorrectionJournal::timeFromValue(v);
                read.getFieldValue(QStringLiteral("fullName"), &v);
                r.fullName = v.toString();
                read.getFieldValue(QStringLiteral("title"), &v);
                r.title = v.toString();
                newest.insert(r.requestId, r);
            }
            read.moveNext();
        }
        const bool complete = !read.readFailed();
        m_error = read.errorText();
        read.close();
        if (!complete)
            return false;
        m_error.clear();
    }
    if (newest.isEmpty())
        return true;
    // A correction of any validated set after its validation undoes it for the whole request.
    QList<qint64> ids;
    QDateTime since;
    for (const ValidationRecord& r : newest) {
        ids << r.resultIds;
        if (!since.isValid() || r.validatedAt < since)
            since = r.validatedAt;
    }
    CorrectionJournal journal(m_database);
    QSet<QString> undone;
    for (int first = 0; first < ids.size(); first += kChunk) {
        const std::vector<JournalEntry> entries = journal.entriesFor(ids.mid(first, kChunk), since);
        if (!journal.errorText().isEmpty()) {
            m_error = journal.errorText();
            return false;
        }
        for (const JournalEntry& entry : entries)
            for (const ValidationRecord& r : newest)
                if (entry.changedAt > r.validatedAt && r.resultIds.contains(entry.resultId))
                    undone.insert(r.requestId);
    }
    for (auto it = sets.cbegin(); it != sets.cend(); ++it) {
        const auto found = newest.constFind(it.value());
        if (found != newest.cend() && !undone.contains(it.value()) && found->resultIds.contains(it.key()))
            validated->insert(it.key(), *found);
    }
    return true;
}

bool BulletinValidation::storeWithBulletin(BulletinArchive& archive, qint64 resultId, const QString& requestId,
                                           const QList<qint64>& resultIds, const QByteArray& content,
                                           const QDateTime& validatedAt, const Signatory& signatory,
                                           ValidationRecord* stored) {
    m_error.clear();
    if (!available()) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("Baza de date nu are tabela validarilor (se adauga cu labrosa-dbtool --upgrade).");
        return false;
    }
    ValidationRecord row;
    row.requestId = requestId;
    row.resultIds = idsFromText(idsText(resultIds));
    row.contentHash = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    row.validatedAt = validatedAt.isValid() ? validatedAt.toUTC() : CorrectionJournal::now();
    row.userName = CorrectionJournal::currentUser();
    row.workstation = CorrectionJournal::workstation();
    row.fullName = signatory.fullName;
    row.title = signatory.title;
    if (!m_database->beginTransaction()) {
        m_error = m_database->errorText();
        return false;
    }
    if (!archive.store(resultId, requestId, content, nullptr, row.validatedAt)) {
        m_error = archive.errorText().isEmpty() ? QStringLiteral("Baza de date nu are arhiva buletinelor.")
                                                : archive.errorText();
        m_database->rollbackTransaction();
        return false;
    }
    if (!m_database->execute(QString::fromLatin1(kInsert).arg(m_database->dialect().dateParameter()),
                             {requestId, idsText(row.resultIds), row.contentHash,
                              CorrectionJournal::timeText(row.validatedAt), row.userName, row.workstation, row.fullName,
                              row.title})) {
        m_error = m_database->errorText();
        m_database->rollbackTransaction();
        return false;
    }
    if (!m_database->commitTransaction()) {
        m_error = m_database->errorText();
        return false;
    }
    if (stored)
        *stored = row;
    return true;
}
