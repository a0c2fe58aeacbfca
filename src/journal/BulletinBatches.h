#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <algorithm>
#include <utility>
#include <vector>

#include "BulletinKey.h"

// How one question about many bulletins is asked: by their requests, a few hundred requests a
// statement, or for a list longer than kByRequest (a search of a whole range) by the range of
// their days, which reads every row of those days once.
namespace BulletinBatches {

constexpr int kByRequest = 50000;
constexpr int kChunk = 400;

template <class Keys> bool byDays(const Keys& bulletins) {
    return bulletins.size() > kByRequest;
}

template <class Keys> void dayRange(const Keys& bulletins, QString* first, QString* last) {
    first->clear();
    last->clear();
    for (const BulletinKey& key : bulletins) {
        if (first->isEmpty() || key.day < *first)
            *first = key.day;
        if (last->isEmpty() || key.day > *last)
            *last = key.day;
    }
}

// The distinct requests in chunks: each the "?, ?, ..." of an IN list and its values.
template <class Keys> std::vector<std::pair<QString, QVariantList>> requestChunks(const Keys& bulletins) {
    QStringList requests;
    QSet<QString> seen;
    for (const BulletinKey& key : bulletins)
        if (!seen.contains(key.requestId)) {
            seen.insert(key.requestId);
            requests << key.requestId;
        }
    std::vector<std::pair<QString, QVariantList>> chunks;
    for (int first = 0; first < requests.size(); first += kChunk) {
        QVariantList values;
        QStringList marks;
        for (int i = first; i < std::min<int>(first + kChunk, int(requests.size())); ++i) {
            values << requests.at(i);
            marks << QStringLiteral("?");
        }
        chunks.emplace_back(marks.join(QLatin1String(", ")), values);
    }
    return chunks;
}

} // namespace BulletinBatches
