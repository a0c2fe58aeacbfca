#pragma once

#include <QString>

#include "DocumentContext.h"

class QMenu;

// What a view inside a child frame offers to the frame and the template.
class DocumentView {
public:
    // How a save ended: nothing written (the view has said why), the file written whole as the
    // window's own document (the window may take its name), or a copy in another form started.
    enum class SaveResult { failed, Saved, Exported };

    virtual ~DocumentView() = default;
    // What the window was opened with, given once before onInitialUpdate; only the first window
    // of a document gets one.
    virtual void setOpeningContext(const DocumentContext& context) { Q_UNUSED(context); }
    // Runs once, after the view has been put into its child frame.
    virtual void onInitialUpdate() {}
    // A menu of the view's own commands, shown in the menu bar while its window is active.
    virtual QMenu* viewMenu() const { return nullptr; }
    // Views that print (the bulletin) answer true and handle File > Print.
    virtual bool canPrint() const { return false; }
    virtual void onFilePrint() {}
    // Views that can write themselves to a PDF file (the bulletin) answer File > Export PDF.
    virtual bool canExportPdf() const { return false; }
    virtual void onFileExportPdf() {}
    // Views that can write what they show to a file (the bulletin) answer File > Save and Save As;
    // for the others both commands are disabled.
    virtual bool canSave() const { return false; }
    // Writes what the view shows to path, replacing a file there only once written whole.
    virtual SaveResult saveAs(const QString& path) {
        Q_UNUSED(path);
        return SaveResult::failed;
    }
};
