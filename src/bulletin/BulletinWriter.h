#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <functional>
#include <string>
#include <vector>

class QIODevice;

// The two marker images of a result outside its reference interval.
inline constexpr const char* kMarkerLow = "<IMG height=10 src=\"buletin_files/dr.gif\" width=10 border=0>";
inline constexpr const char* kMarkerHigh = "<IMG height=10 src=\"buletin_files/ub.gif\" width=10 border=0>";

// One corrected field of an amended bulletin: its label and the texts before and after.
struct BulletinChange {
    std::string label;
    std::string oldValue;
    std::string newValue;
};

// Writes the bulletin page piece by piece in UTF-8. Texts from the database are
// HTML-escaped here; the laboratory header is written as the laboratory typed it, so
// it may carry markup of its own.
class BulletinWriter {
public:
    explicit BulletinWriter(QIODevice* device) : m_device(device) {}

    void writeDocumentHead();
    void writeLabHeader(const std::string& name, const std::string& address, const std::string& phone,
                        const std::string& other);
    void writeBulletinHead(const std::string& setDate, const std::string& requestCode, const std::string& patientName,
                           const std::string& profile, const std::string& age, const std::string& sex);
    // The line of an amended bulletin, right after the bulletin head: when it was corrected,
    // which earlier bulletin it replaces, each changed field and, when given, why.
    void writeCorrectionNotice(const std::string& correctedAt, const std::string& replacedMadeAt,
                               const std::vector<BulletinChange>& changes, const std::string& reason = std::string());
    // Once the laboratory has signatories: "BULETIN PRELIMINAR - nevalidat" on a bulletin no
    // signatory has validated, right after the bulletin head.
    void writePreliminaryNotice();
    // The validated bulletin an amended one replaces ("title name", its date and time).
    // changes: what differs from the validated content, "" when it cannot be told.
    void writeReplacedValidation(const std::string& signatory, const std::string& validatedAt,
                                 const std::string& changes = std::string());
    // Under the signature block of a validated bulletin: "Validat de: title name, date time".
    void writeValidatedBy(const std::string& signatory, const std::string& validatedAt);
    // On a bulletin with critical values, after the bulletin head: who was told of them and when.
    void writeCriticalNotice(const std::string& told);
    void writeFirstGroupTitle(const std::string& title);
    void writeFirstColumnHeader();
    void writeNextGroupTitle(const std::string& title);
    void writeNextColumnHeader();
    // marker is one of kMarkerLow / kMarkerHigh or empty, written as it is.
    void writeResultRow(const std::string& name, const std::string& value, const std::string& marker,
                        const std::string& lowerBound, const std::string& upperBound, const std::string& unit);
    // With the previous-value column on, the titles span it and the headers and rows get the
    // column "Anterior"; off (the default) the page is as it always was.
    void setPreviousColumn(bool on) { m_previousColumn = on; }
    // A result row with the parameter's previous value and its date in the column "Anterior".
    void writeResultRow(const std::string& name, const std::string& value, const std::string& marker,
                        const std::string& lowerBound, const std::string& upperBound, const std::string& unit,
                        const std::string& previousValue, const std::string& previousDate);
    // Under the results of a page with the column "Anterior": whose values it shows.
    void writePreviousColumnNote();
    void writeSignature();
    void writeFooter(const QDateTime& printed);
    void writeClosing();

    // False once any write has failed (a full disk, a vanished file).
    bool ok() const { return m_ok; }
    QString errorString() const;

private:
    void write(const std::string& bytes);
    // A title or header piece, widened by the column "Anterior" when it is on.
    std::string withPreviousColumn(const std::string& piece) const;

    QIODevice* m_device;
    bool m_ok = true;
    bool m_previousColumn = false;
};

// A stored result value as the bulletin prints it: cut to the room a value has on the page, each
// record separator (0x1E) turned into a space and the leading spaces dropped. The marker and the
// critical check both read this text, never the stored one.
std::string bulletinValueText(const QString& stored);

// The marker of a result: kMarkerLow below a non-empty lower bound, kMarkerHigh above a
// non-empty upper bound (it wins when both hold), else empty. The value is compared by its
// leading number, where a comma between digits is the decimal point; a value without one,
// or holding a letter with a leading number of 0, gets no marker. A value written "<x",
// "<=x", ">x" or ">=x" is flagged only when every value it allows is outside the interval.
std::string bulletinMarker(const std::string& value, const std::string& lowerBound, const std::string& upperBound);
// The leading decimal number of a text (blanks, sign, digits, full stop or a comma between two
// digits, exponent), 0 when there is none; independent of the locale. The bounds of an
// interval are read this way, so an interval typed "4,5".."9,5" reads as a value does.
double leadingNumber(const std::string& text);

std::string htmlEscape(const std::string& text);
// "day/month/year hour:minute" without leading zeros; empty for NULL or an unreadable value.
std::string formatBulletinDate(const QVariant& value);

// The clock of the print date; tests fix it. An empty function restores the real clock.
void setBulletinClock(std::function<QDateTime()> clock);
QDateTime bulletinNow();
