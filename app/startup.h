#pragma once

class QApplication;

namespace vemlo {

// Builds the main window Form1 and the hidden import window Form2.
void createForms();
// Start-up and the event loop; returns the exit status.
int run(QApplication& app);

}  // namespace vemlo
