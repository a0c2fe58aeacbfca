#pragma once

#include <QByteArray>
#include <QList>

// One frame of the ASTM E1381 low level: STX, the frame number (1..7, 0), at most 240
// characters of text, ETB (more of the record follows) or ETX (the record ends), the
// checksum in two capital hexadecimal digits, CR LF.
struct AstmFrame {
    static constexpr char kStx = 0x02, kEtx = 0x03, kEot = 0x04, kEnq = 0x05, kAck = 0x06, kNak = 0x15, kEtb = 0x17,
                          kCr = 0x0d, kLf = 0x0a;
    static constexpr int kMaxText = 240;

    int number = 0;
    QByteArray text;
    bool last = true; // ETX; ETB when false

    // The frame's bytes, checksum included.
    QByteArray encode() const;
    // The checksum of a frame: the sum modulo 256 of the bytes from the frame number through
    // ETX or ETB, in two capital hexadecimal digits.
    static QByteArray checksum(const QByteArray& numberTextAndEnd);
    // The frames of one record (ending with CR), numbered from *nextNumber on, which moves along.
    static QList<AstmFrame> splitRecord(const QByteArray& record, int* nextNumber);

    enum class Check { Good, BadChecksum, Malformed };
    // Reads a whole frame (STX through LF); *frame is filled when the answer is Good.
    static Check decode(const QByteArray& bytes, AstmFrame* frame);
};
