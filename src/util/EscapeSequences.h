#pragma once

#include <QHash>
#include <QString>

// Text of the analysers' messages in which escape, a code and escape again stand for a character
// the message reserves (ASTM "&F&", HL7 "\F\"): codes gives each code's text, "X" and hexadecimal
// byte pairs give those bytes as Latin-1 characters, an unknown code gives nothing, and an escape
// without its closing one stands for itself.
QString unescapeSequences(const QString& text, QChar escape, const QHash<QString, QString>& codes);
