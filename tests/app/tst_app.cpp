#include "AppTestMain.h"

#include "BackupSet.h"
#include "BrokenFiles.h"
#include "BulletinView.h"
#include "ChildWindow.h"
#include "CommandIds.h"
#include "ConnectionString.h"
#include "CorrectionJournal.h"
#include "DatabaseConnection.h"
#include "DbLab.h"
#include "DesktopIntegration.h"
#include "DocumentTemplate.h"
#include "EditableListView.h"
#include "FirstStartDialog.h"
#include "LabFolder.h"
#include "LabrosaApp.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "Recordset.h"
#include "ResultsWindow.h"
#include "SettingsLocation.h"
#include "SqliteIntegrityCheck.h"
#include "TestLab.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <memory>

#include <unistd.h>

namespace {

int countOf(const QString& text, const QString& what) {
    return text.count(what);
}

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The bytes of a file, or "missing".
QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

QString pageText(QWebEngineView* web) {
    QString text;
    bool done = false;
    web->page()->toPlainText([&](const QString& result) {
        text = result;
        done = true;
    });
    return QTest::qWaitFor([&done] { return done; }, 10000) ? text : QString();
}

// Answers the next modal dialog once it is up.
void whenModal(std::function<void(QWidget*)> answer) {
    QTimer::singleShot(0, [answer] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        answer(QApplication::activeModalWidget());
    });
}

// A laboratory folder apart from the current directory: a demo database of the last month made by
// the tool, and a Labrosa.ini naming the laboratory by the folder's own name.
bool makeLabFolder(const QString& folder, const QByteArray& labName) {
    QProcess tool;
    tool.start(QString::fromLocal8Bit(qgetenv("LABROSA_DBTOOL")),
               {"--demo", "--seed", "3", "--results", "60", "--months", "1", "--end-date",
                QDate::currentDate().toString(Qt::ISODate), QDir(folder).filePath("lab.db")});
    if (!tool.waitForFinished(120000) || tool.exitCode() != 0)
        return false;
    QFile ini(QDir(folder).filePath("Labrosa.ini"));
    return ini.open(QIODevice::WriteOnly) && ini.write("NumeLaborator=" + labName + "\n") > 0;
}

