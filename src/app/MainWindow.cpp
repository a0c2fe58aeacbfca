#include "MainWindow.h"

#include "BulletinDocument.h"
#include "ChildWindow.h"
#include "CommandIds.h"
#include "DesktopIntegration.h"
#include "DocumentTemplate.h"
#include "DocumentView.h"
#include "MessageBox.h"
#include "RecentFileList.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>

#include <sys/stat.h>

namespace {
const char* const kAppTitle = "Labrosa";
const char* const kReady = "Ready";
const char* const kKeyGeometry = "MainFrame/Geometry";
const char* const kMsgFileInUse = "Fisierul %1 este folosit de program si nu poate fi inlocuit. Alegeti alt nume.";

// A path with its folder resolved (links, "..", doubled slashes), also for a file that does not
// exist yet; a link to a missing file stands for that file, which saving through it would create.
QString resolvedPath(const QString& path) {
    QFileInfo info(path);
    for (int depth = 0; depth < 8 && info.isSymLink() && !info.exists(); ++depth)
        info = QFileInfo(info.symLinkTarget());
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + QLatin1Char('/') + info.fileName();
}

// A page with "PDF" on it, for desktops whose icon theme has no export icon.
QIcon pdfIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x55, 0x55, 0x55), 2));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(5, 1, 22, 30));
    painter.fillRect(QRectF(1, 14, 30, 12), QColor(0xc0, 0x1c, 0x28));
    QFont font = painter.font();
    font.setPixelSize(10);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(1, 14, 30, 12), Qt::AlignCenter, QStringLiteral("PDF"));
    painter.end();
    return QIcon(pixmap);
}

// Whether two paths name the same file, whatever link or spelling leads to it.
bool sameFile(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return resolvedPath(a) == resolvedPath(b);
}
} // namespace

MainWindow::MainWindow(RecentFileList* recentFiles, QWidget* parent) : QMainWindow(parent), m_recentFiles(recentFiles) {
    // The icons live in a static library; make sure its resources are linked in.
    Q_INIT_RESOURCE(labrosa);

    setObjectName(QStringLiteral("mainFrame"));
    setWindowIcon(DesktopIntegration::windowIcon());
    m_title = QLatin1String(kAppTitle);
    setWindowTitle(m_title);

    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName(QStringLiteral("mdiArea"));
    m_mdi->setViewMode(QMdiArea::SubWindowView);
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);
    connect(m_mdi, &QMdiArea::subWindowActivated, this, &MainWindow::onActiveChildChanged);

    createMenus();
    createToolBar();
    createStatusBar();
    if (m_recentFiles)
        connect(m_recentFiles, &RecentFileList::changed, this, &MainWindow::updateRecentFileMenu);
    updateRecentFileMenu();
    onActiveChildChanged();
    resize(1024, 768);
    // Size, place and maximised state as the user left them.
    restoreGeometry(QSettings().value(QLatin1String(kKeyGeometry)).toByteArray());
}

MainWindow::~MainWindow() {
    // Close the children while the frame is whole: their views still reach it.
    disconnect(m_mdi, nullptr, this, nullptr);
    const QList<QMdiSubWindow*> children = m_mdi->subWindowList();
    for (QMdiSubWindow* child : children)
        disconnect(child, nullptr, this, nullptr);
    for (QMdiSubWindow* child : children)
        delete child;
}

QAction* MainWindow::createAction(int commandId, const QString& text, const QString& commandString,
                                  const QString& iconName) {
    auto* action = new QAction(text, this);
    action->setObjectName(QStringLiteral("command%1").arg(commandId));
    // A command string is "status prompt\ntool tip".
    const int lineBreak = commandString.indexOf(QLatin1Char('\n'));
    action->setStatusTip(lineBreak < 0 ? commandString : commandString.left(lineBreak));
    if (lineBreak >= 0)
        action->setToolTip(commandString.mid(lineBreak + 1));
    if (!iconName.isEmpty())
        action->setIcon(QIcon::fromTheme(iconName, QIcon(QStringLiteral(":/icons/%1.svg").arg(iconName))));
    // Shortcuts work whichever menu is shown, as with one accelerator table for all windows.
    addAction(action);
    m_actions.insert(commandId, action);
    return action;
}

