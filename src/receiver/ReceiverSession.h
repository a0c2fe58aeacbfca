#pragma once

#include "AstmLink.h"
#include "MllpFramer.h"
#include "ResultStore.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class CaptureLog;
class QIODevice;

// One analyser's connection: the bytes go to the capture log first, then through the protocol
// (ASTM E1381/E1394 or HL7 over MLLP) to the store; the analyser hears ACK (AA) only for a
// message committed or known already, and NAK (AE, AR) for one that is not.
class ReceiverSession : public QObject {
    Q_OBJECT
public:
    enum class Protocol { Astm, Hl7 };

    ReceiverSession(Protocol protocol, ResultStore* store, CaptureLog* capture, QObject* parent = nullptr);

    // The line the session reads and answers on; it is not owned.
    void attach(QIODevice* device);
    void detach();
    // Bytes from the line, as if read from the device (which need not be attached).
    void receive(const QByteArray& bytes);
    void setAstmTiming(const AstmLink::Timing& timing);

    static bool parseProtocol(const QString& text, Protocol* protocol);

signals:
    // After each message: what was stored; a message refused carries its reason.
    void messageHandled(const StoreOutcome& outcome);
    void problem(const QString& text);

private:
    void wire();
    void onReadyRead();
    void onTimer();
    void schedule();
    void send(const QByteArray& bytes);
    void report(const QString& text);
    // The store's answer for one message's text; Failed carries the reason.
    StoreOutcome handleAstm(const QByteArray& message);
    void handleHl7(const QByteArray& message);

    Protocol m_protocol;
    ResultStore* m_store;
    CaptureLog* m_capture;
    QPointer<QIODevice> m_device;
    AstmLink m_astm{AstmLink::Side::Computer};
    MllpFramer m_mllp;
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_ackNumber = 0;
};
