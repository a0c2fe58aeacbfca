#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include "CriticalLimits.h"

class Recordset;
class SharedState;
struct Signatory;

// The bulletin file, in the current directory; one name for writing and showing.
inline constexpr const char* kBulletinFileName = "_buletin.html";

struct BulletinBuildResult {
    bool opened = false;    // the file was written and a bulletin window opened
    QStringList messages;   // message boxes to show, in order (empty on success)
    bool cancelled = false; // a validation the signatory did not confirm: nothing written
    // The values beyond their delta limit, as the bulletin window lists them above the page.
    QStringList deltaMarks;
    // The request's sets and those of its critical values that no record of who was told
    // covers: the caller asks who was told.
    QList<qint64> resultIds;
    std::vector<CriticalValue> unannounced;
};

// A bulletin made to be validated: it carries the signatory's line, is shown to confirm before
// anything is written, and is archived with its validation in one transaction.
struct BulletinRelease {
    const Signatory* signatory = nullptr;
    // Receives the page as it will be released (without the line of who validated, which
    // carries the moment of signing) and what it validates; puts the signatory's signing
    // password in *password. False leaves everything as it was.
    std::function<bool(const QByteArray& bulletin, const QString& summary, QString* password)> confirm;
};

// The bulletin of (recordId, requestId, day): its data read through recordset (BulletinReader),
// its page composed (composeBulletin), then published: the bulletin file written, the page
// archived (with its validation, for a release) and a bulletin window opened through
// sharedState.m_bulletinTemplate with what the window needs. day is the year/month/day text of
// the transfer day (as ToSqlDate gives).
BulletinBuildResult buildBulletin(Recordset& recordset, SharedState& sharedState, int recordId,
                                  const QString& requestId, const QString& day,
                                  const BulletinRelease* release = nullptr);
