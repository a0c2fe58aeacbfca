#pragma once

#include <QString>

class DatabaseConnection;
class SqliteIntegrityCheck;

// The words for a database that will not be written, shared by the schema's work and
// labrosa-dbtool's commands.

// A SQLite file that failed its integrity check: what SQLite found, that nothing was changed,
// what to do.
QString damagedDatabaseText(const SqliteIntegrityCheck& check);
// A database whose disk is full, so that SQLite could not open or write it (it names that only
// as "disk I/O error"); empty when the disk of the file has room. reason: the database's words.
QString fullDiskText(const QString& file, const QString& reason);
// The database's own reason from its last failure, without the provider's framing.
QString databaseReason(const DatabaseConnection& database);
