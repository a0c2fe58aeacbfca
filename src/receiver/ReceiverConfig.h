#pragma once

#include "ReceiverSession.h"

#include <QString>

// One analyser connection as its configuration file (INI, group [receiver]) and the command
// line give it: which analyser, which protocol, server or client, where the database and the
// capture log are.
struct ReceiverConfig {
    int machineId = 0;
    ReceiverSession::Protocol protocol = ReceiverSession::Protocol::Astm;
    bool server = true; // listen for the analyser; otherwise connect to it
    QString host;       // the analyser (client) or the address to listen on (server)
    int port = 0;
    QString serialPort; // a serial line instead of TCP (/dev/ttyUSB0), 8 data bits, no parity, 1 stop bit
    int baudRate = 9600;
    QString database; // a connection string, as labrosa --database takes it
    QString capture;  // the capture log's file
    int frameTimeoutMs = 30000;

    // Reads the file; false with the reason (Romanian, for the log) when a value is missing or wrong.
    static bool read(const QString& fileName, ReceiverConfig* config, QString* error);
    // What is still missing or wrong after the file and the options; empty when nothing.
    QString problem() const;
};
