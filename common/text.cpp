#include "common/text.h"

namespace vemlo {

QString displayText(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

}  // namespace vemlo
