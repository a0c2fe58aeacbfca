#pragma once

#include <QAnyStringView>
#include <QFontMetrics>
#include <QString>
#include <QStringList>

#include <vector>

// Finds the widest of many texts in a font without measuring each one: a text's width is
// estimated from the widths of its characters, and only the texts whose estimate comes near
// the widest are measured at the end. When too many texts come that near, the result is at
// least the widest estimate, so no text is cut by a column of that width.
class WidestTextTracker {
public:
    explicit WidestTextTracker(const QFontMetrics& metrics);

    void note(QAnyStringView text);
    // Width in pixels of the widest text noted (0 when none was).
    int widest() const;

private:
    int estimate(QStringView text);
    int estimateAscii(const char* text, qsizetype size);
    int charWidth(char16_t unit) {
        int& cached = m_charWidths[unit];
        if (cached < 0)
            cached = m_metrics.horizontalAdvance(QChar(unit));
        return cached;
    }
    void noteEstimated(QAnyStringView text, int width);
    bool isCandidate(QAnyStringView text, int width, quint64 print) const;
    static quint64 fingerprint(QAnyStringView text);

    QFontMetrics m_metrics;
    std::vector<int> m_charWidths; // advance of the first code units, -1 until measured
    int m_bestEstimate = 0;
    bool m_overflow = false; // a text near the top was left unmeasured
    QStringList m_candidates;
    std::vector<int> m_candidateEstimates;
    std::vector<quint64> m_candidatePrints;
};
