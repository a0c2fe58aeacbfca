#pragma once

#include "Hl7Message.h"

#include <QByteArray>
#include <QDateTime>

// The acknowledgement of an HL7 message (original mode): MSH with the sender and receiver of
// the message swapped, and MSA with the code and the message's control id.
class Hl7Ack {
public:
    enum class Code { Accept, Error, Reject }; // AA, AE, AR

    // For a message that could not even be parsed, pass an empty message: the ACK then
    // carries the default separators and no control id.
    static QByteArray build(const Hl7Message& message, Code code, const QString& text, const QString& ackControlId,
                            const QDateTime& now);
    static QString codeText(Code code);
};
