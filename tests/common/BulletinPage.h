#pragma once

#include <QString>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

#include "BulletinView.h"

// The text of the page a bulletin window shows, once the engine hands it over (empty after 15 s).
inline QString bulletinPageText(BulletinView* view) {
    auto text = std::make_shared<QString>();
    auto done = std::make_shared<bool>(false);
    view->webView()->page()->toPlainText([text, done](const QString& result) {
        *text = result;
        *done = true;
    });
    if (!QTest::qWaitFor([done] { return *done; }, 15000))
        return QString();
    return *text;
}
