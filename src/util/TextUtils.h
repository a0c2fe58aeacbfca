#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Small text and file helpers over byte strings (UTF-8 held in std::string). Positions are
// indices into the text; the text's terminator stands at index size(), so a position of
// size() + 1 lies past the end.

bool readLine(const std::string& text, int& position, std::string& output, int maxLen);
bool nextToken(const std::string& text, int& position, std::string& output, int maxLen, char delimiter);
// Size in bytes, or -1. A failure other than a missing file is reported through the
// message handler with "Eroare: %d la fuctia FindFirstFile".
int fileSizeOf(const std::string& name);
void makeUpper(std::string& text);
void trimSpaces(std::string& text, int mode);
void replaceChar(std::string& buffer, int length, char find, char replacement);

// Where the utilities' own messages go; the application routes them to a message box.
using UtilMessageHandler = std::function<void(const std::string&)>;
void setUtilMessageHandler(UtilMessageHandler handler);

// Shortens text to at most maxBytes bytes without splitting a UTF-8 character.
void cutUtf8(std::string& text, int maxBytes);
// Whether every byte is below 0x80 (plain ASCII), looked at eight at a time.
bool isAscii(const char* text, size_t size);