void MainWindow::createMenus() {
    QAction* fileNew = createAction(ID_FILE_NEW, QStringLiteral("&New"), QStringLiteral("Create a new document\nNew"),
                                    QStringLiteral("document-new"));
    fileNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    QAction* fileOpen =
        createAction(ID_FILE_OPEN, QStringLiteral("&Open..."), QStringLiteral("Open an existing document\nOpen"),
                     QStringLiteral("document-open"));
    fileOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* fileClose =
        createAction(ID_FILE_CLOSE, QStringLiteral("&Close"), QStringLiteral("Close the active document\nClose"));
    QAction* fileSave = createAction(ID_FILE_SAVE, QStringLiteral("&Save"),
                                     QStringLiteral("Save the active document\nSave"), QStringLiteral("document-save"));
    fileSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction* fileSaveAs = createAction(ID_FILE_SAVE_AS, QStringLiteral("Save &As..."),
                                       QStringLiteral("Save the active document with a new name\nSave As"));
    QAction* filePrint =
        createAction(ID_FILE_PRINT, QStringLiteral("&Print..."), QStringLiteral("Print the active document\nPrint"),
                     QStringLiteral("document-print"));
    filePrint->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    QAction* exportPdf =
        createAction(ID_FILE_EXPORT_PDF, QStringLiteral("&Export PDF..."),
                     QStringLiteral("Salveaza buletinul intr-un fisier PDF, fara imprimanta\nExport PDF"));
    exportPdf->setIcon(QIcon::fromTheme(QStringLiteral("document-export"), pdfIcon()));
    exportPdf->setIconText(QStringLiteral("PDF"));
    QAction* printSetup = createAction(ID_FILE_PRINT_SETUP, QStringLiteral("P&rint Setup..."),
                                       QStringLiteral("Change the printer and printing options\nPrint Setup"));
    QAction* exitAction = createAction(ID_APP_EXIT, QStringLiteral("E&xit"),
                                       QStringLiteral("Quit the application; prompts to save documents\nExit"));

    QAction* undo = createAction(ID_EDIT_UNDO, QStringLiteral("&Undo"), QStringLiteral("Undo the last action\nUndo"));
    undo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)});
    QAction* cut =
        createAction(ID_EDIT_CUT, QStringLiteral("Cu&t"),
                     QStringLiteral("Cut the selection and put it on the Clipboard\nCut"), QStringLiteral("edit-cut"));
    cut->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
    QAction* copy = createAction(ID_EDIT_COPY, QStringLiteral("&Copy"),
                                 QStringLiteral("Copy the selection and put it on the Clipboard\nCopy"),
                                 QStringLiteral("edit-copy"));
    copy->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    QAction* paste = createAction(ID_EDIT_PASTE, QStringLiteral("&Paste"),
                                  QStringLiteral("Insert Clipboard contents\nPaste"), QStringLiteral("edit-paste"));
    paste->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    // The program has no editing of its own to offer here.
    for (QAction* action : {undo, cut, copy, paste})
        action->setEnabled(false);

    QAction* viewToolbar = createAction(ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"),
                                        QStringLiteral("Show or hide the toolbar\nToggle ToolBar"));
    QAction* viewStatus = createAction(ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"),
                                       QStringLiteral("Show or hide the status bar\nToggle StatusBar"));
    viewToolbar->setCheckable(true);
    viewStatus->setCheckable(true);

    QAction* windowNew = createAction(ID_WINDOW_NEW, QStringLiteral("&New Window"),
                                      QStringLiteral("Open another window for the active document\nNew Window"));
    QAction* cascade = createAction(ID_WINDOW_CASCADE, QStringLiteral("&Cascade"),
                                    QStringLiteral("Arrange windows so they overlap\nCascade Windows"));
    QAction* tile = createAction(ID_WINDOW_TILE_HORZ, QStringLiteral("&Tile"),
                                 QStringLiteral("Arrange windows as non-overlapping tiles\nTile Windows"));
    QAction* arrange = createAction(ID_WINDOW_ARRANGE, QStringLiteral("&Arrange Icons"),
                                    QStringLiteral("Arrange icons at the bottom of the window\nArrange Icons"));
    QAction* about = createAction(ID_APP_ABOUT, QStringLiteral("&About Labrosa..."),
                                  QStringLiteral("Display program information, version number and copyright\nAbout"),
                                  QStringLiteral("help-about"));

    connect(fileClose, &QAction::triggered, this, &MainWindow::onFileClose);
    connect(fileSave, &QAction::triggered, this, &MainWindow::onFileSave);
    connect(fileSaveAs, &QAction::triggered, this, &MainWindow::onFileSaveAs);
    connect(filePrint, &QAction::triggered, this, &MainWindow::onFilePrint);
    connect(exportPdf, &QAction::triggered, this, &MainWindow::onFileExportPdf);
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    connect(windowNew, &QAction::triggered, this, &MainWindow::onWindowNew);
    connect(cascade, &QAction::triggered, m_mdi, &QMdiArea::cascadeSubWindows);
    connect(tile, &QAction::triggered, m_mdi, &QMdiArea::tileSubWindows);
    connect(arrange, &QAction::triggered, this, &MainWindow::onWindowArrange);

    m_fileMenuMain = new QMenu(QStringLiteral("&File"), this);
    m_fileMenuMain->setObjectName(QStringLiteral("menuFile128"));
    m_fileMenuMain->addAction(fileNew);
    m_fileMenuMain->addAction(fileOpen);
    m_fileMenuMain->addSeparator();
    m_fileMenuMain->addAction(printSetup);
    m_fileMenuMain->addSeparator();
    m_recentAnchorMain = m_fileMenuMain->addSeparator();
    m_fileMenuMain->addAction(exitAction);

    m_fileMenuBulletin = new QMenu(QStringLiteral("&File"), this);
    m_fileMenuBulletin->setObjectName(QStringLiteral("menuFile129"));
    m_fileMenuBulletin->addActions({fileNew, fileOpen, fileClose, fileSave, fileSaveAs});
    m_fileMenuBulletin->addSeparator();
    m_fileMenuBulletin->addActions({filePrint, exportPdf, printSetup});
    m_fileMenuBulletin->addSeparator();
    m_recentAnchorBulletin = m_fileMenuBulletin->addSeparator();
    m_fileMenuBulletin->addAction(exitAction);

    m_editMenu = new QMenu(QStringLiteral("&Edit"), this);
    m_editMenu->setObjectName(QStringLiteral("menuEdit"));
    m_editMenu->addAction(undo);
    m_editMenu->addSeparator();
    m_editMenu->addActions({cut, copy, paste});

    m_viewMenu = new QMenu(QStringLiteral("&View"), this);
    m_viewMenu->setObjectName(QStringLiteral("menuView"));
    m_viewMenu->addActions({viewToolbar, viewStatus});

    m_windowMenu = new QMenu(QStringLiteral("&Window"), this);
    m_windowMenu->setObjectName(QStringLiteral("menuWindow"));
    m_windowMenu->addActions({windowNew, cascade, tile, arrange});
    m_windowListSeparator = m_windowMenu->addSeparator();
    connect(m_windowMenu, &QMenu::aboutToShow, this, &MainWindow::updateWindowMenu);

    // The laboratory's own tasks, answered by the application object like New and Open.
    m_labMenu = new QMenu(QStringLiteral("&Laborator"), this);
    m_labMenu->setObjectName(QStringLiteral("menuLaborator"));
    m_labMenu->addAction(createAction(ID_LAB_HEADER, QStringLiteral("&Antetul buletinului..."),
                                      QStringLiteral("Numele, adresa si telefonul laboratorului din antetul "
                                                     "buletinului\nAntetul buletinului")));
    m_labMenu->addSeparator();
    m_labMenu->addAction(createAction(ID_LAB_CHANGE, QStringLiteral("&Schimba laboratorul..."),
                                      QStringLiteral("Deschide alt dosar al laboratorului sau alt server\nSchimba "
                                                     "laboratorul")));
    m_labMenu->addAction(createAction(ID_LAB_NEW, QStringLiteral("Laborator &nou..."),
                                      QStringLiteral("Face un laborator nou, gol, intr-un dosar ales\nLaborator nou")));
    m_labMenu->addSeparator();
    m_labMenu->addAction(createAction(ID_LAB_IMPORT_ACCESS, QStringLiteral("&Import din Access..."),
                                      QStringLiteral("Aduce rezultatele dintr-o baza de date Access\nImport din "
                                                     "Access")));
    m_labMenu->addAction(createAction(ID_LAB_ADD_JOURNAL, QStringLiteral("Adauga &jurnalul corecturilor..."),
                                      QStringLiteral("Adauga bazei de date jurnalul corecturilor si arhiva "
                                                     "buletinelor\nAdauga jurnalul")));
    m_labMenu->addAction(createAction(ID_LAB_SIGNATORIES, QStringLiteral("Se&mnatari..."),
                                      QStringLiteral("Cine poate valida buletinele laboratorului\nSemnatari")));
    m_labMenu->addAction(createAction(ID_LAB_UNMATCHED, QStringLiteral("Rezultate &nepotrivite..."),
                                      QStringLiteral("Legaturile cu analizoarele si rezultatele primite care asteapta "
                                                     "cererea sau parametrul\nRezultate nepotrivite")));
    m_labMenu->addSeparator();
    m_labMenu->addAction(createAction(ID_LAB_BACKUP_NOW, QStringLiteral("Fa o &copie acum"),
                                      QStringLiteral("Face o copie de siguranta verificata a bazei de date\nFa o "
                                                     "copie acum")));
    m_labMenu->addAction(createAction(ID_LAB_RESTORE, QStringLiteral("&Restaureaza din copie..."),
                                      QStringLiteral("Pune o copie de siguranta in locul bazei de date\nRestaureaza "
                                                     "din copie")));
    m_labMenu->addAction(createAction(ID_LAB_SERVER_BACKUP, QStringLiteral("Copiile serverului &PostgreSQL..."),
                                      QStringLiteral("Comenzile pg_dump si pg_restore pentru baza de date de pe "
                                                     "server\nCopiile serverului")));

    // Offered by the application once it knows the database lacks them.
    action(ID_LAB_ADD_JOURNAL)->setEnabled(false);
    // Offered by the application once it knows whether the database is a file or on a server.
    action(ID_LAB_RESTORE)->setEnabled(false);
    action(ID_LAB_SERVER_BACKUP)->setEnabled(false);

    m_helpMenu = new QMenu(QStringLiteral("&Help"), this);
    m_helpMenu->setObjectName(QStringLiteral("menuHelp"));
    m_helpMenu->addAction(about);
}

