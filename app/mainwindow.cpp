#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolTip>

#include <malloc.h>

#include "app/core/importrows.h"
#include "app/reports.h"
#include "common/appclosing.h"
#include "common/command.h"
#include "common/errtext.h"
#include "common/layout.h"
#include "common/messages.h"
#include "common/progressgate.h"
#include "common/text.h"
#include "import/core/listrows.h"
#include "import/importwindow.h"

TForm1* Form1 = nullptr;

using vemlo::place;

namespace {

// Radio buttons and check boxes answer a click anywhere in their rectangle,
// not only on the caption's text.
template <class Base>
class WholeAreaButton : public Base {
public:
    using Base::Base;

protected:
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
};
using RadioButton = WholeAreaButton<QRadioButton>;
using CheckBox = WholeAreaButton<QCheckBox>;

// Cells are cut at their edge, never shortened with "…"; the tooltip of a
// cut cell shows its whole text.
class ClippedCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QStyle* style = view->style();
        const QRect room = style->subElementRect(QStyle::SE_ItemViewItemText, &item, view);
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &item, view) + 1;
        if (item.fontMetrics.horizontalAdvance(item.text) + 2 * margin > room.width())
            QToolTip::showText(event->globalPos(), item.text, view->viewport(), option.rect);
        else
            QToolTip::hideText();
        return true;
    }
};

template <class W>
W* make(QWidget* parent, const char* name, const vemlo::Scale& s, int l, int t, int w, int h)
{
    auto* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    place(widget, s, l, t, w, h);
    return widget;
}

template <class W>
W* makeText(QWidget* parent, const char* name, const char* text, const vemlo::Scale& s, int l,
            int t, int w, int h)
{
    W* widget = make<W>(parent, name, s, l, t, w, h);
    widget->setText(QString::fromUtf8(text));
    return widget;
}

QGroupBox* makeGroup(QWidget* parent, const char* name, const char* title, const vemlo::Scale& s,
                     int l, int t, int w, int h)
{
    QGroupBox* box = make<QGroupBox>(parent, name, s, l, t, w, h);
    box->setTitle(QString::fromUtf8(title));
    // A screen reader names a frame by its own caption, not by the group
    // around it.
    box->setAccessibleName(box->title());
    return box;
}

QComboBox* makeColumnSelector(QWidget* parent, const char* name, const vemlo::Scale& s, int l,
                              int t, int w, int h)
{
    auto* box = make<QComboBox>(parent, name, s, l, t, w, h);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMaxVisibleItems(8);
    box->addItems({QStringLiteral("文件名"), QStringLiteral("格式"), QStringLiteral("修改时间"),
                   QStringLiteral("创建时间")});
    box->setCurrentIndex(0);
    box->setEditText(QStringLiteral("文件名"));
    return box;
}

QListWidget* makeKeywordList(QWidget* parent, const char* name, const vemlo::Scale& s, int l,
                             int t, int w, int h)
{
    auto* list = make<QListWidget>(parent, name, s, l, t, w, h);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setUniformItemSizes(true);
    vemlo::markFocus(list);
    return list;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), table_(new vemlo::FileTable(this))
{
    Form1 = this;
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("文件管理器Vemlo"));
    setWindowIcon(vemlo::appIcon());
    setFont(vemlo::windowFont());
    buildMenu();
    buildLayout();
    bindEvents();
    FormCreate(this);
}

