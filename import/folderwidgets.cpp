#include "import/folderwidgets.h"

#include <QKeyEvent>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "common/command.h"
#include "common/errtext.h"
#include "common/layout.h"
#include "common/messages.h"
#include "common/text.h"
#include "platform/fileops.h"

namespace vemlo {

namespace {

QByteArray bytesOf(const std::string& s) { return QByteArray(s.data(), qsizetype(s.size())); }

// What the progress dialog says while a folder is opened.
QString opening() { return QStringLiteral("正在打开文件夹…"); }

// Indents each entry by its depth below the root.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem shifted(option);
        shifted.rect.setLeft(option.rect.left() + indent(option, index));
        QStyledItemDelegate::paint(painter, shifted, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += indent(option, index);
        return size;
    }

private:
    static int indent(const QStyleOptionViewItem& option, const QModelIndex& index)
    {
        return index.data(FolderEntryModel::DepthRole).toInt() * option.fontMetrics.height();
    }
};

DriveChooser::VolumeSource g_volumeSource;  // the window's thread only

bool sameVolumes(const std::vector<fs::Volume>& a, const std::vector<fs::Volume>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const fs::Volume& x, const fs::Volume& y) {
                          return x.mountPoint == y.mountPoint && x.label == y.label &&
                                 x.network == y.network;
                      });
}

}  // namespace

// The worker's way back: it leaves its list here, under the lock, and wakes
// the window's thread through a descriptor its event loop watches (a write,
// as the command's gate does). It posts no event: all the window's thread
// reads of it, it reads under the lock. The descriptor stays open as long as
// either side holds the mailbox, so a worker that ends late never writes to
// a descriptor closed and reused.
struct DriveChooser::Mailbox {
    std::mutex mutex;
    bool open = true;  // false once the chooser is gone
    std::optional<std::vector<fs::Volume>> volumes;  // read, not yet taken
    int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);

    Mailbox() = default;
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;
    ~Mailbox()
    {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
};

DriveChooser::DriveChooser(std::string startMount, QWidget* parent)
    : QComboBox(parent), drive_(std::move(startMount)), mailbox_(std::make_shared<Mailbox>())
{
    if (mailbox_->wakeFd >= 0) {
        woken_ = new QSocketNotifier(mailbox_->wakeFd, QSocketNotifier::Read, this);
        connect(woken_, &QSocketNotifier::activated, this, &DriveChooser::takeDelivery);
    }
    connect(this, &QComboBox::activated, this, [this](int index) {
        drive_ = itemData(index).toByteArray().toStdString();
        emit changed();
    });
    // Until the mounts are read, the start mount alone.
    populate({{drive_, {}, false}});
}

DriveChooser::~DriveChooser()
{
    delete woken_;  // before the descriptor it watches can close
    std::lock_guard lock(mailbox_->mutex);
    mailbox_->open = false;
}

void DriveChooser::choose(const std::string& mountPoint)
{
    drive_ = mountPoint;
    setCurrentIndex(findData(bytesOf(drive_)));
}

void DriveChooser::takeDelivery()
{
    uint64_t n = 0;
    (void)!::read(mailbox_->wakeFd, &n, sizeof n);
    std::optional<std::vector<fs::Volume>> volumes;
    {
        std::lock_guard lock(mailbox_->mutex);
        volumes.swap(mailbox_->volumes);
    }
    if (volumes)
        received(*volumes);
}

DriveChooser::VolumeSource DriveChooser::setVolumeSource(VolumeSource source)
{
    VolumeSource before = std::move(g_volumeSource);
    g_volumeSource = std::move(source);
    return before;
}

void DriveChooser::refill()
{
    if (filling_) {
        again_ = true;
        return;
    }
    filling_ = true;
    const VolumeSource source = g_volumeSource ? g_volumeSource : VolumeSource(fs::currentVolumes);
    if (!woken_) {
        received(source());  // no descriptor to be woken by: read here
        return;
    }
    try {
        // Detached: a read that hangs holds up nothing, not even the exit.
        std::thread([box = mailbox_, source] {
            std::vector<fs::Volume> volumes = source();
            std::lock_guard lock(box->mutex);
            if (!box->open)
                return;
            box->volumes = std::move(volumes);
            const uint64_t one = 1;
            (void)!::write(box->wakeFd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        received(source());  // no thread to be had: read here
    }
}

void DriveChooser::received(const std::vector<fs::Volume>& volumes)
{
    filling_ = false;
    if (!sameVolumes(volumes, listed_))
        populate(volumes);
    if (again_) {
        again_ = false;
        refill();
        return;
    }
    emit filled();
}

void DriveChooser::populate(const std::vector<fs::Volume>& volumes)
{
    listed_ = volumes;
    clear();
    const QIcon disk = style()->standardIcon(QStyle::SP_DriveHDIcon);
    const QIcon share = style()->standardIcon(QStyle::SP_DriveNetIcon);
    for (const fs::Volume& v : volumes) {
        const QIcon& icon = v.network ? share : disk;
        QString text = displayText(v.mountPoint);
        if (v.network)  // a share shows its name and server, as it is written
            text += u' ' + displayText(v.label);
        else if (!v.label.empty())
            text += QStringLiteral(" [") + displayText(v.label).toLower() + u']';
        addItem(icon, text, bytesOf(v.mountPoint));
    }
    setCurrentIndex(findData(bytesOf(drive_)));
}

FolderEntryModel::FolderEntryModel(QObject* parent) : QAbstractListModel(parent) {}

void FolderEntryModel::setEntries(std::vector<FolderEntry> entries, const QIcon& root,
                                  const QIcon& open, const QIcon& closed)
{
    beginResetModel();
    entries_ = std::move(entries);
    root_ = root;
    open_ = open;
    closed_ = closed;
    endResetModel();
}

int FolderEntryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(entries_.size());
}

QVariant FolderEntryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= entries_.size())
        return {};
    const FolderEntry& e = entries_[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return displayText(e.name);
    case Qt::DecorationRole:
        return e.depth == 0 ? root_ : e.onPath ? open_ : closed_;
    case DepthRole:
        return e.depth;
    default:
        return {};
    }
}

