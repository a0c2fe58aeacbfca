#include "MessageBox.h"

#include <QMessageBox>

#include <cstdio>

namespace {
std::function<void(const QString&)>& messageBoxHook() {
    static std::function<void(const QString&)> hook;
    return hook;
}
} // namespace

void labrosaMessageBox(const QString& text, QWidget* parent) {
    if (messageBoxHook()) {
        messageBoxHook()(text);
        return;
    }
    // LABROSA_NO_MODAL_MESSAGES=1 writes the message to standard error instead of showing
    // a modal box, so that scripts and tests can run the program unattended.
    if (qEnvironmentVariableIntValue("LABROSA_NO_MODAL_MESSAGES") == 1) {
        std::fprintf(stderr, "Labrosa: %s\n", text.toUtf8().constData());
        std::fflush(stderr);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Labrosa"), text, QMessageBox::Ok, parent);
    box.exec();
}

void setMessageBoxHook(std::function<void(const QString&)> hook) {
    messageBoxHook() = std::move(hook);
}
