#include "app/startup.h"

int main(int argc, char** argv)
{
    return vemlo::start(argc, argv);
}
