#pragma once

#include <QDate>
#include <QStringView>
#include <QTime>

// Reads a date and time stored as text by this program or by another one (analyser
// middleware, an import): 'YYYY-MM-DD', or that followed by a blank or a 'T' and a time
// H:MM or HH:MM, with or without seconds and fractional seconds of any length. The time of
// a date alone is midnight. False, with nothing set, when the text has none of these shapes.
bool parseStoredDateTime(QStringView text, QDate* date, QTime* time);
