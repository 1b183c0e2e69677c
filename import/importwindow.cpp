#include "import/importwindow.h"

#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include <cerrno>

#include "app/mainwindow.h"  // the two calls up at "导入": setTableRows, ImportDir
#include "common/command.h"
#include "common/errtext.h"
#include "common/layout.h"
#include "common/messages.h"
#include "common/text.h"
#include "platform/mounts.h"

TForm2* Form2 = nullptr;

namespace {

// A dropped entry is copied, never moved: a file manager that hears "moved"
// may remove what it dragged. Linked where copying is not offered.
Qt::DropAction harmlessAction(Qt::DropActions offered)
{
    return offered & Qt::CopyAction   ? Qt::CopyAction
           : offered & Qt::LinkAction ? Qt::LinkAction
                                      : Qt::IgnoreAction;
}

// Takes the URLs dropped on a window; the folder is opened once the drop has
// ended, so that the file manager does not wait on the listing or a box.
class FolderDrops : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
            return false;
        auto* drop = static_cast<QDropEvent*>(event);
        const Qt::DropAction action = harmlessAction(drop->possibleActions());
        // Refused during a command, as every other input is.
        if (vemlo::ProgressGate::running() || !drop->mimeData()->hasUrls() ||
            action == Qt::IgnoreAction) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(action);
        drop->accept();
        if (type == QEvent::Drop) {
            QMetaObject::invokeMethod(
                Form2,
                [urls = drop->mimeData()->urls()] {
                    vemlo::guarded([&] { Form2->openDropped(urls); });
                },
                Qt::QueuedConnection);
        }
        return true;
    }
};

// The bytes of a URL's path, escapes decoded: "%FF" stays the byte 0xFF.
std::string pathBytes(const QUrl& url)
{
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

}  // namespace

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
    takeFolderDrops(this);
}

void TForm2::takeFolderDrops(QWidget* window)
{
    window->setAcceptDrops(true);
    window->installEventFilter(new FolderDrops(window));
}

bool TForm2::openGiven(const std::vector<std::string>& paths)
{
    std::string folder;
    const vemlo::fs::Status opened = DL->openGiven(paths, folder);
    if (opened.err == ECANCELED)
        return false;
    if (!opened) {
        vemlo::showWarningBox(
            QStringLiteral("无法打开“%1”：%2")
                .arg(vemlo::displayText(folder),
                     QString::fromStdString(vemlo::reasonText(opened.err))));
        return false;
    }
    DC->choose(DL->mount());
    setWorkingFolder(folder);
    Button1Click(Button1);
    return true;
}

void TForm2::openDropped(const QList<QUrl>& urls)
{
    // Local paths as they come; the others looked up among the shares the
    // desktop mounted, on the command's worker (gvfs answers through FUSE).
    std::vector<std::string> paths;
    std::vector<std::pair<size_t, vemlo::fs::RemoteLocation>> remote;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && (url.host().isEmpty() || url.host() == u"localhost")) {
            paths.push_back(pathBytes(url));
        } else if (!url.host().isEmpty()) {
            remote.push_back({paths.size(),
                              {url.scheme().toStdString(), url.host().toStdString(),
                               url.userName().toStdString(),
                               url.port() < 0 ? std::string() : std::to_string(url.port()),
                               pathBytes(url)}});
            paths.emplace_back();
        }
    }
    if (!remote.empty()) {
        vemlo::runCommand(QStringLiteral("正在打开文件夹…"), [&](vemlo::Progress*) {
            const auto table = vemlo::fs::readMountTable();
            for (const auto& [index, at] : remote)
                paths[index] = vemlo::fs::gvfsLocalPath(table, at);
        });
        std::erase(paths, std::string());
    }
    if (paths.empty()) {
        const QString shown = urls.isEmpty() ? QString() : urls.front().toDisplayString();
        vemlo::showWarningBox(
            QStringLiteral("无法打开“%1”：它不是本机上的文件夹，也不在已挂载的网络共享上").arg(shown));
        return;
    }
    if (openGiven(paths) && urls.size() > 1)
        vemlo::ShowMessage(QStringLiteral("拖入了 %1 个条目，只打开了一个文件夹：“%2”")
                               .arg(urls.size())
                               .arg(edtFP->text()));
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