// Opens the bulletin of the first listed row and answers its page text.
QString firstBulletinText(Application& app) {
    ChildWindow* results = app.mainFrame()->childFrames().value(0);
    auto* explorer = results ? qobject_cast<ResultsWindow*>(results->view()) : nullptr;
    if (!explorer || explorer->resultList()->getItemCount() == 0)
        return QString();
    EditableListView* list = explorer->resultList();
    list->setCurrentIndex(list->model()->index(0, 0));
    list->selectionModel()->select(list->currentIndex(),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    explorer->onListDoubleClick();
    ChildWindow* window = app.mainFrame()->activeChild();
    auto* view = window ? qobject_cast<BulletinView*>(window->view()) : nullptr;
    if (!view)
        return QString();
    QSignalSpy loaded(view->webView(), &QWebEngineView::loadFinished);
    if (!QTest::qWaitFor([&] { return !loaded.isEmpty(); }, 30000))
        return QString();
    return pageText(view->webView());
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT

private:
    QStringList m_messages;

private slots:
    void initTestCase() {
        // The settings go to this process's own folder (XDG_CONFIG_HOME, see AppTestMain.h), under
        // the program's names, and each test clears them.
        QCoreApplication::setOrganizationName(QStringLiteral("labrosa"));
        QCoreApplication::setApplicationName(QStringLiteral("Labrosa"));
    }

    void init() {
        m_messages.clear();
        setMessageBoxHook([this](const QString& text) { m_messages << text; });
        qunsetenv("LABROSA_DATABASE");
        QSettings().clear();
    }
    void cleanup() { setMessageBoxHook(nullptr); }

    void connectionStringChoice_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("expected");
        const QString pg = QStringLiteral("Provider=PostgreSQL;Server=db;Database=lab");
        QTest::newRow("default") << QStringList{"labrosa"} << QString() << "Provider=SQLite;Data Source=lab.db";
        QTest::newRow("environment") << QStringList{"labrosa"} << pg << pg;
        QTest::newRow("option wins") << QStringList{"labrosa", "--database", "Provider=SQLite;Data Source=x.db"} << pg
                                     << "Provider=SQLite;Data Source=x.db";
        QTest::newRow("option with =") << QStringList{"labrosa", "--database=" + pg} << QString() << pg;
        QTest::newRow("option without value")
            << QStringList{"labrosa", "--database"} << QString() << "Provider=SQLite;Data Source=lab.db";
    }

    void connectionStringChoice() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, environment);
        QFETCH(QString, expected);
        if (!environment.isEmpty())
            qputenv("LABROSA_DATABASE", environment.toUtf8());
        QCOMPARE(Application::connectionStringFrom(arguments), expected);
        qunsetenv("LABROSA_DATABASE");
    }

    void startsWithOneResultsWindow() {
        TestLab lab;
        QVERIFY(lab.createDemo(40));
        // A receiver is connected to the first analyser.
        QVERIFY(QSqlQuery(lab.admin())
                    .exec("INSERT INTO RECEIVER_STATUS (MachineID, state, messages, updatedAt) "
                          "VALUES (1, 'conectat', 3, '2026-12-09 10:00:00')"));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        QVERIFY(m_messages.isEmpty());
        MainWindow* frame = app.mainFrame();
        QVERIFY(frame && frame->isVisible());
        QCOMPARE(app.m_sharedState.m_database, &app.m_database);
        QVERIFY(app.m_sharedState.m_bulletinTemplate && app.m_sharedState.m_listTemplate);
        QCOMPARE(app.templates().size(), std::size_t(2));
        QCOMPARE(app.templates().at(0)->resourceId(), int(IDR_BULLETINTYPE));
        QCOMPARE(app.templates().at(1).get(), app.m_sharedState.m_listTemplate);

        const QList<ChildWindow*> children = frame->childFrames();
        QCOMPARE(children.size(), 1);
        QCOMPARE(children.first()->windowTitle(), QStringLiteral("Lista Rezultate1"));
        QVERIFY(qobject_cast<ResultsWindow*>(children.first()->view()));
        QCOMPARE(frame->windowTitle(), QStringLiteral("Labrosa - Lista Rezultate1"));
        QCOMPARE(frame->currentMenuId(), int(IDR_MAINFRAME));
        QCOMPARE(frame->statusBar()->currentMessage(), QStringLiteral("Ready"));
        // The tool's database keeps its journal: nothing to warn of.
        QVERIFY(!frame->statusBar()->findChild<QLabel*>(QStringLiteral("journalProtection")));
        auto* analysers = frame->statusBar()->findChild<QLabel*>(QStringLiteral("analyserStatus"));
        QVERIFY(analysers);
        QCOMPARE(analysers->text(), QStringLiteral("Analizoare: Hemoleucograma: conectat"));
        QVERIFY(!frame->action(ID_FILE_PRINT)->isEnabled());
        QCOMPARE(QSettings().fileName(), qEnvironmentVariable("XDG_CONFIG_HOME") + "/labrosa/Labrosa.conf");
    }

    // Qt's own dialogs (print, file, colour) speak the desktop's language where Qt has it.
    void qtDialogsInTheDesktopsLanguage() {
        const QLocale german(QLocale::German, QLocale::Germany);
        if (!QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_de.qm"))
            QSKIP("Qt's translations (qt6-translations-l10n) are not installed");
        QTranslator* translator = DesktopIntegration::loadQtTranslations(german);
        QVERIFY(translator);
        const auto remove = qScopeGuard([translator] { delete translator; });
        QCOMPARE(QCoreApplication::translate("QPrintDialog", "Print"), QString("Drucken"));
    }

    // The settings of earlier versions are moved once to ~/.config/labrosa; a file already
    // there wins, and a move that cannot be made leaves them where they were, still in use.
    void settingsMovedOnce_data() {
        QTest::addColumn<QString>("before"); // what the new place holds: "nothing", "file", "blocked"
        QTest::addColumn<QString>("read");   // the remembered folder read afterwards
        QTest::addColumn<bool>("oldKept");
        QTest::addColumn<QString>("organization");
        QTest::newRow("moved") << "nothing"
                               << "/lab/vechi" << false << "labrosa";
        QTest::newRow("new file wins") << "file"
                                       << "/lab/nou" << true << "labrosa";
        QTest::newRow("new place not writable") << "blocked"
                                                << "/lab/vechi" << true << "Local AppWizard-Generated Applications";
    }
    void settingsMovedOnce() {
        QFETCH(QString, before);
        QFETCH(QString, read);
        QFETCH(bool, oldKept);
        QFETCH(QString, organization);
        QTemporaryDir config;
        const QString oldFile = config.filePath("Local AppWizard-Generated Applications/Labrosa.conf");
        const QString newFile = config.filePath("labrosa/Labrosa.conf");
        {
            QSettings old(oldFile, QSettings::IniFormat);
            old.setValue("LabFolder/Path", "/lab/vechi");
            old.setValue("Recent File List/File1", "/lab/vechi/buletin.html");
        }
        if (before == "file") {
            QSettings(newFile, QSettings::IniFormat).setValue("LabFolder/Path", "/lab/nou");
        } else if (before == "blocked") {
            QFile blocker(config.filePath("labrosa"));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        const QByteArray home = qgetenv("XDG_CONFIG_HOME");
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_CONFIG_HOME", home);
            QCoreApplication::setOrganizationName(QStringLiteral("labrosa"));
        });
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        for (int start = 0; start < 2; ++start) {
            SettingsLocation::use();
            QCOMPARE(QCoreApplication::organizationName(), organization);
            QCOMPARE(QFileInfo::exists(oldFile), oldKept);
            const QString in = organization == "labrosa" ? newFile : oldFile;
            QCOMPARE(QSettings(in, QSettings::IniFormat).value("LabFolder/Path").toString(), read);
            if (before == "nothing")
                QCOMPARE(QSettings(in, QSettings::IniFormat).value("Recent File List/File1").toString(),
                         QString("/lab/vechi/buletin.html"));
        }
        QCOMPARE(QFileInfo::exists(config.filePath("Local AppWizard-Generated Applications")), oldKept);
    }

    // A database made before the correction journal: the program works and says so once.
    void databaseWithoutJournalSaysSo() {
        TestLab lab;
        QVERIFY(lab.createDemo(40));
        QVERIFY(lab.exec("DROP TABLE CORRECTION_JOURNAL"));
        QVERIFY(lab.exec("DROP TABLE BULLETIN_ARCHIVE"));
        QVERIFY(lab.exec("DROP TABLE SIGNATORIES"));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        QVERIFY(m_messages.isEmpty());
        // Without the table no signatory can be kept: the menu says to add the journal first.
        app.mainFrame()->action(ID_LAB_SIGNATORIES)->trigger();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.takeFirst().contains("Adauga jurnalul corecturilor"), "no table, no hint");
        QVERIFY2(app.mainFrame()->statusBar()->currentMessage().contains("jurnal"),
                 qPrintable(app.mainFrame()->statusBar()->currentMessage()));

        // The Laborator menu offers to add them, does it with the schema's own upgrade, and
        // the results window opened anew journals corrections.
        QAction* addJournal = app.mainFrame()->action(ID_LAB_ADD_JOURNAL);
        QVERIFY(addJournal->isEnabled());
        addJournal->trigger();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().contains("au fost adaugate"), qPrintable(m_messages.first()));
        QCOMPARE(lab.scalar("SELECT COUNT(*) FROM CORRECTION_JOURNAL").toInt(), 0);
        QCOMPARE(lab.scalar("SELECT COUNT(*) FROM RESULTS").toInt(), 40);
        QCOMPARE(lab.scalar("SELECT COUNT(*) FROM SIGNATORIES").toInt(), 0);
        QVERIFY(!addJournal->isEnabled());
        QCOMPARE(app.mainFrame()->childFrames().size(), 1);
        QVERIFY(!app.mainFrame()->statusBar()->currentMessage().contains("jurnal"));
    }

    // On a server the program alters no table: the menu says who adds the journal, and how.
    void journalOnServerIsLeftToItsAdministrator() {
        const QString server = DbLab::pgConnectionString();
        if (server.isEmpty())
            QSKIP("LABROSA_TEST_PG names no PostgreSQL test server");
        DbLab lab(DbLab::Backend::PostgreSQL);
        QVERIFY(lab.createDemo(30));
        QVERIFY(lab.exec("DROP TABLE CORRECTION_JOURNAL"));
        QVERIFY(lab.exec("DROP TABLE BULLETIN_ARCHIVE"));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa", "--database", server}));
        QAction* addJournal = app.mainFrame()->action(ID_LAB_ADD_JOURNAL);
        QVERIFY(addJournal->isEnabled());
        addJournal->trigger();
        QCOMPARE(m_messages.size(), 1);
        const ConnectionString cs = ConnectionString::parse(server);
        const QString command =
            QStringLiteral("labrosa-dbtool --upgrade --program-role %1 \"Provider=PostgreSQL;Server=%2;"
                           "Port=%3;Database=%4;User ID=<administratorul>\"")
                .arg(cs.value("User ID"), cs.value("Server"), cs.value("Port"), cs.value("Database"));
        QVERIFY2(m_messages.first().contains(command), qPrintable(m_messages.first()));
        QVERIFY(!lab.scalar("SELECT to_regclass('correction_journal') IS NOT NULL").toBool());
    }

    // Laborator, Semnatari: a signatory added and made inactive through the dialog is in the table
    // as typed; a name left empty adds nothing. On a server the program changes nothing and names
    // the administrator's command instead.
    void signatoriesFromLaboratorMenu_data() {
        QTest::addColumn<bool>("onServer");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }

    void signatoriesFromLaboratorMenu() {
        QFETCH(bool, onServer);
        if (onServer && DbLab::pgConnectionString().isEmpty())
            QSKIP("LABROSA_TEST_PG names no PostgreSQL test server");
        DbLab lab(onServer ? DbLab::Backend::PostgreSQL : DbLab::Backend::SQLite);
        QVERIFY(lab.createDemo(20));
        if (onServer)
            QVERIFY(lab.exec("INSERT INTO SIGNATORIES (userName, fullName, title, active) VALUES ('ion', 'Ion Pop', "
                             "'Dr.', 1)"));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa", "--database", lab.connectionString()}));
        QString prefilledLogin, shownActive;
        QStringList messagesInAdd;
        whenModal([&](QWidget* dialog) {
            auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("signatoryTable"));
            if (!onServer) {
                // First with the name left empty: refused, nothing added; then as it should be.
                whenModal([&](QWidget* add) {
                    prefilledLogin = add->findChild<QLineEdit*>(QStringLiteral("editLogin"))->text();
                    QTest::keyClicks(add->findChild<QLineEdit*>(QStringLiteral("editTitle")), "Dr. med. vet.");
                    QTest::keyClick(add->windowHandle(), Qt::Key_Return);
                    messagesInAdd = m_messages;
                    QTest::keyClicks(add->findChild<QLineEdit*>(QStringLiteral("editFullName")), "  Ana Maria Pop ");
                    QTest::keyClick(add->windowHandle(), Qt::Key_Return);
                });
            } else {
                // Were the program to ask for a new signatory on a server, the question is cancelled.
                QTimer::singleShot(0, [] {
                    if (auto* add = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                        add && add->objectName() == QLatin1String("signatoryAddDialog"))
                        add->reject();
                });
            }
            dialog->findChild<QPushButton*>(QStringLiteral("buttonAdd"))->click();
            QVERIFY(table->currentRow() >= 0);
            dialog->findChild<QPushButton*>(QStringLiteral("buttonDeactivate"))->click();
            shownActive = table->item(table->currentRow(), 3)->text();
            QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
        });
        app.mainFrame()->action(ID_LAB_SIGNATORIES)->trigger();
        QVERIFY(!QApplication::activeModalWidget());

        QSqlQuery rows(lab.admin());
        QVERIFY(rows.exec("SELECT userName, fullName, title, active FROM SIGNATORIES"));
        QStringList stored;
        while (rows.next())
            stored << QStringList{rows.value(0).toString(), rows.value(1).toString(), rows.value(2).toString(),
                                  rows.value(3).toString()}
                          .join('|');
        if (!onServer) {
            QCOMPARE(prefilledLogin, CorrectionJournal::currentUser());
            QCOMPARE(messagesInAdd.size(), 1);
            QVERIFY2(messagesInAdd.first().contains("nu a fost adaugat"), qPrintable(messagesInAdd.first()));
            QCOMPARE(stored, QStringList{prefilledLogin + "|Ana Maria Pop|Dr. med. vet.|0"});
            QCOMPARE(shownActive, QStringLiteral("nu"));
            QCOMPARE(m_messages.size(), 1);
            return;
        }
        QCOMPARE(stored, QStringList{"ion|Ion Pop|Dr.|1"});
        QCOMPARE(shownActive, QStringLiteral("da"));
        const ConnectionString cs = ConnectionString::parse(lab.connectionString());
        const QString target = QStringLiteral("\"Provider=PostgreSQL;Server=%1;Port=%2;Database=%3;User "
                                              "ID=<administratorul>\"")
                                   .arg(cs.value("Server"), cs.value("Port"), cs.value("Database"));
        QCOMPARE(m_messages.size(), 2);
        QVERIFY2(m_messages.at(0).contains("labrosa-dbtool --signatory add LOGIN \"NUME\" \"TITLU\" " + target),
                 qPrintable(m_messages.at(0)));
        QVERIFY2(m_messages.at(1).contains("labrosa-dbtool --signatory remove ion " + target),
                 qPrintable(m_messages.at(1)));
    }

    // Change laboratory: the first-start dialog filled with the laboratory open now; the one
    // chosen opens in the same program, its results window searching its own database and its
    // bulletins taking its own header.
    void changeLaboratoryWithoutRestart() {
        TestLab first;
        QVERIFY(makeLabFolder(first.path(), "Laboratorul Unu"));
        QTemporaryDir second;
        QVERIFY(makeLabFolder(second.path(), "Laboratorul Doi"));
        {
            // A connection of the test's own to the second database.
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "second-lab");
            db.setDatabaseName(QDir(second.path()).filePath("lab.db"));
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec("UPDATE RESULTS SET PacientName = 'Pacienta Din Doi'"));
            db.close();
        }
        QSqlDatabase::removeDatabase("second-lab");
        QDir::setCurrent(first.path());

        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        QVERIFY(firstBulletinText(app).contains("Laboratorul Unu"));
        QCOMPARE(app.mainFrame()->childFrames().size(), 2);
        QString shownFolder;
        whenModal([&](QWidget* dialog) {
            auto* folder = dialog->findChild<QLineEdit*>(QStringLiteral("editFolder"));
            shownFolder = folder->text();
            folder->selectAll();
            QTest::keyClicks(folder, QDir::toNativeSeparators(second.path()));
            QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);
        });
        app.mainFrame()->action(ID_LAB_CHANGE)->trigger();
        QCOMPARE(QDir(QDir::fromNativeSeparators(shownFolder)).canonicalPath(), QDir(first.path()).canonicalPath());
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        QCOMPARE(app.m_database.databaseFile(), QDir(second.path()).filePath("lab.db"));
        QCOMPARE(QDir(QDir::currentPath()).canonicalPath(), QDir(second.path()).canonicalPath());
        // The first laboratory's windows are gone; one results window of the second is open.
        QCOMPARE(app.mainFrame()->childFrames().size(), 1);
        const QString bulletin = firstBulletinText(app);
        QVERIFY2(bulletin.contains("Laboratorul Doi") && bulletin.contains("Pacienta Din Doi"), qPrintable(bulletin));
        QCOMPARE(LabFolder::remembered().folder, second.path());
        QVERIFY(m_messages.isEmpty());
    }

    // New laboratory: an empty laboratory made in the folder chosen opens at once, with its
    // journal, Labrosa.ini and buletin_files.
    void newEmptyLaboratoryOpens() {
        TestLab start;
        QVERIFY(start.createDemo(40));
        QTemporaryDir parent;
        const QString fresh = QDir(parent.path()).filePath(QStringLiteral("laborator nou"));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        bool emptyChosen = false;
        whenModal([&](QWidget* dialog) {
            emptyChosen = dialog->findChild<QRadioButton*>(QStringLiteral("optionEmpty"))->isChecked();
            QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("editFolder")),
                             QDir::toNativeSeparators(fresh));
            QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);
        });
        app.mainFrame()->action(ID_LAB_NEW)->trigger();
        QVERIFY(emptyChosen);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        QCOMPARE(app.m_database.databaseFile(), QDir(fresh).filePath("lab.db"));
        for (const char* file : {"Labrosa.ini", "buletin_files/print.css", "buletin_files/dr.gif"})
            QVERIFY2(QFile::exists(QDir(fresh).filePath(file)), file);
        Recordset rs;
        QVERIFY(rs.open(QStringLiteral("SELECT COUNT(*) AS n FROM RESULTS"), &app.m_database));
        QVariant rows;
        QVERIFY(rs.getFieldValue(QStringLiteral("n"), &rows));
        QCOMPARE(rows.toInt(), 0);
        QVERIFY(!app.mainFrame()->action(ID_LAB_ADD_JOURNAL)->isEnabled());
        QCOMPARE(app.mainFrame()->childFrames().size(), 1);
        QCOMPARE(LabFolder::remembered().folder, fresh);
    }

    // Nothing names a database and none was chosen before: the first-start dialog says what is
    // missing; cancelled, the program ends without a window and creates nothing.
    void missingDatabaseEndsStartUp() {
        TestLab lab; // no lab.db in it
        {
            LabrosaApp app;
            QString explanation;
            QStringList mnemonics;
            QStringList withoutBuddy;
            whenModal([&](QWidget* dialog) {
                QVERIFY(qobject_cast<FirstStartDialog*>(dialog));
                explanation = dialog->findChild<QLabel*>(QStringLiteral("explanation"))->text();
                // Every field is reached from the keyboard by a letter of its own.
                for (QLabel* label : dialog->findChildren<QLabel*>()) {
                    const int amp = label->text().indexOf('&');
                    if (amp < 0)
                        continue;
                    mnemonics << label->text().mid(amp + 1, 1).toLower();
                    if (!label->buddy())
                        withoutBuddy << label->text();
                }
                for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
                    const int amp = button->text().indexOf('&');
                    if (amp >= 0)
                        mnemonics << button->text().mid(amp + 1, 1).toLower();
                }
                QTest::keyClick(dialog, Qt::Key_Escape);
            });
            QVERIFY(!app.initInstance({"labrosa"}));
            QVERIFY(!app.mainFrame());
            QVERIFY(app.templates().empty());
            QVERIFY(!app.m_sharedState.m_database);
            QVERIFY(m_messages.isEmpty());
            // The explanation names the folder looked in and what is missing there.
            QVERIFY2(explanation.contains(QDir::toNativeSeparators(lab.path())), qPrintable(explanation));
            QVERIFY2(explanation.contains(QStringLiteral("lab.db")), qPrintable(explanation));
            QVERIFY2(withoutBuddy.isEmpty(), qPrintable(withoutBuddy.join(", ")));
            QVERIFY(mnemonics.size() >= 10);
            QCOMPARE(QSet<QString>(mnemonics.begin(), mnemonics.end()).size(), mnemonics.size());
        }
        QVERIFY(!QFile::exists(lab.dbPath()));
        QVERIFY(!QFile::exists(lab.filePath("_database_err.log")));
        QVERIFY(LabFolder::remembered().isEmpty());
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY(!widget->isVisible() || !qobject_cast<MainWindow*>(widget));
    }

    // With no lab.db in the current directory the program takes the laboratory folder given with
    // --lab-dir or remembered in the settings: its database, its Labrosa.ini, its log. A folder it
    // cannot use is told, the dialog comes again on that folder, and nothing is lost.
    void startsFromLabFolder_data() {
        QTest::addColumn<QString>("how");    // "settings", "option", "option=", "relative --database"
        QTest::addColumn<QString>("folder"); // what the laboratory folder is
        QTest::addColumn<QString>("reason"); // what the message says when it cannot be used
        QTest::newRow("remembered") << "settings"
                                    << "lab" << QString();
        QTest::newRow("--lab-dir DIR") << "option"
                                       << "lab" << QString();
        QTest::newRow("--lab-dir=DIR") << "option="
                                       << "lab" << QString();
        QTest::newRow("relative --database keeps its folder") << "relative --database"
                                                              << "lab" << QString();
        QTest::newRow("remembered folder gone") << "settings"
                                                << "gone"
                                                << "nu exista";
        QTest::newRow("remembered folder without lab.db") << "settings"
                                                          << "no lab.db"
                                                          << "nu este baza de date lab.db";
        QTest::newRow("remembered database unusable") << "settings"
                                                      << "not a database"
                                                      << "file is not a database";
        QTest::newRow("--lab-dir without lab.db") << "option"
                                                  << "no lab.db"
                                                  << "nu este baza de date lab.db";
    }

    void startsFromLabFolder() {
        QFETCH(QString, how);
        QFETCH(QString, folder);
        QFETCH(QString, reason);
        TestLab start; // the current directory, with no database in it
        QTemporaryDir labDir;
        const QString lab = QDir(labDir.path()).filePath(QStringLiteral("Laborator Sud"));
        if (folder != "gone")
            QVERIFY(QDir().mkpath(lab));
        if (folder == "lab")
            QVERIFY(makeLabFolder(lab, "Laborator Dosar Sud"));
        if (folder == "not a database") {
            QFile junk(QDir(lab).filePath("lab.db"));
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray(4096, 'z'));
        }
        const QByteArray junkBefore = contentOf(QDir(lab).filePath("lab.db"));

        QStringList arguments{"labrosa"};
        if (how == "settings") {
            LabChoice remembered;
            remembered.folder = lab;
            LabFolder::remember(remembered);
        } else if (how == "option") {
            arguments << "--lab-dir" << lab;
        } else if (how == "option=") {
            arguments << "--lab-dir=" + lab;
        } else {
            // The database named relative to the directory the program started in, the
            // laboratory's other files from the folder.
            QVERIFY(makeLabFolder(start.path(), "Laborator Pornire"));
            arguments << "--lab-dir" << lab << "--database"
                      << "Provider=SQLite;Data Source=lab.db";
        }

        LabrosaApp app;
        QString dialogFolder;
        QString explanation;
        int dialogs = 0;
        if (!reason.isEmpty()) {
            whenModal([&](QWidget* dialog) {
                ++dialogs;
                dialogFolder = dialog->findChild<QLineEdit*>(QStringLiteral("editFolder"))->text();
                explanation = dialog->findChild<QLabel*>(QStringLiteral("explanation"))->text();
                static_cast<QDialog*>(dialog)->reject();
            });
            QVERIFY(!app.initInstance(arguments));
            QCOMPARE(dialogs, 1);
            QCOMPARE(m_messages.size(), 1);
            QVERIFY2(m_messages.first().contains(reason), qPrintable(m_messages.first()));
            QVERIFY2(explanation.contains(reason), qPrintable(explanation));
            QCOMPARE(QDir::fromNativeSeparators(dialogFolder), lab);
            QVERIFY(!app.mainFrame());
            // The remembered folder stays as it was, the folder too.
            QCOMPARE(LabFolder::remembered().folder, how == "settings" ? lab : QString());
            QVERIFY(contentOf(QDir(lab).filePath("lab.db")) == junkBefore);
            QCOMPARE(QDir::currentPath(), start.path());
            return;
        }

        QVERIFY(app.initInstance(arguments));
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        const QString database = how == "relative --database" ? start.dbPath() : QDir(lab).filePath("lab.db");
        QCOMPARE(app.m_database.databaseFile(), database);
        QCOMPARE(QDir::currentPath(), lab);
        const QString text = firstBulletinText(app);
        QVERIFY2(text.contains(QStringLiteral("Laborator Dosar Sud")), qPrintable(text.left(500)));
        QVERIFY(QFile::exists(QDir(lab).filePath("_buletin.html")));
        QVERIFY(!QFile::exists(start.filePath("_buletin.html")));
    }

    // The laboratory's database on a server: chosen in the dialog it is remembered without its
    // password; a server that cannot be reached brings the dialog back on the same server.
    void serverChoice_data() {
        QTest::addColumn<bool>("reachable");
        QTest::newRow("unreachable server") << false;
        QTest::newRow("test server") << true;
    }

    void serverChoice() {
        QFETCH(bool, reachable);
        const QString testServer = qEnvironmentVariable("LABROSA_TEST_PG");
        if (reachable && testServer.isEmpty())
            QSKIP("LABROSA_TEST_PG names no PostgreSQL test server");
        TestLab start;
        QTemporaryDir folder; // the laboratory's files; the database is on the server
        LabServer server;
        server.host = QStringLiteral("127.0.0.1");
        server.port = 1;
        server.database = QStringLiteral("labrosa_lipsa");
        server.user = QStringLiteral("labrosa");
        if (reachable) {
            QProcess tool;
            tool.start(TestLab::dbTool(), {"--demo", "--force", "--results", "30", testServer});
            QVERIFY(tool.waitForFinished(120000) && tool.exitCode() == 0);
            const QString url = testServer;
            server.port = QRegularExpression("Port=(\\d+)").match(url).captured(1).toInt();
            server.database = QRegularExpression("Database=([^;]+)").match(url).captured(1);
            server.user = QRegularExpression("User ID=([^;]+)").match(url).captured(1);
        } else {
            LabChoice remembered;
            remembered.folder = folder.path();
            remembered.onServer = true;
            remembered.server = server;
            LabFolder::remember(remembered);
        }
        const QString password = QStringLiteral("parola-de-test-7391");

        LabrosaApp app;
        QStringList seen; // server, port, database, user, password as the dialog shows them
        bool passwordFocused = false;
        whenModal([&](QWidget* dialog) {
            auto field = [dialog](const char* name) { return dialog->findChild<QLineEdit*>(QLatin1String(name)); };
            auto* port = dialog->findChild<QSpinBox*>(QStringLiteral("spinPort"));
            if (!reachable) {
                seen << field("editServer")->text() << QString::number(port->value()) << field("editDatabase")->text()
                     << field("editUser")->text() << field("editPassword")->text();
                passwordFocused =
                    QTest::qWaitFor([&] { return QApplication::focusWidget() == field("editPassword"); }, 5000) &&
                    dialog->findChild<QRadioButton*>(QStringLiteral("optionServer"))->isChecked();
                static_cast<QDialog*>(dialog)->reject();
                return;
            }
            QTest::keyClicks(field("editFolder"), folder.path());
            QTest::keyClick(dialog->windowHandle(), Qt::Key_S, Qt::AltModifier);
            auto* optionServer = dialog->findChild<QRadioButton*>(QStringLiteral("optionServer"));
            if (!QTest::qWaitFor([optionServer] { return optionServer->isChecked(); }, 5000)) {
                static_cast<QDialog*>(dialog)->reject();
                return;
            }
            QTest::keyClicks(field("editServer"), server.host);
            port->selectAll();
            QTest::keyClicks(port, QString::number(server.port));
            QTest::keyClicks(field("editDatabase"), server.database);
            QTest::keyClicks(field("editUser"), server.user);
            QTest::keyClicks(field("editPassword"), password);
            QTest::keyClick(field("editPassword"), Qt::Key_Return);
            // Refused, the dialog would wait for a person: close it so that the test ends.
            QPointer<QWidget> open(dialog);
            if (!QTest::qWaitFor([&] { return !open || !open->isVisible(); }, 30000))
                static_cast<QDialog*>(dialog)->reject();
        });
        const bool started = app.initInstance({"labrosa"});
        if (!reachable) {
            QVERIFY(!started);
            QCOMPARE(m_messages.size(), 1);
            QVERIFY2(m_messages.first().contains(QStringLiteral("labrosa_lipsa")), qPrintable(m_messages.first()));
            QCOMPARE(seen, (QStringList{"127.0.0.1", "1", "labrosa_lipsa", "labrosa", ""}));
            QVERIFY(passwordFocused);
            QVERIFY(LabFolder::remembered().onServer);
            return;
        }
        QVERIFY2(started, qPrintable(m_messages.join('\n')));
        QVERIFY(app.m_database.databaseFile().isEmpty());
        QCOMPARE(app.m_database.m_databaseName, server.database);
        QCOMPARE(QDir::currentPath(), folder.path());
        const LabChoice remembered = LabFolder::remembered();
        QVERIFY(remembered.onServer);
        QCOMPARE(remembered.folder, folder.path());
        QCOMPARE(remembered.server.port, server.port);
        QVERIFY(remembered.server.password.isEmpty());
        QSettings settings;
        settings.sync();
        QFile stored(settings.fileName());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(!stored.readAll().contains(password.toUtf8()));
    }

    // The first start walked with the keyboard to a new demo laboratory: the tool makes its
    // database, the program's files are copied beside it, and the next start goes straight there.
    void firstStartMakesDemoLaboratory() {
        TestLab start;
        QTemporaryDir parent;
        const QString demo = QDir(parent.path()).filePath(QStringLiteral("demo lab"));
        {
            LabrosaApp app;
            bool walked = false;
            whenModal([&](QWidget* dialog) {
                // Typed where the focus starts; Alt+M picks the demo; Return is OK.
                auto* folder = dialog->findChild<QLineEdit*>(QStringLiteral("editFolder"));
                if (!QTest::qWaitFor([&] { return QApplication::focusWidget() == folder; }, 5000)) {
                    static_cast<QDialog*>(dialog)->reject();
                    return;
                }
                QTest::keyClicks(folder, QDir::toNativeSeparators(demo));
                QTest::keyClick(dialog->windowHandle(), Qt::Key_M, Qt::AltModifier);
                auto* optionDemo = dialog->findChild<QRadioButton*>(QStringLiteral("optionDemo"));
                walked = QTest::qWaitFor([optionDemo] { return optionDemo->isChecked(); }, 5000);
                if (!walked) {
                    static_cast<QDialog*>(dialog)->reject();
                    return;
                }
                QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);
            });
            const bool started = app.initInstance({"labrosa"});
            QVERIFY(walked);
            QVERIFY2(started, qPrintable(m_messages.join('\n')));
            QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
            QCOMPARE(app.m_database.databaseFile(), QDir(demo).filePath("lab.db"));
            QCOMPARE(QDir::currentPath(), demo);
            QVERIFY(app.mainFrame()->isVisible());
        }
        for (const char* file : {"Labrosa.ini", "buletin_files/print.css", "buletin_files/dr.gif"})
            QVERIFY2(QFile::exists(QDir(demo).filePath(file)), file);
        QCOMPARE(contentOf(QDir(demo).filePath("Labrosa.ini")),
                 contentOf(QStringLiteral(LABROSA_SOURCE_DIR "/share/Labrosa.ini")));
        QCOMPARE(LabFolder::remembered().folder, demo);

        QDir::setCurrent(start.path());
        LabrosaApp again;
        QVERIFY(again.initInstance({"labrosa"})); // no dialog: it would wait for an answer
        QCOMPARE(again.m_database.databaseFile(), QDir(demo).filePath("lab.db"));
    }

    // The command line is answered before any database or window is opened: --help and
    // --version even where there is no display, an unknown option refused with the usage.
    void answersCommandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("display"); // false: no display to be had
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // standard output must match
        QTest::addColumn<QString>("errors"); // standard error must match
        QTest::newRow("help") << QStringList{"--help"} << false << 0 << "--database <conexiune>.*--lab-dir <folder>"
                              << "";
        QTest::newRow("version") << QStringList{"--version"} << false << 0 << "^labrosa \\d+\\.\\d+"
                                 << "";
        QTest::newRow("help after a Qt option")
            << QStringList{"-platform", "offscreen", "-h"} << false << 0 << "--lab-dir <folder>"
            << "";
        QTest::newRow("unknown option") << QStringList{"--lab-dir=.", "--frobnicate"} << true << 2 << "^$"
                                        << "^labrosa: .*frobnicate.*--lab-dir <folder>";
        QTest::newRow("option without its value") << QStringList{"--database"} << true << 2 << "^$"
                                                  << "^labrosa: .*--database.*Usage:";
    }

    void answersCommandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, display);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, errors);
        QTemporaryDir work;
        QProcess labrosa;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LABROSA_NO_MODAL_MESSAGES"), QStringLiteral("1"));
        // Were the options not answered, the program would try this database and end with 1.
        environment.insert(QStringLiteral("LABROSA_DATABASE"),
                           QStringLiteral("Provider=SQLite;Data Source=missing.db"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), work.path());
        if (!display)
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-display"));
        labrosa.setProcessEnvironment(environment);
        labrosa.setWorkingDirectory(work.path());
        labrosa.start(QStringLiteral(LABROSA_EXECUTABLE), arguments);
        QVERIFY(labrosa.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(labrosa.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(labrosa.readAllStandardError());
        QCOMPARE(labrosa.exitStatus(), QProcess::NormalExit);
        QVERIFY2(labrosa.exitCode() == exitCode, qPrintable(err));
        const auto dotAll = QRegularExpression::DotMatchesEverythingOption;
        QVERIFY2(QRegularExpression(output, dotAll).match(out).hasMatch(), qPrintable(out));
        // Qt may warn before the program's own lines.
        const QRegularExpression errorLines(errors, dotAll | QRegularExpression::MultilineOption);
        QVERIFY2(errorLines.match(err).hasMatch(), qPrintable(err));
        QVERIFY(QDir(work.path()).isEmpty()); // no log, no settings: nothing was opened
    }

    // A database the program cannot work on ends the program at start-up, before any window,
    // with a message naming the file and the reason, and an entry in the log.
    void programExitsWithoutDatabase_data() {
        QTest::addColumn<QString>("database"); // what lab.db is
        QTest::addColumn<QString>("reason");   // the reason the message must give
        QTest::newRow("missing file") << "missing"
                                      << "Could not find the database file";
        // The permission bits do not bind root: these two run the program as an ordinary user.
        QTest::newRow("read-only file") << "read-only file"
                                        << "cannot be written: Permission denied";
        QTest::newRow("read-only folder") << "read-only folder"
                                          << "of the database cannot be written";
        QTest::newRow("empty file") << "empty"
                                    << "no such table: RESULTS";
        QTest::newRow("another program's database") << "other program"
                                                    << "no such table: RESULTS";
        QTest::newRow("not a database") << "not a database"
                                        << "file is not a database";
        // Started from the desktop menu: the home folder is current, the laboratory is remembered.
        QTest::newRow("remembered folder, not a database") << "remembered, not a database"
                                                           << "file is not a database";
        // SQLite itself says only "disk I/O error" when it cannot make its shared-memory file.
        QTest::newRow("full disk") << "full disk"
                                   << "este plin. Baza de date nu a fost schimbata. Eliberati spatiu pe acest disc";
    }

    void programExitsWithoutDatabase() {
        QFETCH(QString, database);
        QFETCH(QString, reason);
        TestLab lab;
        QFile::Permissions folderMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        bool unprivileged = false;
        if (database == "read-only file" || database == "read-only folder") {
            QVERIFY(lab.createEmpty());
            const bool file = database == "read-only file";
            const QFile::Permissions all = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
            const QFile::Permissions write = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
            const QFile::Permissions enter = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
            QVERIFY(QFile::setPermissions(lab.dbPath(), file ? all : all | write));
            folderMode = file ? all | write | enter : all | enter;
            unprivileged = true;
        } else if (database == "empty") {
            QFile f(lab.dbPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (database == "other program") {
            QVERIFY(lab.exec("CREATE TABLE contacts (id INTEGER PRIMARY KEY, name TEXT)"));
            QVERIFY(lab.exec("INSERT INTO contacts (name) VALUES (?)", {"Popescu"}));
            lab.admin().close();
        } else if (database.endsWith("not a database")) {
            QFile f(lab.dbPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(4096, 'z'));
        }
        std::unique_ptr<SmallDisk> disk;
        if (database == "full disk") {
            disk = std::make_unique<SmallDisk>(lab.path(), "2m");
            if (!disk->mounted())
                QSKIP(qPrintable(disk->problem()));
            QVERIFY(lab.createEmpty());
            QVERIFY(disk->fill());
        }
        const QByteArray before = contentOf(lab.dbPath());
        // The folder gets its usual mode back whatever happens, so that it can be removed.
        struct FolderMode {
            QString path;
            ~FolderMode() { QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); }
        } restore{lab.path()};
        QVERIFY(QFile::setPermissions(lab.path(), folderMode));

        QProcess labrosa;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LABROSA_NO_MODAL_MESSAGES"), QStringLiteral("1"));
        environment.remove(QStringLiteral("LABROSA_DATABASE"));
        // No remembered laboratory either: the program's settings of its own, empty.
        QTemporaryDir settingsHome;
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), settingsHome.path());
        QTemporaryDir home;
        const bool remembered = database.startsWith("remembered");
        if (remembered) {
            QSettings settings(settingsHome.filePath("Local AppWizard-Generated Applications/Labrosa.conf"),
                               QSettings::IniFormat);
            settings.setValue("LabFolder/Path", lab.path());
            settings.sync();
            environment.insert(QStringLiteral("HOME"), home.path());
        }
        labrosa.setProcessEnvironment(environment);
        labrosa.setWorkingDirectory(remembered ? home.path() : lab.path());
        if (unprivileged && geteuid() == 0) {
            const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (setpriv.isEmpty())
                QSKIP("setpriv is needed to run the program as an ordinary user");
            labrosa.start(setpriv, {"--reuid=nobody", "--regid=nogroup", "--clear-groups", LABROSA_EXECUTABLE});
        } else {
            labrosa.start(QStringLiteral(LABROSA_EXECUTABLE), QStringList());
        }
        QVERIFY2(labrosa.waitForFinished(30000), "the program started instead of refusing the database");
        QCOMPARE(labrosa.exitStatus(), QProcess::NormalExit);
        const QString errors = QString::fromUtf8(labrosa.readAllStandardError());
        QVERIFY2(labrosa.exitCode() == 1, qPrintable(errors));
        const QString file = QDir(lab.path()).canonicalPath() + QStringLiteral("/lab.db");
        QVERIFY2(errors.contains(QStringLiteral("Labrosa: Baza de date \"%1\"").arg(file)), qPrintable(errors));
        QVERIFY2(errors.contains(reason), qPrintable(errors));
        // Where nothing can be written, the log cannot be either.
        if (database != "read-only folder" && database != "full disk")
            QCOMPARE(countOf(readFile(lab.filePath("_database_err.log")), QStringLiteral("]->CAdo")), 1);
        QVERIFY(contentOf(lab.dbPath()) == before); // nothing created, nothing changed
        QVERIFY(QDir(home.path()).isEmpty());
    }

    void damagedDatabaseIsOnlyRead_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("one page overwritten") << "page";
        QTest::newRow("backup restored beside the live -wal") << "wal";
        QTest::newRow("backup restored beside the live -journal") << "journal";
    }

    // A database that fails SQLite's integrity check opens for searching; a correction waits for
    // the check and is refused, the program says what is damaged and what to do, stays read-only,
    // logs it, and leaves the file and its -wal as they were found.
    void damagedDatabaseIsOnlyRead() {
        QFETCH(QString, damage);
        TestLab lab;
        QVERIFY(makeLabFolder(lab.path(), "Laborator"));
        const QString file = QDir::toNativeSeparators(QFileInfo(lab.dbPath()).absoluteFilePath());
        if (damage == "page")
            QVERIFY(BrokenFiles::overwriteIndexPage(lab.dbPath(), "IX_RESULT_VALUES_resultID"));
        else if (damage == "wal")
            QVERIFY(BrokenFiles::restoreBackupBesideLiveWal(lab.dbPath()));
        else
            QVERIFY(BrokenFiles::restoreBackupBesideLiveJournal(lab.dbPath()));
        // An empty -wal is as good as none.
        const auto wal = [&lab] {
            return QFile(lab.dbPath() + "-wal").size() > 0 ? contentOf(lab.dbPath() + "-wal") : "";
        };
        QByteArray before, walBefore;
        {
            LabrosaApp app;
            QVERIFY(app.initInstance({"labrosa"}));
            // As the open left them (it rolls a -journal back into the file).
            before = contentOf(lab.dbPath());
            walBefore = wal();
            ChildWindow* results = app.mainFrame()->childFrames().value(0);
            auto* explorer = results ? qobject_cast<ResultsWindow*>(results->view()) : nullptr;
            QVERIFY(explorer && explorer->resultList()->getItemCount() > 0);
            explorer->resultList()->setItemText(0, 1, QStringLiteral("Nume Corectat"));
            explorer->onGridEditDone(0, 1);
            // The check's news were sent before the refused write learnt of the result.
            QCoreApplication::processEvents();
            QCOMPARE(m_messages.size(), 2);
            const QString refused = m_messages.filter(QStringLiteral("Failed tu update")).value(0);
            QVERIFY2(refused.contains(file) && refused.contains(QStringLiteral("integrity check")),
                     qPrintable(m_messages.join("\n---\n")));
            const QString told = m_messages.filter(QStringLiteral("este deteriorata")).value(0);
            QVERIFY2(told.contains(file) && told.contains(QStringLiteral("copie de siguranta")) &&
                         told.contains(QStringLiteral(".recover")),
                     qPrintable(m_messages.join("\n---\n")));
            QCOMPARE(told.contains(file + "-wal"), damage == "wal");
            QCOMPARE(told.contains(file + "-journal"), damage == "journal");
            auto* state = app.mainFrame()->statusBar()->findChild<QLabel*>(QStringLiteral("readOnlyState"));
            QVERIFY(state && state->text().startsWith(QStringLiteral("Doar citire")));
            QVERIFY(readFile(lab.filePath("_database_err.log")).contains(QStringLiteral("]->SqliteIntegrityCheck\n")));
            // Searching still works.
            explorer->onSearch();
            QVERIFY(explorer->resultList()->getItemCount() > 0);
            QCOMPARE(m_messages.size(), 2);
        }
        QVERIFY(contentOf(lab.dbPath()) == before);
        QVERIFY(wal() == walBefore);
    }

    // The day's copy is made once the database is found sound; after the file is damaged, the
    // Laborator menu puts that copy back: the windows reopen on the copy's rows, writable again,
    // and the damaged file is kept aside as it was.
    void damagedDatabaseRestoredFromCopy() {
        TestLab lab;
        QVERIFY(makeLabFolder(lab.path(), "Laborator"));
        {
            LabrosaApp app;
            QVERIFY(app.initInstance({"labrosa"}));
            auto* state = app.mainFrame()->statusBar()->findChild<QLabel*>(QStringLiteral("backupState"));
            QVERIFY(state);
            QTRY_VERIFY2(state->text().startsWith(QStringLiteral("Ultima copie de siguranta: ")),
                         qPrintable(state->text()));
        }
        QVERIFY(m_messages.isEmpty());
        QVERIFY(BrokenFiles::overwriteIndexPage(lab.dbPath(), "IX_RESULT_VALUES_resultID"));
        const QByteArray damaged = contentOf(lab.dbPath());

        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        QTRY_VERIFY(!m_messages.filter(QStringLiteral("Restaureaza din copie")).isEmpty());
        QVERIFY(app.mainFrame()->statusBar()->findChild<QLabel*>(QStringLiteral("readOnlyState")));
        m_messages.clear();
        QString offered;
        whenModal([&](QWidget* dialog) {
            auto* copies = dialog->findChild<QTreeWidget*>(QStringLiteral("backupCopies"));
            offered = copies && copies->currentItem() ? copies->currentItem()->text(1) : QString();
            dialog->findChild<QPushButton*>(QStringLiteral("restoreButton"))->click();
        });
        // One click from the status bar's read-only note.
        auto* restore = app.mainFrame()->statusBar()->findChild<QToolButton*>(QStringLiteral("readOnlyRestore"));
        QVERIFY(restore && restore->isVisibleTo(app.mainFrame()));
        QTest::mouseClick(restore, Qt::LeftButton);
        QCOMPARE(offered, QStringLiteral("60"));
        QCOMPARE(m_messages.size(), 1);
        const QString told = m_messages.value(0);
        QVERIFY2(told.contains(QStringLiteral("60 seturi de rezultate")) && told.contains(QStringLiteral("nu a fost "
                                                                                                         "stearsa")),
                 qPrintable(told));
        const QStringList aside = QDir(lab.path()).entryList({"lab.db.inainte-de-restaurare-*"});
        QCOMPARE(aside.size(), 1);
        QVERIFY(contentOf(lab.filePath(aside.value(0))) == damaged);
        QCOMPARE(app.mainFrame()->childFrames().size(), 1);
        QTRY_VERIFY(!app.mainFrame()->statusBar()->findChild<QLabel*>(QStringLiteral("readOnlyState")));
        // Sound again: a correction is saved.
        auto* explorer = qobject_cast<ResultsWindow*>(app.mainFrame()->childFrames().value(0)->view());
        QVERIFY(explorer && explorer->resultList()->getItemCount() > 0);
        QTRY_VERIFY(app.m_database.integrityCheck() && app.m_database.integrityCheck()->passed());
        explorer->resultList()->setItemText(0, 1, QStringLiteral("Nume Corectat"));
        explorer->onGridEditDone(0, 1);
        QCOMPARE(m_messages.size(), 1);
        // Closing after the change leaves a copy that holds it.
        app.mainFrame()->close();
        BackupSet copies;
        QString error;
        QVERIFY2(copies.scan(lab.filePath("backup"), &error), qPrintable(error));
        QVERIFY(copies.lastGood());
        QSqlDatabase copy = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("closingCopy"));
        copy.setDatabaseName(QDir(copies.lastGood()->folder).filePath("lab.db"));
        QVERIFY(copy.open());
        QSqlQuery corrected(QStringLiteral("SELECT COUNT(*) FROM RESULTS WHERE PacientName = 'Nume Corectat'"), copy);
        QVERIFY(corrected.next());
        QCOMPARE(corrected.value(0).toInt(), 1);
        corrected.finish();
        copy.close();
        copy = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("closingCopy"));
    }

    void unprotectedJournalIsSaid_data() {
        QTest::addColumn<bool>("onServer");
        QTest::addColumn<QString>("advice"); // what the status bar says to do
        QTest::addColumn<QString>("found");  // what the log names as open
        QTest::newRow("sqlite, a trigger dropped") << false << "rulati labrosa-dbtool --upgrade"
                                                   << "CORRECTION_JOURNAL (DELETE)";
        QTest::newRow("server, as the tables' owner") << true << "conectati statiile cu rolul programului"
                                                      << "superutilizator";
    }

    // A connection that could change the journal is said in the status bar, with what to do, and
    // in the error log; the program goes on as before.
    void unprotectedJournalIsSaid() {
        QFETCH(bool, onServer);
        QFETCH(QString, advice);
        QFETCH(QString, found);
        if (onServer && DbLab::pgConnectionString().isEmpty())
            QSKIP("LABROSA_TEST_PG names no PostgreSQL test server");
        DbLab lab(onServer ? DbLab::Backend::PostgreSQL : DbLab::Backend::SQLite);
        QVERIFY(lab.createDemo(20));
        if (!onServer)
            QVERIFY(lab.exec("DROP TRIGGER CORRECTION_JOURNAL_no_delete"));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa", "--database", lab.connectionString()}));
        QVERIFY(m_messages.isEmpty());
        auto* said = app.mainFrame()->statusBar()->findChild<QLabel*>(QStringLiteral("journalProtection"));
        QVERIFY(said);
        QVERIFY2(said->text().startsWith("jurnalul nu este protejat: " + advice), qPrintable(said->text()));
        const QString log = readFile(lab.lab().filePath("_database_err.log"));
        QVERIFY2(log.contains("]->jurnalul nu este protejat: " + advice) && log.contains(found), qPrintable(log));
        QCOMPARE(app.mainFrame()->childFrames().size(), 1);
    }

    void fileNewOffersBothKinds() {
        TestLab lab;
        QVERIFY(lab.createDemo(20));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        MainWindow* frame = app.mainFrame();

        QStringList offered;
        QString caption;
        whenModal([&](QWidget* dialog) {
            caption = dialog->windowTitle();
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("newTypeList"));
            for (int i = 0; list && i < list->count(); ++i)
                offered << list->item(i)->text();
            list->setCurrentRow(1);
            QTest::keyClick(list, Qt::Key_Return);
        });
        frame->action(ID_FILE_NEW)->trigger();
        QCOMPARE(caption, QStringLiteral("New"));
        QCOMPARE(offered, (QStringList{"Tervan", "Lista Rezultate"}));
        QCOMPARE(frame->childFrames().size(), 2);
        QCOMPARE(frame->activeChild()->windowTitle(), QStringLiteral("Lista Rezultate2"));
        QCOMPARE(frame->windowTitle(), QStringLiteral("Labrosa - Lista Rezultate2"));
        // A results window saves nothing: Save and Save As are off, as Print is.
        for (int id : {ID_FILE_SAVE, ID_FILE_SAVE_AS, ID_FILE_PRINT})
            QVERIFY(!frame->action(id)->isEnabled());

        // Cancel opens nothing.
        whenModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
        frame->action(ID_FILE_NEW)->trigger();
        QCOMPARE(frame->childFrames().size(), 2);

        // "Tervan" opens a bulletin window with its own menu and printing.
        whenModal([](QWidget* dialog) {
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("newTypeList"));
            list->setCurrentRow(0);
            static_cast<QDialog*>(dialog)->accept();
        });
        frame->action(ID_FILE_NEW)->trigger();
        ChildWindow* bulletin = frame->activeChild();
        QCOMPARE(bulletin->windowTitle(), QStringLiteral("Tervan1"));
        QVERIFY(qobject_cast<BulletinView*>(bulletin->view()));
        QCOMPARE(frame->menuBar()->actions().size(), 6);
        for (int id : {ID_FILE_SAVE, ID_FILE_SAVE_AS, ID_FILE_PRINT})
            QVERIFY(frame->action(id)->isEnabled());
        QVERIFY(m_messages.isEmpty());
    }

    // Before any bulletin exists a bulletin window shows the engine's page for a missing file,
    // not a blank one; reloaded once the bulletin is there, the page still runs no script.
    void bulletinWindowBeforeAnyBulletin() {
        TestLab lab;
        QVERIFY(lab.createDemo(20));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        ChildWindow* frame = app.openNewDocument(0);
        QVERIFY(frame);
        QWebEngineView* web = qobject_cast<BulletinView*>(frame->view())->webView();
        QSignalSpy loaded(web, &QWebEngineView::loadFinished);
        QVERIFY(loaded.wait(30000));
        QCOMPARE(loaded.first().first().toBool(), false);
        QVERIFY(!pageText(web).trimmed().isEmpty());
        QVERIFY(frame->isVisible());
        QVERIFY(m_messages.isEmpty());

        QFile bulletin(lab.filePath("_buletin.html"));
        QVERIFY(bulletin.open(QIODevice::WriteOnly));
        bulletin.write("<html><head><title>neschimbat</title></head><body><p>Hemoglobina</p>"
                       "<script>document.title = 'schimbat';</script></body></html>");
        bulletin.close();
        loaded.clear();
        web->reload();
        QVERIFY(loaded.wait(30000));
        QCOMPARE(loaded.first().first().toBool(), true);
        QVERIFY(pageText(web).contains(QStringLiteral("Hemoglobina")));
        QCOMPARE(web->page()->title(), QStringLiteral("neschimbat"));
    }

    void openFileGoesToBulletinTemplate() {
        TestLab lab;
        QVERIFY(lab.createDemo(20));
        QFile file(lab.filePath("arhiva.html"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<p>x</p>");
        file.close();

        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        ChildWindow* opened = app.openDocumentFile(lab.filePath("arhiva.html"));
        QVERIFY(opened);
        QCOMPARE(opened->resourceId(), int(IDR_BULLETINTYPE));
        QCOMPARE(opened->windowTitle(), QStringLiteral("arhiva.html"));
        QCOMPARE(app.recentFiles().files().value(0), QFileInfo(lab.filePath("arhiva.html")).absoluteFilePath());
        // The same file again brings its window forward instead of opening a second one.
        QCOMPARE(app.openDocumentFile(lab.filePath("arhiva.html")), opened);
        QCOMPARE(app.mainFrame()->childFrames().size(), 2);

        // A recent entry whose file has gone is reported and dropped.
        opened->close();
        QTRY_COMPARE(app.mainFrame()->childFrames().size(), 1);
        QVERIFY(QFile::remove(lab.filePath("arhiva.html")));
        emit app.mainFrame()->recentFileChosen(app.recentFiles().files().value(0));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().contains(QStringLiteral("arhiva.html")));
        QVERIFY(app.recentFiles().files().isEmpty());
        QCOMPARE(app.mainFrame()->childFrames().size(), 1);
    }

    // Save As writes the bulletin the window shows, but never over the files the program lives
    // on, whatever path the dialog gives; after the dialog's own question, nothing else is asked.
    void saveAsLeavesProgramFilesAlone_data() {
        QTest::addColumn<QString>("target"); // the file chosen in the lab folder
        QTest::addColumn<QString>("saved");  // "refused", "html" or "pdf"
        QTest::newRow("database") << "lab.db"
                                  << "refused";
        QTest::newRow("database's write-ahead log") << "lab.db-wal"
                                                    << "refused";
        QTest::newRow("database through a link") << "legatura.db"
                                                 << "refused";
        QTest::newRow("laboratory settings") << "Labrosa.ini"
                                             << "refused";
        QTest::newRow("bulletin file") << "_buletin.html"
                                       << "refused";
        QTest::newRow("file the window was opened from") << "arhiva.html"
                                                         << "refused";
        QTest::newRow("a new file") << "copie.html"
                                    << "html";
        QTest::newRow("over an exported PDF") << "export.pdf"
                                              << "pdf";
    }

    void saveAsLeavesProgramFilesAlone() {
        QFETCH(QString, target);
        QFETCH(QString, saved);
        TestLab lab;
        QVERIFY(lab.createDemo(20));
        for (const char* name : {"Labrosa.ini", "arhiva.html"}) {
            QFile file(lab.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[Laborator]\nNume=Laborator Veterinar\n");
        }
        const QByteArray shown = "<html><body><p>Hemoglobina 13,5 g/dl</p></body></html>";
        QFile bulletin(lab.filePath("_buletin.html"));
        QVERIFY(bulletin.open(QIODevice::WriteOnly) && bulletin.write(shown) == shown.size());
        bulletin.close();
        QFile pdf(lab.filePath("export.pdf"));
        QVERIFY(pdf.open(QIODevice::WriteOnly) && pdf.write("%PDF-1.4 export mai vechi") > 0);
        pdf.close();
        QVERIFY(QFile::link(lab.dbPath(), lab.filePath("legatura.db")));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        ChildWindow* window = app.openDocumentFile(lab.filePath("arhiva.html"));
        QVERIFY(window);
        auto* view = qobject_cast<BulletinView*>(window->view());
        QSignalSpy loaded(view->webView(), &QWebEngineView::loadFinished);
        QVERIFY(QTest::qWaitFor([&] { return !loaded.isEmpty(); }, 30000));
        const QString path = lab.filePath(target);
        // The write-ahead log is there while the program runs: the refusal is of a live file.
        QVERIFY(saved != "refused" || QFile::exists(path));
        const QByteArray before = contentOf(path);

        bool dialogShown = false;
        whenModal([&](QWidget* dialog) {
            auto* files = qobject_cast<QFileDialog*>(dialog);
            QVERIFY(files);
            dialogShown = true;
            files->selectFile(path);
            if (QFile::exists(path)) // the dialog asks first whether to replace the file: yes
                whenModal([](QWidget* question) {
                    auto* box = qobject_cast<QMessageBox*>(question);
                    QVERIFY(box);
                    box->button(QMessageBox::Yes)->click();
                });
            static_cast<QDialog*>(files)->accept();
        });
        QSignalSpy finished(view, &BulletinView::printFinished);
        app.mainFrame()->action(ID_FILE_SAVE_AS)->trigger();
        QVERIFY(dialogShown);
        QVERIFY(!QApplication::activeModalWidget());
        if (saved == "refused") {
            QCOMPARE(m_messages.size(), 1);
            QVERIFY2(m_messages.first().contains(target), qPrintable(m_messages.first()));
            QVERIFY(contentOf(path) == before);
            QCOMPARE(window->windowTitle(), QStringLiteral("arhiva.html"));
        } else if (saved == "html") {
            QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
            QCOMPARE(contentOf(path), shown);
            QCOMPARE(window->windowTitle(), target);
        } else {
            QVERIFY(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 60000));
            QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
            QVERIFY(contentOf(path).startsWith("%PDF-"));
            QVERIFY(contentOf(path) != before);
            QCOMPARE(window->windowTitle(), QStringLiteral("arhiva.html"));
        }
        QCOMPARE(contentOf(lab.filePath("Labrosa.ini")), QByteArray("[Laborator]\nNume=Laborator Veterinar\n"));
        QCOMPARE(contentOf(lab.filePath("_buletin.html")), shown);
    }

    void helpAndPrintSetupDialogs() {
        TestLab lab;
        QVERIFY(lab.createDemo(20));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        MainWindow* frame = app.mainFrame();

        QString caption;
        QStringList lines;
        whenModal([&](QWidget* dialog) {
            caption = dialog->windowTitle();
            for (QLabel* label : dialog->findChildren<QLabel*>())
                if (!label->text().isEmpty())
                    lines << label->text();
            QTest::keyClick(dialog, Qt::Key_Return); // OK is the default button
        });
        frame->action(ID_APP_ABOUT)->trigger();
        QCOMPARE(caption, QStringLiteral("About Labrosa"));
        QVERIFY(lines.contains(QStringLiteral("Labrosa Version 1.0")));
        QCOMPARE(lines.size(), 2);
        QVERIFY(!QApplication::activeModalWidget());

        bool pageSetupShown = false;
        whenModal([&](QWidget* dialog) {
            pageSetupShown = true;
            static_cast<QDialog*>(dialog)->reject();
        });
        frame->action(ID_FILE_PRINT_SETUP)->trigger();
        QVERIFY(pageSetupShown);
    }

    void exitClosesEverything() {
        TestLab lab;
        QVERIFY(lab.createDemo(20));
        LabrosaApp app;
        QVERIFY(app.initInstance({"labrosa"}));
        app.openNewDocument(0);
        QCOMPARE(app.mainFrame()->childFrames().size(), 2);
        app.mainFrame()->action(ID_APP_EXIT)->trigger();
        QVERIFY(!app.mainFrame()->isVisible());
        QTRY_VERIFY(app.mainFrame()->childFrames().isEmpty());
        QVERIFY(m_messages.isEmpty());
    }
};

LABROSA_GUI_TEST_MAIN(TestApp)
#include "tst_app.moc"
