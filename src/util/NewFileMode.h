#pragma once

#include <QFileDevice>

// The permissions a file newly created by this process gets: 0666 less the umask, so that a
// file written through a temporary one (QSaveFile, which makes it 0600) can be given the mode
// the user expects of any new file.
QFileDevice::Permissions newFilePermissions();
