#include "AccessImportWindow.h"

#include "AccessImportJob.h"
#include "ImportMapping.h"
#include "MdbReader.h"
#include "MessageBox.h"
#include "ResultImporter.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <climits>

namespace {
const char* const kTitle = "Import din Access";
const char* const kMsgDone = "Importul s-a incheiat: toate randurile au fost scrise in baza de date.";
const char* const kMsgCancelled = "Importul a fost oprit; baza de date a ramas cum era.";
const char* const kMsgFailed = "Importul nu s-a putut face; baza de date a ramas cum era.\n%1";
const char* const kMsgNoTable = "Alegeti cel putin o tabela din fisier pentru tabelele programului.";
const char* const kMsgMappingUnknownTable = "Maparea %1 numeste tabela %2, pe care fisierul nu o are.";
const char* const kMsgCannotSave = "Maparea nu a putut fi scrisa in %1: %2";
const char* const kMsgNoFile = "Alegeti intai fisierul Access (.mdb).";

QString bracketed(const QString& name) {
    return QLatin1Char('[') + name + QLatin1Char(']');
}

// A constant of the mapping file as a person typed it.
QString constantText(const QVariant& value) {
    if (value.isNull())
        return QStringLiteral("NULL");
    if (value.typeId() == QMetaType::QString)
        return QLatin1Char('\'') + value.toString().replace(QLatin1Char('\''), QStringLiteral("''")) +
               QLatin1Char('\'');
    return value.toString();
}
} // namespace

AccessImportWindow::AccessImportWindow(const QString& connectionString, QWidget* parent)
    : QDialog(parent), m_connectionString(connectionString) {
    setWindowTitle(QLatin1String(kTitle));
    setObjectName(QStringLiteral("accessImportWindow"));

    auto* fileLabel = new QLabel(QStringLiteral("&Fisierul Access:"), this);
    m_editFile = new QLineEdit(this);
    m_editFile->setObjectName(QStringLiteral("editFile"));
    fileLabel->setBuddy(m_editFile);
    m_browse = new QPushButton(QStringLiteral("&Alege..."), this);
    m_browse->setObjectName(QStringLiteral("buttonBrowse"));
    m_browse->setAutoDefault(false);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(fileLabel);
    fileRow->addWidget(m_editFile, 1);
    fileRow->addWidget(m_browse);

    auto* sourceLabel = new QLabel(QStringLiteral("&Tabelele fisierului:"), this);
    m_sourceList = new QTreeWidget(this);
    m_sourceList->setObjectName(QStringLiteral("sourceTables"));
    m_sourceList->setHeaderLabels({QStringLiteral("Tabela"), QStringLiteral("Randuri")});
    m_sourceList->setRootIsDecorated(false);
    sourceLabel->setBuddy(m_sourceList);

    auto* mappingLabel = new QLabel(QStringLiteral("&Ce se importa (tabela sau coloana programului <- din fisier; "
                                                   "o constanta se scrie ca 'text', numar sau NULL):"),
                                    this);
    mappingLabel->setWordWrap(true);
    m_mapping = new QTreeWidget(this);
    m_mapping->setObjectName(QStringLiteral("mapping"));
    m_mapping->setHeaderLabels({QStringLiteral("In program"), QStringLiteral("Din fisier")});
    mappingLabel->setBuddy(m_mapping);

    m_loadMapping = new QPushButton(QStringLiteral("Incarca &maparea..."), this);
    m_loadMapping->setObjectName(QStringLiteral("buttonLoadMapping"));
    m_saveMapping = new QPushButton(QStringLiteral("&Salveaza maparea..."), this);
    m_saveMapping->setObjectName(QStringLiteral("buttonSaveMapping"));
    m_replace =
        new QCheckBox(QStringLiteral("Randurile cu aceeasi cheie le inloc&uiesc pe cele din baza de date"), this);
    m_replace->setObjectName(QStringLiteral("optionReplace"));
    m_import = new QPushButton(QStringLiteral("&Importa"), this);
    m_import->setObjectName(QStringLiteral("buttonImport"));
    m_stop = new QPushButton(QStringLiteral("&Opreste importul"), this);
    m_stop->setObjectName(QStringLiteral("buttonStop"));
    m_close = new QPushButton(QStringLiteral("Inchide"), this);
    m_close->setObjectName(QStringLiteral("buttonClose"));
    for (QPushButton* button : {m_loadMapping, m_saveMapping, m_import, m_stop, m_close})
        button->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_loadMapping);
    buttons->addWidget(m_saveMapping);
    buttons->addStretch(1);
    buttons->addWidget(m_replace);
    buttons->addWidget(m_import);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_close);

    auto* progressLabel = new QLabel(QStringLiteral("&Progres:"), this);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    progressLabel->setBuddy(m_progress);
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(progressLabel);
    progressRow->addWidget(m_progress, 1);

    auto* summaryLabel = new QLabel(QStringLiteral("&Rezultatul importului:"), this);
    m_summary = new QTreeWidget(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setRootIsDecorated(false);
    m_summary->setHeaderLabels({QStringLiteral("Tabela"), QStringLiteral("Din fisier"), QStringLiteral("Citite"),
                                QStringLiteral("Adaugate"), QStringLiteral("Inlocuite"), QStringLiteral("Are acum")});
    m_summary->header()->setStretchLastSection(false);
    summaryLabel->setBuddy(m_summary);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fileRow);
    auto* tables = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(sourceLabel);
    left->addWidget(m_sourceList);
    auto* right = new QVBoxLayout;
    right->addWidget(mappingLabel);
    right->addWidget(m_mapping);
    tables->addLayout(left, 1);
    tables->addLayout(right, 2);
    layout->addLayout(tables, 3);
    layout->addLayout(buttons);
    layout->addLayout(progressRow);
    layout->addWidget(summaryLabel);
    layout->addWidget(m_summary, 1);
    layout->addWidget(m_status);

    setTabOrder(m_editFile, m_browse);
    setTabOrder(m_browse, m_sourceList);
    setTabOrder(m_sourceList, m_mapping);
    setTabOrder(m_mapping, m_loadMapping);
    setTabOrder(m_loadMapping, m_saveMapping);
    setTabOrder(m_saveMapping, m_replace);
    setTabOrder(m_replace, m_import);
    setTabOrder(m_import, m_stop);
    setTabOrder(m_stop, m_close);
    setTabOrder(m_close, m_summary);

    connect(m_browse, &QPushButton::clicked, this, &AccessImportWindow::browse);
    connect(m_editFile, &QLineEdit::returnPressed, this, [this] { openFile(m_editFile->text().trimmed()); });
    connect(m_loadMapping, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Incarca maparea"), QString(),
                                                          QStringLiteral("Mapari (*.map *.txt);;Toate fisierele (*)"));
        if (!path.isEmpty())
            loadMapping(path);
    });
    connect(m_saveMapping, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Salveaza maparea"), QString(),
                                                          QStringLiteral("Mapari (*.map *.txt);;Toate fisierele (*)"));
        if (!path.isEmpty())
            saveMapping(path);
    });
    connect(m_import, &QPushButton::clicked, this, &AccessImportWindow::startImport);
    connect(m_stop, &QPushButton::clicked, this, &AccessImportWindow::stopImport);
    connect(m_close, &QPushButton::clicked, this, &AccessImportWindow::reject);
    setRunning(false);
    resize(1000, 720);
    m_editFile->setFocus();
}

