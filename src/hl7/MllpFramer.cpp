#include "MllpFramer.h"

QByteArray MllpFramer::frame(const QByteArray& message) {
    QByteArray out;
    out.reserve(message.size() + 3);
    out += kStart;
    out += message;
    out += kEnd;
    out += kCr;
    return out;
}

QList<QByteArray> MllpFramer::feed(const QByteArray& bytes) {
    QList<QByteArray> messages;
    for (char c : bytes) {
        if (!m_inside) {
            if (c == kStart) {
                m_inside = true;
                m_buffer.clear();
            } else {
                ++m_dropped;
            }
            continue;
        }
        if (m_sawEnd) {
            m_sawEnd = false;
            if (c == kCr) {
                messages << m_buffer;
                m_buffer.clear();
                m_inside = false;
                continue;
            }
            m_buffer += kEnd; // a 0x1C inside the message after all
        }
        if (c == kEnd) {
            m_sawEnd = true;
        } else if (c == kStart) {
            // A new block before the end of the last: what came before is not a message.
            m_dropped += m_buffer.size() + 1;
            m_buffer.clear();
        } else {
            m_buffer += c;
        }
    }
    return messages;
}
