#include "BackgroundCorrection.h"

#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "SqlDialect.h"
#include "WaitingBar.h"

#include <QEventLoop>
#include <QTimer>

namespace {

const char* const kWaitingText = "Corectura asteapta baza de date (poate alta statie de lucru corecteaza aceeasi "
                                 "cerere). Restul ferestrei se poate folosi intre timp.";

} // namespace

BackgroundCorrection::BackgroundCorrection(DatabaseConnection* database, WaitingBar* bar, QObject* parent)
    : QObject(parent), m_database(database), m_bar(bar), m_worker(new QObject) {
    m_thread.setObjectName(QStringLiteral("correction"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    if (m_bar)
        connect(m_bar, &WaitingBar::givenUp, this, &BackgroundCorrection::giveUp);
}

BackgroundCorrection::~BackgroundCorrection() {
    // A correction still waiting stops first rather than holding the window's end up.
    giveUp();
    if (m_thread.isRunning()) {
        // The connection ends in the thread that made it.
        QMetaObject::invokeMethod(
            m_worker,
            [this] {
                m_cancelTarget = nullptr;
                m_journal.reset();
                m_connection.reset();
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    } else {
        delete m_worker;
    }
}

void BackgroundCorrection::giveUp() {
    m_givenUp = true;
    if (DatabaseConnection* connection = m_cancelTarget.load())
        connection->requestCancel();
}

BackgroundCorrection::Result BackgroundCorrection::apply(const QString& field, const QVariant& newValue,
                                                         const QString& scope, const QVariantList& scopeValues,
                                                         const QString& reason) {
    Result result;
    if (!m_database || m_running) {
        result.error = QStringLiteral("Another correction is still waiting for the database");
        return result;
    }
    if (!m_thread.isRunning())
        m_thread.start();
    m_running = true;
    m_givenUp = false;
    const Job job{m_database->connectionString(),
                  m_database->dialect().kind() == SqlDialect::Kind::PostgreSQL,
                  m_database->m_logEnabled,
                  m_database->m_logFile,
                  field,
                  newValue,
                  scope,
                  scopeValues,
                  reason};
    const auto integrityCheck = m_database->integrityCheck();

    QEventLoop loop;
    bool finished = false;
    QMetaObject::invokeMethod(
        m_worker,
        [this, job, integrityCheck, &result, &loop, &finished] {
            Result outcome;
            if (!m_connection)
                m_connection = std::make_unique<DatabaseConnection>();
            if (job.logEnabled)
                m_connection->setLogFile(job.logFile);
            else
                m_connection->m_logEnabled = false;
            m_cancelTarget = m_connection.get();
            m_connection->clearCancel();
            if (m_givenUp)
                m_connection->requestCancel();
            if (m_openedWith != job.connectionString || !m_connection->m_opened) {
                m_journal.reset();
                m_openedWith.clear();
                if (m_connection->open(job.connectionString)) {
                    m_openedWith = job.connectionString;
                    m_journal = std::make_unique<CorrectionJournal>(m_connection.get());
                }
            }
            if (m_journal) {
                // The window's check of the SQLite file holds this connection's writes back too.
                m_connection->setIntegrityCheck(integrityCheck);
                outcome = run(job);
            } else {
                // The window's own connection reached the server; this one could not.
                outcome.error = m_connection->errorText();
                outcome.connectionLost = job.server;
                outcome.gaveUp = m_givenUp;
            }
            m_cancelTarget = nullptr;
            QMetaObject::invokeMethod(
                this,
                [outcome, &result, &loop, &finished] {
                    result = outcome;
                    finished = true;
                    loop.quit();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);

    // A correction over within a moment shows no bar at all.
    QTimer moment;
    moment.setSingleShot(true);
    connect(&moment, &QTimer::timeout, this, [this] {
        if (m_bar)
            m_bar->showWaiting(QString::fromLatin1(kWaitingText));
    });
    moment.start(kMomentMs);
    if (!finished)
        loop.exec();
    moment.stop();
    if (m_bar)
        m_bar->hideWaiting();
    m_running = false;
    return result;
}

BackgroundCorrection::Result BackgroundCorrection::run(const Job& job) {
    Result result;
    int changed = 0;
    result.stored = m_journal->apply(job.field, job.newValue, job.scope, job.scopeValues, &changed, job.reason);
    result.changed = changed;
    result.error = m_journal->errorText();
    result.connectionLost = m_connection->connectionLost();
    result.unloggedEntry = m_journal->unloggedEntry();
    result.logWriteError = m_journal->logWriteError();
    result.refusedByLock = m_journal->refusedByLock();
    result.lockedRequest = m_journal->lockedRequest();
    result.lockHolder = m_journal->lockHolder();
    result.gaveUp = m_journal->gaveUp();
    result.commitAnswerLost = m_journal->commitAnswerLost();
    result.outcomeUnknown = m_journal->outcomeUnknown();
    return result;
}