AccessImportWindow::~AccessImportWindow() {
    if (m_thread) {
        m_job->cancel();
        m_thread->wait();
    }
}

void AccessImportWindow::browse() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Fisierul Access"), m_editFile->text(),
                                                      QStringLiteral("Access (*.mdb);;Toate fisierele (*)"));
    if (!path.isEmpty())
        openFile(path);
}

bool AccessImportWindow::openFile(const QString& path) {
    m_editFile->setText(QDir::toNativeSeparators(path));
    QString error;
    MdbReader reader;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The whole file is read once in a child process first: a damaged file is said, not a crash.
    const bool opened = MdbReader::probe(path, &error) && reader.open(path, &error);
    QApplication::restoreOverrideCursor();
    if (!opened) {
        labrosaMessageBox(error, this);
        return false;
    }
    m_file = path;
    m_sourceTables = reader.tables();
    m_rowCounts.clear();
    m_sourceColumns.clear();
    m_sourceList->clear();
    for (const QString& table : std::as_const(m_sourceTables)) {
        qint64 rows = 0;
        if (!reader.openTable(table, &rows, &error)) {
            labrosaMessageBox(error, this);
            return false;
        }
        m_rowCounts.insert(table, rows);
        m_sourceColumns.insert(table, reader.columns(table));
        auto* item = new QTreeWidgetItem(m_sourceList, {table, QString::number(rows)});
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    m_sourceList->resizeColumnToContents(0);

    m_mapping->clear();
    m_tableChoices.clear();
    m_columnChoices.clear();
    for (const QString& target : ResultImporter::targetTables()) {
        auto* tableItem = new QTreeWidgetItem(m_mapping, {target});
        auto* tableChoice = new QComboBox(m_mapping);
        tableChoice->setObjectName(QStringLiteral("table_") + target);
        tableChoice->addItem(QStringLiteral("(nu se importa)"), QString());
        for (const QString& table : std::as_const(m_sourceTables))
            tableChoice->addItem(table, table);
        // Today's matching: the file's table of the same name.
        for (int i = 1; i < tableChoice->count(); ++i)
            if (tableChoice->itemData(i).toString().compare(target, Qt::CaseInsensitive) == 0)
                tableChoice->setCurrentIndex(i);
        m_mapping->setItemWidget(tableItem, 1, tableChoice);
        m_tableChoices.insert(target, tableChoice);
        for (const QString& column : ResultImporter::targetColumns(target)) {
            auto* columnItem = new QTreeWidgetItem(tableItem, {column});
            auto* columnChoice = new QComboBox(m_mapping);
            columnChoice->setObjectName(QStringLiteral("column_%1_%2").arg(target, column));
            columnChoice->setEditable(true);
            columnChoice->setInsertPolicy(QComboBox::NoInsert);
            m_mapping->setItemWidget(columnItem, 1, columnChoice);
            m_columnChoices[target].insert(column, columnChoice);
        }
        fillColumns(target);
        connect(tableChoice, &QComboBox::currentIndexChanged, this, [this, target] { fillColumns(target); });
    }
    m_mapping->expandAll();
    m_mapping->resizeColumnToContents(0);
    m_summary->clear();
    m_status->clear();
    setRunning(false);
    return true;
}

void AccessImportWindow::fillColumns(const QString& target) {
    const QString source = m_tableChoices.value(target)->currentData().toString();
    const QVector<SourceColumn> columns = m_sourceColumns.value(source);
    const QHash<QString, QComboBox*> choices = m_columnChoices.value(target);
    for (auto it = choices.begin(); it != choices.end(); ++it) {
        QComboBox* choice = it.value();
        choice->clear();
        choice->addItem(QString());
        for (const SourceColumn& column : columns)
            if (!column.skipped)
                choice->addItem(column.name);
        // Today's matching: the column of the same name.
        const int same = choice->findText(it.key(), Qt::MatchFixedString);
        choice->setCurrentIndex(same > 0 ? same : 0);
        choice->setEnabled(!source.isEmpty());
    }
}

QString AccessImportWindow::mappingText() const {
    QString text = QStringLiteral("# Import din Access: %1\n").arg(QFileInfo(m_file).fileName());
    for (const QString& target : ResultImporter::targetTables()) {
        const QComboBox* tableChoice = m_tableChoices.value(target);
        const QString source = tableChoice ? tableChoice->currentData().toString() : QString();
        if (source.isEmpty())
            continue;
        text += QStringLiteral("table %1 <- %2\n").arg(target, bracketed(source));
        const QVector<SourceColumn> columns = m_sourceColumns.value(source);
        const QHash<QString, QComboBox*> choices = m_columnChoices.value(target);
        for (const QString& column : ResultImporter::targetColumns(target)) {
            const QString chosen = choices.value(column)->currentText().trimmed();
            bool sameName = false;
            QString sourceColumn;
            for (const SourceColumn& c : columns) {
                sameName = sameName || c.name.compare(column, Qt::CaseInsensitive) == 0;
                if (c.name.compare(chosen, Qt::CaseInsensitive) == 0)
                    sourceColumn = c.name;
            }
            if (chosen.isEmpty()) {
                // Left empty on purpose: the file's column of the same name would fill it otherwise.
                if (sameName)
                    text += QStringLiteral("%1 <- NULL\n").arg(column);
            } else if (!sourceColumn.isEmpty()) {
                text += QStringLiteral("%1 <- %2\n").arg(column, bracketed(sourceColumn));
            } else {
                text += QStringLiteral("%1 <- %2\n").arg(column, chosen);
            }
        }
    }
    return text;
}

bool AccessImportWindow::loadMapping(const QString& path) {
    ImportMapping mapping;
    QString error;
    if (!mapping.load(path, &error)) {
        labrosaMessageBox(error, this);
        return false;
    }
    for (const TableRule& rule : mapping.tables()) {
        QComboBox* tableChoice = nullptr;
        for (auto it = m_tableChoices.begin(); it != m_tableChoices.end(); ++it)
            if (it.key().compare(rule.target, Qt::CaseInsensitive) == 0)
                tableChoice = it.value();
        const int index = tableChoice ? tableChoice->findText(rule.source, Qt::MatchFixedString) : -1;
        if (index < 1) {
            labrosaMessageBox(QString::fromLatin1(kMsgMappingUnknownTable).arg(path, rule.source), this);
            return false;
        }
        tableChoice->setCurrentIndex(index);
        const QString target = m_tableChoices.key(tableChoice);
        fillColumns(target);
        const QHash<QString, QComboBox*> choices = m_columnChoices.value(target);
        for (const ColumnRule& columnRule : rule.columns)
            for (auto it = choices.begin(); it != choices.end(); ++it)
                if (it.key().compare(columnRule.target, Qt::CaseInsensitive) == 0) {
                    const bool none = columnRule.constant && columnRule.value.isNull();
                    it.value()->setCurrentText(none                  ? QString()
                                               : columnRule.constant ? constantText(columnRule.value)
                                                                     : columnRule.source);
                }
    }
    return true;
}

bool AccessImportWindow::saveMapping(const QString& path) {
    const QByteArray text = mappingText().toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush() || !file.commit()) {
        labrosaMessageBox(QString::fromLatin1(kMsgCannotSave).arg(path, file.errorString()), this);
        return false;
    }
    return true;
}

