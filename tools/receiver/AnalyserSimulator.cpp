#include "AnalyserSimulator.h"

#include "AstmFrame.h"

namespace {
constexpr int kReconnectMs = 100;
constexpr int kRetryMs = 200;

AstmLink::Timing instrumentTiming(int replyTimeoutMs) {
    AstmLink::Timing t;
    t.replyTimeoutMs = replyTimeoutMs;
    t.enqRetryAfterNakMs = qMin(kRetryMs, replyTimeoutMs);
    t.instrumentContentionMs = qMin(kRetryMs, replyTimeoutMs);
    return t;
}
} // namespace

AnalyserSimulator::AnalyserSimulator(Protocol protocol, const Faults& faults, quint32 seed, int replyTimeoutMs,
                                     FILE* ackedOut)
    : m_protocol(protocol), m_faults(faults), m_random(seed), m_replyTimeoutMs(replyTimeoutMs), m_ackedOut(ackedOut),
      m_astm(AstmLink::Side::Instrument, instrumentTiming(replyTimeoutMs)) {
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &AnalyserSimulator::onTimer);
    m_astm.output = [this](const QByteArray& bytes) { write(bytes); };
    m_astm.messageSent = [this]() { acknowledged(); };
}

void AnalyserSimulator::connectTo(const QString& host, quint16 port) {
    m_host = host;
    m_port = port;
    auto* socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this, [this, socket]() { attach(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) {
        if (socket != m_socket) { // not connected yet: the receiver is not there, try again
            socket->deleteLater();
            QTimer::singleShot(kReconnectMs, this, [this]() { connectTo(m_host, m_port); });
        }
    });
    socket->connectToHost(host, port);
}

bool AnalyserSimulator::listen(quint16 port, QString* error) {
    if (!m_server.listen(QHostAddress::LocalHost, port)) {
        *error = m_server.errorString();
        return false;
    }
    std::printf("labrosa-analyser-sim: asculta pe portul %d\n", int(m_server.serverPort()));
    std::fflush(stdout);
    connect(&m_server, &QTcpServer::newConnection, this, [this]() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            if (m_socket) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            attach(socket);
        }
    });
    return true;
}

void AnalyserSimulator::attach(QTcpSocket* socket) {
    m_socket = socket;
    // Each piece goes out as it is written, as an analyser's serial-to-network box sends it.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &AnalyserSimulator::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &AnalyserSimulator::onDisconnected);
    m_inFlight = false;
    m_astm.reset();
    m_mllp.reset();
    next();
}

void AnalyserSimulator::onDisconnected() {
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    if (socket) {
        socket->disconnect(this);
        socket->deleteLater();
    }
    // What was on its way is sent again on the next line.
    m_inFlight = false;
    m_astm = AstmLink(AstmLink::Side::Instrument, instrumentTiming(m_replyTimeoutMs));
    m_astm.output = [this](const QByteArray& bytes) { write(bytes); };
    m_astm.messageSent = [this]() { acknowledged(); };
    m_hl7Deadline = -1;
    m_timer.stop();
    if (!m_host.isEmpty() && m_next < m_messages.size())
        QTimer::singleShot(kReconnectMs, this, [this]() { connectTo(m_host, m_port); });
}

void AnalyserSimulator::dropLine() {
    if (m_socket)
        m_socket->abort(); // disconnected() follows
}

void AnalyserSimulator::write(const QByteArray& bytes) {
    if (!m_socket)
        return;
    QByteArray out = bytes;
    const bool frame = m_protocol == Protocol::Astm && out.startsWith(AstmFrame::kStx);
    const bool message = frame || m_protocol == Protocol::Hl7;
    if (frame && m_faults.checksum && m_random.generateDouble() < m_faults.rate) {
        const int at = int(out.size()) - 4; // the first checksum digit
        out[at] = out.at(at) == '0' ? '1' : '0';
    }
    if (message && m_faults.disconnect && m_random.generateDouble() < m_faults.rate / 4) {
        m_socket->write(out.left(out.size() / 2));
        m_socket->flush();
        QTimer::singleShot(0, this, &AnalyserSimulator::dropLine);
        return;
    }
    if (m_faults.split && out.size() > 1 && m_random.generateDouble() < m_faults.rate * 4) {
        for (int at = 0; at < out.size();) {
            const int n = 1 + int(m_random.bounded(7));
            m_socket->write(out.mid(at, n));
            m_socket->flush();
            at += n;
        }
        return;
    }
    m_socket->write(out);
}

void AnalyserSimulator::next() {
    if (!m_socket || m_inFlight)
        return;
    if (m_next >= m_messages.size()) {
        if (m_astm.idle()) {
            m_socket->flush();
            emit finished();
        }
        return;
    }
    m_inFlight = true;
    const Message& m = m_messages.at(m_next);
    if (m_protocol == Protocol::Astm) {
        m_astm.send(m.text, m_clock.elapsed());
    } else {
        write(MllpFramer::frame(m.text));
        m_hl7Deadline = m_clock.elapsed() + m_replyTimeoutMs;
    }
    schedule();
}

void AnalyserSimulator::acknowledged() {
    const Message m = m_messages.at(m_next);
    if (m_ackedOut) {
        std::fprintf(m_ackedOut, "%s\n", m.label.toUtf8().constData());
        std::fflush(m_ackedOut);
    }
    m_inFlight = false;
    // A duplicate: the same message once more, as an analyser that missed the answer sends it.
    if (m_faults.duplicate && m_random.generateDouble() < m_faults.rate)
        m_messages.insert(m_next + 1, m);
    ++m_next;
    QTimer::singleShot(m_intervalMs, this, &AnalyserSimulator::next);
}

void AnalyserSimulator::onReadyRead() {
    if (!m_socket)
        return;
    QByteArray bytes = m_socket->readAll();
    if (m_faults.dropAck && m_random.generateDouble() < m_faults.rate) {
        bytes.replace(AstmFrame::kAck, QByteArray());
        if (m_protocol == Protocol::Hl7)
            bytes.clear();
    }
    if (m_protocol == Protocol::Astm) {
        m_astm.feed(bytes, m_clock.elapsed());
    } else {
        for (const QByteArray& ack : m_mllp.feed(bytes)) {
            if (!m_inFlight)
                continue;
            m_hl7Deadline = -1;
            const int msa = int(ack.indexOf("MSA|"));
            if (msa >= 0 && ack.mid(msa + 4, 3) == "AA|") {
                acknowledged();
            } else { // refused: sent again after a while
                m_inFlight = false;
                QTimer::singleShot(kRetryMs, this, &AnalyserSimulator::next);
            }
        }
    }
    schedule();
}

void AnalyserSimulator::onTimer() {
    const qint64 now = m_clock.elapsed();
    if (m_protocol == Protocol::Astm) {
        m_astm.tick(now);
    } else if (m_hl7Deadline >= 0 && now >= m_hl7Deadline) {
        m_hl7Deadline = -1;
        m_inFlight = false;
        next();
    }
    schedule();
}

void AnalyserSimulator::schedule() {
    const qint64 deadline = m_protocol == Protocol::Astm ? m_astm.nextDeadline() : m_hl7Deadline;
    if (deadline < 0) {
        m_timer.stop();
        return;
    }
    m_timer.start(int(qMax<qint64>(0, deadline - m_clock.elapsed())));
}
