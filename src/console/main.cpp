#include "console/program/ConsoleMain.h"

int main(int argc, char** argv)
{
    return qx200::consoleMain(argc, argv);
}
