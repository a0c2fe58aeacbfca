#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "BackupSettings.h"
#include "DatabaseConnection.h"
#include "LabFolder.h"
#include "RecentFileList.h"
#include "SharedState.h"

class BackupSchedule;
class ChildWindow;
class DocumentTemplate;
class MainWindow;
class QObject;
class QPrinter;
class QWidget;
class SqliteIntegrityCheck;

// The program's application object: it owns the database connection and the shared state,
// brings the program up in InitInstance and answers New, Open, Print Setup and About.
// The views of its two window kinds come from the caller, so the shell knows none of them.
class Application {
public:
    // Makes the view of a new window; the view reaches the database through the shared state.
    using ViewFactory = std::function<QWidget*(SharedState*)>;

    Application(ViewFactory bulletinView, ViewFactory listView);
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // False when the program cannot run (the database did not open, cannot be written or is
    // not a laboratory database); the message has been shown and no window is left.
    virtual bool initInstance(const QStringList& arguments);

    // --database "<connection string>", else LABROSA_DATABASE, else lab.db in the current directory.
    static QString connectionStringFrom(const QStringList& arguments);
    // The connection named by --database or LABROSA_DATABASE; empty when neither names one.
    static QString namedConnectionString(const QStringList& arguments);

    MainWindow* mainFrame() const { return m_mainWindow.get(); }
    const std::vector<std::unique_ptr<DocumentTemplate>>& templates() const { return m_templates; }
    RecentFileList& recentFiles() { return m_recentFiles; }

    void onFileNew();
    void onFileOpen();
    void onFilePrintSetup();
    void onAppAbout();
    // Opens a file in a bulletin window (the first template takes every file) and lists it
    // among the recent files; an already open file gets its window activated.
    ChildWindow* openDocumentFile(const QString& path);
    // Opens an untitled document of the template at index; shows the failure itself.
    ChildWindow* openNewDocument(std::size_t templateIndex);

    // The Laborator menu's Change laboratory and New laboratory: the first-start dialog (filled
    // with the current laboratory, or set for a new empty one), then SwitchLaboratory.
    void onChangeLaboratory();
    void onNewLaboratory();
    // Opens choice in place of the current laboratory, without a restart: the windows are closed
    // first, then the database, and the new one opens with a results window. False when choice
    // did not open (said in a message; the laboratory before is opened again).
    bool switchLaboratory(const LabChoice& choice);
    // Closes the windows and opens a results window anew, so that the views see a database
    // changed underneath them.
    void reopenWindows();
    // The connection string of the database open now.
    const QString& connectionString() const { return m_connection; }
    // Where the laboratory open now is.
    const LabChoice& currentLaboratory() const { return m_laboratory; }

    // The Laborator menu's copies: Restaureaza din copie (the list of copies, then
    // restoreFromCopy) and, for a server's database, the administrator's commands.
    void onRestoreFromCopy();
    void onServerBackup();
    // Checks the copy again, closes the windows and the database, puts the copy in place of the
    // SQLite file (the database before kept aside), reopens it and says what it holds and what
    // was set aside. A copy refused leaves the laboratory open as it was.
    bool restoreFromCopy(const QString& copyFolder);
    // The copies the program makes of the open laboratory; null before the main window.
    BackupSchedule* backupSchedule() const { return m_backups.get(); }

    DatabaseConnection m_database;
    SharedState m_sharedState;

protected:
    // After a laboratory has been opened, at start-up or by a switch, with its windows shown.
    virtual void onLaboratoryOpened() {}
    // Where the open laboratory's copies go and how many are kept (the program reads Labrosa.ini).
    virtual BackupSettings backupSettings() { return BackupSettings(); }

private:
    // Closes every child window.
    void closeLaboratoryWindows();
    // Closes the database, leaving a file not known to be sound as it was found.
    void closeDatabase();
    // Finds the database and opens it: the one named on the command line or in the environment,
    // else the laboratory folder (--lab-dir, lab.db of the current directory, the remembered
    // folder, or the one the user chooses in the first-start dialog). The laboratory folder
    // becomes the current directory. False when the program cannot run (message shown, or
    // the user gave up).
    bool openLaboratory(const QStringList& arguments);
    // Opens the database and checks it is a laboratory's; shows why not and answers false.
    bool openDatabase(const QString& connection, QString* problem);
    // Checks the SQLite file in the background while the program is used; the connection holds
    // every write until the check has passed.
    void startIntegrityCheck(std::shared_ptr<SqliteIntegrityCheck> check);
    // In the window thread, once the check is over: a file that failed is said to be damaged
    // (message, status bar, log) and is left as it was found when the program closes.
    void onIntegrityChecked();
    // The status bar's lasting note that the program only reads, once the check has failed.
    void showReadOnlyState();
    // Removes that note and its button, when another database (or a restored one) opens.
    void clearReadOnlyState();
    // The copies follow the laboratory now open.
    void followLaboratoryWithBackups();
    DocumentTemplate* addDocTemplate(std::unique_ptr<DocumentTemplate> docTemplate);
    // The database as a person knows it, for a message: the file, or the database and its
    // server, after a blank; empty when the connection names none.
    QString databaseLabel() const;
    // The files a Save As must never empty: the database, its log and the laboratory's files.
    QStringList programFiles() const;

    ViewFactory m_bulletinView;
    ViewFactory m_listView;
    RecentFileList m_recentFiles;
    std::vector<std::unique_ptr<DocumentTemplate>> m_templates;
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<MainWindow> m_mainWindow;
    std::unique_ptr<BackupSchedule> m_backups;
    // Receives the integrity check's result in the window thread; what it was sent is dropped
    // with it.
    std::unique_ptr<QObject> m_integrityNews;
    LabChoice m_laboratory;
    QString m_connection; // of the database open now
};
