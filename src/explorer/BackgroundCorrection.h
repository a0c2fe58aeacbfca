#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <QVariant>
#include <QVariantList>

#include <atomic>
#include <memory>

class CorrectionJournal;
class DatabaseConnection;
class WaitingBar;

// A correction run on a thread and a database connection of its own, so that the window keeps
// answering while the database makes it wait: a request another workstation is correcting, an
// SQLite file another program writes, a server slow to answer. The caller waits in a local event
// loop; after a moment the waiting bar shows, and its "Renunta" gives the correction up.
class BackgroundCorrection : public QObject {
    Q_OBJECT
public:
    // What became of a correction, as CorrectionJournal tells it.
    struct Result {
        bool stored = false;
        int changed = 0;
        QString error;               // the database's reason when not stored
        bool connectionLost = false; // the server could not be reached again
        QString unloggedEntry;       // what the error log should have kept, and why it could not
        QString logWriteError;
        bool refusedByLock = false; // another workstation held the request's sets
        QString lockedRequest;
        QString lockHolder; // "workstation/user", empty when the server did not say
        bool gaveUp = false;
        bool commitAnswerLost = false; // the COMMIT went unanswered; stored says what the journal showed
        bool outcomeUnknown = false;   // ... and the journal could not be read
    };

    // database: the window's connection, whose connection string, error log and integrity check
    // the correction's own connection shares; bar: where the wait shows.
    BackgroundCorrection(DatabaseConnection* database, WaitingBar* bar, QObject* parent = nullptr);
    ~BackgroundCorrection() override;

    // CorrectionJournal::apply on the correction's connection; returns once it is over.
    Result apply(const QString& field, const QVariant& newValue, const QString& scope, const QVariantList& scopeValues,
                 const QString& reason);
    // The window's connection it was made for.
    DatabaseConnection* database() const { return m_database; }
    // A correction is waiting for the database (apply has not returned yet).
    bool running() const { return m_running; }
    // Asks the correction under way to stop; what it came to is still apply's result.
    void giveUp();

    // How long a correction runs before the waiting bar shows.
    static constexpr int kMomentMs = 300;

private:
    struct Job {
        QString connectionString;
        bool server = false; // a database server, not a file
        bool logEnabled = false;
        QString logFile;
        QString field;
        QVariant newValue;
        QString scope;
        QVariantList scopeValues;
        QString reason;
    };
    // On the correction's thread.
    Result run(const Job& job);

    DatabaseConnection* m_database;
    WaitingBar* m_bar;
    QThread m_thread;
    QObject* m_worker; // lives on m_thread: the jobs run in its thread
    // Made, used and ended on m_thread only.
    std::unique_ptr<DatabaseConnection> m_connection;
    std::unique_ptr<CorrectionJournal> m_journal;
    QString m_openedWith;
    // The connection a give-up reaches from the window's thread.
    std::atomic<DatabaseConnection*> m_cancelTarget{nullptr};
    std::atomic<bool> m_givenUp{false};
    bool m_running = false;
};
