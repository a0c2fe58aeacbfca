#include "SignatoryCommand.h"

#include "DatabaseConnection.h"
#include "SignatoryList.h"
#include "SignatoryRegister.h"
#include "SigningPasswords.h"
#include "ToolCommand.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// One line of standard input without its line end; false at the end of the input.
bool readLine(std::string* line) {
    line->clear();
    int c;
    while ((c = std::getchar()) != EOF && c != '\n')
        line->push_back(char(c));
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return c != EOF || !line->empty();
}

// The new password: from a terminal asked twice without echo, else one line of the input.
bool readNewPassword(const QString& login, QString* password) {
    std::string first;
    if (!isatty(STDIN_FILENO)) {
        if (!readLine(&first))
            return false;
        *password = QString::fromStdString(first);
        return true;
    }
    termios saved;
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string second;
    std::fprintf(stderr, "Parola noua de semnare a lui %s: ", login.toUtf8().constData());
    const bool read = readLine(&first);
    std::fprintf(stderr, "\nInca o data: ");
    const bool again = read && readLine(&second);
    std::fprintf(stderr, "\n");
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!again || first != second) {
        sayTool(stderr, QStringLiteral("cele doua parole nu sunt la fel; nu s-a schimbat nimic"));
        return false;
    }
    *password = QString::fromStdString(first);
    return true;
}

int setPassword(DatabaseConnection* database, const QString& login) {
    QString password;
    if (!readNewPassword(login, &password)) {
        sayTool(stderr, QStringLiteral("nu s-a citit nicio parola; nu s-a schimbat nimic"));
        return 1;
    }
    SigningPasswords passwords(database);
    switch (passwords.reset(login, password)) {
    case SigningPasswords::Outcome::accepted:
        sayTool(stdout, QStringLiteral("%1 are o parola de semnare noua").arg(login));
        return 0;
    case SigningPasswords::Outcome::notSignatory:
        sayTool(stderr, QStringLiteral("%1 nu este semnatar activ; nu s-a schimbat nimic").arg(login));
        return 1;
    default:
        break;
    }
    sayTool(stderr, QStringLiteral("nu s-a schimbat nimic: %1").arg(passwords.errorText()));
    return 1;
}

} // namespace

bool parseSignatoryArguments(const QStringList& args, SignatoryCommand* command, QString* error) {
    QStringList rest;
    const int action = splitToolCommand(
        args, "--signatory", {{"add", 4}, {"remove", 2}, {"list", 1}, {"password", 2}}, &rest, error,
        QStringLiteral("--signatory cere add, remove, password sau list"),
        QStringLiteral("--signatory add cere LOGIN \"NUME\" \"TITLU\" si baza de date; remove si password cer "
                       "LOGIN si baza de date; list cere baza de date"));
    if (action < 0)
        return false;
    // The actions are named in the order of the enumeration.
    command->action = static_cast<SignatoryCommand::Action>(action);
    const int expected = int(rest.size());
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
    if (!openToolDatabase(command.target, "SIGNATORIES",
                          QStringLiteral("baza de date nu are tabela semnatarilor; adaugati-o cu "
                                         "labrosa-dbtool --upgrade"),
                          &database))
        return 1;
    if (command.action == SignatoryCommand::Action::list) {
        SignatoryList signatories(&database);
        if (!signatories.load()) {
            sayTool(stderr, signatories.errorText());
            return 1;
        }
        for (const Signatory& one : signatories.all())
            std::printf("%s\t%s\t%s\t%s\n", one.login.toUtf8().constData(), one.title.toUtf8().constData(),
                        one.fullName.toUtf8().constData(), one.active ? "activ" : "inactiv");
        return 0;
    }

    if (command.action == SignatoryCommand::Action::password)
        return setPassword(&database, command.login);

    SignatoryRegister signatories(&database);
    const bool adding = command.action == SignatoryCommand::Action::add;
    switch (adding ? signatories.add(command.login, command.fullName, command.title)
                   : signatories.deactivate(command.login)) {
    case SignatoryRegister::Outcome::done:
        sayTool(
            stdout,
            adding
                ? QStringLiteral("%1 (%2 %3) poate valida buletine").arg(command.login, command.title, command.fullName)
                : QStringLiteral("%1 nu mai poate valida buletine; validarile lui raman").arg(command.login));
        return 0;
    case SignatoryRegister::Outcome::alreadyActive:
        sayTool(stderr, QStringLiteral("%1 este deja semnatar activ; nu s-a schimbat nimic").arg(command.login));
        return 1;
    case SignatoryRegister::Outcome::notActive:
    case SignatoryRegister::Outcome::notInactive:
        sayTool(stderr, QStringLiteral("%1 nu este semnatar activ; nu s-a schimbat nimic").arg(command.login));
        return 1;
    case SignatoryRegister::Outcome::failed:
        break;
    }
    sayTool(stderr, QStringLiteral("nu s-a schimbat nimic: %1").arg(signatories.errorText()));
    return 1;
}
