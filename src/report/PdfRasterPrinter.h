#pragma once

#include <QByteArray>
#include <QString>

class QPrinter;

// Sends the pages of a PDF to a printer as images at the printer's resolution, as the
// engine's own printing does, so a printed bulletin is the PDF it exports, footer included.
class PdfRasterPrinter {
public:
    // Prints the pages the printer's range names (all when it names none); false, with the
    // reason, when the PDF cannot be read or the printer fails.
    static bool print(const QByteArray& pdf, QPrinter& printer, QString* reason);
};
