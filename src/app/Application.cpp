#include "Application.h"

#include "AboutDialog.h"
#include "BackupSchedule.h"
#include "BulletinDocument.h"
#include "ChildWindow.h"
#include "CommandIds.h"
#include "ConnectionString.h"
#include "DatabaseBackup.h"
#include "DatabaseRestore.h"
#include "DiskSpace.h"
#include "DocumentTemplate.h"
#include "FirstStartDialog.h"
#include "LabFolder.h"
#include "LabSchemaCheck.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "NewDocumentDialog.h"
#include "PrintSetup.h"
#include "RestoreDialog.h"
#include "SettingsLocation.h"
#include "SqliteIntegrityCheck.h"
#include "TextUtils.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMetaObject>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QStatusBar>
#include <QToolButton>

namespace {
const char* const kLogFile = "_database_err.log";
const char* const kDefaultConnection = "Provider=SQLite;Data Source=lab.db";
const char* const kBulletinDocString = "\nTervan\nTervan\n\n\nTervana.Document\nTervan Document";
const char* const kListDocString =
    "\nLista Rezultate\nLista Rezultate\n\n\nLista Rezultate.Document\nLista Rezultate Document";
const char* const kFailedEmptyDocument = "Failed to create empty document.";
// Files of the laboratory folder that the program reads or writes besides the database.
const char* const kSettingsFile = "Labrosa.ini";
const char* const kBulletinFile = "_buletin.html";

// %1 is the database's name with a leading blank, or nothing when the connection names none.
const char* const kMsgDatabaseNotOpened = "Baza de date%1 nu a putut fi deschisa.\n%2";
const char* const kMsgDiskFull = "Baza de date%1 nu a putut fi deschisa: discul pe care se afla (%2) este plin. "
                                 "Baza de date nu a fost schimbata. Eliberati spatiu pe acest disc, apoi porniti din "
                                 "nou programul.\n%3";
const char* const kMsgNotLabDatabase = "Baza de date%1 nu poate fi folosita: nu se poate citi %2.\n%3";
const char* const kMsgNoLabFolder = "Labrosa nu stie unde este laboratorul: in dosarul curent (%1) nu este baza de "
                                    "date lab.db si nu a fost ales inca un dosar al laboratorului.\n"
                                    "Alegeti dosarul care contine lab.db, un server PostgreSQL, sau faceti un "
                                    "laborator demonstrativ pentru proba.";
// %1 the database file, %2 SQLite's own lines, %3 what to do with the files found beside it.
const char* const kMsgDatabaseDamaged =
    "Baza de date \"%1\" este deteriorata: nu a trecut verificarea integritatii facuta de SQLite. Programul o "
    "foloseste doar pentru cautare si citire: nu se salveaza nicio corectura, niciun comentariu si niciun buletin in "
    "arhiva, iar fisierul ramane asa cum a fost gasit.\n"
    "Ce a gasit SQLite:\n%2\n%3"
    "Ce puteti face: puneti in locul ei o copie de siguranta buna, din meniul Laborator, Restaureaza din copie (baza "
    "de date de acum ramane langa ea, redenumita). Ce se mai poate citi din ea "
    "se recupereaza cu programul sqlite3: sqlite3 \"%1\" .recover | sqlite3 lab-recuperat.db";
const char* const kMsgLeftoversApplied =
    "Langa baza de date erau fisierele %1. SQLite le aplica oricarei baze de date care se afla langa ele, deci si "
    "acesteia; daca ati pus-o la loc dintr-o copie de siguranta, ele sunt ale bazei de date de dinainte. Inchideti "
    "programul, mutati deoparte aceste fisiere (si %2-shm) si puneti din nou copia de siguranta.\n";
const char* const kMsgDatabaseNotChecked =
    "Integritatea bazei de date \"%1\" nu a putut fi verificata, asa ca programul o foloseste doar pentru cautare si "
    "citire: nu se salveaza nicio corectura, niciun comentariu si niciun buletin in arhiva. Porniti din nou "
    "programul; daca mesajul revine, verificati baza de date cu: sqlite3 \"%1\" \"PRAGMA integrity_check\"\n%2";
const char* const kStatusDamaged = "Doar citire: baza de date este deteriorata";
const char* const kStatusNotChecked = "Doar citire: integritatea bazei de date nu a putut fi verificata";
const char* const kMsgChooseAgain = "%1\nAlegeti din nou laboratorul.";
const char* const kMsgCannotEnter = "Dosarul laboratorului \"%1\" nu poate fi deschis.";
const char* const kMsgChangeLab = "Alegeti laboratorul pe care sa-l deschida programul in locul celui de acum.";
const char* const kMsgNewLab =
    "Scrieti sau alegeti dosarul laboratorului nou: in el se fac baza de date lab.db (goala), "
    "Labrosa.ini si buletin_files.";
const char* const kMsgSwitchFailed = "Laboratorul ales nu a putut fi deschis; programul a deschis din nou laboratorul "
                                     "de dinainte.";
const char* const kMsgRestored =
    "Copia din %1 este acum baza de date \"%2\": %3 seturi de rezultate, ultimul transfer %4 (facuta de %5).\n"
    "Baza de date de dinainte nu a fost stearsa: este \"%6\".";
const char* const kMsgRestoredNoAside = "Copia din %1 este acum baza de date \"%2\": %3 seturi de rezultate, ultimul "
                                        "transfer %4 (facuta de %5).";
const char* const kMsgRestoreRefused = "Copia \"%1\" nu a fost pusa in locul bazei de date: %2\nBaza de date a ramas "
                                       "cum era.";
const char* const kMsgRestoreOnServer = "Baza de date este pe un server PostgreSQL: o copie o pune la loc "
                                        "administratorul serverului (meniul Laborator, Copiile serverului "
                                        "PostgreSQL).";
// %1 database, %2 server, %3 port, %4 user.
const char* const kMsgServerBackup =
    "Programul nu copiaza baza de date a unui server: copiile le face administratorul, de pe un calculator cu "
    "programele clientului PostgreSQL (pg_dump, pg_restore), de exemplu in fiecare noapte.\n\n"
    "Copie (format propriu, comprimat):\n"
    "pg_dump --format=custom --host %2 --port %3 --username %4 --file %1-$(date +%Y-%m-%d).dump %1\n\n"
    "Verificarea copiei:\n"
    "pg_restore --list %1-AAAA-LL-ZZ.dump\n\n"
    "Punerea la loc (toate tabelele bazei de date sunt inlocuite cu cele din copie):\n"
    "pg_restore --clean --if-exists --host %2 --port %3 --username %4 --dbname %1 %1-AAAA-LL-ZZ.dump\n\n"
    "La fel face labrosa-dbtool --backup DOSAR \"Provider=PostgreSQL;Server=%2;Port=%3;Database=%1;User ID=%4\", "
    "care scrie si descrierea copiei (manifest.json) si o verifica.";
const char* const kMsgReopenFailed = "Nici laboratorul de dinainte nu a mai putut fi deschis. Alegeti un laborator din "
                                     "meniul Laborator, Schimba laboratorul.";

// The program runs unattended (scripts, tests of the executable): no dialog may wait for a person.
bool unattended() {
    return qEnvironmentVariableIntValue("LABROSA_NO_MODAL_MESSAGES") == 1;
}

// A SQLite connection naming a relative file, made absolute against folder, so that moving
// into the laboratory folder does not change which file it means.
QString anchoredConnection(const QString& connection, const QString& folder) {
    const ConnectionString parsed = ConnectionString::parse(connection);
    const QString file = parsed.sqliteFile();
    if (!parsed.isSQLite() || file.isEmpty() || QFileInfo(file).isAbsolute())
        return connection;
    return QStringLiteral("Provider=%1;Data Source=%2")
        .arg(parsed.provider(), LabFolder::quotedValue(QDir(folder).absoluteFilePath(file)));
}

// What a person is told of a database that failed its integrity check.
QString integrityMessage(const SqliteIntegrityCheck& check) {
    const QString file = QDir::toNativeSeparators(check.file());
    const QString found = check.findings().join(QLatin1Char('\n'));
    if (check.state() != SqliteIntegrityCheck::State::Damaged)
        return QString::fromLatin1(kMsgDatabaseNotChecked).arg(file, found);
    QStringList leftovers;
    for (const QString& path : check.leftovers())
        leftovers << QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(path));
    const QString applied =
        leftovers.isEmpty() ? QString()
                            : QString::fromLatin1(kMsgLeftoversApplied).arg(leftovers.join(QLatin1String(", ")), file);
    return QString::fromLatin1(kMsgDatabaseDamaged).arg(file, found, applied);
}
} // namespace

