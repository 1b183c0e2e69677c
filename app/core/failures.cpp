#include "app/core/failures.h"

#include "app/core/filetable.h"

namespace vemlo {

void FailureList::add(std::string_view name, std::string reason)
{
    if (count_++ < kListed)
        listed_.push_back({std::string(name), std::move(reason)});
}

QString FailureList::lines() const
{
    QString text;
    for (const Failure& f : listed_)
        text += QStringLiteral("\n%1：%2").arg(displayText(f.name), QString::fromStdString(f.reason));
    if (const int unlisted = count_ - int(listed_.size()); unlisted > 0)
        text += QStringLiteral("\n……另有 %1 个未列出").arg(unlisted);
    return text;
}

}  // namespace vemlo
