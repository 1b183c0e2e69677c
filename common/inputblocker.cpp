#include "common/inputblocker.h"

#include <QApplication>
#include <QEvent>
#include <QVariant>
#include <QWidget>

#include <utility>

namespace vemlo {

namespace {

// The property that marks the window whose command runs (CommandOwner).
constexpr char kOwnerProperty[] = "vemloRunsCommand";

}  // namespace

InputBlocker::InputBlocker(std::function<QWidget*()> dialog, std::function<void()> refused)
    : dialog_(std::move(dialog)), refused_(std::move(refused))
{
    qApp->installEventFilter(this);
}

InputBlocker::~InputBlocker() = default;

bool InputBlocker::eventFilter(QObject* target, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Close:
        if (!event->spontaneous())
            return false;  // the program's own close
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        break;
    default:
        return false;
    }
    // A window-system window hands its events on to its widgets, which are
    // judged here; shortcuts go to their QAction or QShortcut.
    if (target->isWindowType())
        return false;
    QWidget* const dialog = dialog_();
    for (QObject* o = target; o; o = o->parent()) {
        if (o == dialog)
            return false;
    }
    if (event->type() == QEvent::Close) {
        auto* window = qobject_cast<QWidget*>(target);
        if (!window || !window->property(kOwnerProperty).toBool())
            return false;
        event->ignore();  // refused: the window stays
        if (dialog) {
            refused_();
            dialog->raise();
            dialog->activateWindow();
        }
        return true;
    }
    if (dialog && (event->type() == QEvent::MouseButtonPress ||
                   event->type() == QEvent::NonClientAreaMouseButtonPress)) {
        dialog->raise();
        dialog->activateWindow();
    }
    return true;
}

CommandOwner::CommandOwner(QWidget* window) : window_(window)
{
    window->setProperty(kOwnerProperty, true);
}

CommandOwner::~CommandOwner()
{
    if (window_)
        window_->setProperty(kOwnerProperty, QVariant());
}

}  // namespace vemlo
