#include "SqlDialect.h"

#include <QDate>
#include <QRegularExpression>
#include <QStringList>

#include <limits>

QString SqlDialect::leadingNumber(const QString& column) const {
    if (m_kind == Kind::PostgreSQL) {
        // numeric rather than bigint: an identifier with twenty digits must compare, not fail.
        // No question mark in the pattern: it would be taken for a placeholder.
        return QStringLiteral("COALESCE(CAST(substring(%1 from '^\\s*[+-]{0,1}[0-9]+') AS numeric), 0)").arg(column);
    }
    // SQLite's cast of a text to INTEGER reads its longest leading integer (after blanks) and
    // gives 0 when there is none.
    return QStringLiteral("COALESCE(CAST(%1 AS INTEGER), 0)").arg(column);
}

QString SqlDialect::leadingNumberEquals(const QString& column) const {
    if (m_kind == Kind::PostgreSQL)
        return QStringLiteral("%1 = CAST(? AS numeric)").arg(leadingNumber(column));
    return QStringLiteral("%1 = ?").arg(leadingNumber(column));
}

QVariant SqlDialect::leadingNumberValue(const QString& canonicalNumber) const {
    if (m_kind == Kind::PostgreSQL)
        return canonicalNumber;
    // The stored text's number saturates at the 64-bit limits; the wanted one does the same.
    bool ok = false;
    const qlonglong number = canonicalNumber.toLongLong(&ok);
    if (ok)
        return number;
    return canonicalNumber.startsWith(QLatin1Char('-')) ? std::numeric_limits<qlonglong>::min()
                                                        : std::numeric_limits<qlonglong>::max();
}

QString SqlDialect::canonicalLeadingNumber(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    // The blanks that both SQLite's cast and PostgreSQL's \s skip.
    while (i < n && (text[i] == QLatin1Char(' ') || (text[i] >= QLatin1Char('\t') && text[i] <= QLatin1Char('\r'))))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    while (i < n && text[i] == QLatin1Char('0'))
        ++i;
    const qsizetype first = i;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'))
        ++i;
    if (i == first)
        return QStringLiteral("0");
    const QString digits = text.mid(first, i - first).toString();
    return negative ? QLatin1Char('-') + digits : digits;
}

QString SqlDialect::containsCondition(const QString& column) const {
    if (m_kind == Kind::PostgreSQL) {
        // Both sides in small letters with the Romanian letters' marks taken off.
        const QString plain =
            QStringLiteral("translate(lower(%1), '%2', '%3')")
                .arg(QStringLiteral("%1"), QString::fromUtf8(kMarkedLetters), QLatin1String(kPlainLetters));
        return plain.arg(column) + QStringLiteral(" LIKE ") + plain.arg(QStringLiteral("?")) +
               QStringLiteral(" ESCAPE '\\'");
    }
    if (m_foldFunction)
        return QStringLiteral("%2(%1) LIKE %2(?) ESCAPE '\\'").arg(column, QLatin1String(foldFunctionName()));
    return QStringLiteral("%1 LIKE ? ESCAPE '\\'").arg(column);
}

