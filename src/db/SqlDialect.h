#pragma once

#include <QString>
#include <QStringView>
#include <QVariant>
#include <QVariantList>

// The few places where SQLite and PostgreSQL differ. Every statement of the program is
// written in portable SQL with '?' placeholders and asks this class for the rest.
// The small Romanian letters with marks (both forms of ş and ţ) and their plain letters, in
// the same order.
inline constexpr const char* kMarkedLetters = "\u0103\u00e2\u00ee\u0219\u015f\u021b\u0163";
inline constexpr const char* kPlainLetters = "aaisstt";

class SqlDialect {
public:
    enum class Kind { SQLite, PostgreSQL };

    SqlDialect() = default;
    explicit SqlDialect(Kind kind) : m_kind(kind) {}
    Kind kind() const { return m_kind; }

    // An integer expression: the leading whole number of a text column (optional sign and
    // decimal digits, 0 when there are none), as the request identifier is compared.
    QString leadingNumber(const QString& column) const;
    // A condition "the leading whole number of column equals the bound value" and that value,
    // for a number of any length (a canonical text as canonicalLeadingNumber gives). SQLite
    // reads a number beyond 64 bits as the nearest 64-bit limit, so there the condition also
    // holds for longer numbers that saturate alike: compare canonicalLeadingNumber of the
    // stored text with the wanted one before trusting a row.
    QString leadingNumberEquals(const QString& column) const;
    QVariant leadingNumberValue(const QString& canonicalNumber) const;
    // The leading whole number of a text in one canonical spelling: blanks, a '+' and leading
    // zeros dropped, "0" when there is none ("  007x" -> "7", "-0" -> "0", "-12ab" -> "-12").
    static QString canonicalLeadingNumber(QStringView text);
    // A condition "column contains the bound text", ignoring letter case; the bound value
    // is made with containsPattern(), which escapes % and _ so they match literally.
    QString containsCondition(const QString& column) const;
    // The name search also ignores the marks of the Romanian letters in both their forms
    // (ş ș -> s, ţ ț -> t, ă â -> a, î -> i), so a name typed without them is found.
    // SQLite's LIKE ignores the case of ASCII letters only; when the connection offers the SQL
    // function labrosa_fold (Unicode case folding, marks taken off), the condition folds both
    // sides with it so that letters such as Ș and ș match too.
    void setFoldFunction(bool available) { m_foldFunction = available; }
    static const char* foldFunctionName() { return "labrosa_fold"; }
    static QString containsPattern(const QString& text);
    // The patient-name search: "RESULTS.PacientName contains text" as containsCondition decides
    // it, its bound values appended to values. With the name shadow (SearchIndexes) on SQLite,
    // the shadow's trigram index first picks the candidate sets, so not every set is read. The
    // days searched (year/month/day texts as for dayRangeCondition, empty for an open end) tell
    // whether it pays: a few days' sets are read faster through the day index than a common
    // part of a name ("ion") is looked up in the shadow.
    void setNameShadow(bool available) { m_nameShadow = available; }
    QString patientNameCondition(const QString& text, const QString& firstDay, const QString& lastDay,
                                 QVariantList* values) const;
    // The shortest range of days searched through the name shadow.
    static constexpr int kNameShadowMinDays = 32;
    // The shadow's query for the sets whose folded name may contain text ("\"abc\"", a phrase
    // of the folded text); empty when the shadow cannot be trusted to find every one of them:
    // under three letters (no trigram), or a letter other than ASCII after folding, whose
    // folding the shadow's SQL and the trigram index may do otherwise than the search.
    static QString nameShadowQuery(const QString& text);

    // Dates travel as text in the canonical form 'YYYY-MM-DD HH:MM:SS' on both backends.
    // From a year/month/day text (as ToSqlDate gives, e.g. "2006/3/6"): midnight and 23:59:00
    // of that day; empty when the text is not a valid date.
    static QString dayStart(const QString& yearMonthDay);
    static QString dayEnd(const QString& yearMonthDay);
    // A date and time column read back as text 'YYYY-MM-DD HH:MM:SS'. A timestamp handed to
    // the client as a local date-time is lost when it falls in a daylight-saving gap.
    QString dateTimeText(const QString& column) const;
    // The day of a date and time column, read back as text beginning 'YYYY-MM-DD' (SQLite: the
    // stored text) or as a date, which no daylight-saving gap moves. Cheaper than the whole text.
    QString dayOf(const QString& column) const;
    // The condition "column lies between midnight of the first day and 23:59:00 of the last",
    // whatever shape the stored date has (a blank or a 'T' before the time, a date alone,
    // fractional seconds, a one-digit hour), kept usable by an index on the column. The days
    // are year/month/day texts (as ToSqlDate gives); an empty or invalid one leaves that end
    // open. The bound values are appended to values; empty when neither end is given.
    QString dayRangeCondition(const QString& column, const QString& firstDay, const QString& lastDay,
                              QVariantList* values) const;
    // A query giving one row with a count above 0 when the table bound to its '?' exists
    // (a name as written in the schema; the backend's own folding is applied).
    QString tableExistsQuery() const;
    // "n" > 0 when the table (first value) has the column (second value).
    QString columnExistsQuery() const;
    // An ordering expression for a text column that ignores letter case alike on both backends.
    QString caseInsensitiveOrder(const QString& column) const;
    // A placeholder for a bound date text, with the cast the backend needs ("?" or "CAST(? AS timestamp)").
    QString dateParameter() const;

private:
    Kind m_kind = Kind::SQLite;
    bool m_foldFunction = false;
    bool m_nameShadow = false;
};
