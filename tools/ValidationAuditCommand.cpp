#include "ValidationAuditCommand.h"

#include "BulletinContent.h"
#include "BulletinValidation.h"
#include "DatabaseConnection.h"
#include "Recordset.h"
#include "ToolCommand.h"

#include <QDate>
#include <QSet>

#include <cstdio>
#include <map>

namespace {

constexpr int kExitChanged = 3;

bool isDay(const QString& text) {
    return QDate::fromString(text, Qt::ISODate).isValid() && text.size() == 10;
}

QString who(const ValidationRecord& validation) {
    return (validation.title.trimmed() + QLatin1Char(' ') + validation.fullName.trimmed()).trimmed();
}

} // namespace

bool parseValidationAuditArguments(const QStringList& args, ValidationAuditCommand* command, QString* error) {
    QStringList rest;
    const int action = splitToolCommand(
        args, "--validations", {{"request", 2}, {"days", 3}}, &rest, error,
        QStringLiteral("--validations cere request sau days"),
        QStringLiteral("--validations request cere CERERE si baza de date; days cere DE_LA PANA_LA (AAAA-LL-ZZ) si "
                       "baza de date"));
    if (action < 0)
        return false;
    command->action = static_cast<ValidationAuditCommand::Action>(action);
    command->target = rest.takeLast();
    if (command->action == ValidationAuditCommand::Action::request) {
        command->requestId = rest.takeFirst();
        return true;
    }
    command->firstDay = rest.takeFirst().trimmed();
    command->lastDay = rest.takeFirst().trimmed();
    if (!isDay(command->firstDay) || !isDay(command->lastDay) || command->lastDay < command->firstDay) {
        *error = QStringLiteral("DE_LA si PANA_LA sunt zile AAAA-LL-ZZ, iar PANA_LA nu este inaintea lui DE_LA");
        return false;
    }
    return true;
}

int runValidationAuditCommand(const ValidationAuditCommand& command) {
    DatabaseConnection database;
    if (!openToolDatabase(command.target, "BULLETIN_VALIDATION",
                          QStringLiteral("baza de date nu are tabela validarilor; adaugati-o cu labrosa-dbtool "
                                         "--upgrade"),
                          &database))
        return 1;
    BulletinValidation validation(&database);
    std::vector<ValidationRecord> list;
    const bool read = command.action == ValidationAuditCommand::Action::request
                          ? validation.listForRequest(command.requestId, &list)
                          : validation.listForDays(command.firstDay, command.lastDay, &list);
    if (!read) {
        sayTool(stderr, validation.errorText());
        return 1;
    }
    // Today's content of each bulletin, read once.
    std::map<std::pair<QString, QString>, QString> fingerprints, contents;
    Recordset recordset;
    BulletinContentReader reader(recordset, &database);
    QSet<BulletinKey> newestSeen;
    int changed = 0;
    for (const ValidationRecord& one : list) {
        const BulletinKey key = one.key();
        const bool newest = !newestSeen.contains(key);
        newestSeen.insert(key);
        QString state;
        if (one.fingerprint.isEmpty()) {
            state = QStringLiteral("fara amprenta continutului (validare facuta inainte ca ea sa fie pastrata): nu se "
                                   "poate spune ce a semnat");
        } else {
            const auto id = std::make_pair(key.requestId, key.day);
            if (fingerprints.find(id) == fingerprints.end()) {
                BulletinContent content;
                if (!reader.read(0, key, &content)) {
                    sayTool(stderr, QStringLiteral("buletinul cererii %1 din %2 nu a putut fi citit: %3")
                                        .arg(key.requestId, key.day, reader.errorText()));
                    return 1;
                }
                contents[id] = content.canonical();
                fingerprints[id] = BulletinValidation::fingerprintOf(contents[id]);
            }
            if (fingerprints[id] == one.fingerprint)
                state = QStringLiteral("valabila: datele de azi sunt cele semnate");
            else
                state =
                    QStringLiteral("NU mai corespunde datelor de azi: %1")
                        .arg(
                            BulletinValidation::differences(one.signedContent, contents[id]).join(QLatin1String("; ")));
        }
        const bool holds = state.startsWith(QLatin1String("valabila"));
        if (newest && !holds)
            ++changed;
        std::printf("%s\t%s\t%s\t%s\t%s%s\n", key.requestId.toUtf8().constData(),
                    key.day.isEmpty() ? "-" : key.day.toUtf8().constData(),
                    one.validatedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8().constData(),
                    who(one).toUtf8().constData(), state.toUtf8().constData(),
                    newest ? "" : " (inlocuita de o validare mai noua)");
    }
    sayTool(
        changed ? stderr : stdout,
        QStringLiteral("%1 validari; %2 buletine validate nu mai au continutul semnat").arg(list.size()).arg(changed));
    return changed ? kExitChanged : 0;
}
