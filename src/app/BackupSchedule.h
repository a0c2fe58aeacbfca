#pragma once

#include "BackupSettings.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class DatabaseBackup;
class MainWindow;
class QLabel;

// The copies the program makes of a SQLite laboratory on its own: the first time the database
// is found sound on a day, on closing when the database changed since the last good copy, and
// on the Laborator menu's "Fa o copie acum". Each runs on a thread of its own with its own
// connection, so the window stays usable; the status bar says how old the last good copy is,
// and a message at start says so when it is older than the laboratory's limit.
class BackupSchedule : public QObject {
    Q_OBJECT

public:
    explicit BackupSchedule(MainWindow* frame);
    // Stops a copy still running and waits for its thread.
    ~BackupSchedule() override;

    // The laboratory now open (a SQLite file; a server's laboratory makes no copies itself).
    void setLaboratory(const QString& connectionString, const QString& labFolder, const BackupSettings& settings);
    // The laboratory closes: a copy still running is stopped (it never counts).
    void stop();
    // Where the copies of the laboratory go, absolute.
    QString destination() const;

    // Starts the day's copy unless one was made today; the status bar tells the outcome.
    void startDailyCopy();
    // Makes a copy now, with its progress shown and a message at the end.
    void copyNow();
    // On closing: a copy when the database changed since the last good one. Waits for it.
    void copyOnClose();
    // How old the last good copy is, in the status bar; a message too when tell and it is
    // older than the limit (or there is none, or the folder cannot be read).
    void showState(bool tell);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Starts make() on its thread; false when one runs already.
    bool start();
    // Runs the event loop until the running copy ends, a progress dialog in front when shown.
    void waitForCopy(bool shown);
    void onFinished();
    QLabel* stateLabel();
    // The newest time the database was written: its file's or its -wal's.
    QDateTime lastWritten() const;

    MainWindow* m_frame;
    QString m_connection;
    QString m_labFolder;
    QString m_databaseFile;
    BackupSettings m_settings;
    std::unique_ptr<DatabaseBackup> m_backup;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<qint64> m_done{0};
    std::atomic<qint64> m_total{0};
    bool m_ok = false;
    bool m_interactive = false;
    int m_generation = 0; // counts the copies stopped
    QString m_outcome;    // the running copy's result: the folder, or why it failed
    QObject m_news;       // receives the thread's news in the window thread
};
