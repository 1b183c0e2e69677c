#pragma once

class QApplication;

namespace vemlo {

// The program's entry: without a graphical display it says so and returns
// 1; otherwise it builds the application from argv[0] alone (the program
// reads no command line, Qt's own options included) and runs it.
int start(int argc, char** argv);

// Settings of the application object before any window exists: the window
// class and desktop file name the desktop entry names, Qt's own dialogs
// instead of the desktop's, and Qt's Chinese translations for them.
void prepareApplication(QApplication& app);
// Loads Qt's own Chinese texts (standard dialogs and buttons); false, with
// a line on stderr, when the translation file is missing.
bool loadQtTranslations(QApplication& app);

// Builds the main window Form1 and the hidden import window Form2.
void createForms();
// Start-up and the event loop; returns the exit status.
int run(QApplication& app);

}  // namespace vemlo
