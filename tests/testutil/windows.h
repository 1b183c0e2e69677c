// Shared pieces of the test programs that drive the windows: the real
// windows, the boxes they open, the file table; and the file helpers.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "app/mainwindow.h"
#include "common/text.h"
#include "import/importwindow.h"
#include "files.h"

namespace vemlo::test {

// Builds Form1 and Form2 once per test program, like start-up does.
void createFormsOnce();
// Builds the windows and shows the main window; true once it is on screen.
bool showMainWindow();

// A message box seen while a test ran.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

// Watches for modal boxes while it lives; records each one and answers it by
// pressing the button whose text is the next entry of answers (or the first
// button / OK when answers run out).
class BoxCatcher {
public:
    explicit BoxCatcher(QStringList answers = {});
    ~BoxCatcher();
    const std::vector<SeenBox>& boxes() const { return boxes_; }
    // The texts of the boxes seen so far.
    QStringList texts() const;

private:
    void poll();
    QTimer timer_;
    QStringList answers_;
    std::vector<SeenBox> boxes_;
};

// Clicks a real button and returns the boxes it opened.
std::vector<SeenBox> clickAndCatch(QWidget* button, QStringList answers = {});

// True when the left edge of list is drawn in the highlight colour while it
// holds the keyboard focus, and in another once other has it.
bool focusIsMarked(QWidget* list, QWidget* other);

// Sets the working folder and lists it into the table, as "导入" does.
void importFolder(const std::string& folder);

// Cells of the table as bytes.
std::string tableText(int row, int col);
int tableRows();
// Column col of the data rows.
std::vector<std::string> column(int col);

}  // namespace vemlo::test
