#pragma once

// What a view inside a child frame offers to the frame and the template.
class CViewBase {
public:
    virtual ~CViewBase() = default;
    // Runs once, after the view has been put into its child frame.
    virtual void OnInitialUpdate() {}
    // Views that print (the bulletin) answer true and handle File > Print.
    virtual bool CanPrint() const { return false; }
    virtual void OnFilePrint() {}
    // Views that can write themselves to a PDF file (the bulletin) answer File > Export PDF.
    virtual bool CanExportPdf() const { return false; }
    virtual void OnFileExportPdf() {}
};