void AccessImportWindow::startImport() {
    if (m_thread)
        return;
    if (m_file.isEmpty()) {
        labrosaMessageBox(QLatin1String(kMsgNoFile), this);
        m_editFile->setFocus();
        return;
    }
    QStringList chosen;
    qint64 total = 0;
    for (QComboBox* choice : std::as_const(m_tableChoices)) {
        const QString source = choice->currentData().toString();
        if (source.isEmpty())
            continue;
        total += m_rowCounts.value(source);
        if (!chosen.contains(source))
            chosen << source;
    }
    if (chosen.isEmpty()) {
        labrosaMessageBox(QLatin1String(kMsgNoTable), this);
        m_mapping->setFocus();
        return;
    }
    m_summary->clear();
    m_status->setText(QStringLiteral("Se importa..."));
    m_progress->setRange(0, int(qMin<qint64>(total, INT_MAX)));
    m_progress->setValue(0);
    m_job = std::make_unique<AccessImportJob>(m_file, mappingText(), chosen, total, m_connectionString,
                                              m_replace->isChecked());
    connect(m_job.get(), &AccessImportJob::progress, this,
            [this](qint64 rows) { m_progress->setValue(int(qMin<qint64>(rows, m_progress->maximum()))); });
    AccessImportJob* job = m_job.get();
    m_thread = QThread::create([job] { job->run(); });
    connect(m_thread, &QThread::finished, this, &AccessImportWindow::onFinished);
    setRunning(true);
    m_thread->start();
}

