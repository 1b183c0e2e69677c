#include "app/core/failures.h"

namespace vemlo {

void FailureList::add(Failure failure)
{
    if (count_++ < kListed)
        listed_.push_back(std::move(failure));
}

}  // namespace vemlo
