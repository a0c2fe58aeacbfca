#include "SignatoryCommand.h"

#include "DatabaseConnection.h"
#include "LabSchemaCheck.h"
#include "Recordset.h"

#include <cstdio>

namespace {

const char* const kSelectOne = "SELECT active FROM SIGNATORIES WHERE userName = ?";
const char* const kInsert = "INSERT INTO SIGNATORIES (userName, fullName, title, active) VALUES (?, ?, ?, 1)";
const char* const kReactivate = "UPDATE SIGNATORIES SET fullName = ?, title = ?, active = 1 WHERE userName = ?";
const char* const kDeactivate = "UPDATE SIGNATORIES SET active = 0 WHERE userName = ?";
const char* const kSelectAll = "SELECT userName, fullName, title, active FROM SIGNATORIES ORDER BY userName";

// Longest texts the table holds, refused rather than cut: a name is printed as typed.
constexpr int kMaxLogin = 100;
constexpr int kMaxFullName = 200;
constexpr int kMaxTitle = 100;

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
    if (expected >= 2 && (command->login.isEmpty() || command->login.size() > kMaxLogin)) {
        *error = QStringLiteral("LOGIN trebuie sa aiba intre 1 si %1 de caractere").arg(kMaxLogin);
        return false;
    }
    if (expected == 4 &&
        (command->fullName.isEmpty() || command->fullName.size() > kMaxFullName || command->title.size() > kMaxTitle)) {
        *error = QStringLiteral("numele (1 - %1 caractere) este obligatoriu, titlul are cel mult %2 de caractere")
                     .arg(kMaxFullName)
                     .arg(kMaxTitle);
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
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectAll), &database)) {
            say(stderr, read.errorText());
            return 1;
        }
        QVariant login, name, title, active;
        while (!read.isEOF()) {
            read.getFieldValue(QStringLiteral("userName"), &login);
            read.getFieldValue(QStringLiteral("fullName"), &name);
            read.getFieldValue(QStringLiteral("title"), &title);
            read.getFieldValue(QStringLiteral("active"), &active);
            std::printf("%s\t%s\t%s\t%s\n", login.toString().toUtf8().constData(),
                        title.toString().toUtf8().constData(), name.toString().toUtf8().constData(),
                        active.toInt() != 0 ? "activ" : "inactiv");
            read.moveNext();
        }
        const bool complete = !read.readFailed();
        if (!complete)
            say(stderr, read.errorText());
        return complete ? 0 : 1;
    }

    // Read and written in one transaction, so two runs at once cannot both add the login.
    if (!database.beginTransaction()) {
        say(stderr, describe(database));
        return 1;
    }
    int active = -1; // -1: no such login
    {
        Recordset read;
        if (!read.open(QString::fromLatin1(kSelectOne), &database, {command.login})) {
            say(stderr, read.errorText());
            database.rollbackTransaction();
            return 1;
        }
        QVariant value;
        if (!read.isEOF() && read.getFieldValue(QStringLiteral("active"), &value))
            active = value.toInt() != 0 ? 1 : 0;
        read.close();
    }
    QString done;
    bool ok = true;
    if (command.action == SignatoryCommand::Action::add) {
        if (active == 1) {
            database.rollbackTransaction();
            say(stderr, QStringLiteral("%1 este deja semnatar activ; nu s-a schimbat nimic").arg(command.login));
            return 1;
        }
        ok = active == 0
                 ? database.execute(QString::fromLatin1(kReactivate), {command.fullName, command.title, command.login})
                 : database.execute(QString::fromLatin1(kInsert), {command.login, command.fullName, command.title});
        done = QStringLiteral("%1 (%2 %3) poate valida buletine").arg(command.login, command.title, command.fullName);
    } else {
        if (active != 1) {
            database.rollbackTransaction();
            say(stderr, QStringLiteral("%1 nu este semnatar activ; nu s-a schimbat nimic").arg(command.login));
            return 1;
        }
        ok = database.execute(QString::fromLatin1(kDeactivate), {command.login});
        done = QStringLiteral("%1 nu mai poate valida buletine; validarile lui raman").arg(command.login);
    }
    if (!ok || !database.commitTransaction()) {
        const QString reason = describe(database);
        database.rollbackTransaction();
        say(stderr, QStringLiteral("nu s-a schimbat nimic: %1").arg(reason));
        return 1;
    }
    say(stdout, done);
    return 0;
}
