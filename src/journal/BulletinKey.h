#pragma once

#include <QDate>
#include <QString>

// A bulletin's identity: the sets of one request transferred on one day, as the list and the
// bulletin group them. Validations, the archive and the amendment reason are kept per bulletin,
// never per request alone: a request may have sets on several days.
struct BulletinKey {
    QString requestId;
    QString day; // the transfer day, 'YYYY-MM-DD'

    bool operator==(const BulletinKey& other) const { return requestId == other.requestId && day == other.day; }
    bool operator!=(const BulletinKey& other) const { return !(*this == other); }
    bool isValid() const { return !day.isEmpty(); }

    static QString dayText(const QDate& date) { return date.isValid() ? date.toString(Qt::ISODate) : QString(); }
    // From the search's day text "yyyy/M/d" (or an ISO date); empty when it is no date.
    static QString dayFromSearchText(const QString& text) {
        QDate date = QDate::fromString(text.trimmed(), QStringLiteral("yyyy/M/d"));
        if (!date.isValid())
            date = QDate::fromString(text.trimmed().left(10), Qt::ISODate);
        return dayText(date);
    }
};

inline size_t qHash(const BulletinKey& key, size_t seed = 0) {
    return qHash(key.requestId, seed) ^ (qHash(key.day, seed) * 31u);
}
