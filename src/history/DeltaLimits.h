#pragma once

#include <QString>

#include <map>
#include <optional>
#include <utility>

class DatabaseConnection;

// The largest plausible change of a parameter between two consecutive sets of one patient,
// absolute (in the parameter's unit) or in percent of the earlier value; either may be absent.
struct DeltaLimit {
    std::optional<double> maxChange;
    std::optional<double> maxChangePercent;
};

// The laboratory's delta limits (table PARAMETER_DELTA_LIMITS, made by labrosa-dbtool, empty
// by default). A database without the table has no limits.
class DeltaLimits {
public:
    // Reads every limit; false with errorText() set when the question failed (then no value is
    // checked, and the caller says so rather than showing none as passed).
    bool load(DatabaseConnection* database);
    bool empty() const { return m_limits.empty(); }
    const DeltaLimit* find(int machineId, const QString& refcode) const;
    QString errorText() const { return m_error; }

    // When the change from previousValue to value exceeds the limit: the text of the mark (its
    // tooltip and accessible text), naming the previous value, its date and the limit. Empty when
    // it does not, or when either value is not a number.
    static QString exceededText(const DeltaLimit& limit, const QString& previousValue, const QString& previousDate,
                                const QString& value);

    // A value that is a number as a whole ("12.5", "12,5"); none for "<5", "12 (hemoliza)", "+++".
    static std::optional<double> plainNumber(const QString& value);

private:
    std::map<std::pair<int, QString>, DeltaLimit> m_limits;
    QString m_error;
};
