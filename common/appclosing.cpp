#include "common/appclosing.h"

#include <atomic>

namespace vemlo {

namespace {

std::atomic<bool> g_closing = false;

}  // namespace

bool appClosing() { return g_closing; }
void setAppClosing(bool closing) { g_closing = closing; }

}  // namespace vemlo
