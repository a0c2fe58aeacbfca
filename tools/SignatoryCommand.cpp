#include "SignatoryCommand.h"

#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "SignatoryList.h"
#include "SignatoryRegister.h"

#include <cstdio>

namespace {

void say(FILE* stream, const QString& text) {
    std::fprintf(stream, "labrosa-dbtool: %s\n", text.toUtf8().constData());
}

QString describe(const DatabaseConnection& database) {
    for (const QString& line : database.m_comError.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("\tDescription = ")))
            return line.mid(15).trimmed();
    return database.m_comError.simplified();
}

} // namespace

bool parseSignatoryArguments(const QStringList& args, SignatoryCommand* command, QString* error) {
    QStringList rest;
    for (int i = 1; i < args.size(); ++i)
        if (args.at(i) != QLatin1String("--signatory"))
            rest << args.at(i);
    const QString action = rest.isEmpty() ? QString() : rest.takeFirst();
    int expected = 0;
    if (action == QLatin1String("add")) {
        command->action = SignatoryCommand::Action::add;
        expected = 4;
    } else if (action == QLatin1String("remove")) {
        command->action = SignatoryCommand::Action::remove;
        expected = 2;
    } else if (action == QLatin1String("list")) {
        command->action = SignatoryCommand::Action::list;
        expected = 1;
    } else {
        *error = QStringLiteral("--signatory cere add, remove sau list");
        return false;
    }
    if (rest.size() != expected) {
        *error = QStringLiteral("--signatory add cere LOGIN \"NUME\" \"TITLU\" si baza de date; remove cere LOGIN si "
                                "baza de date; list cere baza de date");
        return false;
    }
    command->target = rest.takeLast();
    if (expected >= 2)
        command->login = rest.takeFirst().trimmed();
    if (expected == 4) {
        command->fullName = rest.takeFirst().trimmed();
        command->title = rest.takeFirst().trimmed();
    }
    if (expected >= 2 && (command->login.isEmpty() || command->login.size() > SignatoryRegister::kMaxLogin)) {
        *error = QStringLiteral("LOGIN trebuie sa aiba intre 1 si %1 de caractere").arg(SignatoryRegister::kMaxLogin);
        return false;
    }
    if (expected == 4 && (command->fullName.isEmpty() || command->fullName.size() > SignatoryRegister::kMaxFullName ||
                          command->title.size() > SignatoryRegister::kMaxTitle)) {
        *error = QStringLiteral("numele (1 - %1 caractere) este obligatoriu, titlul are cel mult %2 de caractere")
                     .arg(SignatoryRegister::kMaxFullName)
                     .arg(SignatoryRegister::kMaxTitle);
        return false;
    }
    return true;
}

int runSignatoryCommand(const SignatoryCommand& command) {
    DatabaseConnection database;
    const QString connection = command.target.contains(QLatin1Char('='))
                                   ? command.target
                                   : QStringLiteral("Provider=SQLite;Data Source=%1").arg(command.target);
    if (!database.open(connection)) {
        say(stderr, QStringLiteral("nu se poate deschide baza de date: %1").arg(describe(database)));
        return 1;
    }
    QString error;
    const int exists = tableExists(&database, QStringLiteral("SIGNATORIES"), &error);
    if (exists != 1) {
        say(stderr, exists == 0 ? QStringLiteral("baza de date nu are tabela semnatarilor; adaugati-o cu "
                                                 "labrosa-dbtool --upgrade")
                                : QStringLiteral("nu se poate citi baza de date: %1").arg(error));
        return 1;
    }
    if (command.action == SignatoryCommand::Action::list) {
        SignatoryList signatories(&database);
        if (!signatories.load()) {
            say(stderr, signatories.errorText());
            return 1;
        }
        for (const Signatory& one : signatories.all())
            std::printf("%s\t%s\t%s\t%s\n", one.login.toUtf8().constData(), one.title.toUtf8().constData(),
                        one.fullName.toUtf8().constData(), one.active ? "activ" : "inactiv");
        return 0;
    }

    SignatoryRegister signatories(&database);
    const bool adding = command.action == SignatoryCommand::Action::add;
    switch (adding ? signatories.add(command.login, command.fullName, command.title)
                   : signatories.deactivate(command.login)) {
    case SignatoryRegister::Outcome::done:
        say(stdout,
            adding
                ? QStringLiteral("%1 (%2 %3) poate valida buletine").arg(command.login, command.title, command.fullName)
                : QStringLiteral("%1 nu mai poate valida buletine; validarile lui raman").arg(command.login));
        return 0;
    case SignatoryRegister::Outcome::alreadyActive:
        say(stderr, QStringLiteral("%1 este deja semnatar activ; nu s-a schimbat nimic").arg(command.login));
        return 1;
    case SignatoryRegister::Outcome::notActive:
    case SignatoryRegister::Outcome::notInactive:
        say(stderr, QStringLiteral("%1 nu este semnatar activ; nu s-a schimbat nimic").arg(command.login));
        return 1;
    case SignatoryRegister::Outcome::failed:
        break;
    }
    say(stderr, QStringLiteral("nu s-a schimbat nimic: %1").arg(signatories.errorText()));
    return 1;
}
