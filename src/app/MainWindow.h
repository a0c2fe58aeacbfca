#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

class ChildWindow;
class RecentFileList;
class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QToolBar;

// The main window: menus, tool bar and status bar around the area that holds the child
// windows. The menu bar follows the active child: bulletin windows bring their own menu, and
// a view may add a menu of its own commands (DocumentView::viewMenu).
// New, Open, Print Setup and About are answered by the application object, which connects
// to action(id)->triggered; the frame answers the rest.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(RecentFileList* recentFiles, QWidget* parent = nullptr);
    ~MainWindow() override;

    QMdiArea* mdiArea() const { return m_mdi; }
    QToolBar* toolBar() const { return m_barTools; }
    // The action of a command id (Resource.h), or null.
    QAction* action(int commandId) const { return m_actions.value(commandId); }
    ChildWindow* activeChild() const;
    QList<ChildWindow*> childFrames() const;
    // Which menu the menu bar shows now: IDR_MAINFRAME or IDR_BULLETINTYPE.
    int currentMenuId() const { return m_menuId; }

    // Writes what the window shows to path (its view saves it), unless path is one of the
    // protected files or a file that another window was opened from or saved to: those are left
    // untouched, with a message. A window whose view saves nothing writes nothing.
    void saveDocumentAs(ChildWindow* child, const QString& path);
    // The files of the program that a Save must never overwrite (absolute paths).
    void setProtectedFiles(const QStringList& paths) { m_protectedFiles = paths; }

signals:
    // A recent-file entry was chosen.
    void recentFileChosen(const QString& path);

public slots:
    void onActiveChildChanged();
    void updateFrameTitle();
    void onFileClose();
    void onFileSave();
    void onFileSaveAs();
    void onFilePrint();
    void onFileExportPdf();
    void onWindowNew();
    void onWindowArrange();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QAction* createAction(int commandId, const QString& text, const QString& commandString,
                          const QString& iconName = QString());
    void createMenus();
    void createToolBar();
    void createStatusBar();
    // viewMenu: the active view's own menu, shown after View (null for none).
    void showMenu(int menuId, QMenu* viewMenu = nullptr);
    void updateRecentFileMenu();
    void updateWindowMenu();

    QMdiArea* m_mdi = nullptr;
    QToolBar* m_barTools = nullptr;
    QList<QLabel*> m_indicators;
    RecentFileList* m_recentFiles;
    QHash<int, QAction*> m_actions;
    QMenu* m_fileMenuMain = nullptr;
    QMenu* m_fileMenuBulletin = nullptr;
    QMenu* m_editMenu = nullptr;
    QMenu* m_viewMenu = nullptr;
    QMenu* m_windowMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QMenu* m_labMenu = nullptr;
    QAction* m_recentAnchorMain = nullptr;
    QAction* m_recentAnchorBulletin = nullptr;
    QAction* m_windowListSeparator = nullptr;
    QList<QAction*> m_recentActions;
    QList<QAction*> m_windowActions;
    QString m_title;
    QStringList m_protectedFiles;
    int m_menuId = 0;
    QPointer<QMenu> m_shownViewMenu; // the view's menu in the bar now, if any
};