FolderTreeView::FolderTreeView(std::vector<std::string> mountPoints, QWidget* parent)
    : QListView(parent), tree_(std::move(mountPoints)), model_(new FolderEntryModel(this))
{
    setModel(model_);
    setItemDelegate(new IndentDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    markFocus(this);
    connect(this, &QListView::doubleClicked, this,
            [this](const QModelIndex& index) { guarded([&] { openRow(index.row()); }); });
    rebuild();
}

std::string FolderTreeView::pathAt(int row) const
{
    return row >= 0 && row < count() ? model_->entries()[size_t(row)].path : std::string();
}

QString FolderTreeView::textAt(int row) const
{
    return model_->data(model_->index(row), Qt::DisplayRole).toString();
}

namespace {

// A folder of the tree that cannot be entered goes to the error display.
void throwIfFailed(fs::Status s)
{
    if (!s && s.err != ECANCELED)
        throw VemloError(QString::fromStdString(folderErrorText(s.err)));
}

}  // namespace

void FolderTreeView::openRow(int row)
{
    if (row < 0 || row >= count())
        return;
    const std::string path = pathAt(row);
    throwIfFailed(change([&](Progress* progress) { return tree_.open(path, progress); }));
}

void FolderTreeView::setDrive(const std::string& mountPoint)
{
    throwIfFailed(
        change([&](Progress* progress) { return tree_.setDrive(mountPoint, progress); }));
}

fs::Status FolderTreeView::openGiven(const std::vector<std::string>& paths, std::string& folder)
{
    if (paths.empty())
        return fs::Status{ENOENT};
    return change([&](Progress* progress) {
        auto first = std::find_if(paths.begin(), paths.end(), fs::isDirectory);
        if (first == paths.end())
            first = paths.begin();
        folder = *first;  // named in a failure as given
        if (const fs::Status found = fs::folderToOpen(*first, folder); !found)
            return TreeStep{found};
        return tree_.openFolder(folder, progress);
    });
}

fs::Status FolderTreeView::change(const std::function<TreeStep(Progress*)>& step)
{
    const std::string mountBefore = tree_.mount();
    const auto [done, stopped] = runCommand(opening(), step, [&](const TreeStep& done, bool) {
        // A new mount alone (the same folder under another root) redraws too.
        if (done.changed || tree_.mount() != mountBefore)
            rebuild();
    });
    if (stopped)
        return fs::Status{ECANCELED};  // the tree stays where it was
    if (done.ok() && done.changed)
        emit changed();
    return done.status;
}

void FolderTreeView::rebuild()
{
    std::vector<FolderEntry> entries = tree_.entries();
    currentRow_ = -1;
    for (size_t i = 0; i < entries.size() && entries[i].onPath; ++i) {
        if (entries[i].current)
            currentRow_ = int(i);
    }
    model_->setEntries(std::move(entries), style()->standardIcon(QStyle::SP_DriveHDIcon),
                       style()->standardIcon(QStyle::SP_DirOpenIcon),
                       style()->standardIcon(QStyle::SP_DirClosedIcon));
    const QModelIndex current = model_->index(currentRow_);
    setCurrentIndex(current);
    if (current.isValid())
        scrollTo(current);
}

void FolderTreeView::showEvent(QShowEvent* event)
{
    QListView::showEvent(event);
    if (tree_.subfoldersLoaded())
        return;
    // The start-up folder's subfolders: one it cannot read shows none, as
    // before it was chosen; a stop leaves them to the next showing.
    runCommand(
        opening(), [&](Progress* progress) { tree_.loadSubfolders(progress); },
        [&](std::monostate, bool stopped) {
            if (!stopped)
                rebuild();
        });
}

void FolderTreeView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        guarded([&] { openRow(currentIndex().row()); });
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

}  // namespace vemlo
