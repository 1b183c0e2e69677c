// Messages to the user: ShowMessage, the error display that shows every error
// escaping a handler, and the application title both carry as caption.
#pragma once

#include <QString>

#include <stdexcept>
#include <string>

#include "common/errtext.h"

class QWidget;

namespace vemlo {

// An error a handler raises to end itself; what() is UTF-8 text.
class VemloError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    explicit VemloError(const QString& text) : std::runtime_error(text.toStdString()) {}
};

// The application title: the program file's name up to its first ".", every
// character after the first in lower case.
QString appTitle();
QString titleFromFileName(const QString& fileName);

// The error display's text: "." appended when the text is not empty and its
// last byte sorts after ".".
QString errorDisplayText(const QString& text);

// The window a box or dialog belongs to: the active window; when the
// desktop has given the focus elsewhere (or a compositor gives none), the
// modal window on screen, else the visible main window. A box without one
// is a free window, which a Wayland desktop may leave behind the others.
QWidget* dialogParent();

// A modal box with the title as caption and one "OK" button.
void ShowMessage(const QString& text);
// The error display: a modal box with an error icon and one "OK" button.
void showErrorBox(const QString& text);

// A modal box with a warning icon, for failures a command reports itself.
void showWarningBox(const QString& text);

// A modal question with the buttons "是" and "否" ("否" is the default and
// the answer of Esc); true when the user chose "是".
bool askYesNo(const QString& text);

// Runs a handler; an error escaping it is shown by the error display.
template <class F>
void guarded(F&& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        showErrorBox(QString::fromStdString(failureText(e)));
    } catch (...) {
        showErrorBox(QStringLiteral("未知错误"));
    }
}

// Shows the busy cursor for as long as it lives.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace vemlo
