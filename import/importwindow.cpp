#include "import/importwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/mainwindow.h"  // the two calls up at "导入": setTableRows, ImportDir
#include "common/layout.h"
#include "common/messages.h"
#include "common/text.h"
#include "platform/mounts.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window)
{
    Form2 = this;
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("导入文件夹"));
    setWindowIcon(vemlo::appIcon());
    setFont(vemlo::windowFont());
    const vemlo::Scale s(font());
    // Outer size 463 x 433 on the designer's screen; this is its client area.
    resize(s(455), s(402));
    move(s(506), s(267));

    // The tree starts at the current directory, on the mount that holds it,
    // and the chooser starts on that mount. Start-up reads the mount table
    // only; the mounts themselves are looked at when the chooser is filled,
    // on a worker, at each showing of the window.
    std::vector<std::string> mountPoints;
    for (const vemlo::fs::MountEntry& m : vemlo::fs::userMounts(vemlo::fs::readMountTable()))
        mountPoints.push_back(m.mountPoint);

    edtFP = new QLineEdit(this);
    edtFP->setObjectName(QStringLiteral("edtFP"));
    vemlo::place(edtFP, s, 72, 8, 377, 21);
    Label1 = new QLabel(QStringLiteral("文件夹地址 "), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    vemlo::place(Label1, s, 8, 8, 72, 13);
    DL = new vemlo::FolderTreeView(std::move(mountPoints), this);
    DL->setObjectName(QStringLiteral("DL"));
    vemlo::place(DL, s, 8, 56, 441, 305);
    DC = new vemlo::DriveChooser(DL->mount(), this);
    DC->setObjectName(QStringLiteral("DC"));
    vemlo::place(DC, s, 8, 32, 441, 19);
    Button1 = new QPushButton(QStringLiteral("导入"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    vemlo::place(Button1, s, 232, 368, 217, 25);
    Button2 = new QPushButton(QStringLiteral("取消"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    vemlo::place(Button2, s, 8, 368, 217, 25);

    // Enter in the path box and Escape trigger nothing.
    for (QPushButton* b : {Button1, Button2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    Label1->setFocusPolicy(Qt::NoFocus);
    setTabOrder(edtFP, DC);
    setTabOrder(DC, DL);
    setTabOrder(DL, Button1);
    setTabOrder(Button1, Button2);

    connect(DC, &vemlo::DriveChooser::changed, this,
            [this] { vemlo::guarded([&] { DCChange(DC); }); });
    connect(DL, &vemlo::FolderTreeView::changed, this,
            [this] { vemlo::guarded([&] { DLChange(DL); }); });
    connect(Button1, &QPushButton::clicked, this,
            [this] { vemlo::guarded([&] { Button1Click(Button1); }); });
}

void TForm2::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A share mounted since the last showing is offered; the chosen drive stays.
    DC->refill();
}

void TForm2::DCChange(QObject*) { DL->setDrive(DC->drive()); }

void TForm2::DLChange(QObject*) { setWorkingFolder(DL->folder()); }

void TForm2::Button1Click(QObject*)
{
    if (edtFP->text().isEmpty()) {
        vemlo::ShowMessage(QStringLiteral("你没有选择文件夹"));
        return;
    }
    hide();
    Form1->table()->setTableRows(2);
    Form1->ImportDir(workingFolder() + "/*");
}

std::string TForm2::workingFolder() const
{
    const QString text = edtFP->text();
    if (!folderText_.isNull() && text == folderText_)
        return folderBytes_;
    return text.toStdString();
}

void TForm2::setWorkingFolder(const std::string& bytes)
{
    folderBytes_ = bytes;
    folderText_ = vemlo::displayText(bytes);
    edtFP->setText(folderText_);
}
