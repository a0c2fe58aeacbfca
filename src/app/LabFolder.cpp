#include "LabFolder.h"

#include "BackgroundTask.h"
#include "SchemaCreator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {
const char* const kOption = "--lab-dir";
const char* const kDatabaseFile = "lab.db";
const char* const kKeyFolder = "LabFolder/Path";
const char* const kKeyOnServer = "LabFolder/OnServer";
const char* const kKeyHost = "LabFolder/Server";
const char* const kKeyPort = "LabFolder/Port";
const char* const kKeyDatabase = "LabFolder/Database";
const char* const kKeyUser = "LabFolder/User";
const char* const kSettingsFile = "Labrosa.ini";
const char* const kBulletinFiles = "buletin_files";
// A demo large enough to search in, small enough to be made in a few seconds.
constexpr int kDemoResults = 3000;

const char* const kMsgNoFolder = "Dosarul laboratorului \"%1\", folosit data trecuta, nu exista acum (a fost "
                                 "mutat, redenumit sau sters?). Alegeti locul unde se afla acum.";
const char* const kMsgNoFolderGiven = "Dosarul \"%1\" nu exista. Verificati numele scris sau alegeti dosarul cu "
                                      "butonul de cautare.";
const char* const kMsgNoDatabase = "In dosarul laboratorului \"%1\" nu este baza de date lab.db. Alegeti dosarul "
                                   "care o contine, sau faceti un laborator demonstrativ intr-un dosar nou.";
const char* const kMsgNoServer = "Nu este dat serverul sau numele bazei de date.";
const char* const kMsgDemoExists = "In dosarul \"%1\" este deja o baza de date lab.db; alegeti-l ca dosar al "
                                   "laboratorului sau alegeti un dosar nou pentru laboratorul demonstrativ.";
const char* const kMsgCannotCreate = "Dosarul \"%1\" nu a putut fi creat.";
const char* const kMsgDemoFailed = "Baza de date demonstrativa nu a putut fi facuta.\n%1";
const char* const kMsgEmptyExists = "In dosarul \"%1\" este deja o baza de date lab.db; alegeti-l ca dosar al "
                                    "laboratorului sau alegeti un dosar nou pentru laboratorul nou.";
const char* const kMsgEmptyFailed = "Baza de date a laboratorului nou nu a putut fi facuta.\n%1";
const char* const kMsgNoData = "Fisierele programului (Labrosa.ini, buletin_files) nu au fost gasite.";
const char* const kMsgCopyFailed = "Fisierul \"%1\" nu a putut fi copiat in dosarul laboratorului.";

QString absolute(const QString& path) {
    return path.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Copies a file unless the target exists already (a laboratory's own settings are kept).
bool copyOnce(const QString& from, const QString& to) {
    return QFileInfo::exists(to) || QFile::copy(from, to);
}
} // namespace

namespace LabFolder {

QString fromArguments(const QStringList& arguments) {
    const QString option = QLatin1String(kOption);
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == option && i + 1 < arguments.size())
            return absolute(arguments.at(i + 1));
        if (argument.startsWith(option + QLatin1Char('=')))
            return absolute(argument.mid(option.size() + 1));
    }
    return QString();
}

LabChoice remembered() {
    QSettings settings;
    LabChoice choice;
    choice.folder = settings.value(QLatin1String(kKeyFolder)).toString();
    choice.onServer = settings.value(QLatin1String(kKeyOnServer), false).toBool();
    choice.server.host = settings.value(QLatin1String(kKeyHost)).toString();
    choice.server.port = settings.value(QLatin1String(kKeyPort), 5432).toInt();
    choice.server.database = settings.value(QLatin1String(kKeyDatabase)).toString();
    choice.server.user = settings.value(QLatin1String(kKeyUser)).toString();
    return choice;
}

void remember(const LabChoice& choice) {
    QSettings settings;
    settings.setValue(QLatin1String(kKeyFolder), choice.folder);
    settings.setValue(QLatin1String(kKeyOnServer), choice.onServer);
    if (choice.onServer) {
        settings.setValue(QLatin1String(kKeyHost), choice.server.host);
        settings.setValue(QLatin1String(kKeyPort), choice.server.port);
        settings.setValue(QLatin1String(kKeyDatabase), choice.server.database);
        settings.setValue(QLatin1String(kKeyUser), choice.server.user);
    }
    settings.sync();
}

