// Linked into lodgate-auth in sanitizer builds only. The kernel makes a
// set-user-ID process undumpable, so LeakSanitizer cannot stop its threads
// at exit and ends the process with an error instead of a result; when the
// program runs with privileges the leak check is left to the unit tests.
#include <sys/auxv.h>

extern "C" const char *__lsan_default_options()
{
    return getauxval(AT_SECURE) != 0 ? "detect_leaks=0" : "";
}
