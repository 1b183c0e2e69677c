#include "app/reports.h"

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
        text += u'\n' + displayText(f.name);
        if (!f.newName.empty())
            text += QStringLiteral(" → ") + displayText(f.newName);
        text += u'：' + failureReason(f);
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
