#pragma once

#include "AstmRecord.h"

#include <QByteArray>
#include <QList>

// An E1394 message: the records from H to L, each ended by CR (a LF after it is tolerated).
// The H record declares the delimiters of the rest.
class AstmMessage {
public:
    // False, with the reason, when the text does not begin with a valid H record.
    static bool parse(const QString& text, AstmMessage* message, QString* error);

    const AstmDelimiters& delimiters() const { return m_delimiters; }
    const QList<AstmRecord>& records() const { return m_records; }
    bool hasTerminator() const { return !m_records.isEmpty() && m_records.last().type() == QLatin1Char('L'); }
    // The message control id of H (field 3).
    QString controlId() const { return m_records.isEmpty() ? QString() : m_records.first().field(3); }

private:
    AstmDelimiters m_delimiters;
    QList<AstmRecord> m_records;
};
