#pragma once

#include <QString>

// Where the program keeps its settings: $XDG_CONFIG_HOME/labrosa/Labrosa.conf (by default
// ~/.config/labrosa/). Earlier versions kept them in "Local AppWizard-Generated
// Applications/Labrosa.conf" under the same folder; that file is moved once.
class SettingsLocation {
public:
    static constexpr const char* kOrganization = "labrosa";
    static constexpr const char* kApplication = "Labrosa";
    static constexpr const char* kOldOrganization = "Local AppWizard-Generated Applications";

    // Gives QSettings() the program's names and moves the old file of the user's configuration
    // folder; a move that fails leaves the old file where it was and is tried again next time.
    static void use();

    // The settings file and the old one under a configuration folder.
    static QString filePath(const QString& configDir);
    static QString oldFilePath(const QString& configDir);

    // When there is an old file and no new one, copies its values to the new file and, once
    // that is written whole, removes the old file (and its folder, if empty). Returns false
    // with the reason when it could not; true when moved or when there was nothing to move.
    static bool moveOldFile(const QString& configDir, QString* problem = nullptr);
};
