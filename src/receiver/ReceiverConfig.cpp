#include "ReceiverConfig.h"

#include <QFileInfo>
#include <QSettings>

bool ReceiverConfig::read(const QString& fileName, ReceiverConfig* config, QString* error) {
    if (!QFileInfo(fileName).isReadable()) {
        *error = QStringLiteral("fisierul de configurare %1 nu se poate citi").arg(fileName);
        return false;
    }
    QSettings ini(fileName, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        *error = QStringLiteral("fisierul de configurare %1 nu este un fisier INI valid").arg(fileName);
        return false;
    }
    ini.beginGroup(QStringLiteral("receiver"));
    bool ok = true;
    if (ini.contains(QStringLiteral("MachineID"))) {
        config->machineId = ini.value(QStringLiteral("MachineID")).toString().toInt(&ok);
        if (!ok) {
            *error = QStringLiteral("MachineID trebuie sa fie un numar intreg");
            return false;
        }
    }
    if (ini.contains(QStringLiteral("protocol")) &&
        !ReceiverSession::parseProtocol(ini.value(QStringLiteral("protocol")).toString(), &config->protocol)) {
        *error = QStringLiteral("protocolul trebuie sa fie astm sau hl7");
        return false;
    }
    if (ini.contains(QStringLiteral("mode"))) {
        const QString mode = ini.value(QStringLiteral("mode")).toString().trimmed().toLower();
        if (mode != QLatin1String("server") && mode != QLatin1String("client")) {
            *error = QStringLiteral("mode trebuie sa fie server sau client");
            return false;
        }
        config->server = mode == QLatin1String("server");
    }
    config->host = ini.value(QStringLiteral("host"), config->host).toString();
    if (ini.contains(QStringLiteral("port"))) {
        config->port = ini.value(QStringLiteral("port")).toString().toInt(&ok);
        if (!ok || config->port < 0 || config->port > 65535) {
            *error = QStringLiteral("portul trebuie sa fie un numar intre 0 si 65535");
            return false;
        }
    }
    config->serialPort = ini.value(QStringLiteral("serial"), config->serialPort).toString();
    if (ini.contains(QStringLiteral("baud"))) {
        config->baudRate = ini.value(QStringLiteral("baud")).toString().toInt(&ok);
        if (!ok || config->baudRate <= 0) {
            *error = QStringLiteral("viteza liniei seriale (baud) trebuie sa fie un numar pozitiv");
            return false;
        }
    }
    config->database = ini.value(QStringLiteral("database"), config->database).toString();
    config->capture = ini.value(QStringLiteral("capture"), config->capture).toString();
    return true;
}

QString ReceiverConfig::problem() const {
    if (machineId <= 0)
        return QStringLiteral("lipseste MachineID al analizorului");
    if (database.isEmpty())
        return QStringLiteral("lipseste baza de date (database)");
    if (capture.isEmpty())
        return QStringLiteral("lipseste fisierul jurnalului brut (capture)");
    if (serialPort.isEmpty() && !server && (host.isEmpty() || port <= 0))
        return QStringLiteral("in modul client trebuie dat analizorul (host si port)");
    return QString();
}
