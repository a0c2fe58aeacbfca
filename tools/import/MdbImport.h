#pragma once

#include <QString>
#include <QStringList>

struct MdbImportRequest {
    QString file;    // the laboratory's .mdb
    QString mapping; // optional mapping file
    bool replace = false;
    QString target; // a SQLite file or a connection string
};

// The command line of labrosa-dbtool --import-mdb (the program's name first); false with a
// message when it does not say which file goes into which database.
bool parseMdbImportArguments(const QStringList& args, MdbImportRequest* request, QString* error);

// labrosa-dbtool --import-mdb: reads the file, writes its rows into the program's tables,
// reports progress and notes on standard error and the counts per table on standard
// output. Returns the process's exit code.
int runMdbImport(const MdbImportRequest& request);
