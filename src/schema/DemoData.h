#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>

#include <cstdint>

// Fills an empty results database with data that looks like a veterinary laboratory's:
// species profiles, three analysers with their parameters, reference intervals per profile
// and sex, and result sets with their measured values. The same seed and options give the
// same rows on every platform.
struct DemoOptions {
    std::uint32_t seed = 1;
    int results = 2000;
    QDate endDate;
    int months = 12;
};

struct DemoSummary {
    int profiles = 0;
    int analysers = 0;
    int parameters = 0;
    int intervals = 0;
    qint64 results = 0;
    qint64 values = 0;
};

// Writes inside the caller's transaction; false with a message in *error on the first failure.
bool fillDemoData(QSqlDatabase& db, const DemoOptions& options, DemoSummary* summary, QString* error);
