#pragma once

#include <QString>

// What a view inside a child frame offers to the frame and the template.
class CViewBase {
public:
    // How a save ended: nothing written (the view has said why), the file written whole as the
    // window's own document (the window may take its name), or a copy in another form started.
    enum class SaveResult { Failed, Saved, Exported };

    virtual ~CViewBase() = default;
    // Runs once, after the view has been put into its child frame.
    virtual void OnInitialUpdate() {}
    // Views that print (the bulletin) answer true and handle File > Print.
    virtual bool CanPrint() const { return false; }
    virtual void OnFilePrint() {}
    // Views that can write themselves to a PDF file (the bulletin) answer File > Export PDF.
    virtual bool CanExportPdf() const { return false; }
    virtual void OnFileExportPdf() {}
    // Views that can write what they show to a file (the bulletin) answer File > Save and Save As;
    // for the others both commands are disabled.
    virtual bool CanSave() const { return false; }
    // Writes what the view shows to path, replacing a file there only once written whole.
    virtual SaveResult SaveAs(const QString& path) {
        Q_UNUSED(path);
        return SaveResult::Failed;
    }
};
