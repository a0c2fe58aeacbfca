#pragma once

#include <QString>

// Files made to last a power cut: written, then fsync'd with the folder that names them.

// fsync of a file or of a folder (its entries); false with errno's text.
bool syncPath(const QString& path, QString* error);
// Copies a file whole and syncs it; false with the reason (the partial file removed).
bool copySynced(const QString& from, const QString& to, QString* error);
// Copies a folder's files and sub-folders, each synced; count gets the files copied.
bool copyTreeSynced(const QString& from, const QString& to, int* count, QString* error);
// The file's SHA-256 in hex; empty with the reason when it cannot be read.
QString sha256Of(const QString& path, QString* error);
