// Keyword lists, filter and organize.
#include "app/Unit1.h"

void TForm1::btnsortaddClick(QObject*) {}
void TForm1::btnsortremoveClick(QObject*) {}
void TForm1::btnsortclearClick(QObject*) {}
void TForm1::btnaddfClick(QObject*) {}
void TForm1::btnremovefClick(QObject*) {}
void TForm1::btnclearfClick(QObject*) {}
void TForm1::btndecClick(QObject*) {}
void TForm1::btnsortClick(QObject*) {}
