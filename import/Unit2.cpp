#include "import/Unit2.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "app/Unit1.h"
#include "app/layout.h"
#include "app/messages.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window)
{
    Form2 = this;
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("导入文件夹"));
    setFont(vemlo::windowFont());
    const vemlo::Scale s(font());
    resize(s(455), s(402));
    move(s(506), s(267));

    edtFP = new QLineEdit(this);
    vemlo::place(edtFP, s, 72, 8, 377, 21);
    Label1 = new QLabel(QStringLiteral("文件夹地址 "), this);
    vemlo::place(Label1, s, 8, 8, 72, 13);
    DC = new QComboBox(this);
    vemlo::place(DC, s, 8, 32, 441, 19);
    DL = new QListWidget(this);
    vemlo::place(DL, s, 8, 56, 441, 305);
    Button1 = new QPushButton(QStringLiteral("导入"), this);
    vemlo::place(Button1, s, 232, 368, 217, 25);
    Button2 = new QPushButton(QStringLiteral("取消"), this);
    vemlo::place(Button2, s, 8, 368, 217, 25);
    connect(Button1, &QPushButton::clicked, this,
            [this] { vemlo::guarded([&] { Button1Click(Button1); }); });
}

void TForm2::DCChange(QObject*) {}

void TForm2::DLChange(QObject*) {}

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
