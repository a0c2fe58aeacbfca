#pragma once

#include "AstmLink.h"
#include "MllpFramer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

// An analyser on a TCP line, for the tests and the demo: it sends its messages (ASTM through
// the E1381 low level as the instrument, or HL7 over MLLP) until each is acknowledged, and can
// make the faults that real lines make.
class AnalyserSimulator : public QObject {
    Q_OBJECT
public:
    enum class Protocol { Astm, Hl7 };
    struct Faults {
        double rate = 0.0;       // the chance of each fault at each occasion
        bool split = false;      // bytes written in small pieces
        bool checksum = false;   // a frame sent with a wrong checksum
        bool dropAck = false;    // an answer not heard
        bool duplicate = false;  // a message sent again after its acknowledgement
        bool disconnect = false; // the line dropped in the middle of a message
    };
    struct Message {
        QByteArray text;
        QString label; // what is printed once it is acknowledged
    };

    AnalyserSimulator(Protocol protocol, const Faults& faults, quint32 seed, int replyTimeoutMs, FILE* ackedOut);

    void setMessages(const QList<Message>& messages) { m_messages = messages; }
    // A pause after each acknowledged message, as an analyser that finishes one sample at a time.
    void setInterval(int ms) { m_intervalMs = ms; }
    // The receiver is the server (connect) or the analyser is (listen).
    void connectTo(const QString& host, quint16 port);
    bool listen(quint16 port, QString* error);

signals:
    void finished();

private:
    void attach(QTcpSocket* socket);
    void onDisconnected();
    void onReadyRead();
    void write(const QByteArray& bytes);
    void next();
    void onTimer();
    void schedule();
    void acknowledged();
    void dropLine();

    Protocol m_protocol;
    Faults m_faults;
    QRandomGenerator m_random;
    int m_replyTimeoutMs;
    FILE* m_ackedOut;
    QList<Message> m_messages;
    int m_next = 0;          // the first message not acknowledged yet
    bool m_inFlight = false; // m_messages[m_next] was handed to the line
    QTcpSocket* m_socket = nullptr;
    QTcpServer m_server;
    QString m_host;
    quint16 m_port = 0;
    AstmLink m_astm;
    MllpFramer m_mllp;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_hl7Deadline = -1;
    int m_intervalMs = 0;
};