void AccessImportWindow::stopImport() {
    if (m_job && m_thread)
        m_job->cancel();
}

void AccessImportWindow::onFinished() {
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    const AccessImportJob::Outcome outcome = m_job->outcome();
    m_job.reset();
    setRunning(false);
    if (outcome.ok) {
        for (const TableImport& t : outcome.summary.tables) {
            auto* item = new QTreeWidgetItem(m_summary, {t.target, t.source, QString::number(t.sourceRows),
                                                         QString::number(t.inserted), QString::number(t.replaced),
                                                         QString::number(t.targetRows)});
            for (int column = 2; column < 6; ++column)
                item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        }
        for (int column = 0; column < m_summary->columnCount(); ++column)
            m_summary->resizeColumnToContents(column);
        m_progress->setValue(m_progress->maximum());
        QStringList lines{QLatin1String(kMsgDone)};
        lines += outcome.summary.notes;
        m_status->setText(lines.join(QLatin1Char('\n')));
    } else {
        m_progress->setValue(0);
        m_status->setText(outcome.cancelled ? QLatin1String(kMsgCancelled)
                                            : QString::fromLatin1(kMsgFailed).arg(outcome.error));
    }
    emit importFinished(outcome.ok);
}

void AccessImportWindow::setRunning(bool running) {
    for (QWidget* widget :
         {static_cast<QWidget*>(m_editFile), static_cast<QWidget*>(m_browse), static_cast<QWidget*>(m_mapping),
          static_cast<QWidget*>(m_loadMapping), static_cast<QWidget*>(m_replace), static_cast<QWidget*>(m_close)})
        widget->setEnabled(!running);
    m_saveMapping->setEnabled(!running && !m_file.isEmpty());
    m_import->setEnabled(!running && !m_file.isEmpty());
    m_stop->setEnabled(running);
    if (running)
        m_stop->setFocus();
}

void AccessImportWindow::reject() {
    // The window closes only once the import has ended; Escape while it runs asks it to stop.
    if (m_thread) {
        stopImport();
        return;
    }
    QDialog::reject();
}
