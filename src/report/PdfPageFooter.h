#pragma once

#include <QByteArray>
#include <QList>
#include <QPageLayout>
#include <QSizeF>
#include <QString>

// The footer of a printed or exported bulletin: on every page the request, the patient and
// "Pagina N din M", and on the last page "Sfarsitul buletinului" above it, so that pages
// cannot be mixed up or lost unnoticed. The engine cannot number its pages, so the footer is
// laid over the finished PDF as a layer of its own; the page's text stays text.
class PdfPageFooter {
public:
    PdfPageFooter() = default;
    PdfPageFooter(const QString& request, const QString& patient);

    // Request and patient as the head of a bulletin page shows them ("Cod cerere:", "Nume:");
    // a page that is no bulletin gives a footer with page numbers only.
    static PdfPageFooter fromBulletinText(const QString& pageText);

    // The page layout to print with: the footer needs room under the page's content.
    static QPageLayout withFooterRoom(QPageLayout layout);
    static QString pageLabel(int page, int pageCount);
    static QString endLine();

    // Where the footer line starts and ends, in points from the left and right edges.
    void setSideMargins(qreal left, qreal right);
    QString request() const { return m_request; }
    QString patient() const { return m_patient; }

    // The PDF with the footer on every page; empty, with the reason, when the PDF cannot be
    // read or the footer not laid over it.
    QByteArray stamp(const QByteArray& pdf, QString* reason) const;

private:
    // One footer page per page of the bulletin, each of its page's size (points).
    QByteArray footerPages(const QList<QSizeF>& pageSizes, QString* reason) const;

    QString m_request;
    QString m_patient;
    qreal m_leftMargin = 28.35;
    qreal m_rightMargin = 28.35;
};
