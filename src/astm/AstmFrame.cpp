#include "AstmFrame.h"

QByteArray AstmFrame::checksum(const QByteArray& numberTextAndEnd) {
    unsigned sum = 0;
    for (char c : numberTextAndEnd)
        sum += static_cast<unsigned char>(c);
    return QByteArray::number(sum & 0xff, 16).toUpper().rightJustified(2, '0');
}

QByteArray AstmFrame::encode() const {
    QByteArray body = QByteArray::number(number % 8) + text + (last ? kEtx : kEtb);
    QByteArray out;
    out.reserve(body.size() + 5);
    out += kStx;
    out += body;
    out += checksum(body);
    out += kCr;
    out += kLf;
    return out;
}

QList<AstmFrame> AstmFrame::splitRecord(const QByteArray& record, int* nextNumber) {
    QList<AstmFrame> frames;
    int at = 0;
    do {
        AstmFrame f;
        f.number = *nextNumber % 8;
        *nextNumber = (*nextNumber + 1) % 8;
        f.text = record.mid(at, kMaxText);
        at += f.text.size();
        f.last = at >= record.size();
        frames << f;
    } while (at < record.size());
    return frames;
}

AstmFrame::Check AstmFrame::decode(const QByteArray& bytes, AstmFrame* frame) {
    // STX, number, end mark, two checksum digits, CR, LF at the least.
    const int n = bytes.size();
    if (n < 7 || bytes.at(0) != kStx || bytes.at(n - 2) != kCr || bytes.at(n - 1) != kLf)
        return Check::Malformed;
    const char end = bytes.at(n - 5);
    if (end != kEtx && end != kEtb)
        return Check::Malformed;
    const char digit = bytes.at(1);
    if (digit < '0' || digit > '7')
        return Check::Malformed;
    const QByteArray body = bytes.mid(1, n - 5);
    for (int i = 1; i < body.size() - 1; ++i) {
        const char c = body.at(i);
        if (c == kStx || c == kEtx || c == kEtb || c == kEot || c == kEnq || c == kAck || c == kNak || c == kLf)
            return Check::Malformed;
    }
    if (bytes.mid(n - 4, 2).toUpper() != checksum(body))
        return Check::BadChecksum;
    frame->number = digit - '0';
    frame->text = body.mid(1, body.size() - 2);
    frame->last = end == kEtx;
    return Check::Good;
}
