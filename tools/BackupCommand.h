#pragma once

#include <QString>
#include <QStringList>

// labrosa-dbtool --backup DEST DATABASE: a checked copy of the database in the folder DEST (which
// must exist), with its manifest, then the rotation of DEST's copies (the default counts).
// labrosa-dbtool --restore COPY DATABASE: the copy's folder checked again and put in place of the
// SQLite database, the database before kept aside.
struct BackupCommand {
    bool restore = false;
    QString folder; // DEST, or the copy's folder
    QString target; // a SQLite file or a connection string
};

// The command line (the program's name first); false with a message when it is not one.
bool parseBackupArguments(const QStringList& args, BackupCommand* command, QString* error);

// Runs the command and returns the process's exit code.
int runBackupCommand(const BackupCommand& command);