void MainWindow::createToolBar() {
    m_barTools = new QToolBar(QStringLiteral("Standard"), this);
    m_barTools->setObjectName(QStringLiteral("toolBar"));
    m_barTools->setMovable(true);
    m_barTools->setFloatable(true);
    m_barTools->setAllowedAreas(Qt::AllToolBarAreas);
    m_barTools->setIconSize(QSize(16, 16));
    m_barTools->addAction(action(ID_FILE_NEW));
    m_barTools->addAction(action(ID_FILE_OPEN));
    m_barTools->addAction(action(ID_FILE_SAVE));
    m_barTools->addSeparator();
    m_barTools->addAction(action(ID_EDIT_CUT));
    m_barTools->addAction(action(ID_EDIT_COPY));
    m_barTools->addAction(action(ID_EDIT_PASTE));
    m_barTools->addSeparator();
    m_barTools->addAction(action(ID_FILE_PRINT));
    m_barTools->addAction(action(ID_FILE_EXPORT_PDF));
    m_barTools->addSeparator();
    m_barTools->addAction(action(ID_APP_ABOUT));
    addToolBar(Qt::TopToolBarArea, m_barTools);

    QAction* toggle = action(ID_VIEW_TOOLBAR);
    toggle->setChecked(true);
    connect(toggle, &QAction::triggered, m_barTools, &QWidget::setVisible);
    // A floating bar closed with its own button unchecks the menu item too.
    connect(m_barTools, &QToolBar::visibilityChanged, this, [this, toggle](bool visible) {
        if (!isHidden())
            toggle->setChecked(visible);
    });
}

