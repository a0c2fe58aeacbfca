#include "AstmLink.h"

namespace {
// A frame holds at most 240 characters of text and 7 more; anything longer without its end is noise.
constexpr int kMaxFrameBytes = AstmFrame::kMaxText + 7;

QList<QByteArray> recordsOf(const QByteArray& message) {
    QList<QByteArray> records;
    for (const QByteArray& r : message.split(AstmFrame::kCr))
        if (!r.isEmpty())
            records << r + AstmFrame::kCr;
    return records;
}
} // namespace

void AstmLink::feed(const QByteArray& bytes, qint64 now) {
    for (char c : bytes) {
        if (!m_buffer.isEmpty()) {
            if (c == AstmFrame::kStx) { // a new frame began before the last one ended
                report(QStringLiteral("cadru intrerupt de un alt cadru"));
                m_buffer = QByteArray(1, c);
                continue;
            }
            if (c == AstmFrame::kEot || c == AstmFrame::kEnq) {
                report(QStringLiteral("cadru neterminat"));
                m_buffer.clear();
                onControl(c, now);
                continue;
            }
            m_buffer += c;
            const int n = int(m_buffer.size());
            if (c == AstmFrame::kLf && n >= 7 &&
                (m_buffer.at(n - 5) == AstmFrame::kEtx || m_buffer.at(n - 5) == AstmFrame::kEtb)) {
                const QByteArray frame = m_buffer;
                m_buffer.clear();
                onFrame(frame, now);
            } else if (n > kMaxFrameBytes + 16) {
                report(QStringLiteral("cadru prea lung"));
                m_buffer.clear();
                write(AstmFrame::kNak);
            }
            continue;
        }
        if (c == AstmFrame::kStx) {
            if (m_state == State::Receiving)
                m_buffer = QByteArray(1, c);
            else
                report(QStringLiteral("cadru primit in afara unei transmisii"));
            continue;
        }
        if (c == AstmFrame::kEnq || c == AstmFrame::kAck || c == AstmFrame::kNak || c == AstmFrame::kEot)
            onControl(c, now);
        // Anything else between frames is line noise.
    }
}

void AstmLink::onControl(char c, qint64 now) {
    switch (c) {
    case AstmFrame::kEnq:
        if (m_state == State::EnqSent || m_state == State::EnqDelay) {
            if (m_side == Side::Instrument) {
                // The instrument keeps the line: it asks again after a second.
                m_state = State::EnqDelay;
                m_deadline = now + m_timing.instrumentContentionMs;
                return;
            }
            // The computer gives way and answers the instrument's next ENQ.
            m_state = State::Idle;
            m_notBefore = now + m_timing.computerContentionMs;
            m_deadline = m_notBefore;
            return;
        }
        if (m_state == State::Receiving)
            discardIncomplete();
        if (m_state == State::Idle || m_state == State::Receiving) {
            m_state = State::Receiving;
            m_anyAccepted = false;
            m_lastAccepted = 0;
            m_record.clear();
            m_message.clear();
            m_deadline = now + m_timing.frameTimeoutMs;
            write(AstmFrame::kAck);
        }
        return;
    case AstmFrame::kAck:
    case AstmFrame::kEot:
        if (m_state == State::EnqSent && c == AstmFrame::kAck) {
            m_nextNumber = 1;
            m_frames.clear();
            for (const QByteArray& record : recordsOf(m_queue.first()))
                m_frames += AstmFrame::splitRecord(record, &m_nextNumber);
            m_frameIndex = 0;
            m_retransmits = 0;
            m_interrupted = false;
            sendCurrentFrame(now);
            return;
        }
        if (m_state == State::FrameSent) {
            // EOT in place of ACK: the frame is taken and the receiver asks to have the line.
            if (c == AstmFrame::kEot)
                m_interrupted = true;
            m_retransmits = 0;
            if (++m_frameIndex < m_frames.size()) {
                sendCurrentFrame(now);
                return;
            }
            m_queue.removeFirst();
            m_frames.clear();
            if (messageSent)
                messageSent();
            if (!m_queue.isEmpty() && !m_interrupted) {
                m_frameIndex = 0;
                for (const QByteArray& record : recordsOf(m_queue.first()))
                    m_frames += AstmFrame::splitRecord(record, &m_nextNumber);
                sendCurrentFrame(now);
                return;
            }
            write(AstmFrame::kEot);
            m_state = State::Idle;
            m_notBefore = m_interrupted ? now + m_timing.computerContentionMs : now;
            m_deadline = m_queue.isEmpty() ? -1 : m_notBefore;
            return;
        }
        if (c == AstmFrame::kEot && m_state == State::Receiving) {
            discardIncomplete();
            m_state = State::Idle;
            m_deadline = m_queue.isEmpty() ? -1 : qMax(now, m_notBefore);
            return;
        }
        if (c == AstmFrame::kEot && m_state == State::AwaitingStore) {
            report(QStringLiteral("analizorul a incheiat transmisia inainte de raspuns"));
            m_senderGone = true;
        }
        return;
    case AstmFrame::kNak:
        if (m_state == State::EnqSent) {
            m_state = State::EnqDelay;
            m_deadline = now + m_timing.enqRetryAfterNakMs;
            return;
        }
        if (m_state == State::FrameSent) {
            if (++m_retransmits > m_timing.maxRetransmits) {
                report(QStringLiteral("cadrul a fost refuzat de prea multe ori"));
                abortSending(now);
                return;
            }
            sendCurrentFrame(now);
        }
        return;
    default:
        return;
    }
}

