// The reports at the end of the commands on many entries: the entries that
// stayed as they were, with their reasons in words.
#pragma once

#include <QString>

#include "app/core/batch.h"
#include "app/core/keywords.h"

namespace vemlo {

// The reason for one entry, in Chinese.
QString failureReason(const Failure& failure);

// Why a typed name is refused, as a predicate: "含有“/”", "是绝对路径", ….
QString nameProblemText(NameProblem problem);

// One "name：reason" line per listed entry ("name → new name：reason" when
// it was to get a new name), then a line for the rest.
QString failureLines(const FailureList& failures);

// The text telling the user which entries were not <what> ("重命名",
// "更改属性"); empty when none failed.
QString failureReport(const BatchOutcome& outcome, const QString& what);

// "整理完毕", followed, when entries stayed, by how many and up to ten of
// them with their reasons.
QString organizeReport(const OrganizeResult& result, bool stopped = false);

// The question before 撤销 takes trail back: what and how many
// ("撤销重命名：把 10,000 个项目改回原来的名称？").
QString undoQuestion(const BatchTrail& trail);
// The caption of the menu entry 撤销 for the newest batch (nullptr: none).
QString undoCaption(const BatchTrail* trail);

// "已取消：已<what> N 个，M 个未处理": a command stopped by the user.
QString cancelledReport(const QString& what, int done, int left);

}  // namespace vemlo