QString quotedValue(const QString& value) {
    const bool plain = !value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('"')) &&
                       !value.startsWith(QLatin1Char('\'')) && value.trimmed() == value;
    if (plain)
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString serverConnection(const LabServer& server) {
    QString text = QStringLiteral("Provider=PostgreSQL;Server=%1;Port=%2;Database=%3")
                       .arg(quotedValue(server.host))
                       .arg(server.port)
                       .arg(quotedValue(server.database));
    if (!server.user.isEmpty())
        text += QStringLiteral(";User ID=") + quotedValue(server.user);
    if (!server.password.isEmpty())
        text += QStringLiteral(";Password=") + quotedValue(server.password);
    return text;
}

QString connectionFor(const LabChoice& choice) {
    if (choice.onServer)
        return serverConnection(choice.server);
    return QStringLiteral("Provider=SQLite;Data Source=") +
           quotedValue(QDir(choice.folder).filePath(QLatin1String(kDatabaseFile)));
}

QString problem(const LabChoice& choice, FolderOrigin origin) {
    const QString shown = QDir::toNativeSeparators(choice.folder);
    if (choice.folder.isEmpty() || !QFileInfo(choice.folder).isDir())
        return QString::fromLatin1(origin == FolderOrigin::Given ? kMsgNoFolderGiven : kMsgNoFolder).arg(shown);
    if (choice.onServer)
        return choice.server.host.isEmpty() || choice.server.database.isEmpty() ? QLatin1String(kMsgNoServer)
                                                                                : QString();
    if (!QFileInfo(QDir(choice.folder).filePath(QLatin1String(kDatabaseFile))).isFile())
        return QString::fromLatin1(kMsgNoDatabase).arg(shown);
    return QString();
}

QString dataFolder() {
    const QString installed = QCoreApplication::applicationDirPath() + QStringLiteral("/../share/labrosa");
    if (QFileInfo(installed + QLatin1Char('/') + QLatin1String(kSettingsFile)).isFile())
        return QDir::cleanPath(installed);
#ifdef LABROSA_SOURCE_SHARE
    const QString source = QStringLiteral(LABROSA_SOURCE_SHARE);
    if (QFileInfo(source + QLatin1Char('/') + QLatin1String(kSettingsFile)).isFile())
        return source;
#endif
    return QString();
}

namespace {
// A laboratory folder with a database made with options; the messages say which kind of
// laboratory it was to be.
bool createLab(const QString& folder, const SchemaCreator::Options& options, const char* existsMessage,
               const char* failedMessage, QString* error) {
    const QString shown = QDir::toNativeSeparators(folder);
    const QString database = QDir(folder).filePath(QLatin1String(kDatabaseFile));
    if (QFileInfo::exists(database)) {
        *error = QString::fromLatin1(existsMessage).arg(shown);
        return false;
    }
    const QString data = dataFolder();
    if (data.isEmpty()) {
        *error = QLatin1String(kMsgNoData);
        return false;
    }
    if (!QDir().mkpath(folder)) {
        *error = QString::fromLatin1(kMsgCannotCreate).arg(shown);
        return false;
    }

    // A half-made database is removed by the creator: it must not pass for a laboratory next time.
    SchemaCreator creator(options);
    bool made = false;
    BackgroundTask::runAndWait([&creator, &made, &database] { made = creator.createSqlite(database); });
    if (!made) {
        *error = QString::fromLatin1(failedMessage).arg(creator.error());
        return false;
    }

    const QString settingsFile = QLatin1String(kSettingsFile);
    if (!copyOnce(QDir(data).filePath(settingsFile), QDir(folder).filePath(settingsFile))) {
        *error = QString::fromLatin1(kMsgCopyFailed).arg(settingsFile);
        return false;
    }
    const QDir shippedFiles(QDir(data).filePath(QLatin1String(kBulletinFiles)));
    const QString targetFiles = QDir(folder).filePath(QLatin1String(kBulletinFiles));
    if (!QDir().mkpath(targetFiles)) {
        *error = QString::fromLatin1(kMsgCannotCreate).arg(QDir::toNativeSeparators(targetFiles));
        return false;
    }
    const QStringList names = shippedFiles.entryList(QDir::Files);
    for (const QString& name : names) {
        if (!copyOnce(shippedFiles.filePath(name), QDir(targetFiles).filePath(name))) {
            *error = QString::fromLatin1(kMsgCopyFailed).arg(name);
            return false;
        }
    }
    return true;
}

} // namespace

bool createDemo(const QString& folder, QString* error) {
    SchemaCreator::Options options;
    options.demo = true;
    options.demoOptions.results = kDemoResults;
    return createLab(folder, options, kMsgDemoExists, kMsgDemoFailed, error);
}

bool createEmpty(const QString& folder, QString* error) {
    return createLab(folder, SchemaCreator::Options(), kMsgEmptyExists, kMsgEmptyFailed, error);
}

} // namespace LabFolder
