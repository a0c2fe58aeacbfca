#include "AppTestMain.h"

#include "CChildFrame.h"
#include "CDocTemplate.h"
#include "CMainFrame.h"
#include "CRecentFileList.h"
#include "CTervanaDoc.h"
#include "CViewBase.h"
#include "MessageBox.h"
#include "Resource.h"

#include <QAction>
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
#include <QToolBar>

#include <memory>

namespace {

// A view like the program's own: printable for bulletins, maximising itself for results.
class TestView : public QWidget, public CViewBase {
public:
    explicit TestView(bool printable, bool maximise) : m_printable(printable), m_maximise(maximise) {}
    void OnInitialUpdate() override {
        ++initialUpdates;
        frameAtInitialUpdate = qobject_cast<CChildFrame*>(parentWidget());
        if (frameAtInitialUpdate)
            sizeAtInitialUpdate = frameAtInitialUpdate->size();
        if (m_maximise && frameAtInitialUpdate)
            frameAtInitialUpdate->showMaximized();
    }
    bool CanPrint() const override { return m_printable; }
    void OnFilePrint() override { ++prints; }

    int initialUpdates = 0;
    int prints = 0;
    CChildFrame* frameAtInitialUpdate = nullptr;
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
    std::unique_ptr<CRecentFileList> m_recent;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<CDocTemplate> m_bulletin;
    std::unique_ptr<CDocTemplate> m_list;
    QStringList m_messages;
    bool m_listViewsFail = false;

    CChildFrame* openBulletin(const QString& path = QString()) { return m_bulletin->OpenDocumentFile(path); }
    CChildFrame* openList() { return m_list->OpenDocumentFile(QString()); }
    static TestView* viewOf(CChildFrame* frame) { return dynamic_cast<TestView*>(frame->view()); }

private slots:
    void init() {
        QSettings().clear();
        m_messages.clear();
        SetMessageBoxHook([this](const QString& text) { m_messages << text; });
        m_listViewsFail = false;
        m_recent = std::make_unique<CRecentFileList>(4);
        m_frame = std::make_unique<CMainFrame>(m_recent.get());
        m_bulletin = std::make_unique<CDocTemplate>(
            IDR_TERVANTYPE, QStringLiteral("\nTervan\nTervan\n\n\nTervana.Document\nTervan Document"),
            [](CTervanaDoc*) { return new TestView(true, false); });
        m_list = std::make_unique<CDocTemplate>(
            IDR_LISTTYPE,
            QStringLiteral(
                "\nLista Rezultate\nLista Rezultate\n\n\nLista Rezultate.Document\nLista Rezultate Document"),
            [this](CTervanaDoc*) -> QWidget* { return m_listViewsFail ? nullptr : new TestView(false, true); });
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
        SetMessageBoxHook(nullptr);
    }

    void documentStringsAndNumbering() {
        QCOMPARE(m_list->docName(), QStringLiteral("Lista Rezultate"));
        QCOMPARE(m_bulletin->newFileName(), QStringLiteral("Tervan"));
        QCOMPARE(m_bulletin->docStringField(6), QStringLiteral("Tervan Document"));
        QCOMPARE(m_bulletin->docStringField(9), QString());

        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa"));
        CChildFrame* first = openList();
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
        CChildFrame* bulletin = openBulletin();
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
        const QStringList mainMenu{"&File", "&View", "&Help"};
        const QStringList bulletinMenu{"&File", "&Edit", "&View", "&Window", "&Help"};
        QCOMPARE(menuTitles(bar), mainMenu);

        CChildFrame* bulletin = openBulletin();
        QCOMPARE(m_frame->currentMenuId(), int(IDR_TERVANTYPE));
        QCOMPARE(menuTitles(bar), bulletinMenu);
        CChildFrame* list = openList();
        QCOMPARE(menuTitles(bar), mainMenu);
        m_frame->mdiArea()->setActiveSubWindow(bulletin);
        QCOMPARE(menuTitles(bar), bulletinMenu);
        bulletin->close();
        QTRY_COMPARE(menuTitles(bar), mainMenu);
        list->close();
        QTRY_VERIFY(m_frame->childFrames().isEmpty());
        QCOMPARE(menuTitles(bar), mainMenu);
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa"));
    }

