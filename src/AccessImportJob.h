#pragma once

#include "ResultImporter.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>

// One import of an Access file into the laboratory's database, run on a thread of its own with
// a connection of its own, through the same importer as labrosa-dbtool --import-mdb. Either
// every row is written, or (on a failure, or once cancelled) the database is left as it was.
class AccessImportJob : public QObject {
    Q_OBJECT
public:
    struct Outcome {
        bool ok = false;
        bool cancelled = false;
        QString error;
        ImportSummary summary;
    };

    // sourceTables: the file's tables the import may read (the others stay out even when their
    // names match); totalRows: the rows it reads in all, for the progress; replace: a row whose
    // key is already there replaces it (labrosa-dbtool's --replace).
    AccessImportJob(const QString& file, const QString& mappingText, const QStringList& sourceTables, qint64 totalRows,
                    const QString& connectionString, bool replace);

    // Runs the import; called on the job's thread. The outcome is there once the thread has ended.
    void run();
    // Asks the import to stop at its next row; what it wrote is rolled back.
    void cancel() { m_cancelled = true; }
    const Outcome& outcome() const { return m_outcome; }
    qint64 totalRows() const { return m_totalRows; }

signals:
    // Rows read so far; sent from the job's thread.
    void progress(qint64 rowsRead);

private:
    QString m_file;
    QString m_mappingText;
    QStringList m_sourceTables;
    qint64 m_totalRows;
    QString m_connectionString;
    bool m_replace;
    std::atomic<bool> m_cancelled{false};
    Outcome m_outcome;
};
