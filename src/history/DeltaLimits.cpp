#include "DeltaLimits.h"

#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"

#include <algorithm>
#include <cmath>

namespace {

const char* const kSelect = "SELECT MachineID, refcode, maxChange, maxChangePercent FROM PARAMETER_DELTA_LIMITS";

// A limit as stored: a NULL, or a number that is not one (NaN), or a negative one is none.
std::optional<double> limitValue(const QVariant& value) {
    if (value.isNull())
        return std::nullopt;
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number) || number < 0)
        return std::nullopt;
    return number;
}

QString numberText(double number) {
    return QString::number(number, 'g', 10);
}

// Beyond the limit by more than the rounding of decimal values (1.1 - 1.0 is not above 0.1).
bool beyond(double change, double limit) {
    return change > limit + 1e-9 * std::max(1.0, limit);
}

} // namespace

std::optional<double> DeltaLimits::plainNumber(const QString& value) {
    // Only a whole value that is a number is compared: "<5", "12 (hemoliza)" or "+++" are not.
    QString text = value.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    // A comma between digits is the decimal point, as on the bulletin.
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    if (comma > 0 && comma + 1 < text.size() && text.at(comma - 1).isDigit() && text.at(comma + 1).isDigit() &&
        !text.contains(QLatin1Char('.')) && text.count(QLatin1Char(',')) == 1)
        text[comma] = QLatin1Char('.');
    for (const QChar c : text)
        if (!(c.isDigit() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('+') ||
              c == QLatin1Char('e') || c == QLatin1Char('E')))
            return std::nullopt;
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return number;
}

bool DeltaLimits::load(DatabaseConnection* database) {
    m_limits.clear();
    m_error.clear();
    if (!database)
        return true;
    const int exists = tableExists(database, QStringLiteral("PARAMETER_DELTA_LIMITS"), &m_error);
    if (exists < 0)
        return false;
    if (exists == 0)
        return true;
    Recordset rs;
    if (!rs.open(QString::fromLatin1(kSelect), database)) {
        m_error = rs.errorText();
        return false;
    }
    while (!rs.isEOF()) {
        QVariant machine, refcode, change, percent;
        rs.getFieldValueAt(0, &machine);
        rs.getFieldValueAt(1, &refcode);
        rs.getFieldValueAt(2, &change);
        rs.getFieldValueAt(3, &percent);
        DeltaLimit limit{limitValue(change), limitValue(percent)};
        if (limit.maxChange || limit.maxChangePercent)
            m_limits[{machine.toInt(), refcode.toString()}] = limit;
        if (!rs.moveNext())
            break;
    }
    if (rs.readFailed()) {
        m_error = rs.errorText();
        m_limits.clear();
        return false;
    }
    return true;
}

const DeltaLimit* DeltaLimits::find(int machineId, const QString& refcode) const {
    const auto found = m_limits.find({machineId, refcode});
    return found == m_limits.end() ? nullptr : &found->second;
}

QString DeltaLimits::exceededText(const DeltaLimit& limit, const QString& previousValue, const QString& previousDate,
                                  const QString& value) {
    const std::optional<double> before = plainNumber(previousValue);
    const std::optional<double> now = plainNumber(value);
    if (!before || !now)
        return QString();
    const double change = std::fabs(*now - *before);
    QStringList exceeded;
    if (limit.maxChange && beyond(change, *limit.maxChange))
        exceeded << numberText(*limit.maxChange);
    // An earlier 0 gives no percent to compare.
    const double percent = *before != 0 ? change / std::fabs(*before) * 100 : 0;
    if (limit.maxChangePercent && *before != 0 && beyond(percent, *limit.maxChangePercent))
        exceeded << numberText(*limit.maxChangePercent) + QLatin1Char('%');
    if (exceeded.isEmpty())
        return QString();
    QString difference = numberText(change);
    if (*before != 0)
        difference += QStringLiteral(" (%1%)").arg(QString::number(percent, 'f', 1));
    return QStringLiteral("Schimbare mare fata de valoarea anterioara %1 din %2: diferenta %3, limita %4")
        .arg(previousValue.trimmed(), previousDate, difference, exceeded.join(QLatin1String(" si ")));
}
