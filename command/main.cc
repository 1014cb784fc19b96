#include "command/command_loop.h"

int main(int argc, char **argv)
{
    return run_lodgate(argc, argv);
}
