#pragma once

#include <string>
#include <vector>

class QApplication;

namespace vemlo {

// What the command line asks for: vemlo [--help | --version] [FOLDER].
struct CommandLine {
    bool help = false;
    bool version = false;
    std::vector<std::string> paths;    // as given, bytes
    std::vector<std::string> unknown;  // options it does not know
};
CommandLine readCommandLine(int argc, char** argv);

// The program's entry: --help and --version print to standard output and
// return 0, display or not. Without a graphical display it says so and
// returns 1; otherwise it builds the application from argv[0] alone (Qt's
// own options are unknown options here too) and runs it.
int start(int argc, char** argv);

// Once the main window shows: lists the folder the command line names, as
// "导入" lists it, or says in one box what is wrong with the command line.
void openCommandLine(const CommandLine& line);

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
int run(QApplication& app, const CommandLine& line = {});

}  // namespace vemlo
