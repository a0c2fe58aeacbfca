#include "CTervanaApp.h"

#include "CAboutDlg.h"
#include "CChildFrame.h"
#include "CDocTemplate.h"
#include "CMainFrame.h"
#include "CNewTypeDlg.h"
#include "CTervanaDoc.h"
#include "ConnectionString.h"
#include "DiskSpace.h"
#include "FirstStartDialog.h"
#include "LabFolder.h"
#include "LabSchemaCheck.h"
#include "MessageBox.h"
#include "PrintSetup.h"
#include "Resource.h"
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

namespace {
const char* const kSettingsKey = "Local AppWizard-Generated Applications";
const char* const kAppName = "Labrosa";
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
    "Ce puteti face: inchideti programul si puneti in locul ei o copie de siguranta buna. Ce se mai poate citi din ea "
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

// The program runs unattended (scripts, tests of the executable): no dialog may wait for a person.
bool Unattended() {
    return qEnvironmentVariableIntValue("LABROSA_NO_MODAL_MESSAGES") == 1;
}

// A SQLite connection naming a relative file, made absolute against folder, so that moving
// into the laboratory folder does not change which file it means.
QString AnchoredConnection(const QString& connection, const QString& folder) {
    const ConnectionString parsed = ConnectionString::parse(connection);
    const QString file = parsed.sqliteFile();
    if (!parsed.isSQLite() || file.isEmpty() || QFileInfo(file).isAbsolute())
        return connection;
    return QStringLiteral("Provider=%1;Data Source=%2")
        .arg(parsed.provider(), LabFolder::QuotedValue(QDir(folder).absoluteFilePath(file)));
}

// What a person is told of a database that failed its integrity check.
QString IntegrityMessage(const SqliteIntegrityCheck& check) {
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

CTervanaApp::CTervanaApp(ViewFactory bulletinView, ViewFactory listView)
    : m_bulletinView(std::move(bulletinView)), m_listView(std::move(listView)) {}

CTervanaApp::~CTervanaApp() {
    // A file not known to be sound is left as it is, -wal and all. A check still running is
    // stopped before the object its news go to.
    if (const std::shared_ptr<SqliteIntegrityCheck> check = m_database.integrityCheck(); check && !check->Passed())
        SqliteIntegrityCheck::KeepWalOnClose(m_database.connection());
    m_database.SetIntegrityCheck(nullptr);
    // The windows go first: their views still use the connection and the shared state.
    m_pMainFrame.reset();
    SetCurrentPrinter(nullptr);
    SetUtilMessageHandler(nullptr);
}

QString CTervanaApp::ConnectionStringFrom(const QStringList& arguments) {
    const QString named = NamedConnectionString(arguments);
    return named.isEmpty() ? QLatin1String(kDefaultConnection) : named;
}

QString CTervanaApp::NamedConnectionString(const QStringList& arguments) {
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

bool CTervanaApp::InitInstance(const QStringList& arguments) {
    QCoreApplication::setOrganizationName(QLatin1String(kSettingsKey));
    QCoreApplication::setApplicationName(QLatin1String(kAppName));
    m_recentFiles.Load();
    SetUtilMessageHandler([](const std::string& text) { LabrosaMessageBox(QString::fromStdString(text)); });

    if (!OpenLaboratory(arguments))
        return false;
    m_structura.m_pDatabase = &m_database;

    m_structura.m_pBulletinTemplate = AddDocTemplate(
        std::make_unique<CDocTemplate>(IDR_TERVANTYPE, QString::fromUtf8(kBulletinDocString), [this](CTervanaDoc*) {
            return m_bulletinView ? m_bulletinView(&m_structura) : nullptr;
        }));
    m_structura.m_pListTemplate = AddDocTemplate(
        std::make_unique<CDocTemplate>(IDR_LISTTYPE, QString::fromUtf8(kListDocString), [this](CTervanaDoc*) {
            return m_listView ? m_listView(&m_structura) : nullptr;
        }));

    m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    SetCurrentPrinter(m_printer.get());

    m_pMainFrame = std::make_unique<CMainFrame>(&m_recentFiles);
    m_pMainFrame->SetProtectedFiles(ProgramFiles());
    ShowReadOnlyState();
    for (const auto& docTemplate : m_templates)
        docTemplate->setMainFrame(m_pMainFrame.get());
    CMainFrame* frame = m_pMainFrame.get();
    QObject::connect(frame->action(ID_FILE_NEW), &QAction::triggered, frame, [this] { OnFileNew(); });
    QObject::connect(frame->action(ID_FILE_OPEN), &QAction::triggered, frame, [this] { OnFileOpen(); });
    QObject::connect(frame->action(ID_FILE_PRINT_SETUP), &QAction::triggered, frame, [this] { OnFilePrintSetup(); });
    QObject::connect(frame->action(ID_APP_ABOUT), &QAction::triggered, frame, [this] { OnAppAbout(); });
    QObject::connect(frame, &CMainFrame::recentFileChosen, frame,
                     [this](const QString& path) { OpenDocumentFile(path); });

    if (!m_structura.m_pListTemplate->OpenDocumentFile(QString()))
        LabrosaMessageBox(QLatin1String(kFailedEmptyDocument), frame);

    frame->show();
    frame->update();
    return true;
}

bool CTervanaApp::OpenDatabase(const QString& connection, QString* problem) {
    // The log goes beside the laboratory's other files, in the current directory.
    m_database.SetLogFile(QLatin1String(kLogFile));
    // Made before the open, which applies a -wal or -journal lying beside the file.
    std::shared_ptr<SqliteIntegrityCheck> check = SqliteIntegrityCheck::ForConnection(connection);
    if (!m_database.Open(connection)) {
        // SQLite names a full disk only as "disk I/O error" when its shared-memory file cannot grow.
        const QString file = m_database.databaseFile();
        const QString disk = QFileInfo(file).isFile() ? FullDiskOf(file) : QString();
        *problem = disk.isEmpty()
                       ? QString::fromLatin1(kMsgDatabaseNotOpened).arg(DatabaseLabel(), m_database.ErrorText())
                       : QString::fromLatin1(kMsgDiskFull).arg(DatabaseLabel(), disk, m_database.ErrorText());
        LabrosaMessageBox(*problem);
        return false;
    }
    const LabSchemaCheck schema = LabSchemaCheck::Run(&m_database);
    if (!schema.ok) {
        *problem = QString::fromLatin1(kMsgNotLabDatabase).arg(DatabaseLabel(), schema.object, schema.reason);
        m_database.Close();
        LabrosaMessageBox(*problem);
        return false;
    }
    if (check)
        StartIntegrityCheck(std::move(check));
    return true;
}

void CTervanaApp::StartIntegrityCheck(std::shared_ptr<SqliteIntegrityCheck> check) {
    if (!m_integrityNews)
        m_integrityNews = std::make_unique<QObject>();
    QObject* news = m_integrityNews.get();
    m_database.SetIntegrityCheck(check);
    check->Start([this, news] {
        QMetaObject::invokeMethod(
            news, [this] { OnIntegrityChecked(); }, Qt::QueuedConnection);
    });
}

void CTervanaApp::OnIntegrityChecked() {
    const std::shared_ptr<SqliteIntegrityCheck> check = m_database.integrityCheck();
    if (!check || check->Wait())
        return;
    SqliteIntegrityCheck::KeepWalOnClose(m_database.connection());
    m_database.WriteLog(QStringLiteral("SqliteIntegrityCheck\n") + check->RefusalText());
    ShowReadOnlyState();
    LabrosaMessageBox(IntegrityMessage(*check), m_pMainFrame.get());
}

void CTervanaApp::ShowReadOnlyState() {
    const std::shared_ptr<SqliteIntegrityCheck> check = m_database.integrityCheck();
    if (!m_pMainFrame || !check || !check->Failed())
        return;
    QStatusBar* bar = m_pMainFrame->statusBar();
    const QString text = QString::fromLatin1(
        check->state() == SqliteIntegrityCheck::State::Damaged ? kStatusDamaged : kStatusNotChecked);
    bar->showMessage(text);
    if (bar->findChild<QLabel*>(QStringLiteral("readOnlyState")))
        return;
    // Kept in sight for as long as the program runs, whatever the message pane shows meanwhile.
    auto* label = new QLabel(text, bar);
    label->setObjectName(QStringLiteral("readOnlyState"));
    bar->insertPermanentWidget(0, label);
}

bool CTervanaApp::OpenLaboratory(const QStringList& arguments) {
    const QString startFolder = QDir::currentPath();
    const QString labFolder = LabFolder::FromArguments(arguments);
    QString problem;

    // A database named on the command line or in the environment is used as it is, as before;
    // --lab-dir beside it only says where the laboratory's other files are.
    const QString named = NamedConnectionString(arguments);
    if (!named.isEmpty()) {
        const QString connection = labFolder.isEmpty() ? named : AnchoredConnection(named, startFolder);
        if (!labFolder.isEmpty() && !QDir::setCurrent(labFolder)) {
            LabrosaMessageBox(QString::fromLatin1(kMsgCannotEnter).arg(QDir::toNativeSeparators(labFolder)));
            return false;
        }
        return OpenDatabase(connection, &problem);
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
        candidate = LabFolder::Remembered();
        if (candidate.isEmpty() && Unattended()) {
            candidate.folder = startFolder;
            currentFolder = true;
        }
    }
    QString explanation = candidate.isEmpty()
                              ? QString::fromLatin1(kMsgNoLabFolder).arg(QDir::toNativeSeparators(startFolder))
                              : QString();

    for (;;) {
        if (!candidate.isEmpty()) {
            problem = currentFolder ? QString() : LabFolder::Problem(candidate);
            if (problem.isEmpty() && !QDir::setCurrent(candidate.folder))
                problem = QString::fromLatin1(kMsgCannotEnter).arg(QDir::toNativeSeparators(candidate.folder));
            if (!problem.isEmpty())
                LabrosaMessageBox(problem);
            else if (OpenDatabase(currentFolder ? QString::fromLatin1(kDefaultConnection)
                                                : LabFolder::ConnectionFor(candidate),
                                  &problem))
                break;
            // Unattended, a database that cannot be used ends the program, as it always did.
            if (Unattended()) {
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
        LabFolder::Remember(candidate);
    return true;
}

QString CTervanaApp::DatabaseLabel() const {
    const QString file = m_database.databaseFile();
    if (!file.isEmpty())
        return QStringLiteral(" \"%1\"").arg(QDir::toNativeSeparators(file));
    if (m_database.szDatabase.isEmpty())
        return QString();
    if (m_database.szServer.isEmpty())
        return QStringLiteral(" \"%1\"").arg(m_database.szDatabase);
    return QStringLiteral(" \"%1\" de pe serverul %2").arg(m_database.szDatabase, m_database.szServer);
}

QStringList CTervanaApp::ProgramFiles() const {
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

CDocTemplate* CTervanaApp::AddDocTemplate(std::unique_ptr<CDocTemplate> docTemplate) {
    m_templates.push_back(std::move(docTemplate));
    return m_templates.back().get();
}

CChildFrame* CTervanaApp::OpenNewDocument(std::size_t templateIndex) {
    if (templateIndex >= m_templates.size())
        return nullptr;
    CChildFrame* frame = m_templates[templateIndex]->OpenDocumentFile(QString());
    if (!frame)
        LabrosaMessageBox(QLatin1String(kFailedEmptyDocument), m_pMainFrame.get());
    return frame;
}

void CTervanaApp::OnFileNew() {
    if (m_templates.empty())
        return;
    std::size_t chosen = 0;
    if (m_templates.size() > 1) {
        QStringList names;
        for (const auto& docTemplate : m_templates)
            names << docTemplate->newFileName();
        CNewTypeDlg dialog(names, m_pMainFrame.get());
        if (dialog.exec() != QDialog::Accepted || dialog.selectedIndex() < 0)
            return;
        chosen = static_cast<std::size_t>(dialog.selectedIndex());
    }
    OpenNewDocument(chosen);
}

void CTervanaApp::OnFileOpen() {
    const QString path = QFileDialog::getOpenFileName(m_pMainFrame.get(), QStringLiteral("Open"), QString(),
                                                      QStringLiteral("All Files (*)"));
    if (!path.isEmpty())
        OpenDocumentFile(path);
}

CChildFrame* CTervanaApp::OpenDocumentFile(const QString& path) {
    if (m_templates.empty() || !m_pMainFrame)
        return nullptr;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (CChildFrame* frame : m_pMainFrame->childFrames()) {
        if (frame->document()->pathName() == absolute) {
            m_pMainFrame->mdiArea()->setActiveSubWindow(frame);
            m_recentFiles.Add(absolute);
            return frame;
        }
    }
    if (!QFileInfo::exists(absolute)) {
        // A recent-file entry whose file has gone: say so and drop the entry.
        LabrosaMessageBox(QStringLiteral("The file %1 cannot be found.").arg(QDir::toNativeSeparators(absolute)),
                          m_pMainFrame.get());
        m_recentFiles.Remove(absolute);
        return nullptr;
    }
    // No template claims a file extension, so the first registered one takes every file.
    CChildFrame* frame = m_templates.front()->OpenDocumentFile(absolute);
    if (frame)
        m_recentFiles.Add(absolute);
    return frame;
}

void CTervanaApp::OnFilePrintSetup() {
    if (!m_printer)
        return;
    QPageSetupDialog dialog(m_printer.get(), m_pMainFrame.get());
    dialog.exec();
}

void CTervanaApp::OnAppAbout() {
    CAboutDlg dialog(m_pMainFrame.get());
    dialog.exec();
}
