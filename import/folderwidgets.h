// The import window's drive chooser (mount points) and folder tree.
#pragma once

#include <QAbstractListModel>
#include <QComboBox>
#include <QIcon>
#include <QListView>

class QSocketNotifier;

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "import/core/foldertree.h"
#include "platform/mounts.h"

namespace vemlo {

// A drop-down list of mount points; its identifier is the chosen mount point.
// It starts with the start mount alone and is filled by refill, on a worker.
class DriveChooser : public QComboBox {
    Q_OBJECT
public:
    DriveChooser(std::string startMount, QWidget* parent);
    ~DriveChooser() override;

    // The chosen mount point, as bytes.
    const std::string& drive() const { return drive_; }
    // Chooses a mount point without notifying, as the tree went there.
    void choose(const std::string& mountPoint);

    // Lists the volumes ("mount point [label]", the label in lower case; a
    // network share "mount point photos (nas)") and shows the chosen one,
    // which stays chosen (and unshown when it is no longer listed).
    void populate(const std::vector<fs::Volume>& volumes);

    // Reads the mounts on a worker thread and lists them when they come:
    // reading them may hang on a mount whose server is gone, and the window
    // goes on meanwhile with the list it has. Asked again while a read is
    // under way, it reads once more after it.
    void refill();
    // True from refill until its list is shown.
    bool filling() const { return filling_; }

    // Where refill gets the volumes (fs::currentVolumes unless set); returns
    // the earlier source. For tests.
    using VolumeSource = std::function<std::vector<fs::Volume>()>;
    static VolumeSource setVolumeSource(VolumeSource source);

signals:
    // Raised by every selection of the user, also of the entry already chosen.
    void changed();
    // Raised when the list read by refill is shown.
    void filled();

private:
    struct Mailbox;  // shared with the worker, outlives the chooser
    void takeDelivery();  // the worker has left a list in the mailbox
    void received(const std::vector<fs::Volume>& volumes);

    std::string drive_;
    std::vector<fs::Volume> listed_;
    std::shared_ptr<Mailbox> mailbox_;
    QSocketNotifier* woken_ = nullptr;  // watches the mailbox's descriptor
    bool filling_ = false;
    bool again_ = false;  // refill asked for while a read was under way
};

// The entries of the folder tree, as a list model.
class FolderEntryModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { DepthRole = Qt::UserRole };
    explicit FolderEntryModel(QObject* parent);
    void setEntries(std::vector<FolderEntry> entries, const QIcon& root, const QIcon& open,
                    const QIcon& closed);
    const std::vector<FolderEntry>& entries() const { return entries_; }
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<FolderEntry> entries_;
    QIcon root_, open_, closed_;
};

// The folders from the root of the chosen mount down to the current folder,
// then the current folder's subfolders. Double-click or Enter opens an entry.
class FolderTreeView : public QListView {
    Q_OBJECT
public:
    FolderTreeView(std::vector<std::string> mountPoints, QWidget* parent);

    // The current folder: absolute, "/" at the root, no trailing "/" elsewhere.
    const std::string& folder() const { return tree_.folder(); }
    // The mount whose root the tree shows.
    const std::string& mount() const { return tree_.mount(); }

    // The entries shown: their count, the folder each opens (bytes), the
    // text shown, and the row of the current folder.
    int count() const { return int(model_->entries().size()); }
    std::string pathAt(int row) const;
    QString textAt(int row) const;
    int currentFolderRow() const { return currentRow_; }

    // Opens the folder of an entry. Throws VemloError when it cannot be
    // entered; notifies when the folder changed.
    void openRow(int row);
    // Goes to another mount; nothing for the mount the tree is on.
    void setDrive(const std::string& mountPoint);
    // Opens the folder of paths given from outside the window (the command
    // line, a drop): the first of them that is a folder, else the folder the
    // first lies in, as fs::folderToOpen names it, into folder. Fails, the
    // tree unchanged, when it cannot be found (folder: the path as given) or
    // entered; ECANCELED when the user stopped it. Notifies when the folder
    // changed.
    fs::Status openGiven(const std::vector<std::string>& paths, std::string& folder);

signals:
    // Raised once after each change of the current folder.
    void changed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // The start-up folder's subfolders are read when the tree is first shown.
    void showEvent(QShowEvent* event) override;

private:
    // Runs one change of the tree; redraws, notifies, returns the failure
    // (ECANCELED when stopped).
    fs::Status change(const std::function<TreeStep(Progress*)>& step);
    void rebuild();

    FolderTree tree_;
    FolderEntryModel* model_;
    int currentRow_ = -1;
};

}  // namespace vemlo
