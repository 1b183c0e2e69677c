#include "import/folderwidgets.h"

#include <QKeyEvent>
#include <QStyle>
#include <QStyledItemDelegate>

#include "app/core/filetable.h"
#include "app/messages.h"

namespace vemlo {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kDepthRole = Qt::UserRole + 1;

QByteArray bytesOf(const std::string& s) { return QByteArray(s.data(), qsizetype(s.size())); }

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
        return index.data(kDepthRole).toInt() * option.fontMetrics.height();
    }
};

}  // namespace

DriveChooser::DriveChooser(std::string startMount, QWidget* parent)
    : QComboBox(parent), drive_(std::move(startMount))
{
    connect(this, &QComboBox::activated, this, [this](int index) {
        drive_ = itemData(index).toByteArray().toStdString();
        emit changed();
    });
}

void DriveChooser::populate(const std::vector<fs::Volume>& volumes)
{
    clear();
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (const fs::Volume& v : volumes) {
        QString text = displayText(v.mountPoint);
        if (!v.label.empty())
            text += QStringLiteral(" [") + displayText(v.label) + u']';
        addItem(icon, text, bytesOf(v.mountPoint));
    }
    setCurrentIndex(findData(bytesOf(drive_)));
    emit changed();
}

FolderTreeView::FolderTreeView(std::vector<std::string> mountPoints, QWidget* parent)
    : QListWidget(parent), tree_(std::move(mountPoints))
{
    setItemDelegate(new IndentDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { guarded([&] { openItem(item); }); });
    rebuild();
}

std::string FolderTreeView::pathOf(const QListWidgetItem* item)
{
    return item ? item->data(kPathRole).toByteArray().toStdString() : std::string();
}

void FolderTreeView::openItem(QListWidgetItem* item)
{
    if (!item)
        return;
    bool moved = false;
    const fs::Status status = tree_.open(pathOf(item), moved);
    finish(status, moved);
}

void FolderTreeView::setDrive(const std::string& mountPoint)
{
    const std::string before = tree_.mount();
    bool moved = false;
    const fs::Status status = tree_.setDrive(mountPoint, moved);
    if (!moved && status && tree_.mount() != before)
        rebuild();  // the same folder, now under the root of another mount
    finish(status, moved);
}

void FolderTreeView::finish(const fs::Status& status, bool moved)
{
    if (!status)
        throw VemloError(QString::fromStdString(folderErrorText(status.err)));
    if (!moved)
        return;
    rebuild();
    emit changed();
}

void FolderTreeView::rebuild()
{
    setUpdatesEnabled(false);
    clear();
    const QIcon root = style()->standardIcon(QStyle::SP_DriveHDIcon);
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QListWidgetItem* current = nullptr;
    for (const FolderEntry& e : tree_.entries()) {
        auto* item = new QListWidgetItem(e.depth == 0 ? root : e.onPath ? open : closed,
                                         displayText(e.name), this);
        item->setData(kPathRole, bytesOf(e.path));
        item->setData(kDepthRole, e.depth);
        if (e.current)
            current = item;
    }
    setCurrentItem(current);
    setUpdatesEnabled(true);
    if (current)
        scrollToItem(current);
}

void FolderTreeView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        guarded([&] { openItem(currentItem()); });
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

}  // namespace vemlo
