// The main window: the file table grid strgrdM, the four command groups and
// the menu mm1. Handlers read the controls, call the code that does the
// work, update the table and report.
#pragma once

#include <QMainWindow>

#include <string>
#include <vector>

#include "app/core/filetable.h"
#include "app/core/trail.h"

class QAbstractButton;
class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QTableView;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);

    // The file table behind strgrdM.
    vemlo::FileTable* table() const { return table_; }

    // Creation handler: writes the column captions.
    void FormCreate(QObject* sender);
    // Lists the folder named by pattern (working folder + "/*") into the table.
    void ImportDir(const std::string& pattern);
    // Drops the marked rows of the table.
    void AdjustToTop();
    // Menu "文件夹导入": shows the import window.
    void N8Click(QObject* sender);
    // Has no behaviour.
    void GetFT();
    // Menu "撤销" (Ctrl+Z): takes the newest batch not yet taken back back.
    void N9Click(QObject* sender);
    // Keeps what a batch changed for 撤销.
    void keepTrail(vemlo::BatchTrail&& trail);

    void btnsortaddClick(QObject* sender);
    void btnsortremoveClick(QObject* sender);
    void btnsortclearClick(QObject* sender);
    void btnaddfClick(QObject* sender);
    void btnremovefClick(QObject* sender);
    void btnclearfClick(QObject* sender);
    void btndecClick(QObject* sender);
    void btnsortClick(QObject* sender);
    void btnrnClick(QObject* sender);
    void btnrenameClick(QObject* sender);
    void btnanagridClick(QObject* sender);
    void btnanagraphClick(QObject* sender);

    // The working folder: the import window's path box, as bytes.
    std::string workingFolder() const;

    // Grid and group boxes
    QTableView* strgrdM;
    QGroupBox* grp1;
    QGroupBox* grp2;
    QGroupBox* grp3;
    QGroupBox* grp4;
    // Organize group
    QLabel* lbl1;
    QLabel* lbl2;
    QLabel* lbl3;
    QPushButton* btnsort;
    QComboBox* cbbspara;
    QListWidget* lstsort;
    QLineEdit* edtsortadd;
    QPushButton* btnsortadd;
    QPushButton* btnsortremove;
    QPushButton* btnsortclear;
    // Batch group
    QLabel* lbl4;
    QLabel* lbl5;
    QLabel* lbl6;
    QPushButton* btnrename;
    QLineEdit* edtrnbase;
    QPushButton* btnrn;
    QCheckBox* chk1;
    QCheckBox* chk2;
    QCheckBox* chk3;
    QCheckBox* chk4;
    // Filter group
    QLabel* lbl7;
    QLabel* lbl8;
    QLabel* lbl9;
    QPushButton* btndec;
    QComboBox* cbbfilterate;
    QListWidget* lst;
    QLineEdit* edtfilterate;
    QPushButton* btnaddf;
    QPushButton* btnremovef;
    QPushButton* btnclearf;
    QCheckBox* chk5;
    // Analysis group
    QGroupBox* rg1;
    QRadioButton* rbcircle;
    QRadioButton* rbrect;
    QPushButton* btnanagraph;
    QPushButton* btnanagrid;
    QGroupBox* rganagrid;
    QRadioButton* rbh;
    QRadioButton* rbv;
    // Menu
    QMenuBar* mm1;
    QMenu* N1;
    QAction* N4;
    QAction* N5;
    QAction* N6;
    QAction* N7;
    QAction* N8;
    QMenu* N2;
    QAction* N9;  // 编辑 → 撤销
    QMenu* N3;
    QFileDialog* OD = nullptr;  // never opened

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout();
    void buildMenu();
    void bindEvents();
    void showUndo();
    template <class Handler>
    void bind(QAbstractButton* button, Handler handler);

    vemlo::FileTable* table_;
    // The batches of this run not yet taken back, the newest last.
    std::vector<vemlo::BatchTrail> trails_;
};

extern TForm1* Form1;
