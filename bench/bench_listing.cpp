// Listing speed against find over the same folder, and the memory a listed
// row takes.
#include <QApplication>

#include <cstdio>
#include <string>

#include "app/Unit1.h"
#include "app/startup.h"
#include "benchutil.h"
#include "import/Unit2.h"

using namespace vemlo::bench;

namespace {

// A folder path of exactly `length` bytes under the scratch folder's parent.
std::string folderOfLength(const std::string& tag, size_t length)
{
    std::string dir = scratchFolder(tag);
    if (dir.size() < length)
        dir.append(length - dir.size(), 'x');
    return dir;
}

std::string name20(int i)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "file-%011d.dat", i);  // 20 bytes
    return buf;
}

void listInto(const std::string& dir)
{
    Form2->setWorkingFolder(dir);
    Form1->table()->setTableRows(2);
    Form1->ImportDir(dir + "/*");
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    vemlo::createForms();
    Form1->show();  // the view is attached and visible while listing
    QApplication::processEvents();

    const int count = 100000;
    const std::string dir = folderOfLength("listing", 30);
    makeFiles(dir, count, name20);
    listInto(dir);  // warm the caches for both sides
    const double vemloMs = medianMs(5, [&] {
        listInto(dir);
        QApplication::processEvents();
    });
    const double findMs = shellMs(
        5, "find '" + dir + "' -maxdepth 1 -printf '%p %f %s %TY/%Tm/%Td %m\\n' > /dev/null");
    if (Form1->table()->tableRows() != count + 1)
        std::fprintf(stderr, "listed %d rows, expected %d\n", Form1->table()->tableRows() - 1, count);
    printRatio("listing 100000 entries", vemloMs, "find", findMs);
    removeTree(dir);

    // Memory: a million 20-byte names in a 30-byte folder path.
    const int million = 1000000;
    const std::string big = folderOfLength("memory", 30);
    makeFiles(big, million, name20);
    Form1->table()->setTableRows(2);
    QApplication::processEvents();
    const long before = residentBytes();
    listInto(big);
    QApplication::processEvents();
    const long after = residentBytes();
    std::printf("memory 1000000 entries: %.0f bytes per row\n", double(after - before) / million);
    removeTree(big);
    return 0;
}
