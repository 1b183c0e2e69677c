// Whether the application is closing: set when the main window closes (also
// in the middle of a command), read on any thread. A closing application
// stops the command that runs after the entry in hand, stops every pass
// started from then on at its first look, and shows no more boxes: no one
// is left to answer them.
#pragma once

namespace vemlo {

bool appClosing();
// closing false undoes it, for tests that go on after a close.
void setAppClosing(bool closing);

}  // namespace vemlo
