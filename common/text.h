// Byte strings as the windows show them.
#pragma once

#include <QString>

#include <string_view>

namespace vemlo {

// Display text of bytes (a name, a path, a cell): UTF-8, invalid bytes shown
// as replacement marks.
QString displayText(std::string_view bytes);

}  // namespace vemlo
