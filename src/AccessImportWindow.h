#pragma once

#include <QDialog>
#include <QHash>
#include <QStringList>
#include <QVector>

#include <memory>

#include "ImportSource.h"

class AccessImportJob;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeWidget;

// The Laborator menu's Import from Access: the file, its tables with their row counts, which of
// its tables and columns fill which of the program's (matched by name at first, every choice
// editable, saved and loaded as labrosa-dbtool's mapping file), then the import on a thread of its
// own with a progress bar and a stop, and a summary per table. Child widgets carry object names:
// "editFile", "buttonBrowse", "sourceTables", "mapping", "buttonLoadMapping", "buttonSaveMapping",
// "optionReplace", "buttonImport", "buttonStop", "progress", "summary", "status"; the mapping's choices are
// "table_<TABLE>" and "column_<TABLE>_<column>".
class AccessImportWindow : public QDialog {
    Q_OBJECT
public:
    // connectionString: the laboratory's database, which the import opens anew for itself.
    explicit AccessImportWindow(const QString& connectionString, QWidget* parent = nullptr);
    ~AccessImportWindow() override;

    // Reads the file's tables and fills the mapping by name; false with a message when it cannot.
    bool openFile(const QString& path);
    // The mapping as chosen now, in the mapping file's form.
    QString mappingText() const;
    bool loadMapping(const QString& path);
    bool saveMapping(const QString& path);
    // Starts the import; the outcome shows when it ends (finished is sent then).
    void startImport();
    void stopImport();
    bool isRunning() const { return m_thread != nullptr; }

    void reject() override;

signals:
    void importFinished(bool ok);

private:
    void browse();
    void fillColumns(const QString& target);
    void onFinished();
    void setRunning(bool running);

    QString m_connectionString;
    QString m_file;
    QStringList m_sourceTables;
    QHash<QString, qint64> m_rowCounts;
    QHash<QString, QVector<SourceColumn>> m_sourceColumns;
    QHash<QString, QComboBox*> m_tableChoices;                  // by the program's table
    QHash<QString, QHash<QString, QComboBox*>> m_columnChoices; // by table, then column

    QLineEdit* m_editFile = nullptr;
    QPushButton* m_browse = nullptr;
    QTreeWidget* m_sourceList = nullptr;
    QTreeWidget* m_mapping = nullptr;
    QPushButton* m_loadMapping = nullptr;
    QPushButton* m_saveMapping = nullptr;
    QCheckBox* m_replace = nullptr;
    QPushButton* m_import = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_close = nullptr;
    QProgressBar* m_progress = nullptr;
    QTreeWidget* m_summary = nullptr;
    QLabel* m_status = nullptr;
    std::unique_ptr<AccessImportJob> m_job;
    QThread* m_thread = nullptr;
};
