#include "common/messages.h"

#include <QApplication>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>

#include "common/appclosing.h"

namespace vemlo {

QString titleFromFileName(const QString& fileName)
{
    QString name = fileName;
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString appTitle()
{
    static const QString title =
        titleFromFileName(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    return title;
}

QString errorDisplayText(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty() && static_cast<unsigned char>(bytes.back()) > '.')
        return text + u'.';
    return text;
}

QWidget* dialogParent()
{
    if (QWidget* w = QApplication::activeWindow())
        return w;
    if (QWidget* w = QApplication::activeModalWidget(); w && w->isVisible())
        return w;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow*>(w) && w->isVisible())
            return w;
    return nullptr;
}

namespace {

void execBox(QMessageBox& box)
{
    // The main window is closing mid-command: no one is left to answer.
    if (appClosing())
        return;
    box.setWindowModality(Qt::ApplicationModal);
    // A box opened during long work shows the normal pointer.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (busy)
        QApplication::restoreOverrideCursor();
}

void showBox(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, appTitle(), text, QMessageBox::NoButton, dialogParent());
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    execBox(box);
}

}  // namespace

void ShowMessage(const QString& text) { showBox(QMessageBox::NoIcon, text); }

void showErrorBox(const QString& text) { showBox(QMessageBox::Critical, errorDisplayText(text)); }

void showWarningBox(const QString& text) { showBox(QMessageBox::Warning, text); }

bool askYesNo(const QString& text)
{
    QMessageBox box(QMessageBox::Question, appTitle(), text, QMessageBox::NoButton,
                    dialogParent());
    QPushButton* yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    execBox(box);
    return box.clickedButton() == yes;
}

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace vemlo