void TForm1::buildLayout()
{
    const vemlo::Scale s(font());
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    // Outer size 1076 x 458 on the designer's screen; the controls need
    // 1065 x 401 of the client area below the menu. The client area has no
    // minimum: a smaller window cuts the controls off where they stand.
    resize(s(1068), s(407) + mm1->sizeHint().height());
    move(s(205), s(120));

    strgrdM = make<QTableView>(client, "strgrdM", s, 0, 16, 681, 385);
    strgrdM->setModel(table_);
    strgrdM->setEditTriggers(QAbstractItemView::NoEditTriggers);
    strgrdM->setSelectionMode(QAbstractItemView::ContiguousSelection);
    strgrdM->setSelectionBehavior(QAbstractItemView::SelectItems);
    strgrdM->setTabKeyNavigation(false);
    strgrdM->setWordWrap(false);
    strgrdM->setTextElideMode(Qt::ElideNone);
    strgrdM->setItemDelegate(new ClippedCellDelegate(strgrdM));
    strgrdM->setCornerButtonEnabled(false);
    strgrdM->verticalHeader()->hide();
    strgrdM->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    strgrdM->verticalHeader()->setMinimumSectionSize(1);
    strgrdM->verticalHeader()->setDefaultSectionSize(s(16));
    QHeaderView* header = strgrdM->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(1);
    header->setFixedHeight(s(16));
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    static const int widths[] = {262, 97, 39, 74, 77, 70, 50};
    for (int c = 0; c < vemlo::FileTable::kColumns; ++c)
        header->resizeSection(c, s(widths[c]));

    grp1 = makeGroup(client, "grp1", "整理", s, 688, 0, 185, 201);
    grp2 = makeGroup(client, "grp2", "处理", s, 880, 0, 185, 201);
    grp3 = makeGroup(client, "grp3", "筛选", s, 688, 208, 185, 193);
    grp4 = makeGroup(client, "grp4", "分析", s, 880, 208, 185, 193);

    // Organize group, in creation order.
    lbl1 = makeText<QLabel>(grp1, "lbl1", "整理内容  ", s, 8, 16, 66, 13);
    lbl2 = makeText<QLabel>(grp1, "lbl2", "整理关键字列表      ", s, 80, 40, 133, 13);
    lbl3 = makeText<QLabel>(grp1, "lbl3", "关键字  ", s, 24, 64, 53, 13);
    btnsort = makeText<QPushButton>(grp1, "btnsort", "整理", s, 8, 176, 169, 17);
    cbbspara = makeColumnSelector(grp1, "cbbspara", s, 64, 16, 113, 21);
    lstsort = makeKeywordList(grp1, "lstsort", s, 80, 56, 97, 113);
    edtsortadd = make<QLineEdit>(grp1, "edtsortadd", s, 8, 80, 65, 21);
    btnsortadd = makeText<QPushButton>(grp1, "btnsortadd", "添加项", s, 8, 104, 65, 17);
    btnsortremove = makeText<QPushButton>(grp1, "btnsortremove", "删除项", s, 8, 128, 65, 17);
    btnsortclear = makeText<QPushButton>(grp1, "btnsortclear", "清空项", s, 8, 152, 65, 17);

    // Batch group
    lbl4 = makeText<QLabel>(grp2, "lbl4", "批量修改文件名      ", s, 8, 16, 133, 13);
    lbl5 = makeText<QLabel>(grp2, "lbl5", "基础文件名    ", s, 8, 32, 93, 13);
    lbl6 = makeText<QLabel>(grp2, "lbl6", "批量更改文件属性      ", s, 8, 80, 146, 13);
    btnrename = makeText<QPushButton>(grp2, "btnrename", "更改", s, 8, 176, 169, 17);
    edtrnbase = make<QLineEdit>(grp2, "edtrnbase", s, 80, 32, 97, 21);
    btnrn = makeText<QPushButton>(grp2, "btnrn", "更改", s, 8, 56, 169, 17);
    chk1 = makeText<CheckBox>(grp2, "chk1", "只读", s, 8, 96, 49, 17);
    chk2 = makeText<CheckBox>(grp2, "chk2", "隐藏", s, 96, 96, 65, 17);
    chk3 = makeText<CheckBox>(grp2, "chk3", "存档", s, 8, 120, 81, 17);
    chk4 = makeText<CheckBox>(grp2, "chk4", "系统文件", s, 96, 120, 81, 17);
    chk3->setChecked(true);

    // Filter group
    lbl7 = makeText<QLabel>(grp3, "lbl7", "筛选内容 ", s, 8, 16, 59, 13);
    lbl8 = makeText<QLabel>(grp3, "lbl8", "关键字 ", s, 8, 40, 46, 13);
    lbl9 = makeText<QLabel>(grp3, "lbl9", "筛选关键字列表      ", s, 80, 40, 133, 13);
    btndec = makeText<QPushButton>(grp3, "btndec", "筛选", s, 8, 168, 169, 17);
    cbbfilterate = makeColumnSelector(grp3, "cbbfilterate", s, 64, 16, 113, 21);
    lst = makeKeywordList(grp3, "lst", s, 80, 56, 97, 81);
    edtfilterate = make<QLineEdit>(grp3, "edtfilterate", s, 8, 56, 65, 21);
    btnaddf = makeText<QPushButton>(grp3, "btnaddf", "添加项", s, 8, 80, 65, 17);
    btnremovef = makeText<QPushButton>(grp3, "btnremovef", "删除项", s, 8, 104, 65, 17);
    btnclearf = makeText<QPushButton>(grp3, "btnclearf", "清空项", s, 8, 128, 65, 17);
    chk5 = makeText<CheckBox>(grp3, "chk5", "忽略大小写      ", s, 8, 152, 169, 17);
    chk5->setChecked(true);

    // Analysis group. The frames are siblings of the radio buttons, so all
    // four buttons form one exclusive set among grp4's children.
    rg1 = makeGroup(grp4, "rg1", "以图形方式呈现", s, 8, 16, 169, 41);
    rbcircle = makeText<RadioButton>(grp4, "rbcircle", "饼状图", s, 16, 32, 57, 17);
    rbrect = makeText<RadioButton>(grp4, "rbrect", "条状图", s, 104, 32, 65, 17);
    btnanagraph = makeText<QPushButton>(grp4, "btnanagraph", "生成图像", s, 8, 64, 161, 25);
    btnanagrid = makeText<QPushButton>(grp4, "btnanagrid", "生成表格", s, 8, 160, 169, 25);
    rganagrid = makeGroup(grp4, "rganagrid", "以表格方式呈现", s, 8, 96, 169, 57);
    rbh = makeText<RadioButton>(grp4, "rbh", "横板", s, 16, 112, 89, 25);
    rbv = makeText<RadioButton>(grp4, "rbv", "竖版", s, 104, 112, 65, 17);
    rbh->setChecked(true);
    // The frames are drawn below the buttons that lie on them.
    rg1->lower();
    rganagrid->lower();

    for (QPushButton* b : client->findChildren<QPushButton*>()) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    for (QLabel* l : client->findChildren<QLabel*>())
        l->setFocusPolicy(Qt::NoFocus);
    // Group captions sit on the frame line, so that the controls placed
    // below the caption lie inside the frame.
    const QString frameStyle =
        QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
                       " margin-top: %1px; }"
                       "QGroupBox::title { subcontrol-origin: margin; left: %2px;"
                       " padding: 0 2px; }")
            .arg(QFontMetrics(font()).height() / 2)
            .arg(s(6));
    for (QGroupBox* g : client->findChildren<QGroupBox*>()) {
        g->setFocusPolicy(Qt::NoFocus);
        g->setStyleSheet(frameStyle);
    }

    // Tab order: the grid, then each group box's controls in their order.
    const QList<QWidget*> order = {
        strgrdM,
        btnsort, cbbspara, lstsort, edtsortadd, btnsortadd, btnsortremove, btnsortclear,
        btnrename, edtrnbase, btnrn, chk1, chk2, chk3, chk4,
        btndec, cbbfilterate, lst, edtfilterate, btnaddf, btnremovef, btnclearf, chk5,
        rbcircle, rbrect, btnanagraph, btnanagrid, rbh, rbv};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    strgrdM->setFocus();
}

