#pragma once

#include <QStringList>

// The program's command line: --help and --version answered, an unknown option refused with
// the usage. The options that choose the database (--database, --lab-dir) are read where the
// laboratory is opened; here they are only declared, so that they are known and described.
namespace ProgramOptions {

// What the command line leaves to do: start the program, or end it with the given code.
constexpr int kStart = -1;

// Answers --help and --version on standard output and refuses an unknown option on standard
// error (with the usage); returns kStart when the program should start. Before QApplication
// has taken out Qt's own options (-platform, -style...), an option not understood may be one
// of those: with qtOptionsRemoved false it is left for the later call.
int answer(const QStringList& arguments, bool qtOptionsRemoved);

} // namespace ProgramOptions