Application::Application(ViewFactory bulletinView, ViewFactory listView)
    : m_bulletinView(std::move(bulletinView)), m_listView(std::move(listView)) {}

Application::~Application() {
    // A file not known to be sound is left as it is, -wal and all. A check still running is
    // stopped before the object its news go to.
    if (const std::shared_ptr<SqliteIntegrityCheck> check = m_database.integrityCheck(); check && !check->passed())
        SqliteIntegrityCheck::keepWalOnClose(m_database.connection());
    m_database.setIntegrityCheck(nullptr);
    // A copy still running stops before the window its news go to.
    m_backups.reset();
    // The windows go first: their views still use the connection and the shared state.
    m_mainWindow.reset();
    setCurrentPrinter(nullptr);
    setUtilMessageHandler(nullptr);
}

QString Application::connectionStringFrom(const QStringList& arguments) {
    const QString named = namedConnectionString(arguments);
    return named.isEmpty() ? QLatin1String(kDefaultConnection) : named;
}

QString Application::namedConnectionString(const QStringList& arguments) {
    const QString option = QStringLiteral("--database");
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == option && i + 1 < arguments.size())
            return arguments.at(i + 1);
        if (argument.startsWith(option + QLatin1Char('=')))
            return argument.mid(option.size() + 1);
    }
    return qEnvironmentVariable("LABROSA_DATABASE");
}

