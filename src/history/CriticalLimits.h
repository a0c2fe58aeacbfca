#pragma once

#include <QList>
#include <QString>
#include <QVariantList>

#include <functional>
#include <vector>

class DatabaseConnection;

// Which side of its critical limits a value lies on.
enum class CriticalSide { Low, High };

// A measured value beyond a critical limit of its set's profile, parameter and sex.
struct CriticalValue {
    qint64 resultId = 0;
    QString requestId;
    int machineId = 0;
    QString refcode;
    QString value; // as the bulletin prints it
    QString criticalLow;
    QString criticalHigh;
    CriticalSide side = CriticalSide::High;
};

// Compares a value with a pair of limits as the bulletin compares it with its interval:
// negative below low, positive above high, 0 within them or when it is not a number.
using CriticalComparison = std::function<int(const QString& value, const QString& low, const QString& high)>;

// How the bulletin reads a stored value: the text it prints, and that text against a pair of
// limits. The critical check reads each value this way, so a value is checked exactly as it is
// printed and marked.
struct ValueReading {
    std::function<QString(const QString& stored)> printed;
    CriticalComparison compare;
};

// The laboratory's critical limits (table CRITICAL_VALUES, kept with labrosa-dbtool). The
// limits of a value are those of its set's profile and parameter code, the row of the set's own
// sex winning over one for either sex, as for the reference intervals. A database without the
// table has no limits. A failed question is reported, never taken for "no critical value".
class CriticalLimits {
public:
    CriticalLimits(DatabaseConnection* database, ValueReading reading);

    // Whether any limit is set; false with errorText() set when the question failed.
    bool anyLimit(bool* any);
    // The critical values of the given sets, by set and value order.
    bool criticalValuesOf(const QList<qint64>& resultIds, std::vector<CriticalValue>* found);
    // The critical values of the sets a condition on RESULTS selects ('?' for values).
    bool criticalValuesWhere(const QString& resultsCondition, const QVariantList& values,
                             std::vector<CriticalValue>* found);
    QString errorText() const { return m_error; }

    // "Valoare critica: <value> (limita critica ...)": the text of a critical value's mark.
    static QString describe(const CriticalValue& value);

private:
    DatabaseConnection* m_database;
    ValueReading m_reading;
    QString m_error;
};
