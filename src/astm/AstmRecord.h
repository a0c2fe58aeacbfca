#pragma once

#include <QString>
#include <QStringList>

// The delimiters an ASTM E1394 message declares in its H record ("H|\^&": field, repeat,
// component, escape).
struct AstmDelimiters {
    QChar field = QLatin1Char('|');
    QChar repeat = QLatin1Char('\\');
    QChar component = QLatin1Char('^');
    QChar escape = QLatin1Char('&');
};

// One record of an E1394 message. Fields are counted as the standard counts them: field 1 is
// the record type, so "R|1|^^^GLU|5.4" has the test in field 3 and the value in field 4.
class AstmRecord {
public:
    AstmRecord() = default;
    AstmRecord(const QString& text, const AstmDelimiters& delimiters);

    QChar type() const { return m_fields.isEmpty() || m_fields.first().isEmpty() ? QChar() : m_fields.first().at(0); }
    int fieldCount() const { return int(m_fields.size()); }
    // The field as it came, escapes and all.
    QString rawField(int number) const;
    // One component (from 1) of one repeat (from 1) of a field, escapes resolved.
    QString component(int field, int component, int repeat = 1) const;
    // The whole field with its escapes resolved, delimiters inside left as they are.
    QString field(int number) const { return unescape(rawField(number)); }
    int repeatCount(int field) const;

    // &F& &S& &R& &E& give back the delimiters; &Xhh..& gives characters by their hexadecimal
    // codes; other sequences (highlighting) are dropped.
    QString unescape(const QString& text) const;

private:
    QStringList m_fields;
    AstmDelimiters m_delimiters;
};