bool Application::initInstance(const QStringList& arguments) {
    SettingsLocation::use();
    m_recentFiles.load();
    setUtilMessageHandler([](const std::string& text) { labrosaMessageBox(QString::fromStdString(text)); });

    if (!openLaboratory(arguments))
        return false;
    m_sharedState.m_database = &m_database;

    m_sharedState.m_bulletinTemplate = addDocTemplate(std::make_unique<DocumentTemplate>(
        IDR_BULLETINTYPE, QString::fromUtf8(kBulletinDocString),
        [this](BulletinDocument*) { return m_bulletinView ? m_bulletinView(&m_sharedState) : nullptr; }));
    m_sharedState.m_listTemplate = addDocTemplate(
        std::make_unique<DocumentTemplate>(IDR_LISTTYPE, QString::fromUtf8(kListDocString), [this](BulletinDocument*) {
            return m_listView ? m_listView(&m_sharedState) : nullptr;
        }));

    m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    setCurrentPrinter(m_printer.get());

    m_mainWindow = std::make_unique<MainWindow>(&m_recentFiles);
    m_mainWindow->setProtectedFiles(programFiles());
    m_backups = std::make_unique<BackupSchedule>(m_mainWindow.get());
    followLaboratoryWithBackups();
    showReadOnlyState();
    for (const auto& docTemplate : m_templates)
        docTemplate->setMainFrame(m_mainWindow.get());
    MainWindow* frame = m_mainWindow.get();
    QObject::connect(frame->action(ID_FILE_NEW), &QAction::triggered, frame, [this] { onFileNew(); });
    QObject::connect(frame->action(ID_FILE_OPEN), &QAction::triggered, frame, [this] { onFileOpen(); });
    QObject::connect(frame->action(ID_FILE_PRINT_SETUP), &QAction::triggered, frame, [this] { onFilePrintSetup(); });
    QObject::connect(frame->action(ID_APP_ABOUT), &QAction::triggered, frame, [this] { onAppAbout(); });
    QObject::connect(frame, &MainWindow::recentFileChosen, frame,
                     [this](const QString& path) { openDocumentFile(path); });

    if (!m_sharedState.m_listTemplate->openDocumentFile(QString()))
        labrosaMessageBox(QLatin1String(kFailedEmptyDocument), frame);

    QObject::connect(frame->action(ID_LAB_CHANGE), &QAction::triggered, frame, [this] { onChangeLaboratory(); });
    QObject::connect(frame->action(ID_LAB_NEW), &QAction::triggered, frame, [this] { onNewLaboratory(); });
    QObject::connect(frame->action(ID_LAB_RESTORE), &QAction::triggered, frame, [this] { onRestoreFromCopy(); });
    QObject::connect(frame->action(ID_LAB_SERVER_BACKUP), &QAction::triggered, frame, [this] { onServerBackup(); });

    frame->show();
    frame->update();
    onLaboratoryOpened();
    return true;
}

