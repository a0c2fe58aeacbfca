#pragma once

#include <QCoreApplication>
#include <QPixmap>
#include <QString>
#include <QTest>
#include <QWidget>

#include <cstdio>

// A window's picture for docs/screenshots, at the size the documentation shows (1280x800).
inline bool shootWindow(QWidget& window, const QString& file) {
    window.resize(1280, 800);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QCoreApplication::processEvents();
    const bool saved = window.grab().save(file);
    std::printf("%s: %s\n", qPrintable(file), saved ? "ok" : "failed");
    window.hide();
    return saved;
}
