#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "BulletinArchive.h"
#include "BulletinContent.h"
#include "BulletinValidation.h"
#include "BulletinWriter.h"
#include "CriticalLimits.h"
#include "PatientHistory.h"

// The laboratory's own lines at the head of every page, as Labrosa.ini gives them.
struct BulletinLabHeader {
    std::string name, address, phone, other;
};

// Everything one bulletin's page is made of, read at one moment: the page itself is composed
// from this value alone (BulletinComposer), and the validation stores what it holds.
struct BulletinData {
    BulletinKey key;
    // UTC: the moment the data was read, the bulletin's time in the archive.
    QDateTime madeAt;
    // The change counters read before the content; -1 on a database without them.
    qint64 contentRevision = -1;
    qint64 referenceRevision = -1;
    BulletinContent content;
    QString canonical; // content.canonical(), the text a validation signs

    bool archived = false; // the database has the archive of bulletins
    // The last copy that left the program, and the corrections of the shown fields since.
    bool hasLast = false;
    ArchivedBulletin last;
    std::vector<BulletinChange> changes;
    QDateTime correctedAt;
    std::string reasons;

    ValidationStatus status;

    BulletinLabHeader lab;
    bool previousColumn = false; // the column "Anterior", turned on in Labrosa.ini
    // The patient's previous value of each parameter (MachineID, refcode).
    std::map<std::pair<int, QString>, PreviousValue> previous;
    // The values beyond their delta limit, and why they could not be checked.
    QStringList deltaMarks;
    QString deltaProblem;

    // Who was told of the critical values ("" when nobody or none), and those nobody was
    // recorded as told of.
    std::string criticalNotice;
    std::vector<CriticalValue> unannounced;
};
