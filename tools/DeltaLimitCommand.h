#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// labrosa-dbtool --delta-limit set MACHINEID REFCODE MAXIM PROCENT | clear MACHINEID REFCODE | list,
// then the database: the largest plausible change of a parameter between two sets of a patient.
struct DeltaLimitCommand {
    enum class Action { set, clear, list };
    Action action = Action::list;
    int machineId = 0;
    QString refcode;
    QVariant maxChange;        // null: no absolute limit
    QVariant maxChangePercent; // null: no limit in percent
    QString target;            // a SQLite file or a connection string
};

// The command line (the program's name first); false with a message when it is not one.
bool parseDeltaLimitArguments(const QStringList& args, DeltaLimitCommand* command, QString* error);

// Runs the command and returns the process's exit code; the list goes to standard output.
int runDeltaLimitCommand(const DeltaLimitCommand& command);
