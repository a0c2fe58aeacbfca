#pragma once

// A TCP relay on the loopback between the program and the PostgreSQL test server, on a thread of
// its own (the program waits for the server in the test's thread). It passes every byte on both
// ways, except around the first COMMIT a client sends (as a simple query, the way the program
// sends it):
// - DropCommitAnswer: the COMMIT reaches the server, whose answer is dropped, and both sides are
//   closed, as when a cable is pulled at that moment;
// - HoldCommit: the COMMIT is kept back, as from a workstation that stopped before sending it;
//   whatever the server says is passed on, and once it closes the session the client's side is
//   closed too.

#include <QByteArray>
#include <QHostAddress>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <atomic>

class PgRelay : public QThread {
public:
    enum class Mode { DropCommitAnswer, HoldCommit };

    PgRelay(quint16 serverPort, Mode mode) : m_serverPort(serverPort), m_mode(mode) {}
    ~PgRelay() override {
        quit();
        wait();
    }

    // Starts the relay and gives the port it listens on (0 when it could not listen).
    quint16 listen() {
        start();
        m_ready.acquire();
        return m_port;
    }
    // Whether a COMMIT came by.
    bool fired() const { return m_fired; }

protected:
    void run() override {
        QTcpServer server;
        if (server.listen(QHostAddress::LocalHost, 0))
            m_port = server.serverPort();
        m_ready.release();
        if (m_port == 0)
            return;
        QObject::connect(&server, &QTcpServer::newConnection, [this, &server] {
            while (QTcpSocket* client = server.nextPendingConnection())
                pass(client);
        });
        exec();
    }

private:
    void pass(QTcpSocket* client) {
        auto* upstream = new QTcpSocket(client);
        upstream->connectToHost(QHostAddress::LocalHost, m_serverPort);
        if (!upstream->waitForConnected(5000)) {
            client->abort();
            return;
        }
        // 'Q', the length of what follows, the statement's text with its terminating NUL.
        static const QByteArray commit("Q\0\0\0\x0b"
                                       "COMMIT\0",
                                       12);
        auto holding = std::make_shared<bool>(false);
        auto dropping = std::make_shared<bool>(false);
        QObject::connect(client, &QTcpSocket::readyRead, client, [=] {
            const QByteArray data = client->readAll();
            if (*holding)
                return;
            const qsizetype at = m_fired ? -1 : data.indexOf(commit);
            if (at < 0) {
                upstream->write(data);
                return;
            }
            m_fired = true;
            if (m_mode == Mode::DropCommitAnswer) {
                upstream->write(data);
                *dropping = true;
            } else {
                upstream->write(data.left(at));
                *holding = true;
            }
        });
        QObject::connect(upstream, &QTcpSocket::readyRead, client, [=] {
            const QByteArray data = upstream->readAll();
            if (*dropping) {
                upstream->abort();
                client->abort();
                return;
            }
            client->write(data);
        });
        QObject::connect(upstream, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
        QObject::connect(client, &QTcpSocket::disconnected, client, [upstream] { upstream->disconnectFromHost(); });
    }

    const quint16 m_serverPort;
    const Mode m_mode;
    quint16 m_port = 0;
    QSemaphore m_ready;
    std::atomic<bool> m_fired{false};
};