void AstmLink::onFrame(const QByteArray& bytes, qint64 now) {
    if (m_state != State::Receiving)
        return;
    m_deadline = now + m_timing.frameTimeoutMs;
    AstmFrame frame;
    const AstmFrame::Check check = AstmFrame::decode(bytes, &frame);
    if (check != AstmFrame::Check::Good) {
        report(check == AstmFrame::Check::BadChecksum ? QStringLiteral("suma de control gresita")
                                                      : QStringLiteral("cadru gresit"));
        write(AstmFrame::kNak);
        return;
    }
    // The sender did not hear our ACK and sends the frame again: taken once already.
    if (m_anyAccepted && frame.number == m_lastAccepted) {
        write(AstmFrame::kAck);
        return;
    }
    if (frame.number != (m_lastAccepted + 1) % 8) {
        report(QStringLiteral("cadrul %1 in locul cadrului %2").arg(frame.number).arg((m_lastAccepted + 1) % 8));
        write(AstmFrame::kNak);
        return;
    }
    m_anyAccepted = true;
    m_lastAccepted = frame.number;
    m_record += frame.text;
    if (!frame.last) {
        write(AstmFrame::kAck);
        return;
    }
    const QByteArray record = m_record;
    m_record.clear();
    if (record.startsWith('H') && !m_message.isEmpty())
        discardIncomplete();
    m_message += record;
    if (!record.startsWith('L')) {
        write(AstmFrame::kAck);
        return;
    }
    m_state = State::AwaitingStore;
    m_deadline = -1;
    m_heldText = frame.text;
    m_senderGone = false;
    if (messageReceived)
        messageReceived(m_message); // may answer at once through acknowledgeMessage
}

void AstmLink::acknowledgeMessage(bool stored, qint64 now) {
    if (m_state != State::AwaitingStore)
        return;
    if (m_senderGone) {
        m_message.clear();
        m_state = State::Idle;
        m_deadline = m_queue.isEmpty() ? -1 : qMax(now, m_notBefore);
        return;
    }
    m_state = State::Receiving;
    m_deadline = now + m_timing.frameTimeoutMs;
    if (stored) {
        m_message.clear();
        write(AstmFrame::kAck);
        return;
    }
    // The sender repeats the last frame; until then the message stands without it.
    const QByteArray record = m_message.right(m_message.size() - m_message.lastIndexOf(AstmFrame::kCr, -2) - 1);
    m_message.chop(record.size());
    m_record = record.left(record.size() - m_heldText.size());
    m_lastAccepted = (m_lastAccepted + 7) % 8;
    write(AstmFrame::kNak);
}

void AstmLink::discardIncomplete() {
    if (!m_message.isEmpty() || !m_record.isEmpty())
        report(QStringLiteral("mesaj neterminat, asteptat din nou de la analizor"));
    m_record.clear();
    m_message.clear();
}

void AstmLink::send(const QByteArray& message, qint64 now) {
    m_queue << message;
    if (m_state == State::Idle) {
        if (now >= m_notBefore)
            startSending(now);
        else
            m_deadline = m_notBefore;
    }
}

void AstmLink::startSending(qint64 now) {
    m_state = State::EnqSent;
    m_deadline = now + m_timing.replyTimeoutMs;
    write(AstmFrame::kEnq);
}

void AstmLink::sendCurrentFrame(qint64 now) {
    m_state = State::FrameSent;
    m_deadline = now + m_timing.replyTimeoutMs;
    write(m_frames.at(m_frameIndex).encode());
}

void AstmLink::abortSending(qint64 now) {
    write(AstmFrame::kEot);
    m_frames.clear();
    m_state = State::Idle;
    m_notBefore = now + m_timing.enqRetryAfterNakMs;
    m_deadline = m_notBefore;
}

void AstmLink::tick(qint64 now) {
    if (m_deadline < 0 || now < m_deadline)
        return;
    switch (m_state) {
    case State::Receiving:
        report(QStringLiteral("nu a mai venit niciun cadru"));
        m_buffer.clear();
        discardIncomplete();
        m_state = State::Idle;
        m_deadline = m_queue.isEmpty() ? -1 : qMax(now, m_notBefore);
        return;
    case State::EnqSent:
        report(QStringLiteral("niciun raspuns la ENQ"));
        abortSending(now);
        return;
    case State::FrameSent:
        report(QStringLiteral("niciun raspuns la cadru"));
        abortSending(now);
        return;
    case State::EnqDelay:
        startSending(now);
        return;
    case State::Idle:
        m_deadline = -1;
        if (!m_queue.isEmpty())
            startSending(now);
        return;
    case State::AwaitingStore:
        return;
    }
}

void AstmLink::reset() {
    m_state = State::Idle;
    m_buffer.clear();
    m_record.clear();
    m_message.clear();
    m_frames.clear();
    m_anyAccepted = false;
    m_lastAccepted = 0;
    m_notBefore = 0;
    m_deadline = m_queue.isEmpty() ? -1 : 0;
}
