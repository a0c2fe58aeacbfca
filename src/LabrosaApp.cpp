#include "LabrosaApp.h"

#include "AccessImportWindow.h"
#include "BackgroundTask.h"
#include "BackupSchedule.h"
#include "BulletinView.h"
#include "CommandIds.h"
#include "ConnectionString.h"
#include "CorrectionJournal.h"
#include "JournalProtection.h"
#include "LabHeaderDialog.h"
#include "LabSchemaCheck.h"
#include "LabSettingsFile.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "ResultsWindow.h"
#include "SchemaUpgrade.h"
#include "SignatoriesDialog.h"
#include "SqliteIntegrityCheck.h"
#include "UnmatchedResults.h"
#include "UnmatchedResultsWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QStatusBar>

namespace {

// How often the status bar reads the analysers' connections again.
constexpr int kAnalyserStatusMs = 10000;

const char* const kSettingsFile = "Labrosa.ini";
const char* const kMsgReadOnly = "Baza de date nu a trecut verificarea integritatii si programul o foloseste doar "
                                 "pentru citire; in ea nu se importa si nu se adauga nimic.";
const char* const kMsgJournalAdded = "Jurnalul corecturilor si arhiva buletinelor au fost adaugate in baza de date "
                                     "\"%1\"; de acum corecturile se inregistreaza in jurnal.";
const char* const kMsgJournalFailed = "Jurnalul corecturilor nu a putut fi adaugat; baza de date a ramas cum era.\n%1";
// %1 database, %2 server, %3 port, %4 the program's role.
const char* const kMsgJournalOnServer =
    "Baza de date \"%1\" de pe serverul %2 nu are jurnalul corecturilor si arhiva buletinelor. Programul nu schimba "
    "tabelele unui server: le adauga administratorul bazei de date (proprietarul tabelelor ei), de pe un calculator "
    "cu Labrosa, cu comanda:\n\n"
    "labrosa-dbtool --upgrade --program-role %4 \"Provider=PostgreSQL;Server=%2;Port=%3;Database=%1;User "
    "ID=<administratorul>\"\n\n"
    "(--program-role da rolului cu care lucreaza programul doar dreptul de a adauga si citi randuri in ele). Apoi "
    "alegeti din nou laboratorul din meniul Laborator sau porniti din nou programul.";
const char* const kMsgChooseBackupFolder =
    "Copiile de siguranta ale bazei de date se pun intr-un dosar ales o singura data. Cel mai bine pe alt disc "
    "decat cel al laboratorului (un disc extern sau un dosar partajat din retea): daca discul calculatorului se "
    "strica, o copie de pe acelasi disc se pierde odata cu baza de date.\nAlegeti dosarul; fara alegere, copiile "
    "raman in \"%1\".";
const char* const kMsgSettingsProblem = "Setarile copiilor din Labrosa.ini: %1";
const char* const kBackupFolderKey = "CopiiDosar";
const char* const kDefaultBackupFolder = "backup";

// False when the database must not be written: its integrity check failed (or is still to pass).
bool writable(DatabaseConnection& database) {
    const std::shared_ptr<SqliteIntegrityCheck> check = database.integrityCheck();
    return !check || check->wait();
}
} // namespace

LabrosaApp::LabrosaApp()
    : Application([](SharedState*) { return new BulletinView; },
                  [](SharedState* sharedState) { return new ResultsWindow(sharedState); }) {}