    void menuItems_data() {
        QTest::addColumn<bool>("bulletin");
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("main file") << false << "&File"
                                   << QStringList{"&New|Ctrl+N", "&Open...|Ctrl+O",  "-", "P&rint Setup...",
                                                  "-",           "Recent File(off)", "-", "E&xit"};
        QTest::newRow("main view") << false << "&View" << QStringList{"&Toolbar", "&Status Bar"};
        QTest::newRow("main help") << false << "&Help" << QStringList{"&About Labrosa..."};
        QTest::newRow("bulletin file") << true << "&File" << QStringList{"&New|Ctrl+N",
                                                                         "&Open...|Ctrl+O",
                                                                         "&Close",
                                                                         "&Save|Ctrl+S",
                                                                         "Save &As...",
                                                                         "-",
                                                                         "&Print...|Ctrl+P",
                                                                         "&Export PDF...(off)",
                                                                         "P&rint Setup...",
                                                                         "-",
                                                                         "Recent File(off)",
                                                                         "-",
                                                                         "E&xit"};
        QTest::newRow("bulletin edit") << true << "&Edit"
                                       << QStringList{"&Undo|Ctrl+Z(off)", "-", "Cu&t|Ctrl+X(off)", "&Copy|Ctrl+C(off)",
                                                      "&Paste|Ctrl+V(off)"};
        QTest::newRow("bulletin window") << true << "&Window"
                                         << QStringList{"&New Window", "&Cascade", "&Tile", "&Arrange Icons", "-"};
    }

    void menuItems() {
        QFETCH(bool, bulletin);
        QFETCH(QString, menu);
        QFETCH(QStringList, items);
        if (bulletin)
            openBulletin();
        QMenu* popup = menuNamed(m_frame->menuBar(), menu);
        QVERIFY(popup);
        QCOMPARE(itemsOf(popup), items);
    }

