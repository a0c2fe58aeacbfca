#include "AppTestMain.h"

#include "BulletinDocument.h"
#include "ChildWindow.h"
#include "CommandIds.h"
#include "DocumentTemplate.h"
#include "DocumentView.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "RecentFileList.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

// What the stand-in bulletin view writes when saved.
const QByteArray kShown = "<p>buletin afisat</p>";

// A view like the program's own: a bulletin prints, exports and saves what it shows (a .pdf name
// as a copy in another form, a missing folder refused); results maximise themselves and do none.
class TestView : public QWidget, public DocumentView {
public:
    explicit TestView(bool printable, bool maximise) : m_printable(printable), m_maximise(maximise) {}
    void onInitialUpdate() override {
        ++initialUpdates;
        frameAtInitialUpdate = qobject_cast<ChildWindow*>(parentWidget());
        if (frameAtInitialUpdate)
            sizeAtInitialUpdate = frameAtInitialUpdate->size();
        if (m_maximise && frameAtInitialUpdate)
            frameAtInitialUpdate->showMaximized();
    }
    QMenu* viewMenu() const override { return ownMenu; }
    bool canPrint() const override { return m_printable; }
    void onFilePrint() override { ++prints; }
    bool canExportPdf() const override { return m_printable; }
    void onFileExportPdf() override { ++exports; }
    bool canSave() const override { return m_printable; }
    SaveResult saveAs(const QString& path) override {
        savedTo << path;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(kShown) != kShown.size())
            return SaveResult::failed;
        return path.endsWith(QStringLiteral(".pdf")) ? SaveResult::Exported : SaveResult::Saved;
    }

    int initialUpdates = 0;
    int prints = 0;
    int exports = 0;
    QStringList savedTo;
    QMenu* ownMenu = nullptr;
    ChildWindow* frameAtInitialUpdate = nullptr;
    QSize sizeAtInitialUpdate;

private:
    bool m_printable;
    bool m_maximise;
};

QStringList menuTitles(QMenuBar* bar) {
    QStringList titles;
    for (QAction* action : bar->actions())
        titles << action->text();
    return titles;
}

// "text|shortcut" per item, "-" for a separator, "text(off)" for a disabled item.
QStringList itemsOf(QMenu* menu) {
    QStringList items;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            items << QStringLiteral("-");
            continue;
        }
        QString item = action->text();
        if (!action->shortcut().isEmpty())
            item += QLatin1Char('|') + action->shortcut().toString();
        if (!action->isEnabled())
            item += QStringLiteral("(off)");
        items << item;
    }
    return items;
}

