#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "DocumentContext.h"
#include "OpenedBulletin.h"

class SharedState;

// The preliminary bulletin a window shows, so that the window can offer to validate it.
struct PreliminaryBulletin {
    SharedState* sharedState = nullptr; // null: nothing to validate
    int recordId = 0;
    QString requestId;
    QString day;
};

// What a bulletin window is opened with: a copy from the archive, or the page the bulletin
// builder just made with what the window offers beside it.
struct BulletinWindowContext : public DocumentContext {
    // A copy from the archive, shown read-only from its bytes under the note.
    bool archived = false;
    QByteArray archivedHtml;
    QString archivedNote;
    // The page the builder made; no html: the window takes the bulletin file.
    OpenedBulletin opened;
    PreliminaryBulletin preliminary;
    // The values beyond their delta limit, and why they could not be checked, listed above the page.
    QStringList deltaMarks;
    QString deltaProblem;
};
