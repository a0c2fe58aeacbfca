#pragma once

#include <QDate>
#include <QList>
#include <QString>

// One result as the analyser sent it: its own code of the test and the value as text.
struct ReceivedValue {
    QString code;
    QString value;
};

// The results of one specimen in one message, in the analyser's own terms, before they are
// matched to the laboratory's request and parameters.
struct ReceivedSet {
    QString specimenId; // the laboratory's request; empty when the analyser sent none
    QString patientName;
    QString sex; // "M", "F" or empty
    QDate birthDate;
    QList<ReceivedValue> values;

    // Same specimen, analyser and results (in any order): the same set sent again.
    QString fingerprint(int machineId) const;
};