bool Application::openDatabase(const QString& connection, QString* problem) {
    // The log goes beside the laboratory's other files, in the current directory.
    m_database.setLogFile(QLatin1String(kLogFile));
    // Made before the open, which applies a -wal or -journal lying beside the file.
    std::shared_ptr<SqliteIntegrityCheck> check = SqliteIntegrityCheck::forConnection(connection);
    if (!m_database.open(connection)) {
        // SQLite names a full disk only as "disk I/O error" when its shared-memory file cannot grow.
        const QString file = m_database.databaseFile();
        const QString disk = QFileInfo(file).isFile() ? fullDiskOf(file) : QString();
        *problem = disk.isEmpty()
                       ? QString::fromLatin1(kMsgDatabaseNotOpened).arg(databaseLabel(), m_database.errorText())
                       : QString::fromLatin1(kMsgDiskFull).arg(databaseLabel(), disk, m_database.errorText());
        labrosaMessageBox(*problem);
        return false;
    }
    const LabSchemaCheck schema = LabSchemaCheck::run(&m_database);
    if (!schema.ok) {
        *problem = QString::fromLatin1(kMsgNotLabDatabase).arg(databaseLabel(), schema.object, schema.reason);
        m_database.close();
        labrosaMessageBox(*problem);
        return false;
    }
    if (check)
        startIntegrityCheck(std::move(check));
    m_connection = connection;
    return true;
}

void Application::startIntegrityCheck(std::shared_ptr<SqliteIntegrityCheck> check) {
    if (!m_integrityNews)
        m_integrityNews = std::make_unique<QObject>();
    QObject* news = m_integrityNews.get();
    m_database.setIntegrityCheck(check);
    check->start([this, news] {
        QMetaObject::invokeMethod(
            news, [this] { onIntegrityChecked(); }, Qt::QueuedConnection);
    });
}

void Application::onIntegrityChecked() {
    const std::shared_ptr<SqliteIntegrityCheck> check = m_database.integrityCheck();
    if (!check)
        return;
    if (check->wait()) {
        // A sound database gets the day's copy; a damaged one is never copied over a good copy.
        if (m_backups)
            m_backups->startDailyCopy();
        return;
    }
    SqliteIntegrityCheck::keepWalOnClose(m_database.connection());
    m_database.writeLog(QStringLiteral("SqliteIntegrityCheck\n") + check->refusalText());
    showReadOnlyState();
    labrosaMessageBox(integrityMessage(*check), m_mainWindow.get());
}

