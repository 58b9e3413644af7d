#include "app/StartupSequence.h"

int main(int argc, char* argv[])
{
    return runTonvale(argc, argv);
}
