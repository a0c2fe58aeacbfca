#include "TextUtils.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// A zero byte inside the string ends the text, as it does in a C buffer; otherwise the
// terminator is the end of the string.
int textLength(const std::string& text) {
    const std::size_t zero = text.find('\0');
    return static_cast<int>(zero == std::string::npos ? text.size() : zero);
}

UtilMessageHandler& messageHandler() {
    static UtilMessageHandler handler;
    return handler;
}

void showUtilMessage(const std::string& text) {
    if (messageHandler())
        messageHandler()(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

bool parentFolderExists(const std::string& name) {
    const std::size_t slash = name.find_last_of('/');
    if (slash == std::string::npos)
        return true; // the current directory
    const std::string parent = slash == 0 ? std::string("/") : name.substr(0, slash);
    struct stat st;
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The system error numbers the laboratory staff know from the Windows program.
int systemErrorCode(int error, const std::string& name) {
    switch (error) {
    case ENOENT:
        return parentFolderExists(name) ? 2 : 3;
    case ENOTDIR:
        return 3;
    case EACCES:
    case EPERM:
        return 5;
    case ENAMETOOLONG:
        return 206;
    default:
        return error;
    }
}

} // namespace

void setUtilMessageHandler(UtilMessageHandler handler) {
    messageHandler() = std::move(handler);
}

bool readLine(const std::string& text, int& position, std::string& output, int maxLen) {
    const int length = textLength(text);
    if (position < 0 || position > length) {
        output.clear();
        return false;
    }
    int end = position;
    int count = 0;
    for (;;) {
        const char c = end < length ? text[end] : '\0';
        if (c == '\r')
            break;
        // The terminator is counted like any other character.
        if (++count > maxLen) {
            output.clear();
            return false;
        }
        if (c == '\0')
            break;
        ++end;
    }
    output.assign(text, position, end - position);
    if (end < length) {
        position = end + 1;
        if (position < length && text[position] == '\n')
            ++position;
    } else {
        position = length + 1;
    }
    return true;
}

bool nextToken(const std::string& text, int& position, std::string& output, int maxLen, char delimiter) {
    const int length = textLength(text);
    if (position < 0 || position > length) {
        output.clear();
        return false;
    }
    int start = position;
    while (start < length && text[start] == ' ')
        ++start;
    if (start >= length) {
        output.clear();
        position = length;
        return false;
    }
    int end = start;
    while (end < length && text[end] != delimiter) {
        if (end - start + 1 > maxLen) {
            output.clear();
            return false;
        }
        ++end;
    }
    output.assign(text, start, end - start);
    position = end < length ? end + 1 : length + 1;
    return true;
}

int fileSizeOf(const std::string& name) {
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) {
        const int code = systemErrorCode(errno, name);
        if (code != 2) {
            char message[64];
            std::snprintf(message, sizeof message, "Eroare: %d la fuctia FindFirstFile", code);
            showUtilMessage(message);
        }
        return -1;
    }
    // A folder has no size of its own; very large files are capped rather than wrapped.
    if (S_ISDIR(st.st_mode))
        return 0;
    return st.st_size > INT_MAX ? INT_MAX : static_cast<int>(st.st_size);
}

void makeUpper(std::string& text) {
    const int length = textLength(text);
    for (int i = 0; i < length; ++i) {
        if (text[i] >= 'a' && text[i] <= 'z')
            text[i] = static_cast<char>(text[i] - 32);
    }
}

void trimSpaces(std::string& text, int mode) {
    const int length = textLength(text);
    if (mode == 2) {
        int end = length;
        // The first character always stays, so a text of blanks keeps one.
        while (end > 1 && text[end - 1] == ' ')
            --end;
        text.resize(end);
    } else if (mode == 1) {
        int start = 0;
        while (start < length && text[start] == ' ')
            ++start;
        text = text.substr(start, length - start);
    }
}

void replaceChar(std::string& buffer, int length, char find, char replacement) {
    const int size = static_cast<int>(buffer.size());
    const int count = length < size ? length : size;
    for (int i = 0; i < count; ++i) {
        if (buffer[i] == find)
            buffer[i] = replacement;
    }
}

void cutUtf8(std::string& text, int maxBytes) {
    if (maxBytes < 0)
        maxBytes = 0;
    if (static_cast<int>(text.size()) <= maxBytes)
        return;
    int end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the cut character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
}

bool isAscii(const char* text, size_t size) {
    constexpr uint64_t kHighBits = 0x8080808080808080ULL;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, text + i, 8);
        if (word & kHighBits)
            return false;
    }
    for (; i < size; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    }
    return true;
}