void MainWindow::createStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    for (const char* text : {"CAP", "NUM", "SCRL"}) {
        auto* indicator = new QLabel(QLatin1String(text), bar);
        indicator->setObjectName(QStringLiteral("indicator%1").arg(QLatin1String(text)));
        indicator->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        indicator->setAlignment(Qt::AlignCenter);
        indicator->setMinimumWidth(indicator->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 8);
        bar->addPermanentWidget(indicator);
        m_indicators.append(indicator);
    }
    // The message pane falls back to "Ready" whenever no command is pointed at.
    connect(bar, &QStatusBar::messageChanged, this, [bar](const QString& message) {
        if (message.isEmpty())
            bar->showMessage(QLatin1String(kReady));
    });
    bar->showMessage(QLatin1String(kReady));

    QAction* toggle = action(ID_VIEW_STATUS_BAR);
    toggle->setChecked(true);
    connect(toggle, &QAction::triggered, bar, &QWidget::setVisible);
}

void MainWindow::showMenu(int menuId, QMenu* viewMenu) {
    if (menuId == m_menuId && viewMenu == m_shownViewMenu)
        return;
    m_menuId = menuId;
    m_shownViewMenu = viewMenu;
    QMenuBar* bar = menuBar();
    bar->clear();
    if (menuId == IDR_BULLETINTYPE) {
        bar->addMenu(m_fileMenuBulletin);
        bar->addMenu(m_editMenu);
        bar->addMenu(m_viewMenu);
        bar->addMenu(m_windowMenu);
        bar->addMenu(m_labMenu);
        bar->addMenu(m_helpMenu);
    } else {
        bar->addMenu(m_fileMenuMain);
        bar->addMenu(m_viewMenu);
        if (viewMenu)
            bar->addMenu(viewMenu);
        bar->addMenu(m_labMenu);
        bar->addMenu(m_helpMenu);
    }
}