void TForm1::buildMenu()
{
    mm1 = new QMenuBar(this);
    mm1->setObjectName(QStringLiteral("mm1"));
    setMenuBar(mm1);

    auto item = [this](QMenu* menu, const char* name, const char* caption, QKeySequence key) {
        auto* action = new QAction(QString::fromUtf8(caption), this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(key);
        action->setShortcutContext(Qt::ApplicationShortcut);
        menu->addAction(action);
        return action;
    };
    // The menu-bar items show no shortcut text, yet their keys are taken.
    auto barItem = [this](const char* name, const char* caption, QKeySequence key) {
        QMenu* menu = mm1->addMenu(QString::fromUtf8(caption));
        menu->setObjectName(QString::fromLatin1(name));
        auto* keyAction = new QAction(this);
        keyAction->setObjectName(QString::fromLatin1(name) + QStringLiteral("Key"));
        keyAction->setShortcut(key);
        keyAction->setShortcutContext(Qt::ApplicationShortcut);
        addAction(keyAction);
        return menu;
    };

    N1 = barItem("N1", "文件", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F));
    N4 = item(N1, "N4", "打开文件列表", QKeySequence(Qt::CTRL | Qt::Key_O));
    N5 = item(N1, "N5", "关闭文件列表", QKeySequence());
    N6 = item(N1, "N6", "保存文件列表", QKeySequence(Qt::CTRL | Qt::Key_S));
    N7 = item(N1, "N7", "另存文件列表", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S));
    N8 = item(N1, "N8", "文件夹导入", QKeySequence(Qt::CTRL | Qt::Key_I));
    N2 = barItem("N2", "编辑", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_E));
    N3 = barItem("N3", "其他", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_X));
    // A text box that has the focus keeps Ctrl+Z for its own undo: it
    // claims the key before any shortcut sees it.
    N9 = item(N2, "N9", "撤销", QKeySequence(Qt::CTRL | Qt::Key_Z));
    showUndo();
}

