#pragma once

#include <QString>
#include <QStringList>

// labrosa-dbtool --critical-limit set PROFIL COD SEX MIN MAX | clear PROFIL COD SEX | list, then
// the database. An empty SEX applies to either sex; an empty MIN or MAX sets no limit there.
struct CriticalLimitCommand {
    enum class Action { set, clear, list };
    Action action = Action::list;
    int profileId = 0;
    QString refcode;
    QString sex; // empty: either sex
    QString low; // as the reference intervals hold them; empty: none
    QString high;
    QString target; // a SQLite file or a connection string
};

// The command line (the program's name first); false with a message when it is not one.
bool parseCriticalLimitArguments(const QStringList& args, CriticalLimitCommand* command, QString* error);

// Runs the command and returns the process's exit code; the list goes to standard output.
int runCriticalLimitCommand(const CriticalLimitCommand& command);
