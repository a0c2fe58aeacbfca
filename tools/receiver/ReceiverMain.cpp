#include "CaptureLog.h"
#include "DatabaseConnection.h"
#include "ReceiverConfig.h"
#include "ReceiverSession.h"
#include "ResultStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>
#include <QSerialPort>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace {

const char kSqlReceiverTables[] = "SELECT COUNT(*) FROM RECEIVED_SETS WHERE 1 = 0";
constexpr int kReconnectMs = 2000;

void say(const QString& text) {
    std::fprintf(stderr, "labrosa-receiver: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

bool splitAddress(const QString& text, QString* host, int* port) {
    const int colon = int(text.lastIndexOf(QLatin1Char(':')));
    bool ok = false;
    *port = text.mid(colon + 1).toInt(&ok);
    if (!ok || *port < 0 || *port > 65535)
        return false;
    if (colon > 0)
        *host = text.left(colon);
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("labrosa-receiver"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LABROSA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Primeste rezultatele unui analizor (ASTM sau HL7) si le scrie in baza de date a laboratorului."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(QStringLiteral("config"), QStringLiteral("fisierul de configurare (INI)"),
                                          QStringLiteral("fisier"));
    const QCommandLineOption databaseOption(
        QStringLiteral("database"), QStringLiteral("sirul de conectare la baza de date"), QStringLiteral("sir"));
    const QCommandLineOption machineOption(QStringLiteral("machine"), QStringLiteral("MachineID al analizorului"),
                                           QStringLiteral("numar"));
    const QCommandLineOption protocolOption(QStringLiteral("protocol"), QStringLiteral("astm sau hl7"),
                                            QStringLiteral("protocol"));
    const QCommandLineOption listenOption(QStringLiteral("listen"),
                                          QStringLiteral("asteapta analizorul pe [adresa:]port (0: un port liber)"),
                                          QStringLiteral("adresa"));
    const QCommandLineOption connectOption(
        QStringLiteral("connect"), QStringLiteral("se conecteaza la analizor (gazda:port)"), QStringLiteral("adresa"));
    const QCommandLineOption captureOption(QStringLiteral("capture"), QStringLiteral("jurnalul brut al legaturii"),
                                           QStringLiteral("fisier"));
    const QCommandLineOption frameTimeoutOption(QStringLiteral("frame-timeout"),
                                                QStringLiteral("asteptarea urmatorului cadru ASTM, in ms"),
                                                QStringLiteral("ms"));
    const QCommandLineOption serialOption(QStringLiteral("serial"),
                                          QStringLiteral("linia seriala a analizorului (de exemplu /dev/ttyUSB0)"),
                                          QStringLiteral("dispozitiv"));
    const QCommandLineOption baudOption(QStringLiteral("baud"), QStringLiteral("viteza liniei seriale"),
                                        QStringLiteral("n"));
    parser.addOptions({configOption, databaseOption, machineOption, protocolOption, listenOption, connectOption,
                       captureOption, frameTimeoutOption, serialOption, baudOption});
    parser.process(app);

    ReceiverConfig config;
    QString error;
    if (parser.isSet(configOption) && !ReceiverConfig::read(parser.value(configOption), &config, &error)) {
        say(error);
        return 2;
    }
    bool ok = true;
    if (parser.isSet(databaseOption))
        config.database = parser.value(databaseOption);
    if (parser.isSet(machineOption))
        config.machineId = parser.value(machineOption).toInt(&ok);
    if (ok && parser.isSet(protocolOption))
        ok = ReceiverSession::parseProtocol(parser.value(protocolOption), &config.protocol);
    if (ok && parser.isSet(listenOption)) {
        config.server = true;
        ok = splitAddress(parser.value(listenOption), &config.host, &config.port);
    }
    if (ok && parser.isSet(connectOption)) {
        config.server = false;
        ok = splitAddress(parser.value(connectOption), &config.host, &config.port);
    }
    if (ok && parser.isSet(captureOption))
        config.capture = parser.value(captureOption);
    if (ok && parser.isSet(serialOption))
        config.serialPort = parser.value(serialOption);
    if (ok && parser.isSet(baudOption))
        config.baudRate = parser.value(baudOption).toInt(&ok);
    if (ok && parser.isSet(frameTimeoutOption))
        config.frameTimeoutMs = parser.value(frameTimeoutOption).toInt(&ok);
    if (!ok || !config.problem().isEmpty()) {
        say(ok ? config.problem() : QStringLiteral("o optiune are o valoare gresita"));
        std::fputs(qPrintable(parser.helpText()), stderr);
        return 2;
    }

    DatabaseConnection database;
    if (!database.open(config.database)) {
        say(QStringLiteral("baza de date nu se poate deschide: %1").arg(database.errorText()));
        return 1;
    }
    {
        QSqlQuery probe(database.connection());
        if (!probe.exec(QString::fromLatin1(kSqlReceiverTables))) {
            say(QStringLiteral("baza de date nu are inca tabelele receptorului; rulati labrosa-dbtool --upgrade"));
            return 1;
        }
    }
    CaptureLog capture(config.capture);
    if (!capture.open(&error)) {
        say(error);
        return 1;
    }
    ResultStore store(&database, config.machineId);
    ReceiverSession session(config.protocol, &store, &capture);
    AstmLink::Timing timing;
    timing.frameTimeoutMs = config.frameTimeoutMs;
    session.setAstmTiming(timing);

    auto status = [&](const QString& state, const QString& problem) {
        if (!store.writeStatus(state, problem, QDateTime::currentDateTime()))
            say(QStringLiteral("starea legaturii nu s-a putut scrie: %1").arg(store.lastError()));
    };
    // A bad line gives many problems a second: the status takes the last of each second, so that
    // writing it never holds the analyser up.
    QString pendingProblem;
    QTimer problemTimer;
    problemTimer.setSingleShot(true);
    problemTimer.setInterval(1000);
    QObject::connect(&problemTimer, &QTimer::timeout, [&]() {
        if (!pendingProblem.isEmpty())
            status(QStringLiteral("eroare"), pendingProblem);
        pendingProblem.clear();
    });
    QObject::connect(&session, &ReceiverSession::problem, [&](const QString& text) {
        say(text);
        pendingProblem = text;
        if (!problemTimer.isActive())
            problemTimer.start();
    });
    QObject::connect(&session, &ReceiverSession::messageHandled, [&](const StoreOutcome& outcome) {
        switch (outcome.kind) {
        case StoreOutcome::Kind::Stored:
            say(QStringLiteral("mesaj salvat: %1 seturi, %2 rezultate nepotrivite")
                    .arg(outcome.setsStored)
                    .arg(outcome.unmatched));
            break;
        case StoreOutcome::Kind::Duplicate:
            say(QStringLiteral("mesaj primit din nou, salvat deja"));
            break;
        case StoreOutcome::Kind::Failed:
            break; // told through problem()
        }
    });

    QTcpServer server;
    QTcpSocket client;
    QPointer<QTcpSocket> current;
    QSerialPort serial;
    QTimer serialRetry;
    if (!config.serialPort.isEmpty()) {
        serial.setPortName(config.serialPort);
        serial.setBaudRate(config.baudRate);
        serial.setDataBits(QSerialPort::Data8);
        serial.setParity(QSerialPort::NoParity);
        serial.setStopBits(QSerialPort::OneStop);
        serial.setFlowControl(QSerialPort::NoFlowControl);
        serialRetry.setSingleShot(true);
        // A line that is not there yet (an adapter unplugged) is tried again until it is.
        auto openLine = [&]() {
            if (serial.open(QIODevice::ReadWrite)) {
                session.attach(&serial);
                status(QStringLiteral("conectat"), QString());
                std::printf("labrosa-receiver: linia %s este deschisa\n", qPrintable(config.serialPort));
                std::fflush(stdout);
                return;
            }
            say(QStringLiteral("linia %1 nu se poate deschide: %2").arg(config.serialPort, serial.errorString()));
            serialRetry.start(kReconnectMs);
        };
        QObject::connect(&serialRetry, &QTimer::timeout, openLine);
        QObject::connect(&serial, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError e) {
            if (e != QSerialPort::ResourceError || !serial.isOpen())
                return;
            session.detach();
            serial.close();
            status(QStringLiteral("deconectat"), QStringLiteral("linia seriala a disparut"));
            serialRetry.start(kReconnectMs);
        });
        openLine();
        return app.exec();
    }
    if (config.server) {
        const QHostAddress address =
            config.host.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(config.host);
        if (!server.listen(address, quint16(config.port))) {
            say(QStringLiteral("nu se poate astepta pe portul %1: %2").arg(config.port).arg(server.errorString()));
            return 1;
        }
        std::printf("labrosa-receiver: asculta pe portul %d\n", int(server.serverPort()));
        std::fflush(stdout);
        QObject::connect(&server, &QTcpServer::newConnection, [&]() {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                // One analyser per receiver: a new connection replaces the old, which the
                // analyser has given up.
                if (current) {
                    session.detach();
                    current->abort();
                    current->deleteLater();
                }
                current = socket;
                // An answer of one byte must not wait for more to send.
                socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [&, socket]() {
                    if (current == socket) {
                        session.detach();
                        status(QStringLiteral("deconectat"), QString());
                    }
                    socket->deleteLater();
                });
                session.attach(socket);
                status(QStringLiteral("conectat"), QString());
            }
        });
    } else {
        QTimer retry;
        retry.setSingleShot(true);
        QObject::connect(&retry, &QTimer::timeout, [&]() { client.connectToHost(config.host, quint16(config.port)); });
        QObject::connect(&client, &QTcpSocket::connected, [&]() {
            client.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            session.attach(&client);
            status(QStringLiteral("conectat"), QString());
        });
        QObject::connect(&client, &QTcpSocket::disconnected, [&]() {
            session.detach();
            status(QStringLiteral("deconectat"), QString());
            retry.start(kReconnectMs);
        });
        QObject::connect(&client, &QTcpSocket::errorOccurred, [&](QAbstractSocket::SocketError) {
            if (client.state() == QAbstractSocket::UnconnectedState && !retry.isActive())
                retry.start(kReconnectMs);
        });
        client.connectToHost(config.host, quint16(config.port));
        return app.exec();
    }
    status(QStringLiteral("asteapta"), QString());
    return app.exec();
}