QString SqlDialect::containsPattern(const QString& text) {
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

QString SqlDialect::nameShadowQuery(const QString& text) {
    // The folding of labrosa_fold: Unicode case folding, then the marks taken off.
    static const QString marked = QString::fromUtf8(kMarkedLetters);
    QString folded = text.toCaseFolded();
    for (QChar& c : folded) {
        const qsizetype at = c.unicode() < 0x80 ? -1 : marked.indexOf(c);
        if (at >= 0)
            c = QLatin1Char(kPlainLetters[at]);
        if (c.unicode() >= 0x80)
            return QString();
    }
    if (folded.size() < 3)
        return QString();
    folded.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + folded + QLatin1Char('"');
}

namespace {

QDate parseYearMonthDay(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[/-]"));
    const QStringList parts = text.trimmed().split(separators);
    if (parts.size() != 3)
        return {};
    int fields[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        fields[i] = parts.at(i).trimmed().toInt(&ok);
        if (!ok)
            return {};
    }
    return QDate(fields[0], fields[1], fields[2]);
}

QString canonical(const QString& yearMonthDay, const char* time) {
    const QDate d = parseYearMonthDay(yearMonthDay);
    if (!d.isValid() || d.year() < 1 || d.year() > 9999)
        return {};
    return d.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') + QLatin1String(time);
}

} // namespace

QString SqlDialect::patientNameCondition(const QString& text, const QString& firstDay, const QString& lastDay,
                                         QVariantList* values) const {
    const QDate first = parseYearMonthDay(firstDay);
    const QDate last = parseYearMonthDay(lastDay);
    const bool longRange = !first.isValid() || !last.isValid() || first.daysTo(last) + 1 >= kNameShadowMinDays;
    // Over a few days the day index finds the sets sooner than a name index finds a common part
    // ("ion" is in one name of fourteen). PostgreSQL's planner would still join in the name
    // index; the name joined with an empty text is the same name, in which no index is sought.
    const QString exact =
        containsCondition(m_kind == Kind::PostgreSQL && !longRange ? QStringLiteral("(RESULTS.PacientName || '')")
                                                                   : QStringLiteral("RESULTS.PacientName"));
    const QString shadowQuery = m_kind == Kind::SQLite && m_nameShadow && longRange ? nameShadowQuery(text) : QString();
    if (shadowQuery.isEmpty()) {
        *values << containsPattern(text);
        return exact;
    }
    *values << shadowQuery << containsPattern(text);
    return QStringLiteral("RESULTS.ID IN (SELECT rowid FROM RESULTS_NAME_SEARCH WHERE RESULTS_NAME_SEARCH MATCH ?) "
                          "AND ") +
           exact;
}

QString SqlDialect::dayStart(const QString& yearMonthDay) {
    return canonical(yearMonthDay, "00:00:00");
}

QString SqlDialect::dayEnd(const QString& yearMonthDay) {
    return canonical(yearMonthDay, "23:59:00");
}

QString SqlDialect::dayRangeCondition(const QString& column, const QString& firstDay, const QString& lastDay,
                                      QVariantList* values) const {
    QStringList parts;
    const QDate first = parseYearMonthDay(firstDay);
    const QDate last = parseYearMonthDay(lastDay);
    const bool hasFirst = !dayStart(firstDay).isEmpty();
    const bool hasLast = !dayEnd(lastDay).isEmpty();
    if (m_kind == Kind::PostgreSQL) {
        // A timestamp column: every stored shape was already read into one value.
        if (hasFirst) {
            parts << QStringLiteral("%1 >= CAST(? AS timestamp)").arg(column);
            *values << dayStart(firstDay);
        }
        if (hasLast) {
            parts << QStringLiteral("%1 <= CAST(? AS timestamp)").arg(column);
            *values << dayEnd(lastDay);
        }
        return parts.join(QLatin1String(" AND "));
    }
    // SQLite keeps the text as another program wrote it. Every shape of a day's date begins
    // with 'YYYY-MM-DD', so the days are a range of texts; of the last day, only what lies
    // after 23:59:00 is left out: 23:59 with more than zero seconds, after a blank or a 'T'
    // (an hour of 23 is never written with one digit).
    const QString iso = QStringLiteral("yyyy-MM-dd");
    if (hasFirst) {
        parts << QStringLiteral("%1 >= ?").arg(column);
        *values << first.toString(iso);
    }
    if (hasLast) {
        parts << QStringLiteral("%1 < ?").arg(column);
        *values << last.addDays(1).toString(iso);
        // '23:59:00' and '23:59:00.000' sort before this bound, '23:59:00.001' and '23:59:01' after it.
        const QString zeroSeconds = QStringLiteral(":00.") + QString(40, QLatin1Char('0'));
        // The column is compared without its numeric affinity ('+'), which would try each
        // stored text as a number on every row; texts compare the same either way, and so do
        // numbers, which sort before any text.
        for (const char* separator : {" ", "T"}) {
            const QString minute = last.toString(iso) + QLatin1String(separator) + QStringLiteral("23:59");
            parts << QStringLiteral("NOT (+%1 > ? AND +%1 < ?)").arg(column);
            *values << minute + zeroSeconds << minute + QLatin1Char('~');
        }
    }
    return parts.join(QLatin1String(" AND "));
}

QString SqlDialect::tableExistsQuery() const {
    if (m_kind == Kind::PostgreSQL)
        return QStringLiteral("SELECT count(*) AS n FROM information_schema.tables WHERE table_schema = "
                              "current_schema() AND table_name = lower(?)");
    return QStringLiteral("SELECT count(*) AS n FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
}

QString SqlDialect::columnExistsQuery() const {
    if (m_kind == Kind::PostgreSQL)
        return QStringLiteral("SELECT count(*) AS n FROM information_schema.columns WHERE table_schema = "
                              "current_schema() AND table_name = lower(?) AND column_name = lower(?)");
    return QStringLiteral("SELECT count(*) AS n FROM pragma_table_info(?) WHERE name = ? COLLATE NOCASE");
}

QString SqlDialect::caseInsensitiveOrder(const QString& column) const {
    if (m_kind == Kind::PostgreSQL)
        return QStringLiteral("lower(%1) COLLATE \"C\"").arg(column);
    if (m_foldFunction)
        return QStringLiteral("%1(%2)").arg(QLatin1String(foldFunctionName()), column);
    return QStringLiteral("%1 COLLATE NOCASE").arg(column);
}

QString SqlDialect::dateParameter() const {
    return m_kind == Kind::PostgreSQL ? QStringLiteral("CAST(? AS timestamp)") : QStringLiteral("?");
}

QString SqlDialect::dayOf(const QString& column) const {
    if (m_kind == Kind::PostgreSQL)
        return QStringLiteral("CAST(%1 AS date)").arg(column);
    return column;
}

QString SqlDialect::dateTimeText(const QString& column) const {
    // SQLite keeps the text as it was stored.
    if (m_kind == Kind::PostgreSQL)
        return QStringLiteral("to_char(%1, 'YYYY-MM-DD HH24:MI:SS')").arg(column);
    return column;
}
