#include "SqlDialect.h"

#include <QDate>
#include <QRegularExpression>
#include <QStringList>

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

QString SqlDialect::containsCondition(const QString& column) const {
    if (m_kind == Kind::PostgreSQL)
        return QStringLiteral("%1 ILIKE ? ESCAPE '\\'").arg(column);
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

QString SqlDialect::dayStart(const QString& yearMonthDay) {
    return canonical(yearMonthDay, "00:00:00");
}

QString SqlDialect::dayEnd(const QString& yearMonthDay) {
    return canonical(yearMonthDay, "23:59:00");
}

QString SqlDialect::dateParameter() const {
    return m_kind == Kind::PostgreSQL ? QStringLiteral("CAST(? AS timestamp)") : QStringLiteral("?");
}

QString SqlDialect::dateTimeText(const QString& column) const {
    // SQLite keeps the text as it was stored.
    if (m_kind == Kind::PostgreSQL)
        return QStringLiteral("to_char(%1, 'YYYY-MM-DD HH24:MI:SS')").arg(column);
    return column;
}