void LabrosaApp::onLaboratoryOpened() {
    MainWindow* frame = mainFrame();
    if (!frame)
        return;
    if (!m_labCommandsConnected) {
        m_labCommandsConnected = true;
        QObject::connect(frame->action(ID_LAB_HEADER), &QAction::triggered, frame, [this] { onLabHeader(); });
        QObject::connect(frame->action(ID_LAB_IMPORT_ACCESS), &QAction::triggered, frame, [this] { onImportAccess(); });
        QObject::connect(frame->action(ID_LAB_ADD_JOURNAL), &QAction::triggered, frame, [this] { onAddJournal(); });
        QObject::connect(frame->action(ID_LAB_SIGNATORIES), &QAction::triggered, frame, [this] { onSignatories(); });
        QObject::connect(frame->action(ID_LAB_BACKUP_NOW), &QAction::triggered, frame, [this] { onBackupNow(); });
        QObject::connect(frame->action(ID_LAB_UNMATCHED), &QAction::triggered, frame,
                         [this] { UnmatchedResultsWindow::showFor(&m_database, mainFrame()); });
    }
    // Offered only to a database that lacks them for certain (a question that failed is no answer).
    CorrectionJournal journal(&m_database);
    // A journal made before the signatories is completed by the same upgrade.
    QString error;
    const bool journalMissing = !journal.available() && journal.errorText().isEmpty();
    const bool signatoriesMissing =
        journal.available() && tableExists(&m_database, QStringLiteral("SIGNATORIES"), &error) == 0;
    // So is one made before validations were bound to their content (the change counters came with it).
    const bool countersMissing =
        journal.available() && tableExists(&m_database, QStringLiteral("CONTENT_REVISIONS"), &error) == 0;
    frame->action(ID_LAB_ADD_JOURNAL)->setEnabled(journalMissing || signatoriesMissing || countersMissing);
    showJournalProtection();
    if (!m_analyserStatusTimer.isActive()) {
        m_analyserStatusTimer.setInterval(kAnalyserStatusMs);
        QObject::connect(&m_analyserStatusTimer, &QTimer::timeout, [this] { showAnalyserStatus(); });
        m_analyserStatusTimer.start();
    }
    showAnalyserStatus();
}

void LabrosaApp::showAnalyserStatus() {
    MainWindow* frame = mainFrame();
    if (!frame)
        return;
    QStatusBar* bar = frame->statusBar();
    auto* label = bar->findChild<QLabel*>(QStringLiteral("analyserStatus"));
    UnmatchedResults queue(&m_database);
    std::vector<AnalyserStatus> analysers;
    std::vector<UnmatchedResult> waiting;
    QString text, tip;
    if (!queue.available() && queue.errorText().isEmpty()) {
        delete label; // a database that receives nothing from analysers
        return;
    }
    if (!queue.analysers(&analysers) || !queue.waiting(&waiting)) {
        text = QStringLiteral("Starea analizoarelor nu se poate citi");
        tip = queue.errorText();
    } else {
        if (analysers.empty() && waiting.empty()) {
            delete label;
            return;
        }
        QStringList parts, lines;
        for (const AnalyserStatus& a : analysers) {
            const QString name = a.analyserName.isEmpty() ? QString::number(a.machineId) : a.analyserName;
            parts << QStringLiteral("%1: %2").arg(name, a.state);
            QString line =
                QStringLiteral("%1 (%2): %3, %4 mesaje").arg(name).arg(a.machineId).arg(a.state).arg(a.messages);
            if (!a.lastMessageAt.isEmpty())
                line += QStringLiteral(", ultimul la %1").arg(a.lastMessageAt);
            if (!a.lastError.isEmpty())
                line += QStringLiteral("; ultima eroare la %1: %2").arg(a.lastErrorAt, a.lastError);
            lines << line;
        }
        if (!waiting.empty()) {
            parts << QStringLiteral("%1 rezultate nepotrivite").arg(waiting.size());
            lines << QStringLiteral("Laborator > Rezultate nepotrivite arata rezultatele care asteapta.");
        }
        text = QStringLiteral("Analizoare: ") + parts.join(QLatin1String("; "));
        tip = lines.join(QLatin1Char('\n'));
    }
    if (!label) {
        label = new QLabel(bar);
        label->setObjectName(QStringLiteral("analyserStatus"));
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        bar->addPermanentWidget(label, 1);
    }
    label->setText(text);
    label->setToolTip(tip);
}

void LabrosaApp::showJournalProtection() {
    const JournalProtection protection = JournalProtection::check(&m_database);
    const QString warning = protection.warning();
    QStatusBar* bar = mainFrame()->statusBar();
    auto* label = bar->findChild<QLabel*>(QStringLiteral("journalProtection"));
    if (warning.isEmpty()) {
        delete label;
        return;
    }
    if (!label) {
        // Kept in sight for as long as this database is open; it never widens the window.
        label = new QLabel(bar);
        label->setObjectName(QStringLiteral("journalProtection"));
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        bar->addPermanentWidget(label, 1);
    }
    label->setText(protection.shortWarning());
    label->setToolTip(warning);
    m_database.writeLog(warning);
}

