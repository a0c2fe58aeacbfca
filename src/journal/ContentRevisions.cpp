#include "ContentRevisions.h"

#include "BulletinBatches.h"

#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"

#include <QSet>

#include <algorithm>

namespace {

const char* const kSelectOne = "SELECT RequestID, TransDay, revision FROM CONTENT_REVISIONS WHERE (RequestID = ? AND "
                               "TransDay = ?) OR (RequestID = '' AND TransDay = '')";
const char* const kSelectDays = "SELECT RequestID, TransDay, revision FROM CONTENT_REVISIONS WHERE (TransDay >= ? AND "
                                "TransDay <= ?) OR (RequestID = '' AND TransDay = '')";
// %1: the requests' places.
const char* const kSelectRequests = "SELECT RequestID, TransDay, revision FROM CONTENT_REVISIONS WHERE RequestID IN "
                                    "(%1) OR (RequestID = '' AND TransDay = '')";

} // namespace

ContentRevisions::ContentRevisions(DatabaseConnection* database) : m_database(database) {}

bool ContentRevisions::available() {
    if (m_available < 0 && m_database)
        m_available = tableExists(m_database, QStringLiteral("CONTENT_REVISIONS"), &m_error);
    return m_available == 1;
}

bool ContentRevisions::read(const BulletinKey& bulletin, qint64* revision, qint64* reference) {
    QHash<BulletinKey, qint64> found;
    if (!readMany({bulletin}, &found, reference))
        return false;
    *revision = found.value(bulletin, 0);
    return true;
}

bool ContentRevisions::readMany(const QList<BulletinKey>& bulletins, QHash<BulletinKey, qint64>* revisions,
                                qint64* reference) {
    revisions->clear();
    *reference = 0;
    m_error.clear();
    if (!available()) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("Baza de date nu are numaratoarele schimbarilor (se adauga cu labrosa-dbtool "
                                     "--upgrade).");
        return false;
    }
    QSet<BulletinKey> wanted(bulletins.cbegin(), bulletins.cend());
    auto collect = [&](Recordset& read) {
        QVariant request, day, revision;
        while (!read.isEOF()) {
            read.getFieldValue(QStringLiteral("RequestID"), &request);
            read.getFieldValue(QStringLiteral("TransDay"), &day);
            read.getFieldValue(QStringLiteral("revision"), &revision);
            const BulletinKey key{request.toString(), day.toString()};
            if (key.requestId.isEmpty() && key.day.isEmpty())
                *reference = revision.toLongLong();
            else if (wanted.contains(key))
                revisions->insert(key, revision.toLongLong());
            read.moveNext();
        }
        const bool complete = !read.readFailed();
        if (!complete)
            m_error = read.errorText();
        read.close();
        return complete;
    };
    if (bulletins.size() == 1) {
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectOne), m_database,
                       {bulletins.front().requestId, bulletins.front().day}, Recordset::Reading::Texts)) {
            m_error = read.errorText();
            return false;
        }
        return collect(read);
    }
    if (BulletinBatches::byDays(bulletins)) {
        QString first, last;
        BulletinBatches::dayRange(bulletins, &first, &last);
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectDays), m_database, {first, last}, Recordset::Reading::Texts)) {
            m_error = read.errorText();
            return false;
        }
        return collect(read);
    }
    for (const auto& chunk : BulletinBatches::requestChunks(bulletins)) {
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectRequests).arg(chunk.first), m_database, chunk.second,
                       Recordset::Reading::Texts)) {
            m_error = read.errorText();
            return false;
        }
        if (!collect(read))
            return false;
    }
    return true;
}
