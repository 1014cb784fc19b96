#include "command/command_loop.h"
#include "platform/process.h"

int main(int argc, char **argv)
{
    ignore_file_size_signal();
    return run_lodgate(argc, argv);
}