ChildWindow* MainWindow::activeChild() const {
    return qobject_cast<ChildWindow*>(m_mdi->currentSubWindow());
}

QList<ChildWindow*> MainWindow::childFrames() const {
    QList<ChildWindow*> frames;
    const QList<QMdiSubWindow*> windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    for (QMdiSubWindow* window : windows)
        if (auto* frame = qobject_cast<ChildWindow*>(window))
            frames.append(frame);
    return frames;
}

void MainWindow::onActiveChildChanged() {
    ChildWindow* child = activeChild();
    DocumentView* view = child ? child->viewBase() : nullptr;
    showMenu(child && child->resourceId() == IDR_BULLETINTYPE ? IDR_BULLETINTYPE : IDR_MAINFRAME,
             view ? view->viewMenu() : nullptr);

    action(ID_FILE_PRINT)->setEnabled(view && view->canPrint());
    action(ID_FILE_EXPORT_PDF)->setEnabled(view && view->canExportPdf());
    action(ID_FILE_SAVE)->setEnabled(view && view->canSave());
    action(ID_FILE_SAVE_AS)->setEnabled(view && view->canSave());
    for (int id : {ID_FILE_CLOSE, ID_WINDOW_NEW, ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ, ID_WINDOW_ARRANGE})
        action(id)->setEnabled(child != nullptr);
    if (child)
        connect(child, &QWidget::windowTitleChanged, this, &MainWindow::updateFrameTitle, Qt::UniqueConnection);
    updateFrameTitle();
}

void MainWindow::updateFrameTitle() {
    ChildWindow* child = activeChild();
    const QString appTitle = QLatin1String(kAppTitle);
    m_title =
        child && !child->windowTitle().isEmpty() ? appTitle + QStringLiteral(" - ") + child->windowTitle() : appTitle;
    setWindowTitle(m_title);
}

void MainWindow::changeEvent(QEvent* event) {
    // A maximised child writes its own title into the main window's caption; keep ours.
    if (event->type() == QEvent::WindowTitleChange && !m_title.isEmpty() && windowTitle() != m_title)
        setWindowTitle(m_title);
    QMainWindow::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QSettings().setValue(QLatin1String(kKeyGeometry), saveGeometry());
    // The documents store nothing, so no window asks to be saved.
    m_mdi->closeAllSubWindows();
    event->accept();
}

void MainWindow::onFileClose() {
    ChildWindow* child = activeChild();
    if (!child)
        return;
    // Closing a document closes every window that shows it.
    const QList<ChildWindow*> frames = child->document()->frames();
    for (ChildWindow* frame : frames)
        frame->close();
}

void MainWindow::onFileSave() {
    ChildWindow* child = activeChild();
    DocumentView* view = child ? child->viewBase() : nullptr;
    if (!view || !view->canSave())
        return;
    BulletinDocument* document = child->document();
    // A file that was only opened holds its own bulletin, not the one shown: Save asks for a name.
    if (document->isSavedHere() && !document->pathName().isEmpty())
        saveDocumentAs(child, document->pathName());
    else
        onFileSaveAs();
}

void MainWindow::onFileSaveAs() {
    ChildWindow* child = activeChild();
    DocumentView* view = child ? child->viewBase() : nullptr;
    if (!view || !view->canSave())
        return;
    BulletinDocument* document = child->document();
    const QString start =
        document->pathName().isEmpty() ? document->title() + QStringLiteral(".html") : document->pathName();
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save As"), start, QStringLiteral("All Files (*)"));
    if (!path.isEmpty())
        saveDocumentAs(child, path);
}

