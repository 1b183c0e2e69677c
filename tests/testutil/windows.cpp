#include "windows.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include "app/startup.h"

namespace vemlo::test {

void createFormsOnce()
{
    if (!Form1)
        createForms();
}

bool showMainWindow()
{
    createFormsOnce();
    Form1->show();
    return QTest::qWaitForWindowExposed(Form1);
}

BoxCatcher::BoxCatcher(QStringList answers) : answers_(std::move(answers))
{
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
}

BoxCatcher::~BoxCatcher() { timer_.stop(); }

QStringList BoxCatcher::texts() const
{
    QStringList out;
    for (const auto& b : boxes_)
        out << b.text;
    return out;
}

void BoxCatcher::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    SeenBox seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    QAbstractButton* press = nullptr;
    const QString answer = answers_.isEmpty() ? QString() : answers_.takeFirst();
    for (QAbstractButton* b : box->buttons()) {
        seen.buttons << b->text();
        if (!press && (answer.isEmpty() || b->text() == answer))
            press = b;
    }
    boxes_.push_back(seen);
    if (press)
        press->click();
    else
        box->reject();
}

std::vector<SeenBox> clickAndCatch(QWidget* button, QStringList answers)
{
    BoxCatcher catcher(std::move(answers));
    QTest::mouseClick(button, Qt::LeftButton);
    return catcher.boxes();
}

void importFolder(const std::string& folder)
{
    Form2->setWorkingFolder(folder);
    Form1->table()->setTableRows(2);
    Form1->ImportDir(folder + "/*");
}

std::string tableText(int row, int col) { return std::string(Form1->table()->text(row, col)); }

int tableRows() { return Form1->table()->tableRows(); }

std::vector<std::string> column(int col)
{
    std::vector<std::string> out;
    for (int r = 1; r < tableRows(); ++r)
        out.push_back(tableText(r, col));
    return out;
}

bool focusIsMarked(QWidget* list, QWidget* other)
{
    list->window()->activateWindow();
    if (!QTest::qWaitForWindowActive(list->window()))
        return false;
    auto edge = [&](QWidget* focus) {
        focus->setFocus();
        QApplication::processEvents();
        return list->grab().toImage().pixelColor(0, list->height() / 2);
    };
    const QColor mark = list->palette().color(QPalette::Highlight);
    return edge(other) != mark && edge(list) == mark && list->hasFocus();
}

}  // namespace vemlo::test
