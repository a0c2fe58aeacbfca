#pragma once

#include "Application.h"

#include <QTimer>

// The application object with the program's own windows: bulletins (BulletinView) and the
// results explorer (ResultsWindow). main() runs it; the application tests start the same program.
// It answers the Laborator menu's commands that need the bulletin or the import: the header,
// the import from Access, adding the journal and the signatories.
class LabrosaApp : public Application {
public:
    LabrosaApp();

    void onLabHeader();
    void onImportAccess();
    void onAddJournal();
    void onSignatories();
    // Fa o copie acum: the first time, the folder of the copies is asked (another disk is
    // better than the laboratory's own), then the copy is made with its progress shown.
    void onBackupNow();

protected:
    void onLaboratoryOpened() override;
    // From Labrosa.ini (CopiiDosar, CopiiVechimeMaximaZile, CopiiZilnice, CopiiSaptamanale, CopiiLunare).
    BackupSettings backupSettings() override;

private:
    // The status bar's lasting note, and a line in the error log, when the connection could
    // change or remove rows of the correction journal or the other records kept as written.
    void showJournalProtection();
    // The status bar's note of the analysers' connections, on a database that receives from
    // them: each analyser's state, the time of its last message and its last problem. Read
    // again every few seconds; a failed read says so, it is never taken for "no analysers".
    void showAnalyserStatus();

    bool m_labCommandsConnected = false;
    QTimer m_analyserStatusTimer;
};
