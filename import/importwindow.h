// The import window: path box edtFP (the working folder), drive chooser DC,
// folder tree DL and the button "导入".
#pragma once

#include <QWidget>

#include <QList>

#include <string>
#include <vector>

#include "import/folderwidgets.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QUrl;

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    // Drive chooser change: sends the tree to the chosen mount.
    void DCChange(QObject* sender);
    // Folder tree change: its folder becomes the text of edtFP.
    void DLChange(QObject* sender);
    // "导入": lists the working folder into the main window's table.
    void Button1Click(QObject* sender);

    // Lists a folder given from outside the window (the command line, a
    // drop) as "导入" lists the path box's: the first of paths that is a
    // folder, else the folder the first lies in, links not resolved. The
    // path box gets it, the tree and the chooser stand on it. One that
    // cannot be opened is told in a box and changes nothing: false then.
    bool openGiven(const std::vector<std::string>& paths);
    // Lists the folder of what was dropped on a window (local paths, or
    // shares the desktop mounted through gvfs); says so when it was more
    // than one entry, or none of them is on this machine.
    void openDropped(const QList<QUrl>& urls);
    // Lets window take folders dropped on it; a drop while a command runs is
    // refused.
    void takeFolderDrops(QWidget* window);

    // The working folder: the text of edtFP as bytes. A folder the tree put
    // there keeps its exact bytes, also when they are not valid UTF-8.
    std::string workingFolder() const;
    // Puts a folder's bytes into edtFP.
    void setWorkingFolder(const std::string& bytes);

    QLineEdit* edtFP;
    QLabel* Label1;
    vemlo::DriveChooser* DC;
    vemlo::FolderTreeView* DL;
    QPushButton* Button1;
    QPushButton* Button2;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::string folderBytes_;  // what setWorkingFolder put into edtFP
    QString folderText_;       // and how it was shown
};

extern TForm2* Form2;