BackupSettings LabrosaApp::backupSettings() {
    LabSettingsFile ini;
    QString problem;
    if (!ini.load(QDir::current().absoluteFilePath(QLatin1String(kSettingsFile)), &problem)) {
        m_database.writeLog(QString::fromLatin1(kMsgSettingsProblem).arg(problem));
        return BackupSettings();
    }
    const BackupSettings settings =
        BackupSettings::fromValues([&ini](const QString& key) { return ini.value(key); }, &problem);
    if (!problem.isEmpty())
        m_database.writeLog(QString::fromLatin1(kMsgSettingsProblem).arg(problem));
    return settings;
}

void LabrosaApp::onBackupNow() {
    const QString path = QDir::current().absoluteFilePath(QLatin1String(kSettingsFile));
    LabSettingsFile ini;
    QString problem;
    if (!m_database.databaseFile().isEmpty() && ini.load(path, &problem) &&
        ini.value(QLatin1String(kBackupFolderKey)).isEmpty()) {
        const QString standard = QDir::current().absoluteFilePath(QLatin1String(kDefaultBackupFolder));
        labrosaMessageBox(QString::fromLatin1(kMsgChooseBackupFolder).arg(QDir::toNativeSeparators(standard)),
                          mainFrame());
        const QString chosen =
            QFileDialog::getExistingDirectory(mainFrame(), QStringLiteral("Dosarul copiilor"), QDir::currentPath());
        // Asked once: no choice keeps the laboratory's own folder, written so.
        if (!ini.setValue(QLatin1String(kBackupFolderKey),
                          chosen.isEmpty() ? QString::fromLatin1(kDefaultBackupFolder) : chosen, &problem) ||
            !ini.save(path, &problem))
            labrosaMessageBox(problem, mainFrame());
        backupSchedule()->setLaboratory(connectionString(), QDir::currentPath(), backupSettings());
    }
    backupSchedule()->copyNow();
}

void LabrosaApp::onLabHeader() {
    LabHeaderDialog dialog(QDir::current().absoluteFilePath(QLatin1String(kSettingsFile)), mainFrame());
    dialog.exec();
}

void LabrosaApp::onSignatories() {
    SignatoriesDialog::showFor(&m_database, connectionString(), writable(m_database), mainFrame());
}

void LabrosaApp::onImportAccess() {
    if (!writable(m_database)) {
        labrosaMessageBox(QLatin1String(kMsgReadOnly), mainFrame());
        return;
    }
    AccessImportWindow window(connectionString(), mainFrame());
    window.exec();
}

void LabrosaApp::onAddJournal() {
    const QString file = m_database.databaseFile();
    if (file.isEmpty()) {
        // The server as the connection names it, whichever way it was chosen.
        const ConnectionString server = ConnectionString::parse(connectionString());
        const QString port = server.value(QStringLiteral("Port"));
        const QString user = server.value(QStringLiteral("User ID"));
        labrosaMessageBox(QString::fromLatin1(kMsgJournalOnServer)
                              .arg(server.value(QStringLiteral("Database")), server.value(QStringLiteral("Server")),
                                   port.isEmpty() ? QStringLiteral("5432") : port,
                                   user.isEmpty() ? QStringLiteral("<rolul programului>") : user),
                          mainFrame());
        return;
    }
    if (!writable(m_database)) {
        labrosaMessageBox(QLatin1String(kMsgReadOnly), mainFrame());
        return;
    }
    // The schema's own upgrade, on a connection of its own: one transaction, which adds what is
    // missing or nothing.
    SchemaUpgrade upgrade;
    bool upgraded = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    BackgroundTask::runAndWait([&upgrade, &upgraded, &file] { upgraded = upgrade.upgradeSqlite(file); });
    QApplication::restoreOverrideCursor();
    if (!upgraded) {
        labrosaMessageBox(QString::fromLatin1(kMsgJournalFailed).arg(upgrade.error()), mainFrame());
        return;
    }
    labrosaMessageBox(QString::fromLatin1(kMsgJournalAdded).arg(QDir::toNativeSeparators(file)), mainFrame());
    // The results windows learnt at their start that there was no journal.
    reopenWindows();
}
