#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <map>
#include <utility>
#include <vector>

class DatabaseConnection;
class SqlDialect;

// The results database keeps no patient number: a patient is a name, a sex and a profile.
// Two sets belong to the same patient when their names are equal after the search's folding
// (case, the Romanian letters' marks) with blanks trimmed and collapsed, their profiles are
// equal and their sexes are equal, an empty sex matching either.
// Shown wherever earlier values are, so that nobody takes a namesake for the patient.
inline constexpr const char* kSamePatientRule = "aceeasi denumire, acelasi profil si sex";

// One measured value of a set, with the reference interval of its own set.
struct HistoryValue {
    int machineId = 0;
    QString refcode;
    QString analyseName; // the analyser's name, the bulletin's group title
    QString refName;     // the parameter's name as the bulletin prints it
    QString unit;
    int order = 0;
    QString value; // stringvalue as stored
    QString lowerBound;
    QString upperBound;
};

// One result set of the patient.
struct HistorySet {
    qint64 resultId = 0;
    QString requestId;
    QDateTime transferDate;
    std::vector<HistoryValue> values;
};

// A parameter's value in the patient's newest earlier set that holds it.
struct PreviousValue {
    qint64 resultId = 0;
    QDateTime transferDate;
    QString value;
};

class PatientHistory {
public:
    explicit PatientHistory(DatabaseConnection* database);

    // The sets of the patient of resultId, newest first (transfer date, then ID): the set itself
    // and at most maxSets - 1 earlier ones. Empty with errorText() set when the question failed
    // (a failure is never an empty history).
    std::vector<HistorySet> setsOf(qint64 resultId, int maxSets = 10);
    // For every parameter (machineId, refcode) of the given sets (one request's), its value in
    // the newest earlier set of the same patient that is not one of them; parameters without an
    // earlier value are left out. false with errorText() set when the question failed.
    bool previousValues(const QList<qint64>& resultIds, std::map<std::pair<int, QString>, PreviousValue>* previous);

    QString errorText() const { return m_error; }

    // The folded, blank-collapsed name two sets of one patient share.
    static QString patientNameKey(const QString& name);
    // The question that picks the candidate sets of a patient by an index on the folded name;
    // bound: the name, then the profile when profileKnown (else the sets without a profile).
    static QString samePatientQuery(const SqlDialect& dialect, bool profileKnown);

private:
    struct SetRow {
        qint64 id = 0;
        QString name, sex, requestId;
        QVariant profileId;
        QDateTime date;
    };
    bool readSet(qint64 resultId, SetRow* row);
    // The sets of own's patient not later than own, own among them, newest first.
    bool patientSets(const SetRow& own, std::vector<SetRow>* sets);
    // The values of the given sets by set, each with its own set's reference interval.
    bool readValues(const QList<qint64>& ids, std::map<qint64, std::vector<HistoryValue>>* values);

    DatabaseConnection* m_database;
    QString m_error;
};
