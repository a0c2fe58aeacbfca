#include "BulletinValidation.h"

#include "BulletinArchive.h"
#include "BulletinBatches.h"
#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"
#include "SignatoryList.h"
#include "SigningPasswords.h"
#include "SqlDialect.h"
#include "ValidationSigning.h"

#include <QCryptographicHash>
#include <QSet>

#include <algorithm>

namespace {

// %1: the time read as text with its milliseconds; %2 the condition. The newest is the last
// written: the row's id, never a workstation's clock, orders them.
const char* const kSelectList =
    "SELECT id, RequestID, TransDay, fingerprint, contentRevision, referenceRevision, %1 AS validatedAt, fullName, "
    "title, resultIDs, contentHash, signedContent, userName, workstation "
    "FROM BULLETIN_VALIDATION WHERE %2 ORDER BY id DESC";
// What the list's marks need, without the signed content.
const char* const kSelectMarks = "SELECT id, RequestID, TransDay, fingerprint, contentRevision, referenceRevision, "
                                 "%1 AS validatedAt, fullName, title FROM BULLETIN_VALIDATION WHERE %2";
const char* const kOfRequest = "RequestID = ?";
const char* const kOfBulletin = "RequestID = ? AND (TransDay = ? OR TransDay IS NULL)";
const char* const kOfDays = "TransDay >= ? AND TransDay <= ? AND fingerprint IS NOT NULL";
const char* const kAny = "SELECT id FROM BULLETIN_VALIDATION WHERE fingerprint IS NOT NULL LIMIT 1";

QList<qint64> idsFromText(const QString& text) {
    QList<qint64> ids;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        ids << part.trimmed().toLongLong();
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString timeColumn(DatabaseConnection* database) {
    return database->dialect().kind() == SqlDialect::Kind::PostgreSQL
               ? QStringLiteral("to_char(validatedAt, 'YYYY-MM-DD HH24:MI:SS.MS')")
               : QStringLiteral("validatedAt");
}

qint64 revisionValue(const QVariant& v) {
    bool ok = false;
    const qint64 n = v.toLongLong(&ok);
    return v.isNull() || !ok ? -1 : n;
}

// The lines of a canonical content by their key (the text before the first tab), in order.
std::vector<std::pair<QString, QString>> keyedLines(const QString& content) {
    std::vector<std::pair<QString, QString>> lines;
    for (const QString& line : content.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const int tab = line.indexOf(QLatin1Char('\t'));
        if (tab < 0)
            lines.emplace_back(line, QString());
        else
            lines.emplace_back(line.left(tab), line.mid(tab + 1));
    }
    return lines;
}

} // namespace

BulletinValidation::BulletinValidation(DatabaseConnection* database) : m_database(database) {}

bool BulletinValidation::available() {
    if (m_available < 0 && m_database) {
        m_available = tableExists(m_database, QStringLiteral("BULLETIN_VALIDATION"), &m_error);
        // A table made before validations kept what they signed cannot say whether one holds:
        // until labrosa-dbtool --upgrade nothing counts as validated and nothing can be.
        if (m_available == 1) {
            const int bound = columnExists(m_database, QStringLiteral("BULLETIN_VALIDATION"),
                                           QStringLiteral("fingerprint"), &m_error);
            m_available = bound == 1 ? 1 : bound;
            m_outdated = bound == 0;
        }
    }
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

QString BulletinValidation::fingerprintOf(const QString& canonicalContent) {
    return QString::fromLatin1(QCryptographicHash::hash(canonicalContent.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QStringList BulletinValidation::differences(const QString& signedContent, const QString& canonicalContent) {
    const auto before = keyedLines(signedContent);
    const auto now = keyedLines(canonicalContent);
    QStringList changes;
    QSet<QString> seen;
    for (const auto& line : now) {
        seen.insert(line.first);
        const auto old = std::find_if(before.begin(), before.end(),
                                      [&line](const std::pair<QString, QString>& b) { return b.first == line.first; });
        if (old == before.end())
            changes << QStringLiteral("%1: adaugat %2").arg(line.first, line.second);
        else if (old->second != line.second)
            changes << QStringLiteral("%1: %2 -> %3").arg(line.first, old->second, line.second);
    }
    for (const auto& line : before)
        if (!seen.contains(line.first))
            changes << QStringLiteral("%1: scos (%2)").arg(line.first, line.second);
    return changes;
}

bool BulletinValidation::readList(const QString& condition, const QVariantList& values, bool full,
                                  std::vector<ValidationRecord>* list) {
    list->clear();
    Recordset read;
    const QString sql = QString::fromLatin1(full ? kSelectList : kSelectMarks).arg(timeColumn(m_database), condition);
    if (!read.open(sql, m_database, values, Recordset::Reading::Texts)) {
        m_error = read.errorText();
        return false;
    }
    // Columns by their place in the statement: a list reads hundreds of thousands of rows.
    enum Column { Id, Request, Day, Fingerprint, ContentRevision, ReferenceRevision, ValidatedAt, FullName, Title };
    enum FullColumn { ResultIds = Title + 1, ContentHash, SignedContent, UserName, Workstation };
    QVariant v;
    auto text = [&read, &v](int column) {
        read.getFieldValueAt(column, &v);
        return v.isNull() ? QString() : v.toString();
    };
    while (!read.isEOF()) {
        ValidationRecord r;
        r.id = text(Id).toLongLong();
        r.requestId = text(Request);
        r.day = text(Day).trimmed();
        r.fingerprint = text(Fingerprint).trimmed();
        read.getFieldValueAt(ContentRevision, &v);
        r.contentRevision = revisionValue(v);
        read.getFieldValueAt(ReferenceRevision, &v);
        r.referenceRevision = revisionValue(v);
        read.getFieldValueAt(ValidatedAt, &v);
        r.validatedAt = CorrectionJournal::timeFromValue(v);
        r.fullName = text(FullName);
        r.title = text(Title);
        if (full) {
            r.resultIds = idsFromText(text(ResultIds));
            r.contentHash = text(ContentHash).trimmed();
            r.signedContent = text(SignedContent);
            r.userName = text(UserName);
            r.workstation = text(Workstation);
        }
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

bool BulletinValidation::listForRequest(const QString& requestId, std::vector<ValidationRecord>* list) {
    list->clear();
    m_error.clear();
    if (!available())
        return m_error.isEmpty();
    return readList(QLatin1String(kOfRequest), {requestId}, true, list);
}

bool BulletinValidation::listForDays(const QString& firstDay, const QString& lastDay,
                                     std::vector<ValidationRecord>* list) {
    list->clear();
    m_error.clear();
    if (!available())
        return m_error.isEmpty();
    return readList(QStringLiteral("TransDay >= ? AND TransDay <= ?"), {firstDay, lastDay}, true, list);
}

bool BulletinValidation::listForBulletin(const BulletinKey& bulletin, std::vector<ValidationRecord>* list) {
    list->clear();
    m_error.clear();
    if (!available())
        return m_error.isEmpty();
    return readList(QLatin1String(kOfBulletin), {bulletin.requestId, bulletin.day}, true, list);
}

bool BulletinValidation::statusOf(const BulletinKey& bulletin, const QString& canonicalContent,
                                  const QList<qint64>& resultIds, ValidationStatus* status) {
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
    if (!listForBulletin(bulletin, &list))
        return false;
    // A validation made before days were kept belongs to this bulletin only if it showed its sets.
    const auto newest = std::find_if(list.begin(), list.end(), [&resultIds](const ValidationRecord& r) {
        return !r.day.isEmpty() || std::any_of(r.resultIds.begin(), r.resultIds.end(),
                                               [&resultIds](qint64 id) { return resultIds.contains(id); });
    });
    if (newest == list.end())
        return true;
    status->hasValidation = true;
    status->newest = *newest;
    status->validated = !newest->fingerprint.isEmpty() && newest->fingerprint == fingerprintOf(canonicalContent);
    if (!status->validated && !newest->signedContent.isEmpty())
        status->changes = differences(newest->signedContent, canonicalContent);
    return true;
}

bool BulletinValidation::anyValidation(bool* any) {
    *any = false;
    m_error.clear();
    if (!available())
        return m_error.isEmpty();
    Recordset read;
    if (!read.open(QString::fromLatin1(kAny), m_database, {})) {
        m_error = read.errorText();
        return false;
    }
    *any = !read.isEOF();
    read.close();
    return true;
}

bool BulletinValidation::newestOf(const QSet<BulletinKey>& bulletins, QHash<BulletinKey, ValidationRecord>* newest) {
    newest->clear();
    m_error.clear();
    if (bulletins.isEmpty() || !available())
        return m_error.isEmpty();
    const QSet<BulletinKey>& wanted = bulletins;
    auto keep = [&](std::vector<ValidationRecord>& rows) {
        for (ValidationRecord& r : rows) {
            if (r.fingerprint.isEmpty())
                continue;
            const BulletinKey key = r.key();
            if (!wanted.contains(key))
                continue;
            auto found = newest->find(key);
            if (found == newest->end())
                newest->insert(key, std::move(r));
            else if (r.id > found->id)
                *found = std::move(r);
        }
    };
    std::vector<ValidationRecord> rows;
    if (BulletinBatches::byDays(bulletins)) {
        QString first, last;
        BulletinBatches::dayRange(bulletins, &first, &last);
        if (!readList(QLatin1String(kOfDays), {first, last}, false, &rows))
            return false;
        keep(rows);
        return true;
    }
    for (const auto& chunk : BulletinBatches::requestChunks(bulletins)) {
        if (!readList(QStringLiteral("RequestID IN (%1) AND fingerprint IS NOT NULL").arg(chunk.first), chunk.second,
                      false, &rows))
            return false;
        keep(rows);
    }
    return true;
}

bool BulletinValidation::storeWithBulletin(BulletinArchive& archive, qint64 resultId, const QByteArray& content,
                                           ValidationRecord row, const Signatory& signatory, const QString& password,
                                           ValidationRecord* stored) {
    m_error.clear();
    if (!available()) {
        if (m_error.isEmpty())
            m_error = m_outdated ? QStringLiteral("Tabela validarilor este facuta de o versiune mai veche a "
                                                  "programului si nu poate pastra ce s-a semnat; aduceti baza de date "
                                                  "la zi cu labrosa-dbtool --upgrade (sau Laborator > Adauga "
                                                  "jurnalul corecturilor).")
                                 : QStringLiteral("Baza de date nu are tabela validarilor (se adauga cu labrosa-dbtool "
                                                  "--upgrade).");
        return false;
    }
    row.resultIds = idsFromText(idsText(row.resultIds));
    row.contentHash = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    row.fingerprint = fingerprintOf(row.signedContent);
    if (!row.validatedAt.isValid())
        row.validatedAt = CorrectionJournal::now();
    row.validatedAt = row.validatedAt.toUTC();
    row.userName = signatory.login;
    row.workstation = CorrectionJournal::workstation();
    row.fullName = signatory.fullName;
    row.title = signatory.title;
    if (!m_database->beginTransaction()) {
        m_error = m_database->errorText();
        return false;
    }
    if (!archive.store(resultId, row.key(), content, ArchivePurpose::Validated, nullptr, row.validatedAt)) {
        m_error = archive.errorText().isEmpty() ? QStringLiteral("Baza de date nu are arhiva buletinelor.")
                                                : archive.errorText();
        m_database->rollbackTransaction();
        return false;
    }
    ValidationSigning signing(m_database);
    if (!signing.insert(row, password, &row.id)) {
        m_error = signing.errorText();
        m_database->rollbackTransaction();
        // The refused password is recorded now that nothing else of the validation stays, so
        // that wrong ones count towards the lock however they come.
        if (signing.passwordRefused()) {
            SigningPasswords passwords(m_database);
            const SigningPasswords::Outcome outcome = passwords.check(row.userName, password);
            if (outcome != SigningPasswords::Outcome::accepted)
                m_error = passwords.outcomeText(outcome, row.userName);
        }
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