void Application::showReadOnlyState() {
    const std::shared_ptr<SqliteIntegrityCheck> check = m_database.integrityCheck();
    if (!m_mainWindow || !check || !check->failed())
        return;
    QStatusBar* bar = m_mainWindow->statusBar();
    const QString text = QString::fromLatin1(
        check->state() == SqliteIntegrityCheck::State::Damaged ? kStatusDamaged : kStatusNotChecked);
    bar->showMessage(text);
    if (bar->findChild<QLabel*>(QStringLiteral("readOnlyState")))
        return;
    // Kept in sight for as long as the program runs, whatever the message pane shows meanwhile.
    auto* label = new QLabel(text, bar);
    label->setObjectName(QStringLiteral("readOnlyState"));
    bar->insertPermanentWidget(0, label);
    // What puts it right is one click away.
    auto* restore = new QToolButton(bar);
    restore->setObjectName(QStringLiteral("readOnlyRestore"));
    restore->setDefaultAction(m_mainWindow->action(ID_LAB_RESTORE));
    restore->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->insertPermanentWidget(1, restore);
}

void Application::clearReadOnlyState() {
    if (QStatusBar* bar = m_mainWindow ? m_mainWindow->statusBar() : nullptr) {
        delete bar->findChild<QLabel*>(QStringLiteral("readOnlyState"));
        delete bar->findChild<QToolButton*>(QStringLiteral("readOnlyRestore"));
        bar->clearMessage();
    }
}

bool Application::openLaboratory(const QStringList& arguments) {
    const QString startFolder = QDir::currentPath();
    const QString labFolder = LabFolder::fromArguments(arguments);
    QString problem;

    // A database named on the command line or in the environment is used as it is, as before;
    // --lab-dir beside it only says where the laboratory's other files are.
    const QString named = namedConnectionString(arguments);
    if (!named.isEmpty()) {
        const QString connection = labFolder.isEmpty() ? named : anchoredConnection(named, startFolder);
        if (!labFolder.isEmpty() && !QDir::setCurrent(labFolder)) {
            labrosaMessageBox(QString::fromLatin1(kMsgCannotEnter).arg(QDir::toNativeSeparators(labFolder)));
            return false;
        }
        if (!openDatabase(connection, &problem))
            return false;
        // What the Change laboratory dialog starts from.
        const ConnectionString parsed = ConnectionString::parse(connection);
        m_laboratory = LabChoice();
        m_laboratory.folder = QDir::currentPath();
        m_laboratory.onServer = parsed.isPostgreSQL();
        m_laboratory.server.host = parsed.value(QStringLiteral("Server"));
        m_laboratory.server.port = parsed.value(QStringLiteral("Port")).toInt();
        if (m_laboratory.server.port <= 0)
            m_laboratory.server.port = 5432;
        m_laboratory.server.database = parsed.value(QStringLiteral("Database"));
        m_laboratory.server.user = parsed.value(QStringLiteral("User ID"));
        return true;
    }

    LabChoice candidate;
    bool chosenNow = false;
    // lab.db of the current directory is opened as the program always did, its failure told
    // in the database's own words.
    bool currentFolder = false;
    if (!labFolder.isEmpty()) {
        candidate.folder = labFolder;
    } else if (QFileInfo(QLatin1String("lab.db")).isFile()) {
        candidate.folder = startFolder;
        currentFolder = true;
    } else {
        candidate = LabFolder::remembered();
        if (candidate.isEmpty() && unattended()) {
            candidate.folder = startFolder;
            currentFolder = true;
        }
    }
    QString explanation = candidate.isEmpty()
                              ? QString::fromLatin1(kMsgNoLabFolder).arg(QDir::toNativeSeparators(startFolder))
                              : QString();

    for (;;) {
        if (!candidate.isEmpty()) {
            problem = currentFolder ? QString()
                                    : LabFolder::problem(candidate, labFolder.isEmpty() && !chosenNow
                                                                        ? LabFolder::FolderOrigin::remembered
                                                                        : LabFolder::FolderOrigin::Given);
            if (problem.isEmpty() && !QDir::setCurrent(candidate.folder))
                problem = QString::fromLatin1(kMsgCannotEnter).arg(QDir::toNativeSeparators(candidate.folder));
            if (!problem.isEmpty())
                labrosaMessageBox(problem);
            else if (openDatabase(currentFolder ? QString::fromLatin1(kDefaultConnection)
                                                : LabFolder::connectionFor(candidate),
                                  &problem))
                break;
            // Unattended, a database that cannot be used ends the program, as it always did.
            if (unattended()) {
                QDir::setCurrent(startFolder);
                return false;
            }
            explanation = QString::fromLatin1(kMsgChooseAgain).arg(problem);
        }
        FirstStartDialog dialog(explanation, candidate);
        if (dialog.exec() != QDialog::Accepted) {
            QDir::setCurrent(startFolder);
            return false;
        }
        candidate = dialog.choice();
        chosenNow = true;
        currentFolder = false;
    }
    if (chosenNow)
        LabFolder::remember(candidate);
    m_laboratory = candidate;
    return true;
}

