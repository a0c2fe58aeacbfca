#pragma once

#include <QString>
#include <QStringList>

// labrosa-dbtool --validations request CERERE | days DE_LA PANA_LA, then the database: every
// validation of the request (or of the bulletins of those transfer days) and whether the
// bulletin's content today is still the one signed, for an auditor.
struct ValidationAuditCommand {
    enum class Action { request, days };
    Action action = Action::request;
    QString requestId;
    QString firstDay, lastDay; // 'YYYY-MM-DD'
    QString target;            // a SQLite file or a connection string
};

// The command line (the program's name first); false with a message when it is not one.
bool parseValidationAuditArguments(const QStringList& args, ValidationAuditCommand* command, QString* error);

// Lists the validations on standard output. Exit code 0 when the newest validation of every
// bulletin listed still holds, 3 when one does not, 1 when the database could not be read.
int runValidationAuditCommand(const ValidationAuditCommand& command);
