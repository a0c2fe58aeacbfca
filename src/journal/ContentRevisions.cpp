#include "ContentRevisions.h"

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

// Up to this many bulletins are asked for by request, a few hundred requests a question; more
// by their days.
constexpr int kChunk = 400;
constexpr int kByRequest = 50000;

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
    if (bulletins.size() > kByRequest) {
        QString first, last;
        for (const BulletinKey& key : bulletins) {
            if (first.isEmpty() || key.day < first)
                first = key.day;
            if (last.isEmpty() || key.day > last)
                last = key.day;
        }
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectDays), m_database, {first, last}, Recordset::Reading::Texts)) {
            m_error = read.errorText();
            return false;
        }
        return collect(read);
    }
    QStringList requests;
    QSet<QString> seen;
    for (const BulletinKey& key : bulletins)
        if (!seen.contains(key.requestId)) {
            seen.insert(key.requestId);
            requests << key.requestId;
        }
    for (int first = 0; first < requests.size(); first += kChunk) {
        QVariantList values;
        QStringList marks;
        for (int i = first; i < std::min<int>(first + kChunk, int(requests.size())); ++i) {
            values << requests.at(i);
            marks << QStringLiteral("?");
        }
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectRequests).arg(marks.join(QLatin1String(", "))), m_database, values,
                       Recordset::Reading::Texts)) {
            m_error = read.errorText();
            return false;
        }
        if (!collect(read))
            return false;
    }
    return true;
}
