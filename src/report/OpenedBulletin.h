#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <vector>

#include "BulletinKey.h"
#include "CriticalLimits.h"

class DatabaseConnection;

// A bulletin just made, for the window about to show it: the page's bytes, which the
// window shows, prints and saves whatever becomes of the shared bulletin file; the bulletin
// they are of, so that each copy that leaves the window is archived as its own; and the
// critical values nobody was recorded as told of when it was made, asked about before the page
// leaves the program.
struct OpenedBulletin {
    DatabaseConnection* database = nullptr;
    int recordId = 0;
    BulletinKey key;
    QDateTime madeAt; // UTC, when the page's data was read
    QByteArray html;
    QList<qint64> resultIds;
    std::vector<CriticalValue> unannounced;
};
