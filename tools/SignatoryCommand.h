#pragma once

#include <QString>
#include <QStringList>

// labrosa-dbtool --signatory add LOGIN "NUME" "TITLU" | remove LOGIN | password LOGIN | list,
// then the database. password reads the new signing password from standard input (without echo
// when it is a terminal, asked twice).
struct SignatoryCommand {
    enum class Action { add, remove, list, password };
    Action action = Action::list;
    QString login; // as the correction journal records the user
    QString fullName;
    QString title;  // as printed before the name, e.g. "Dr. med. vet."
    QString target; // a SQLite file or a connection string
};

// The command line (the program's name first); false with a message when it is not one.
bool parseSignatoryArguments(const QStringList& args, SignatoryCommand* command, QString* error);

// Runs the command and returns the process's exit code; the list goes to standard output.
int runSignatoryCommand(const SignatoryCommand& command);