// The command ids a user can reach: enabled items of the menus shown and enabled tool buttons.
QList<int> offeredCommands(QMenuBar* bar, QToolBar* tools) {
    QList<QAction*> actions = tools->actions();
    for (QAction* menu : bar->actions())
        actions += menu->menu()->actions();
    QList<int> ids;
    for (QAction* action : std::as_const(actions)) {
        const QString name = action->objectName();
        if (action->isEnabled() && name.startsWith(QStringLiteral("command")))
            ids << name.mid(7).toInt();
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

// Answers the next modal dialog once it is up (a dialog that never comes fails the wait).
void whenModal(std::function<void(QWidget*)> answer) {
    QTimer::singleShot(0, [answer] {
        if (QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 10000))
            answer(QApplication::activeModalWidget());
    });
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

QMenu* menuNamed(QMenuBar* bar, const QString& title) {
    for (QAction* action : bar->actions())
        if (action->text() == title)
            return action->menu();
    return nullptr;
}

} // namespace

class TestShell : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<RecentFileList> m_recent;
    std::unique_ptr<MainWindow> m_frame;
    std::unique_ptr<DocumentTemplate> m_bulletin;
    std::unique_ptr<DocumentTemplate> m_list;
    QStringList m_messages;
    bool m_listViewsFail = false;

    ChildWindow* openBulletin(const QString& path = QString()) { return m_bulletin->openDocumentFile(path); }
    ChildWindow* openList() { return m_list->openDocumentFile(QString()); }
    static TestView* viewOf(ChildWindow* frame) { return dynamic_cast<TestView*>(frame->view()); }

private slots:
    void init() {
        QSettings().clear();
        m_messages.clear();
        setMessageBoxHook([this](const QString& text) { m_messages << text; });
        m_listViewsFail = false;
        m_recent = std::make_unique<RecentFileList>(4);
        m_frame = std::make_unique<MainWindow>(m_recent.get());
        m_bulletin = std::make_unique<DocumentTemplate>(
            IDR_BULLETINTYPE, QStringLiteral("\nTervan\nTervan\n\n\nTervana.Document\nTervan Document"),
            [](BulletinDocument*) { return new TestView(true, false); });
        m_list = std::make_unique<DocumentTemplate>(
            IDR_LISTTYPE,
            QStringLiteral(
                "\nLista Rezultate\nLista Rezultate\n\n\nLista Rezultate.Document\nLista Rezultate Document"),
            [this](BulletinDocument*) -> QWidget* {
                if (m_listViewsFail)
                    return nullptr;
                auto* view = new TestView(false, true);
                view->ownMenu = new QMenu(QStringLiteral("&Rezultate"), view);
                return view;
            });
        m_bulletin->setMainFrame(m_frame.get());
        m_list->setMainFrame(m_frame.get());
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    }

    void cleanup() {
        m_frame.reset();
        m_bulletin.reset();
        m_list.reset();
        m_recent.reset();
        setMessageBoxHook(nullptr);
    }

    void documentStringsAndNumbering() {
        QCOMPARE(m_list->docName(), QStringLiteral("Lista Rezultate"));
        QCOMPARE(m_bulletin->newFileName(), QStringLiteral("Tervan"));
        QCOMPARE(m_bulletin->docStringField(6), QStringLiteral("Tervan Document"));
        QCOMPARE(m_bulletin->docStringField(9), QString());

        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa"));
        ChildWindow* first = openList();
        QVERIFY(first);
        QCOMPARE(first->windowTitle(), QStringLiteral("Lista Rezultate1"));
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - Lista Rezultate1"));
        // The numbers are kept per template.
        QCOMPARE(openBulletin()->windowTitle(), QStringLiteral("Tervan1"));
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - Tervan1"));
        QCOMPARE(openList()->windowTitle(), QStringLiteral("Lista Rezultate2"));
        QCOMPARE(openBulletin()->windowTitle(), QStringLiteral("Tervan2"));
        QCOMPARE(m_frame->childFrames().size(), 4);

        m_frame->mdiArea()->setActiveSubWindow(first);
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - Lista Rezultate1"));
        first->close();
        QTRY_COMPARE(m_frame->childFrames().size(), 3);
        // A closed window's number is not given out again.
        QCOMPARE(openList()->windowTitle(), QStringLiteral("Lista Rezultate3"));
    }

    void childFrameOpensAt640x480() {
        ChildWindow* bulletin = openBulletin();
        QVERIFY(bulletin);
        TestView* view = viewOf(bulletin);
        QCOMPARE(view->initialUpdates, 1);
        // The view's first update runs once the frame exists and has its size.
        QCOMPARE(view->frameAtInitialUpdate, bulletin);
        QCOMPARE(view->sizeAtInitialUpdate, QSize(640, 480));
        QCOMPARE(bulletin->size(), QSize(640, 480));
        QVERIFY(bulletin->isVisible());
        QCOMPARE(bulletin->mdiArea(), m_frame->mdiArea());
    }

    void failedViewLeavesNoWindowAndNoGap() {
        m_listViewsFail = true;
        QVERIFY(!openList());
        QVERIFY(m_frame->childFrames().isEmpty());
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa"));
        m_listViewsFail = false;
        QCOMPARE(openList()->windowTitle(), QStringLiteral("Lista Rezultate1"));
    }

    void menuBarFollowsActiveChild() {
        QMenuBar* bar = m_frame->menuBar();
        const QStringList mainMenu{"&File", "&View", "&Laborator", "&Help"};
        const QStringList bulletinMenu{"&File", "&Edit", "&View", "&Window", "&Laborator", "&Help"};
        QCOMPARE(menuTitles(bar), mainMenu);

        ChildWindow* bulletin = openBulletin();
        QCOMPARE(m_frame->currentMenuId(), int(IDR_BULLETINTYPE));
        QCOMPARE(menuTitles(bar), bulletinMenu);
        // A results window adds its own menu, each window its own.
        const QStringList resultsMenu{"&File", "&View", "&Rezultate", "&Laborator", "&Help"};
        ChildWindow* list = openList();
        QCOMPARE(menuTitles(bar), resultsMenu);
        ChildWindow* otherList = openList();
        QCOMPARE(menuNamed(bar, "&Rezultate"), viewOf(otherList)->ownMenu);
        m_frame->mdiArea()->setActiveSubWindow(bulletin);
        QCOMPARE(menuTitles(bar), bulletinMenu);
        bulletin->close();
        QTRY_COMPARE(menuTitles(bar), resultsMenu);
        otherList->close();
        QTRY_COMPARE(menuNamed(bar, "&Rezultate"), viewOf(list)->ownMenu);
        list->close();
        QTRY_VERIFY(m_frame->childFrames().isEmpty());
        QCOMPARE(menuTitles(bar), mainMenu);
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa"));
    }

    // What a user can reach in each kind of window: a command without a handler there (Print,
    // Save in a results window, Undo anywhere) is neither offered nor run by its shortcut.
    void commandsOfEachWindow_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QList<int>>("offered");
        // Adding the journal is offered only by the application, once it knows the database lacks it;
        // the restore and the server's copies once it knows where the database is.
        const QList<int> always{ID_FILE_NEW,       ID_FILE_OPEN,       ID_FILE_PRINT_SETUP,  ID_APP_EXIT,
                                ID_VIEW_TOOLBAR,   ID_VIEW_STATUS_BAR, ID_APP_ABOUT,         ID_LAB_HEADER,
                                ID_LAB_CHANGE,     ID_LAB_NEW,         ID_LAB_IMPORT_ACCESS, ID_LAB_SIGNATORIES,
                                ID_LAB_BACKUP_NOW, ID_LAB_UNMATCHED};
        QTest::newRow("no window") << "none" << always;
        QTest::newRow("results") << "results" << always;
        // The bulletin is saved first, so its file is among the recent files too.
        QTest::newRow("bulletin") << "bulletin"
                                  << always + QList<int>{ID_FILE_MRU_FILE1, ID_FILE_CLOSE,     ID_FILE_SAVE,
                                                         ID_FILE_SAVE_AS,   ID_FILE_PRINT,     ID_FILE_EXPORT_PDF,
                                                         ID_WINDOW_NEW,     ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ,
                                                         ID_WINDOW_ARRANGE};
    }

    void commandsOfEachWindow() {
        QFETCH(QString, window);
        QFETCH(QList<int>, offered);
        std::sort(offered.begin(), offered.end());
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QTemporaryDir dir;
        ChildWindow* child = nullptr;
        if (window == "results") {
            child = openList();
        } else if (window == "bulletin") {
            // Saved once, so that Ctrl+S writes again without asking for a name.
            child = openBulletin();
            m_frame->saveDocumentAs(child, dir.filePath("buletin.html"));
        }
        QCOMPARE(offeredCommands(m_frame->menuBar(), m_frame->toolBar()), offered);

        const int savesBefore = child ? viewOf(child)->savedTo.size() : 0;
        for (int id : {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_FILE_PRINT, ID_EDIT_UNDO, ID_EDIT_COPY}) {
            QAction* action = m_frame->action(id);
            QSignalSpy triggered(action, &QAction::triggered);
            const QKeyCombination key = action->shortcut()[0];
            QTest::keyClick(m_frame.get(), key.key(), key.keyboardModifiers());
            QVERIFY2(triggered.size() == (offered.contains(id) ? 1 : 0), qPrintable(action->text()));
        }
        if (child) {
            QCOMPARE(viewOf(child)->prints, offered.contains(ID_FILE_PRINT) ? 1 : 0);
            QCOMPARE(viewOf(child)->savedTo.size() - savesBefore, offered.contains(ID_FILE_SAVE) ? 1 : 0);
        }
        QVERIFY(m_messages.isEmpty());
    }

    void maximisedChildKeepsFrameTitle() {
        ChildWindow* list = openList();
        QVERIFY(list->isMaximized());
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - Lista Rezultate1"));
        list->showNormal();
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - Lista Rezultate1"));
    }

    void closingNeverAsksToSave() {
        QPointer<ChildWindow> bulletin = openBulletin();
        QPointer<ChildWindow> list = openList();
        QPointer<BulletinDocument> document = bulletin->document();
        QVERIFY(!document->isModified());
        QVERIFY(m_frame->close());
        QTRY_VERIFY(!bulletin && !list);
        QVERIFY(!document);
        QVERIFY(m_messages.isEmpty());
    }

    void newWindowSharesDocument() {
        ChildWindow* first = openBulletin();
        m_frame->action(ID_WINDOW_NEW)->trigger();
        QCOMPARE(m_frame->childFrames().size(), 2);
        ChildWindow* second = m_frame->activeChild();
        QVERIFY(second != first);
        QCOMPARE(second->document(), first->document());
        QCOMPARE(first->windowTitle(), QStringLiteral("Tervan1:1"));
        QCOMPARE(second->windowTitle(), QStringLiteral("Tervan1:2"));
        QCOMPARE(viewOf(second)->initialUpdates, 1);
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - Tervan1:2"));

        QPointer<BulletinDocument> document = first->document();
        second->close();
        QTRY_COMPARE(m_frame->childFrames().size(), 1);
        QCOMPARE(first->windowTitle(), QStringLiteral("Tervan1"));
        QVERIFY(document);

        // File > Close closes every window of the document.
        m_frame->action(ID_WINDOW_NEW)->trigger();
        QCOMPARE(m_frame->childFrames().size(), 2);
        m_frame->action(ID_FILE_CLOSE)->trigger();
        QTRY_VERIFY(m_frame->childFrames().isEmpty());
        QTRY_VERIFY(!document);
    }

    // A window opened from a file shows the bulletin file, not what that file holds: Save asks
    // for a name instead of writing over it, and Save As refuses it.
    void openedFileTitlesWindowAndIsNeverOverwritten() {
        QTemporaryDir dir;
        const QString path = dir.filePath("rezultat-vechi.html");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<p>buletin salvat</p>");
        file.close();

        ChildWindow* frame = openBulletin(path);
        QVERIFY(frame);
        QCOMPARE(frame->windowTitle(), QStringLiteral("rezultat-vechi.html"));
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - rezultat-vechi.html"));
        bool asked = false;
        whenModal([&](QWidget* dialog) {
            asked = true;
            static_cast<QDialog*>(dialog)->reject();
        });
        m_frame->action(ID_FILE_SAVE)->trigger();
        QVERIFY(asked);
        m_frame->saveDocumentAs(frame, path);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().contains(QStringLiteral("rezultat-vechi.html")), qPrintable(m_messages.first()));
        QVERIFY(viewOf(frame)->savedTo.isEmpty());
        QCOMPARE(contentOf(path), QByteArray("<p>buletin salvat</p>"));
        // An untitled window keeps its number; the opened file took none.
        QCOMPARE(openBulletin()->windowTitle(), QStringLiteral("Tervan1"));
    }

    // Save As hands the file to the view; the window takes the name of a file written as its own,
    // and Save then writes there again. A copy in another form or a failed save leaves the name.
    void saveAsWritesWhatTheViewShows() {
        QTemporaryDir dir;
        ChildWindow* frame = openBulletin();
        const QString path = dir.filePath("copie.html");
        m_frame->saveDocumentAs(frame, path);
        QCOMPARE(contentOf(path), kShown);
        QCOMPARE(frame->windowTitle(), QStringLiteral("copie.html"));
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - copie.html"));
        QCOMPARE(m_recent->files().value(0), QFileInfo(path).absoluteFilePath());

        QVERIFY(QFile::remove(path));
        m_frame->action(ID_FILE_SAVE)->trigger();
        QCOMPARE(contentOf(path), kShown);
        QCOMPARE(viewOf(frame)->savedTo, (QStringList{path, QFileInfo(path).absoluteFilePath()}));

        m_frame->saveDocumentAs(frame, dir.filePath("copie.pdf"));
        QCOMPARE(contentOf(dir.filePath("copie.pdf")), kShown);
        m_frame->saveDocumentAs(frame, dir.filePath("lipsa/alt.html"));
        QCOMPARE(frame->windowTitle(), QStringLiteral("copie.html"));
        QCOMPARE(m_recent->files().size(), 1);

        // The file another window stands for is not replaced.
        ChildWindow* other = openBulletin();
        m_frame->saveDocumentAs(other, path);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(viewOf(other)->savedTo.isEmpty());
        QCOMPARE(other->windowTitle(), QStringLiteral("Tervan2"));
    }

    void missingFileOpensNoWindow() {
        QTemporaryDir dir;
        QVERIFY(!openBulletin(dir.filePath("nu-exista.html")));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().contains(QStringLiteral("nu-exista.html")));
        QVERIFY(m_frame->childFrames().isEmpty());
    }

    void recentFilesKeepFour() {
        QTemporaryDir dir;
        QStringList paths;
        for (int i = 1; i <= 5; ++i)
            paths << QFileInfo(dir.filePath(QStringLiteral("b%1.html").arg(i))).absoluteFilePath();
        for (const QString& path : paths)
            m_recent->add(path);
        QCOMPARE(m_recent->files(), (QStringList{paths[4], paths[3], paths[2], paths[1]}));
        // Choosing an entry again brings it to the top without a duplicate.
        m_recent->add(paths[2]);
        QCOMPARE(m_recent->files(), (QStringList{paths[2], paths[4], paths[3], paths[1]}));

        RecentFileList reloaded(4);
        reloaded.load();
        QCOMPARE(reloaded.files(), m_recent->files());

        QMenu* file = menuNamed(m_frame->menuBar(), QStringLiteral("&File"));
        const QStringList items = itemsOf(file);
        QVERIFY(!items.contains(QStringLiteral("Recent File(off)")));
        QCOMPARE(items.at(5), QStringLiteral("&1 ") + QDir::toNativeSeparators(paths[2]));
        QCOMPARE(items.at(8), QStringLiteral("&4 ") + QDir::toNativeSeparators(paths[1]));
        QCOMPARE(items.at(10), QStringLiteral("E&xit"));

        QSignalSpy chosen(m_frame.get(), &MainWindow::recentFileChosen);
        file->actions().at(6)->trigger();
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen.first().first().toString(), paths[4]);

        m_recent->remove(paths[4]);
        QCOMPARE(m_recent->files().size(), 3);
        QCOMPARE(itemsOf(file).at(6), QStringLiteral("&2 ") + QDir::toNativeSeparators(paths[3]));

        // A '&' in a file name is shown, not taken as a mnemonic.
        m_recent->add(dir.filePath(QStringLiteral("Pop & fiul.html")));
        QVERIFY(itemsOf(file).at(5).endsWith(QStringLiteral("Pop && fiul.html")));
    }

    // The main window comes back as the user left it: size and place, or maximised.
    void rememberedLayout_data() {
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("maximised");
        QTest::newRow("size and place") << QRect(60, 40, 900, 620) << false;
        QTest::newRow("maximised") << QRect(80, 50, 700, 500) << true;
    }

    void rememberedLayout() {
        QFETCH(QRect, geometry);
        QFETCH(bool, maximised);
        m_frame->setGeometry(geometry);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        if (maximised)
            m_frame->showMaximized();
        QTRY_COMPARE(m_frame->isMaximized(), maximised);
        QTRY_COMPARE(m_frame->normalGeometry(), geometry);
        m_frame->action(ID_APP_EXIT)->trigger();
        QVERIFY(!m_frame->isVisible());

        m_frame = std::make_unique<MainWindow>(m_recent.get());
        m_bulletin->setMainFrame(m_frame.get());
        m_list->setMainFrame(m_frame.get());
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QTRY_COMPARE(m_frame->isMaximized(), maximised);
        QCOMPARE(m_frame->normalGeometry(), geometry);
    }

    // The tool buttons run their commands where the menus would, each with its icon and tip; View
    // hides and shows both bars, and a bar closed on its own unchecks its menu item.
    void toolBarRunsCommandsAndBarsToggle() {
        QToolBar* tools = m_frame->toolBar();
        for (QAction* action : tools->actions())
            QVERIFY2(action->isSeparator() || (!action->icon().isNull() && !action->toolTip().isEmpty()),
                     qPrintable(action->text()));
        ChildWindow* list = openList();
        ChildWindow* bulletin = openBulletin();
        auto* print = qobject_cast<QToolButton*>(tools->widgetForAction(m_frame->action(ID_FILE_PRINT)));
        auto* exportPdf = qobject_cast<QToolButton*>(tools->widgetForAction(m_frame->action(ID_FILE_EXPORT_PDF)));
        QVERIFY(print && exportPdf);
        QTest::mouseClick(print, Qt::LeftButton);
        QTest::mouseClick(exportPdf, Qt::LeftButton);
        QCOMPARE(viewOf(bulletin)->prints, 1);
        QCOMPARE(viewOf(bulletin)->exports, 1);
        m_frame->mdiArea()->setActiveSubWindow(list);
        QTest::mouseClick(print, Qt::LeftButton);
        QTest::mouseClick(exportPdf, Qt::LeftButton);
        QCOMPARE(viewOf(bulletin)->prints, 1);
        QCOMPARE(viewOf(bulletin)->exports, 1);

        QAction* toggleTools = m_frame->action(ID_VIEW_TOOLBAR);
        QAction* toggleStatus = m_frame->action(ID_VIEW_STATUS_BAR);
        toggleTools->trigger();
        QVERIFY(!tools->isVisible());
        QVERIFY(!toggleTools->isChecked());
        toggleTools->trigger();
        QVERIFY(tools->isVisible());
        toggleStatus->trigger();
        QVERIFY(!m_frame->statusBar()->isVisible());
        QVERIFY(!toggleStatus->isChecked());
        toggleStatus->trigger();
        QVERIFY(m_frame->statusBar()->isVisible());
        tools->close();
        QVERIFY(!toggleTools->isChecked());
    }

    void statusBarShowsReadyAndPrompts() {
        QStatusBar* bar = m_frame->statusBar();
        QCOMPARE(bar->currentMessage(), QStringLiteral("Ready"));
        QStringList indicators;
        for (const char* name : {"indicatorCAP", "indicatorNUM", "indicatorSCRL"}) {
            auto* label = bar->findChild<QLabel*>(QLatin1String(name));
            QVERIFY(label);
            indicators << label->text();
        }
        QCOMPARE(indicators, (QStringList{"CAP", "NUM", "SCRL"}));
        // Pointing at a command shows its prompt; leaving it brings "Ready" back.
        m_frame->action(ID_FILE_OPEN)->showStatusText(m_frame.get());
        QCOMPARE(bar->currentMessage(), QStringLiteral("Open an existing document"));
        bar->clearMessage();
        QCOMPARE(bar->currentMessage(), QStringLiteral("Ready"));
    }
};

LABROSA_GUI_TEST_MAIN(TestShell)
#include "tst_shell.moc"
