#pragma once

#include <QIcon>
#include <QLocale>

class QTranslator;

// What a desktop expects of the program: Qt's own dialogs (print, file, colour) in the
// desktop's language, the window icon of the menu entry, and the desktop file name that ties
// the windows to that entry.
class DesktopIntegration {
public:
    // The desktop entry's file name without ".desktop", and its Icon= name.
    static constexpr const char* kDesktopFileName = "labrosa";
    static constexpr const char* kIconName = "labrosa";

    // The icon theme's program icon, the built-in one where the theme has none.
    static QIcon windowIcon();
    // Installs Qt's own translations for locale into the application; the translator is
    // returned (owned by the application), or null when Qt has none for that language.
    static QTranslator* loadQtTranslations(const QLocale& locale = QLocale::system());
    // All of the above, once the QApplication exists.
    static void apply();
};
