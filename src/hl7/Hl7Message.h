#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// An HL7 version 2 message: segments ended by CR, fields separated by the character after
// "MSH", and the encoding characters of MSH-2 (component, repetition, escape, subcomponent).
// Fields are counted as HL7 counts them: in MSH, MSH-1 is the field separator itself.
class Hl7Message {
public:
    static bool parse(const QString& text, Hl7Message* message, QString* error);

    int segmentCount() const { return int(m_segments.size()); }
    QString segmentName(int index) const;
    // The index of the first segment of that name at or after from; -1 when none.
    int findSegment(const QString& name, int from = 0) const;
    // The field with escapes resolved and separators inside left as they are.
    QString field(int segment, int field) const;
    QString rawField(int segment, int field) const;
    // One component (from 1) of one repetition (from 1), escapes resolved.
    QString component(int segment, int field, int component, int repetition = 1) const;
    int repetitionCount(int segment, int field) const;

    QString messageType() const;  // MSH-9, as "ORU^R01"
    QString controlId() const;    // MSH-10
    QString processingId() const; // MSH-11
    QString version() const;      // MSH-12
    QChar fieldSeparator() const { return m_field; }
    QString encodingCharacters() const { return QString(m_component) + m_repetition + m_escape + m_subcomponent; }

    // \F\ \S\ \T\ \R\ \E\ give the separators back, \Xhh..\ characters by their codes,
    // \.br\ a line break; highlighting and other sequences are dropped.
    QString unescape(const QString& text) const;
    // The reverse, for a text put into a field.
    QString escape(const QString& text) const;

private:
    QList<QStringList> m_segments; // each segment's fields as they came, the name first
    QChar m_field = QLatin1Char('|');
    QChar m_component = QLatin1Char('^');
    QChar m_repetition = QLatin1Char('~');
    QChar m_escape = QLatin1Char('\\');
    QChar m_subcomponent = QLatin1Char('&');
};
