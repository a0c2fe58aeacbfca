#pragma once

#include <QString>

#include <functional>

class QWidget;

// Every message to the user: a box captioned "Labrosa" with an OK button only.
// With the environment variable LABROSA_NO_MODAL_MESSAGES=1 the text goes to standard error
// instead ("Labrosa: <text>"), so that scripts and tests can run the program unattended.
void labrosaMessageBox(const QString& text, QWidget* parent = nullptr);

// Tests replace the modal box with a recorder; pass an empty function to restore it.
void setMessageBoxHook(std::function<void(const QString&)> hook);
