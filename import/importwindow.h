// The import window: path box edtFP (the working folder), drive chooser DC,
// folder tree DL and the button "导入".
#pragma once

#include <QWidget>

#include <string>

#include "import/folderwidgets.h"

class QLabel;
class QLineEdit;
class QPushButton;

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