void TForm1::showUndo()
{
    N9->setText(vemlo::undoCaption(trails_.empty() ? nullptr : &trails_.back()));
    N9->setEnabled(!trails_.empty());
}

void TForm1::keepTrail(vemlo::BatchTrail&& trail)
{
    if (trail.empty())
        return;
    trails_.push_back(std::move(trail));
    showUndo();
}

template <class Handler>
void TForm1::bind(QAbstractButton* button, Handler handler)
{
    connect(button, &QAbstractButton::clicked, this,
            [this, button, handler] { vemlo::guarded([&] { (this->*handler)(button); }); });
}

void TForm1::bindEvents()
{
    connect(N8, &QAction::triggered, this, [this] { vemlo::guarded([&] { N8Click(N8); }); });
    connect(N9, &QAction::triggered, this, [this] { vemlo::guarded([&] { N9Click(N9); }); });
    bind(btnsortadd, &TForm1::btnsortaddClick);
    bind(btnsortremove, &TForm1::btnsortremoveClick);
    bind(btnsortclear, &TForm1::btnsortclearClick);
    bind(btnaddf, &TForm1::btnaddfClick);
    bind(btnremovef, &TForm1::btnremovefClick);
    bind(btnclearf, &TForm1::btnclearfClick);
    bind(btndec, &TForm1::btndecClick);
    bind(btnsort, &TForm1::btnsortClick);
    bind(btnrn, &TForm1::btnrnClick);
    bind(btnrename, &TForm1::btnrenameClick);
    bind(btnanagrid, &TForm1::btnanagridClick);
    bind(btnanagraph, &TForm1::btnanagraphClick);
}

void TForm1::FormCreate(QObject*)
{
    for (int c = 0; c < vemlo::FileTable::kColumns; ++c)
        table_->setText(0, c, vemlo::FileTable::kCaptions[size_t(c)]);
}

void TForm1::ImportDir(const std::string& pattern)
{
    const std::string folder = vemlo::folderOfPattern(pattern);
    const std::string working = workingFolder();
    vemlo::RowStore rows;
    vemlo::fs::ListingGaps gaps;
    const auto [status, stopped] = vemlo::runCommand(
        QStringLiteral("正在读取文件夹…"),
        [&](vemlo::Progress* progress) { return vemlo::listRows(folder, working, rows, gaps, progress); },
        [&](const vemlo::fs::Status& listed, bool) {
            if (listed)
                table_->replaceDataRows(std::move(rows));
            // The listing's scratch memory and the rows it replaced go back
            // to the system rather than staying with the process.
            ::malloc_trim(0);
        });
    // Named as the user gave it: "/home/a", not the enumerated "/home/a/".
    std::string_view shown = folder;
    if (shown.size() > 1 && shown.back() == '/' && pattern.size() >= 2 &&
        pattern.compare(pattern.size() - 2, 2, "/*") == 0)
        shown.remove_suffix(1);
    if (!status) {
        // Never the texts of an earlier listing: one empty data row.
        table_->setTableRows(1);
        table_->setTableRows(2);
        vemlo::showWarningBox(QStringLiteral("无法读取文件夹“%1”：%2")
                                  .arg(vemlo::displayText(shown),
                                       QString::fromStdString(vemlo::reasonText(status.err))));
    } else if (stopped) {
        QString text = QStringLiteral("已取消：文件夹“%1”只列出了 %2 个条目，列表不完整")
                           .arg(vemlo::displayText(shown))
                           .arg(table_->tableRows() - 1);
        if (!gaps.empty())
            text += u'\n' + vemlo::listingGapsText(vemlo::displayText(shown), gaps);
        vemlo::showWarningBox(text);
    } else if (!gaps.empty()) {
        vemlo::showWarningBox(vemlo::listingGapsText(vemlo::displayText(shown), gaps));
    }
}

void TForm1::AdjustToTop() { table_->adjustToTop(); }

void TForm1::N8Click(QObject*)
{
    Form2->show();
    Form2->raise();
    Form2->activateWindow();
}

void TForm1::GetFT() {}

std::string TForm1::workingFolder() const { return Form2->workingFolder(); }

void TForm1::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the run, also while the import window is
    // shown, and stops a command that is running: it ends after the entry in
    // hand and the run ends once it has unwound (ending it inside the
    // command would delete the chart window whose save runs).
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    vemlo::setAppClosing(true);
    if (vemlo::ProgressGate::running())
        vemlo::ProgressGate::afterCommand([] { QCoreApplication::quit(); });
    else
        QCoreApplication::quit();
}
