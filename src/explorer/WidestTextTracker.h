#pragma once

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

    void note(const QString& text);
    // Width in pixels of the widest text noted (0 when none was).
    int widest() const;

private:
    int estimate(const QString& text);

    QFontMetrics m_metrics;
    std::vector<int> m_charWidths; // advance of the first code units, -1 until measured
    int m_bestEstimate = 0;
    bool m_overflow = false; // a text near the top was left unmeasured
    QStringList m_candidates;
    std::vector<int> m_candidateEstimates;
};
