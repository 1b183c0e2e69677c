#include "app/reports.h"

#include <cerrno>

#include "common/errtext.h"
#include "common/text.h"

namespace vemlo {

QString failureReason(const Failure& f)
{
    using Kind = Failure::Kind;
    auto reason = [](int err) { return QString::fromStdString(reasonText(err)); };
    switch (f.kind) {
    case Kind::Io:
        return reason(f.err);
    case Kind::Attributes:
        return QString::fromStdString(attribFailureText(f.err));
    case Kind::IntoItself:
        return QStringLiteral("不能移入自身");
    case Kind::KeywordFolderIsLink:
        return QStringLiteral("整理文件夹“%1”是符号链接，不移入").arg(displayText(f.folder));
    case Kind::KeywordFolderBehindLink:
        return QStringLiteral("整理文件夹“%1”位于符号链接“%2”之后，不移入")
            .arg(displayText(f.folder), displayText(f.link));
    case Kind::KeywordFolderIsFile:
        if (f.link == f.folder)
            return QStringLiteral("已有与整理文件夹“%1”同名的文件，不移入").arg(displayText(f.folder));
        return QStringLiteral("“%1”是文件，不能建立整理文件夹“%2”，不移入")
            .arg(displayText(f.link), displayText(f.folder));
    case Kind::KeywordFolderNotMade:
        return QStringLiteral("无法创建整理文件夹“%1”：").arg(displayText(f.folder)) + reason(f.err);
    case Kind::WorkingFolderNotOpened:
        return QStringLiteral("无法打开工作文件夹：") + reason(f.err);
    case Kind::NameTaken:
        return QStringLiteral("名称已被占用");
    case Kind::Gone:
        return QStringLiteral("已被移动或删除");
    case Kind::AttribsChanged:
        return QStringLiteral("属性已被改动");
    case Kind::FolderGone:
        if (f.err != ESTALE)
            return QStringLiteral("无法打开文件夹，其中的项目保持原样：") + reason(f.err);
        return QStringLiteral("文件夹已被移动或删除（或其所在的共享已断开），其中的项目保持原样");
    case Kind::NotSynced:
        return QStringLiteral("更改未能写入磁盘：") + reason(f.err);
    }
    return reason(f.err);
}

QString nameProblemText(NameProblem problem)
{
    switch (problem) {
    case NameProblem::None: break;
    case NameProblem::NulByte: return QStringLiteral("含有空字符");
    case NameProblem::Slash: return QStringLiteral("含有“/”");
    case NameProblem::Absolute: return QStringLiteral("是绝对路径");
    case NameProblem::DotPart: return QStringLiteral("含有“.”或“..”");
    case NameProblem::DotName: return QStringLiteral("是“.”或“..”");
    }
    return {};
}

QString failureLines(const FailureList& failures)
{
    QString text;
    for (const Failure& f : failures.listed()) {
        text += u'\n';
        if (!f.name.empty()) {
            text += displayText(f.name);
            if (!f.newName.empty())
                text += QStringLiteral(" → ") + displayText(f.newName);
            text += u'：';
        }
        text += failureReason(f);
    }
    if (const int unlisted = failures.count() - int(failures.listed().size()); unlisted > 0)
        text += QStringLiteral("\n……另有 %1 个未列出").arg(unlisted);
    return text;
}

QString failureReport(const BatchOutcome& outcome, const QString& what)
{
    if (outcome.failures.empty())
        return {};
    return QStringLiteral("有 %1 个条目未能%2：").arg(outcome.failures.count()).arg(what) +
           failureLines(outcome.failures);
}

QString undoQuestion(const BatchTrail& trail)
{
    QString n = QString::number(trail.size());
    for (int at = int(n.size()) - 3; at > 0; at -= 3)
        n.insert(at, u',');
    switch (trail.kind()) {
    case BatchTrail::Kind::Rename:
        return QStringLiteral("撤销重命名：把 %1 个项目改回原来的名称？").arg(n);
    case BatchTrail::Kind::Organize:
        return QStringLiteral("撤销整理：把 %1 个项目移回原来的位置？").arg(n);
    case BatchTrail::Kind::Attributes:
        break;
    }
    return QStringLiteral("撤销属性更改：把 %1 个项目的属性改回原来的值？").arg(n);
}

QString undoCaption(const BatchTrail* trail)
{
    if (!trail)
        return QStringLiteral("撤销");
    switch (trail->kind()) {
    case BatchTrail::Kind::Rename: return QStringLiteral("撤销重命名");
    case BatchTrail::Kind::Organize: return QStringLiteral("撤销整理");
    case BatchTrail::Kind::Attributes: break;
    }
    return QStringLiteral("撤销属性更改");
}

QString cancelledReport(const QString& what, int done, int left)
{
    return QStringLiteral("已取消：已%1 %2 个，%3 个未处理").arg(what).arg(done).arg(left);
}

QString organizeReport(const OrganizeResult& result, bool stopped)
{
    QString text = stopped ? cancelledReport(QStringLiteral("整理"), result.moved, result.left)
                                    : QStringLiteral("整理完毕");
    if (result.notMoved.empty())
        return text;
    return text + QStringLiteral("\n%1 个项目未移动：").arg(result.notMoved.count()) +
           failureLines(result.notMoved);
}

}  // namespace vemlo
