// Numbered rename and attribute change.
#include "app/Unit1.h"

void TForm1::btnrnClick(QObject*) {}
void TForm1::btnrenameClick(QObject*) {}
