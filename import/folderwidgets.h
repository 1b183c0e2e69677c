// The import window's drive chooser (mount points) and folder tree.
#pragma once

#include <QComboBox>
#include <QListWidget>

#include <string>
#include <vector>

#include "import/core/foldertree.h"
#include "platform/mounts.h"

namespace vemlo {

// A drop-down list of mount points; its identifier is the chosen mount point.
class DriveChooser : public QComboBox {
    Q_OBJECT
public:
    DriveChooser(std::string startMount, QWidget* parent);

    // The chosen mount point, as bytes.
    const std::string& drive() const { return drive_; }

    // Lists the volumes ("mount point [label]"), shows the chosen one and
    // notifies.
    void populate(const std::vector<fs::Volume>& volumes);

signals:
    // Raised by populate and by every selection of the user, also of the
    // entry already chosen.
    void changed();

private:
    std::string drive_;
};

// The folders from the root of the chosen mount down to the current folder,
// then the current folder's subfolders. Double-click or Enter opens an entry.
class FolderTreeView : public QListWidget {
    Q_OBJECT
public:
    FolderTreeView(std::vector<std::string> mountPoints, QWidget* parent);

    // The current folder: absolute, "/" at the root, no trailing "/" elsewhere.
    const std::string& folder() const { return tree_.folder(); }
    // The mount whose root the tree shows.
    const std::string& mount() const { return tree_.mount(); }
    // The folder an entry opens, as bytes.
    static std::string pathOf(const QListWidgetItem* item);

    // Opens the folder of an entry. Throws VemloError when it cannot be
    // entered; notifies when the folder changed.
    void openItem(QListWidgetItem* item);
    // Goes to another mount; nothing for the mount the tree is on.
    void setDrive(const std::string& mountPoint);

signals:
    // Raised once after each change of the current folder.
    void changed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void finish(const fs::Status& status, bool moved);
    void rebuild();

    FolderTree tree_;
};

}  // namespace vemlo
