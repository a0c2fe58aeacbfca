#include "AccessImportJob.h"

#include "DatabaseConnection.h"
#include "ImportMapping.h"
#include "MdbReader.h"

#include <functional>

namespace {
const char* const kMsgCancelled = "importul a fost oprit";
constexpr qint64 kProgressEvery = 500;

// The file's tables as the import sees them: only those chosen, and a stop asked for ends the
// reading of rows with a failure, which rolls the import back.
class ChosenTablesSource : public ImportSource {
public:
    ChosenTablesSource(ImportSource& inner, const QStringList& tables, const std::atomic<bool>& cancelled,
                       std::function<void()> rowRead)
        : m_inner(inner), m_tables(tables), m_cancelled(cancelled), m_rowRead(std::move(rowRead)) {}

    QStringList tables() const override { return m_tables; }
    QVector<SourceColumn> columns(const QString& table) const override { return m_inner.columns(table); }
    bool openTable(const QString& table, qint64* rows, QString* error) override {
        if (m_cancelled) {
            *error = QLatin1String(kMsgCancelled);
            return false;
        }
        return m_inner.openTable(table, rows, error);
    }
    bool nextRow(QVector<QVariant>* values, QString* error) override {
        if (m_cancelled) {
            *error = QLatin1String(kMsgCancelled);
            return false;
        }
        const bool read = m_inner.nextRow(values, error);
        if (read)
            m_rowRead();
        return read;
    }

private:
    ImportSource& m_inner;
    QStringList m_tables;
    const std::atomic<bool>& m_cancelled;
    std::function<void()> m_rowRead;
};
} // namespace

AccessImportJob::AccessImportJob(const QString& file, const QString& mappingText, const QStringList& sourceTables,
                                 qint64 totalRows, const QString& connectionString, bool replace)
    : m_file(file), m_mappingText(mappingText), m_sourceTables(sourceTables), m_totalRows(totalRows),
      m_connectionString(connectionString), m_replace(replace) {}

void AccessImportJob::run() {
    m_outcome = Outcome();
    ImportMapping mapping;
    if (!mapping.parse(m_mappingText, &m_outcome.error))
        return;
    MdbReader reader;
    if (!reader.open(m_file, &m_outcome.error))
        return;
    DatabaseConnection database;
    if (!database.open(m_connectionString)) {
        m_outcome.error = database.errorText();
        return;
    }
    qint64 read = 0;
    ChosenTablesSource source(reader, m_sourceTables, m_cancelled, [this, &read] {
        if (++read % kProgressEvery == 0)
            emit progress(read);
    });
    ImportOptions options;
    options.replace = m_replace;
    ResultImporter importer(database.connection());
    m_outcome.ok = importer.run(source, mapping, options, &m_outcome.summary, &m_outcome.error);
    m_outcome.cancelled = !m_outcome.ok && m_cancelled;
    emit progress(read);
}
