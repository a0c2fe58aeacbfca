#pragma once

#include <QString>

struct MdbImportRequest {
    QString file;    // the laboratory's .mdb
    QString mapping; // optional mapping file
    bool replace = false;
    QString target; // a SQLite file or a connection string
};

// labrosa-dbtool --import-mdb: reads the file, writes its rows into the program's tables,
// reports progress and notes on standard error and the counts per table on standard
// output. Returns the process's exit code.
int RunMdbImport(const MdbImportRequest& request);
