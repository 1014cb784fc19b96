#include "auth/lodgate_auth.h"

int main(int argc, char **argv)
{
    return run_lodgate_auth(argc, argv);
}
