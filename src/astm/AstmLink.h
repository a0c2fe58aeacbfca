#pragma once

#include "AstmFrame.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// The timers of the E1381 low level, as the standard sets them.
struct AstmTiming {
    int replyTimeoutMs = 15000;     // the sender's wait for ACK or NAK
    int frameTimeoutMs = 30000;     // the receiver's wait for the next frame
    int enqRetryAfterNakMs = 10000; // a busy receiver answered the ENQ with NAK
    int instrumentContentionMs = 1000;
    int computerContentionMs = 20000;
    int maxRetransmits = 6;
};

// The ASTM E1381 low level of one connection, as a state machine fed with the bytes received
// and the time (milliseconds of any steady clock); it answers through the callbacks. It
// receives messages (the records from H to L, each ending with CR) and sends the messages
// queued with send(). The last frame of a received message is acknowledged only once the
// owner said whether the message was stored (acknowledgeMessage), so an analyser never hears
// ACK for a message that is not kept.
class AstmLink {
public:
    // Who wins when both ends ask for the line at once: the instrument.
    enum class Side { Computer, Instrument };
    using Timing = AstmTiming;

    explicit AstmLink(Side side, Timing timing = AstmTiming()) : m_side(side), m_timing(timing) {}

    std::function<void(const QByteArray&)> output;          // bytes to write to the line
    std::function<void(const QByteArray&)> messageReceived; // answer with acknowledgeMessage()
    std::function<void()> messageSent;                      // the message at the head of the queue went through
    std::function<void(const QString&)> problem;            // for the log and the connection's status

    void feed(const QByteArray& bytes, qint64 now);
    // Runs the timers; call it at least at nextDeadline().
    void tick(qint64 now);
    // -1 when no timer runs.
    qint64 nextDeadline() const { return m_deadline; }

    void send(const QByteArray& message, qint64 now);
    // The message last given to messageReceived was stored (ACK) or not (NAK: the analyser sends
    // its last frame again, and the message is offered once more).
    void acknowledgeMessage(bool stored, qint64 now);
    // The line went down: whatever was half received is dropped, a message being sent is given up.
    void reset();

    bool idle() const { return m_state == State::Idle && m_queue.isEmpty(); }
    bool awaitingAcknowledge() const { return m_state == State::AwaitingStore; }
    int pendingMessages() const { return int(m_queue.size()); }

private:
    enum class State { Idle, Receiving, AwaitingStore, EnqSent, EnqDelay, FrameSent };

    void write(char c) { write(QByteArray(1, c)); }
    void write(const QByteArray& bytes) {
        if (output)
            output(bytes);
    }
    void report(const QString& text) {
        if (problem)
            problem(text);
    }
    void onControl(char c, qint64 now);
    void onFrame(const QByteArray& bytes, qint64 now);
    void startSending(qint64 now);
    void sendCurrentFrame(qint64 now);
    // Ends the session with EOT; the message stays queued and is tried again later.
    void abortSending(qint64 now);
    // Records taken without the L that ends their message: the message was never acknowledged
    // as a whole (that is the L frame's ACK), so the sender sends it again; they are dropped.
    void discardIncomplete();

    Side m_side;
    Timing m_timing;
    State m_state = State::Idle;
    qint64 m_deadline = -1;
    QByteArray m_buffer; // bytes of a frame not yet whole

    // Receiving.
    int m_lastAccepted = 0; // the number of the last frame taken (0 before the first: 1 comes next)
    QByteArray m_record;    // the record being put together from ETB frames
    QByteArray m_message;   // the records of the message so far
    bool m_anyAccepted = false;
    QByteArray m_heldText;     // the text of the frame that waits for the store's answer
    bool m_senderGone = false; // the sender ended the session while its message was being stored

    // Sending.
    QList<QByteArray> m_queue;
    QList<AstmFrame> m_frames; // of the message at the head of the queue
    int m_frameIndex = 0;
    int m_retransmits = 0;
    int m_nextNumber = 1;
    bool m_interrupted = false; // the receiver answered a frame with EOT
    qint64 m_notBefore = 0;     // no ENQ before this time (after contention or a refusal)
};
