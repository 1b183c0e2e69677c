#include "app/startup.h"

#include <QApplication>

#include "app/Unit1.h"
#include "app/layout.h"
#include "app/messages.h"
#include "import/Unit2.h"

namespace vemlo {

void createForms()
{
    QApplication::setWindowIcon(appIcon());
    new TForm1;
    new TForm2;
}

int run(QApplication& app)
{
    createForms();
    // The main window ends the run itself; a hidden import window never does.
    app.setQuitOnLastWindowClosed(false);
    Form1->show();
    app.exec();
    delete Form2;
    delete Form1;
    return 0;
}

}  // namespace vemlo
