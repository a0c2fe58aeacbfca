#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QStringList>

class CChildFrame;
class CRecentFileList;
class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QToolBar;

// The main window: menus, tool bar and status bar around the area that holds the child
// windows. The menu bar follows the active child: bulletin windows bring their own menu.
// New, Open, Print Setup and About are answered by the application object, which connects
// to action(id)->triggered; the frame answers the rest.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CRecentFileList* recentFiles, QWidget* parent = nullptr);
    ~CMainFrame() override;

    QMdiArea* mdiArea() const { return m_pMdi; }
    QToolBar* toolBar() const { return m_barTools; }
    // The action of a command id (Resource.h), or null.
    QAction* action(int commandId) const { return m_actions.value(commandId); }
    CChildFrame* activeChild() const;
    QList<CChildFrame*> childFrames() const;
    // Which menu the menu bar shows now: IDR_MAINFRAME or IDR_TERVANTYPE.
    int currentMenuId() const { return m_menuId; }

    // Writes what the window shows to path (its view saves it), unless path is one of the
    // protected files or a file that another window was opened from or saved to: those are left
    // untouched, with a message. A window whose view saves nothing writes nothing.
    void SaveDocumentAs(CChildFrame* child, const QString& path);
    // The files of the program that a Save must never overwrite (absolute paths).
    void SetProtectedFiles(const QStringList& paths) { m_protectedFiles = paths; }

signals:
    // A recent-file entry was chosen.
    void recentFileChosen(const QString& path);

public slots:
    void OnActiveChildChanged();
    void UpdateFrameTitle();
    void OnFileClose();
    void OnFileSave();
    void OnFileSaveAs();
    void OnFilePrint();
    void OnFileExportPdf();
    void OnWindowNew();
    void OnWindowArrange();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QAction* CreateAction(int commandId, const QString& text, const QString& commandString,
                          const QString& iconName = QString());
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void ShowMenu(int menuId);
    void UpdateRecentFileMenu();
    void UpdateWindowMenu();

    QMdiArea* m_pMdi = nullptr;
    QToolBar* m_barTools = nullptr;
    QList<QLabel*> m_indicators;
    CRecentFileList* m_pRecentFiles;
    QHash<int, QAction*> m_actions;
    QMenu* m_pFileMenuMain = nullptr;
    QMenu* m_pFileMenuBulletin = nullptr;
    QMenu* m_pEditMenu = nullptr;
    QMenu* m_pViewMenu = nullptr;
    QMenu* m_pWindowMenu = nullptr;
    QMenu* m_pHelpMenu = nullptr;
    QAction* m_pRecentAnchorMain = nullptr;
    QAction* m_pRecentAnchorBulletin = nullptr;
    QAction* m_pWindowListSeparator = nullptr;
    QList<QAction*> m_recentActions;
    QList<QAction*> m_windowActions;
    QString m_title;
    QStringList m_protectedFiles;
    int m_menuId = 0;
};