    void printOnlyWithBulletinActive() {
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QAction* print = m_frame->action(ID_FILE_PRINT);
        QVERIFY(!print->isEnabled());

        CChildFrame* list = openList();
        QTest::keyClick(m_frame.get(), Qt::Key_P, Qt::ControlModifier);
        QVERIFY(!print->isEnabled());
        QCOMPARE(viewOf(list)->prints, 0);

        CChildFrame* bulletin = openBulletin();
        QVERIFY(print->isEnabled());
        QTest::keyClick(m_frame.get(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(viewOf(bulletin)->prints, 1);
        // The tool button follows the same rule.
        m_frame->mdiArea()->setActiveSubWindow(list);
        QVERIFY(!print->isEnabled());
        QVERIFY(m_frame->toolBar()->actions().contains(print));
        QTest::keyClick(m_frame.get(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(viewOf(bulletin)->prints, 1);
    }

    void maximisedChildKeepsFrameTitle() {
        CChildFrame* list = openList();
        QVERIFY(list->isMaximized());
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - Lista Rezultate1"));
        list->showNormal();
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - Lista Rezultate1"));
    }

    void closingNeverAsksToSave() {
        QPointer<CChildFrame> bulletin = openBulletin();
        QPointer<CChildFrame> list = openList();
        QPointer<CTervanaDoc> document = bulletin->document();
        QVERIFY(!document->isModified());
        QVERIFY(m_frame->close());
        QTRY_VERIFY(!bulletin && !list);
        QVERIFY(!document);
        QVERIFY(m_messages.isEmpty());
    }

    void newWindowSharesDocument() {
        CChildFrame* first = openBulletin();
        m_frame->action(ID_WINDOW_NEW)->trigger();
        QCOMPARE(m_frame->childFrames().size(), 2);
        CChildFrame* second = m_frame->activeChild();
        QVERIFY(second != first);
        QCOMPARE(second->document(), first->document());
        QCOMPARE(first->windowTitle(), QStringLiteral("Tervan1:1"));
        QCOMPARE(second->windowTitle(), QStringLiteral("Tervan1:2"));
        QCOMPARE(viewOf(second)->initialUpdates, 1);
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - Tervan1:2"));

        QPointer<CTervanaDoc> document = first->document();
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

    void openedFileTitlesWindowAndIsNeverEmptied() {
        QTemporaryDir dir;
        const QString path = dir.filePath("rezultat-vechi.html");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<p>buletin salvat</p>");
        file.close();

        CChildFrame* frame = openBulletin(path);
        QVERIFY(frame);
        QCOMPARE(frame->windowTitle(), QStringLiteral("rezultat-vechi.html"));
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - rezultat-vechi.html"));
        // The document holds nothing: Save must not wipe the file it was opened from.
        m_frame->action(ID_FILE_SAVE)->trigger();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("<p>buletin salvat</p>"));
        file.close();
        QVERIFY(m_messages.isEmpty());
        // An untitled window keeps its number; the opened file took none.
        QCOMPARE(openBulletin()->windowTitle(), QStringLiteral("Tervan1"));
    }

    void saveAsWritesEmptyFileAndRenames() {
        QTemporaryDir dir;
        CChildFrame* frame = openBulletin();
        const QString path = dir.filePath("copie.html");
        m_frame->SaveDocumentAs(frame->document(), path);
        QVERIFY(QFile::exists(path));
        QCOMPARE(QFileInfo(path).size(), 0);
        QCOMPARE(frame->windowTitle(), QStringLiteral("copie.html"));
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Labrosa - copie.html"));
        QCOMPARE(m_recent->files().value(0), QFileInfo(path).absoluteFilePath());

        // A folder that does not exist: a clear message, the window keeps its name.
        m_frame->SaveDocumentAs(frame->document(), dir.filePath("lipsa/alt.html"));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().contains(QStringLiteral("alt.html")));
        QCOMPARE(frame->windowTitle(), QStringLiteral("copie.html"));
        QCOMPARE(m_recent->files().size(), 1);
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
            m_recent->Add(path);
        QCOMPARE(m_recent->files(), (QStringList{paths[4], paths[3], paths[2], paths[1]}));
        // Choosing an entry again brings it to the top without a duplicate.
        m_recent->Add(paths[2]);
        QCOMPARE(m_recent->files(), (QStringList{paths[2], paths[4], paths[3], paths[1]}));

        CRecentFileList reloaded(4);
        reloaded.Load();
        QCOMPARE(reloaded.files(), m_recent->files());

        QMenu* file = menuNamed(m_frame->menuBar(), QStringLiteral("&File"));
        const QStringList items = itemsOf(file);
        QVERIFY(!items.contains(QStringLiteral("Recent File(off)")));
        QCOMPARE(items.at(5), QStringLiteral("&1 ") + QDir::toNativeSeparators(paths[2]));
        QCOMPARE(items.at(8), QStringLiteral("&4 ") + QDir::toNativeSeparators(paths[1]));
        QCOMPARE(items.at(10), QStringLiteral("E&xit"));

        QSignalSpy chosen(m_frame.get(), &CMainFrame::recentFileChosen);
        file->actions().at(6)->trigger();
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen.first().first().toString(), paths[4]);

        m_recent->Remove(paths[4]);
        QCOMPARE(m_recent->files().size(), 3);
        QCOMPARE(itemsOf(file).at(6), QStringLiteral("&2 ") + QDir::toNativeSeparators(paths[3]));

        // A '&' in a file name is shown, not taken as a mnemonic.
        m_recent->Add(dir.filePath(QStringLiteral("Pop & fiul.html")));
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

        m_frame = std::make_unique<CMainFrame>(m_recent.get());
        m_bulletin->setMainFrame(m_frame.get());
        m_list->setMainFrame(m_frame.get());
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QTRY_COMPARE(m_frame->isMaximized(), maximised);
        QCOMPARE(m_frame->normalGeometry(), geometry);
    }

    void barsDockAndToggle() {
        QToolBar* tools = m_frame->toolBar();
        QVERIFY(tools->isMovable());
        QCOMPARE(tools->allowedAreas(), Qt::AllToolBarAreas);
        QCOMPARE(m_frame->toolBarArea(tools), Qt::TopToolBarArea);
        m_frame->addToolBar(Qt::LeftToolBarArea, tools);
        QCOMPARE(m_frame->toolBarArea(tools), Qt::LeftToolBarArea);

        QStringList tips;
        for (QAction* action : tools->actions())
            tips << (action->isSeparator() ? QStringLiteral("-") : action->toolTip());
        QCOMPARE(tips, (QStringList{"New", "Open", "Save", "-", "Cut", "Copy", "Paste", "-", "Print", "Export PDF", "-",
                                    "About"}));
        QCOMPARE(m_frame->action(ID_FILE_NEW)->statusTip(), QStringLiteral("Create a new document"));
        for (QAction* action : tools->actions())
            QVERIFY2(action->isSeparator() || !action->icon().isNull(), qPrintable(action->toolTip()));

        QAction* toggleTools = m_frame->action(ID_VIEW_TOOLBAR);
        QAction* toggleStatus = m_frame->action(ID_VIEW_STATUS_BAR);
        toggleTools->trigger();
        QVERIFY(!tools->isVisible());
        QVERIFY(!toggleTools->isChecked());
        toggleTools->trigger();
        QVERIFY(tools->isVisible());
        toggleStatus->trigger();
        QVERIFY(!m_frame->statusBar()->isVisible());
        toggleStatus->trigger();
        QVERIFY(m_frame->statusBar()->isVisible());
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
