#pragma once

#include <QByteArray>
#include <QList>

// The minimal lower layer protocol that carries HL7 over TCP: a message stands between the
// start block 0x0B and the end block 0x1C 0x0D. Fed with the bytes as they arrive, in pieces
// of any size, it gives back the whole messages; bytes outside a block are counted and dropped.
class MllpFramer {
public:
    static constexpr char kStart = 0x0b, kEnd = 0x1c, kCr = 0x0d;

    static QByteArray frame(const QByteArray& message);

    // The messages completed by these bytes, in order.
    QList<QByteArray> feed(const QByteArray& bytes);
    qint64 droppedBytes() const { return m_dropped; }
    bool inMessage() const { return m_inside; }
    void reset() {
        m_inside = false;
        m_sawEnd = false;
        m_buffer.clear();
    }

private:
    bool m_inside = false;
    bool m_sawEnd = false; // 0x1C seen, 0x0D expected
    QByteArray m_buffer;
    qint64 m_dropped = 0;
};
