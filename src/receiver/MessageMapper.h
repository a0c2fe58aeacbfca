#pragma once

#include "ReceivedSet.h"

class AstmMessage;
class Hl7Message;

// Reads the result sets out of a parsed message: one per specimen (ASTM: each O record with
// the R records after it; HL7: each OBR with its OBX segments), with the patient of the P or
// PID before it. Quality-control samples are not patients' sets and are left out (the message
// itself is kept with the received messages). A result without a value (a test that could not
// be done) is no result.
class MessageMapper {
public:
    static QList<ReceivedSet> fromAstm(const AstmMessage& message);
    // False, with the reason, for a message that is not an observation result (ORU^R01).
    static bool fromHl7(const Hl7Message& message, QList<ReceivedSet>* sets, QString* error);

    // "M" or "F" from the sexes the protocols write; empty for anything else.
    static QString sexCode(const QString& text);
    // A date of birth in the protocols' form YYYYMMDD[HHMMSS].
    static QDate birthDate(const QString& text);
};
