#pragma once

#include <QByteArray>
#include <QString>

// Gives a PDF a document title (what viewers show for it, and the Title of its information
// dictionary). The engine writes no title, so the PDF gets an incremental update appended: a
// new information dictionary with the old entries and the title, and a cross-reference section
// for it. The bytes already there stay as they are.
class PdfDocumentTitle {
public:
    // The PDF with title; the PDF unchanged when it is not one this can update (no classic
    // cross-reference table and trailer at its end) or when the title is empty.
    static QByteArray withTitle(const QByteArray& pdf, const QString& title);
};