void MainWindow::saveDocumentAs(ChildWindow* child, const QString& path) {
    DocumentView* view = child ? child->viewBase() : nullptr;
    if (!view || !view->canSave())
        return;
    BulletinDocument* document = child->document();
    // The program's own files, and a file another window stands for, are never replaced; the
    // window's own saved file is written again.
    QStringList kept = m_protectedFiles;
    for (ChildWindow* frame : childFrames()) {
        const BulletinDocument* other = frame->document();
        if (!other->pathName().isEmpty() && !(other == document && other->isSavedHere()))
            kept << other->pathName();
    }
    for (const QString& file : std::as_const(kept)) {
        if (sameFile(path, file)) {
            labrosaMessageBox(QString::fromLatin1(kMsgFileInUse).arg(QDir::toNativeSeparators(path)), this);
            return;
        }
    }
    // A copy in another form (a PDF) leaves the window's name and the recent files as they were.
    if (view->saveAs(path) != DocumentView::SaveResult::Saved)
        return;
    document->setPathName(path, true);
    if (m_recentFiles)
        m_recentFiles->add(path);
}

void MainWindow::onFilePrint() {
    ChildWindow* child = activeChild();
    DocumentView* view = child ? child->viewBase() : nullptr;
    if (view && view->canPrint())
        view->onFilePrint();
}

void MainWindow::onFileExportPdf() {
    ChildWindow* child = activeChild();
    DocumentView* view = child ? child->viewBase() : nullptr;
    if (view && view->canExportPdf())
        view->onFileExportPdf();
}

void MainWindow::onWindowNew() {
    ChildWindow* child = activeChild();
    if (!child || !child->docTemplate())
        return;
    DocumentTemplate* docTemplate = child->docTemplate();
    ChildWindow* frame = docTemplate->createNewFrame(child->document());
    if (!frame) {
        labrosaMessageBox(QStringLiteral("Failed to create a new window."), this);
        return;
    }
    docTemplate->initialUpdateFrame(frame);
}

void MainWindow::onWindowArrange() {
    // Minimised windows line up along the bottom edge of the client area.
    int x = 0;
    const int bottom = m_mdi->viewport()->height();
    const QList<QMdiSubWindow*> windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    for (QMdiSubWindow* window : windows) {
        if (!window->isMinimized())
            continue;
        window->move(x, bottom - window->height());
        x += window->width();
    }
}

void MainWindow::updateRecentFileMenu() {
    for (QAction* old : std::as_const(m_recentActions))
        delete old;
    m_recentActions.clear();

    const QStringList files = m_recentFiles ? m_recentFiles->files() : QStringList();
    if (files.isEmpty()) {
        auto* placeholder = new QAction(QStringLiteral("Recent File"), this);
        placeholder->setEnabled(false);
        m_recentActions.append(placeholder);
    }
    for (int i = 0; i < files.size(); ++i) {
        const QString path = files.at(i);
        // A '&' in a path is shown as itself, not taken as the entry's mnemonic.
        const QString shown = QDir::toNativeSeparators(path).replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* entry = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), this);
        entry->setObjectName(QStringLiteral("command%1").arg(ID_FILE_MRU_FILE1 + i));
        entry->setStatusTip(QStringLiteral("Open this document"));
        connect(entry, &QAction::triggered, this, [this, path] { emit recentFileChosen(path); });
        m_recentActions.append(entry);
    }
    m_fileMenuMain->insertActions(m_recentAnchorMain, m_recentActions);
    m_fileMenuBulletin->insertActions(m_recentAnchorBulletin, m_recentActions);
}

void MainWindow::updateWindowMenu() {
    for (QAction* old : std::as_const(m_windowActions))
        delete old;
    m_windowActions.clear();
    const QList<ChildWindow*> frames = childFrames();
    m_windowListSeparator->setVisible(!frames.isEmpty());
    ChildWindow* active = activeChild();
    for (int i = 0; i < frames.size(); ++i) {
        ChildWindow* frame = frames.at(i);
        const QString shown = frame->windowTitle().replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* entry = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), this);
        entry->setCheckable(true);
        entry->setChecked(frame == active);
        entry->setStatusTip(QStringLiteral("Activate this window"));
        connect(entry, &QAction::triggered, this, [this, window = QPointer<ChildWindow>(frame)] {
            if (window)
                m_mdi->setActiveSubWindow(window);
        });
        m_windowActions.append(entry);
    }
    m_windowMenu->addActions(m_windowActions);
}