QString Application::databaseLabel() const {
    const QString file = m_database.databaseFile();
    if (!file.isEmpty())
        return QStringLiteral(" \"%1\"").arg(QDir::toNativeSeparators(file));
    if (m_database.m_databaseName.isEmpty())
        return QString();
    if (m_database.m_server.isEmpty())
        return QStringLiteral(" \"%1\"").arg(m_database.m_databaseName);
    return QStringLiteral(" \"%1\" de pe serverul %2").arg(m_database.m_databaseName, m_database.m_server);
}

QStringList Application::programFiles() const {
    QStringList files;
    const QString database = m_database.databaseFile();
    if (!database.isEmpty()) {
        files << database;
        // SQLite's companions hold committed rows until they are copied into the database.
        for (const char* suffix : {"-wal", "-shm", "-journal"})
            files << database + QLatin1String(suffix);
    }
    for (const char* name : {kLogFile, kSettingsFile, kBulletinFile})
        files << QFileInfo(QLatin1String(name)).absoluteFilePath();
    return files;
}

DocumentTemplate* Application::addDocTemplate(std::unique_ptr<DocumentTemplate> docTemplate) {
    m_templates.push_back(std::move(docTemplate));
    return m_templates.back().get();
}

ChildWindow* Application::openNewDocument(std::size_t templateIndex) {
    if (templateIndex >= m_templates.size())
        return nullptr;
    ChildWindow* frame = m_templates[templateIndex]->openDocumentFile(QString());
    if (!frame)
        labrosaMessageBox(QLatin1String(kFailedEmptyDocument), m_mainWindow.get());
    return frame;
}

void Application::onFileNew() {
    if (m_templates.empty())
        return;
    std::size_t chosen = 0;
    if (m_templates.size() > 1) {
        QStringList names;
        for (const auto& docTemplate : m_templates)
            names << docTemplate->newFileName();
        NewDocumentDialog dialog(names, m_mainWindow.get());
        if (dialog.exec() != QDialog::Accepted || dialog.selectedIndex() < 0)
            return;
        chosen = static_cast<std::size_t>(dialog.selectedIndex());
    }
    openNewDocument(chosen);
}

void Application::onFileOpen() {
    const QString path = QFileDialog::getOpenFileName(m_mainWindow.get(), QStringLiteral("Open"), QString(),
                                                      QStringLiteral("All Files (*)"));
    if (!path.isEmpty())
        openDocumentFile(path);
}

