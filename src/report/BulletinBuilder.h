#pragma once

#include <QString>
#include <QStringList>

class Recordset;
class SharedState;

// The bulletin file, in the current directory; one name for writing and showing.
inline constexpr const char* kBulletinFileName = "_buletin.html";

struct BulletinBuildResult {
    bool opened = false;  // the file was written and a bulletin window opened
    QStringList messages; // message boxes to show, in order (empty on success)
};

// Reads the request of (recordId, requestId, day) through recordset, writes the bulletin
// file and opens a bulletin window through sharedState.m_bulletinTemplate. day is the
// year/month/day text of the transfer day (as ToSqlDate gives).
BulletinBuildResult buildBulletin(Recordset& recordset, SharedState& sharedState, int recordId,
                                  const QString& requestId, const QString& day);
