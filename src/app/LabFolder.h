#pragma once

#include <QString>
#include <QStringList>

// A PostgreSQL server holding the laboratory's database. The password is kept for the
// session only: it is never written to the settings (libpq's own ~/.pgpass may supply it).
struct LabServer {
    QString host;
    int port = 5432;
    QString database;
    QString user;
    QString password;
};

// Where the laboratory lives: its folder (Labrosa.ini, _buletin.html, buletin_files, the error
// log and, unless the database is on a server, lab.db).
struct LabChoice {
    QString folder; // absolute path; empty when none is known
    bool onServer = false;
    LabServer server;

    bool isEmpty() const { return folder.isEmpty(); }
};

// The laboratory folder: where it comes from (command line, the user's settings), how it is
// checked, and how a demo laboratory is made. Shows nothing; failures come back as texts.
namespace LabFolder {
// --lab-dir DIR or --lab-dir=DIR, as an absolute path; empty when not given.
QString fromArguments(const QStringList& arguments);

// The choice remembered in the user's settings (empty when none).
LabChoice remembered();
// Remembers the choice, without the server's password.
void remember(const LabChoice& choice);

// The connection string of a choice: the folder's lab.db, or the server.
QString connectionFor(const LabChoice& choice);
// A PostgreSQL connection string, values quoted where the form needs it.
QString serverConnection(const LabServer& server);
// A value of a connection string, quoted when it holds what would end or change it.
QString quotedValue(const QString& value);

// Where a folder came from, which decides how a missing one is explained.
enum class FolderOrigin {
    remembered, // used before, from the settings
    Given,      // typed or chosen just now (the dialog, --lab-dir)
};
// Empty when the folder can serve as the laboratory folder of the choice (it exists, and holds
// lab.db unless the database is on a server); else why not, for a person.
QString problem(const LabChoice& choice, FolderOrigin origin = FolderOrigin::remembered);

// Where the program's shipped files (Labrosa.ini, buletin_files) are: the installed data
// folder beside the executable, else the source tree's share/ for a build tree.
QString dataFolder();
// Makes a demo laboratory in folder (created when missing): a demo lab.db made by the schema
// library on a thread of its own, Labrosa.ini and buletin_files copied from the data folder. Never replaces a lab.db.
// False with the reason in *error.
bool createDemo(const QString& folder, QString* error);
// Makes an empty laboratory in folder the same way: lab.db with the tables and no rows,
// Labrosa.ini and buletin_files from the data folder. Never replaces a lab.db.
bool createEmpty(const QString& folder, QString* error);
} // namespace LabFolder