ChildWindow* Application::openDocumentFile(const QString& path) {
    if (m_templates.empty() || !m_mainWindow)
        return nullptr;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (ChildWindow* frame : m_mainWindow->childFrames()) {
        if (frame->document()->pathName() == absolute) {
            m_mainWindow->mdiArea()->setActiveSubWindow(frame);
            m_recentFiles.add(absolute);
            return frame;
        }
    }
    if (!QFileInfo::exists(absolute)) {
        // A recent-file entry whose file has gone: say so and drop the entry.
        labrosaMessageBox(QStringLiteral("The file %1 cannot be found.").arg(QDir::toNativeSeparators(absolute)),
                          m_mainWindow.get());
        m_recentFiles.remove(absolute);
        return nullptr;
    }
    // No template claims a file extension, so the first registered one takes every file.
    ChildWindow* frame = m_templates.front()->openDocumentFile(absolute);
    if (frame)
        m_recentFiles.add(absolute);
    return frame;
}

void Application::onFilePrintSetup() {
    if (!m_printer)
        return;
    QPageSetupDialog dialog(m_printer.get(), m_mainWindow.get());
    dialog.exec();
}

void Application::onAppAbout() {
    AboutDialog dialog(m_mainWindow.get());
    dialog.exec();
}

void Application::onChangeLaboratory() {
    // The server's password of this session fills its field, so the same server needs no retyping.
    LabChoice current = m_laboratory;
    if (current.onServer)
        current.server.password = ConnectionString::parse(m_connection).value(QStringLiteral("Password"));
    FirstStartDialog dialog(QLatin1String(kMsgChangeLab), current, m_mainWindow.get());
    if (dialog.exec() == QDialog::Accepted)
        switchLaboratory(dialog.choice());
}

void Application::onNewLaboratory() {
    FirstStartDialog dialog(QLatin1String(kMsgNewLab), LabChoice(), m_mainWindow.get());
    dialog.chooseNewEmptyLaboratory();
    if (dialog.exec() == QDialog::Accepted)
        switchLaboratory(dialog.choice());
}

void Application::closeLaboratoryWindows() {
    if (!m_mainWindow)
        return;
    // Nothing is lost: the documents store nothing, and an open cell edit has already ended,
    // its start text put back, when the menu's dialog or message took the focus.
    // Deleted at once: their views use the connection that closes next.
    const QList<ChildWindow*> frames = m_mainWindow->childFrames();
    for (ChildWindow* frame : frames)
        delete frame;
}

void Application::reopenWindows() {
    closeLaboratoryWindows();
    // What the closed windows said of the database may no longer hold.
    m_mainWindow->statusBar()->clearMessage();
    if (!m_sharedState.m_listTemplate->openDocumentFile(QString()))
        labrosaMessageBox(QLatin1String(kFailedEmptyDocument), m_mainWindow.get());
    onLaboratoryOpened();
}

void Application::closeDatabase() {
    if (m_backups)
        m_backups->stop();
    if (const std::shared_ptr<SqliteIntegrityCheck> check = m_database.integrityCheck(); check && !check->passed())
        SqliteIntegrityCheck::keepWalOnClose(m_database.connection());
    m_database.setIntegrityCheck(nullptr);
    // News of the old file's check, still queued, must not be taken for the next file's.
    m_integrityNews.reset();
    m_database.close();
}

bool Application::switchLaboratory(const LabChoice& choice) {
    closeLaboratoryWindows();
    const QString beforeConnection = m_connection;
    const QString beforeFolder = QDir::currentPath();
    closeDatabase();
    clearReadOnlyState();

    QString problem = LabFolder::problem(choice);
    if (problem.isEmpty() && !QDir::setCurrent(choice.folder))
        problem = QString::fromLatin1(kMsgCannotEnter).arg(QDir::toNativeSeparators(choice.folder));
    if (!problem.isEmpty())
        labrosaMessageBox(problem, m_mainWindow.get());
    const bool opened = problem.isEmpty() && openDatabase(LabFolder::connectionFor(choice), &problem);
    if (opened) {
        m_laboratory = choice;
        LabFolder::remember(choice);
    } else {
        QDir::setCurrent(beforeFolder);
        QString again;
        if (!openDatabase(beforeConnection, &again)) {
            labrosaMessageBox(QLatin1String(kMsgReopenFailed), m_mainWindow.get());
            return false;
        }
        labrosaMessageBox(QLatin1String(kMsgSwitchFailed), m_mainWindow.get());
    }
    m_mainWindow->setProtectedFiles(programFiles());
    followLaboratoryWithBackups();
    showReadOnlyState();
    if (!m_sharedState.m_listTemplate->openDocumentFile(QString()))
        labrosaMessageBox(QLatin1String(kFailedEmptyDocument), m_mainWindow.get());
    onLaboratoryOpened();
    return opened;
}

