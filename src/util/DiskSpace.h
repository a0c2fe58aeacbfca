#pragma once

#include <QString>

// The disk that holds path, named by where it is mounted, when it has no room left to speak of
// for this user (less than a mebibyte: SQLite cannot even make the shared-memory file of a
// database there); empty when it has room or when that cannot be told.
QString fullDiskOf(const QString& path);
