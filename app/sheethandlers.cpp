// Table export and space-by-format chart.
#include "app/Unit1.h"

void TForm1::btnanagridClick(QObject*) {}
void TForm1::btnanagraphClick(QObject*) {}
