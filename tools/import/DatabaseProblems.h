#pragma once

#include <QString>

class SqliteIntegrityCheck;

// labrosa-dbtool's words for a database it will not write, shared by its modes.

// A SQLite file that failed its integrity check: what SQLite found, that nothing was changed,
// what to do.
QString damagedDatabaseText(const SqliteIntegrityCheck& check);
// A database whose disk is full, so that SQLite could not open or write it (it names that only
// as "disk I/O error"); empty when the disk of the file has room. reason: the database's words.
QString fullDiskText(const QString& file, const QString& reason);