void Application::followLaboratoryWithBackups() {
    if (!m_backups)
        return;
    m_backups->setLaboratory(m_connection, QDir::currentPath(), backupSettings());
    const bool onServer = m_database.databaseFile().isEmpty();
    m_mainWindow->action(ID_LAB_RESTORE)->setEnabled(!onServer);
    m_mainWindow->action(ID_LAB_SERVER_BACKUP)->setEnabled(onServer);
    m_backups->showState(false);
}

void Application::onRestoreFromCopy() {
    const QString file = m_database.databaseFile();
    if (file.isEmpty()) {
        labrosaMessageBox(QLatin1String(kMsgRestoreOnServer), m_mainWindow.get());
        return;
    }
    RestoreDialog dialog(m_backups->destination(), file, m_mainWindow.get());
    if (dialog.exec() == QDialog::Accepted && !dialog.chosenCopy().isEmpty())
        restoreFromCopy(dialog.chosenCopy());
}

void Application::onServerBackup() {
    const ConnectionString server = ConnectionString::parse(m_connection);
    const QString port = server.value(QStringLiteral("Port"));
    const QString user = server.value(QStringLiteral("User ID"));
    labrosaMessageBox(QString::fromLatin1(kMsgServerBackup)
                          .arg(server.value(QStringLiteral("Database")), server.value(QStringLiteral("Server")),
                               port.isEmpty() ? QStringLiteral("5432") : port,
                               user.isEmpty() ? QStringLiteral("<administratorul>") : user),
                      m_mainWindow.get());
}

bool Application::restoreFromCopy(const QString& copyFolder) {
    const QString file = m_database.databaseFile();
    if (file.isEmpty())
        return false;
    const QString shown = QDir::toNativeSeparators(copyFolder);
    // Checked before anything closes: a copy refused leaves the laboratory as it was.
    BackupManifest manifest;
    QString error;
    if (!DatabaseBackup::verify(copyFolder, &manifest, &error)) {
        labrosaMessageBox(QString::fromLatin1(kMsgRestoreRefused).arg(shown, error), m_mainWindow.get());
        return false;
    }
    closeLaboratoryWindows();
    const QString connection = m_connection;
    closeDatabase();
    clearReadOnlyState();
    RestoreResult result;
    const bool restored = DatabaseRestore::run(copyFolder, file, &result, &error);
    QString problem;
    if (!openDatabase(connection, &problem))
        return false;
    m_mainWindow->setProtectedFiles(programFiles());
    followLaboratoryWithBackups();
    showReadOnlyState();
    if (!m_sharedState.m_listTemplate->openDocumentFile(QString()))
        labrosaMessageBox(QLatin1String(kFailedEmptyDocument), m_mainWindow.get());
    onLaboratoryOpened();
    if (!restored) {
        labrosaMessageBox(error, m_mainWindow.get());
        return false;
    }
    const BackupManifest& held = result.manifest;
    const QString database = QDir::toNativeSeparators(file);
    labrosaMessageBox(result.setAside.isEmpty()
                          ? QString::fromLatin1(kMsgRestoredNoAside)
                                .arg(shown, database)
                                .arg(held.resultSets)
                                .arg(held.newestTransfer, held.madeBy)
                          : QString::fromLatin1(kMsgRestored)
                                .arg(shown, database)
                                .arg(held.resultSets)
                                .arg(held.newestTransfer, held.madeBy, QDir::toNativeSeparators(result.setAside)),
                      m_mainWindow.get());
    return true;
}
