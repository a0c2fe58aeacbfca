#pragma once

#include "DatabaseProblems.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <utility>
#include <vector>

class DatabaseConnection;

// What labrosa-dbtool's own commands (--signatory, --delta-limit, --critical-limit) share:
// "--option ACTION WORDS... DATABASE" read alike, the database opened alike, messages alike.

// "labrosa-dbtool: text" on the stream.
void sayTool(FILE* stream, const QString& text);

// The words after the option: the action (one of actions, each with how many words follow it,
// the database included) and those words in order. The index of the action, or -1 with error set
// to unknownAction or wrongCount.
int splitToolCommand(const QStringList& args, const char* option,
                     const std::vector<std::pair<const char*, int>>& actions, QStringList* words, QString* error,
                     const QString& unknownAction, const QString& wrongCount);

// Opens target (a SQLite file or a connection string) and checks it holds table; says why not
// (missingTable when the table is not there) and returns false. A SQLite file that fails its
// integrity check is refused the way --upgrade refuses it, before anything is read or written.
bool openToolDatabase(const QString& target, const char* table, const QString& missingTable,
                      DatabaseConnection* database);
