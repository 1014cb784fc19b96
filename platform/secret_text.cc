#include "platform/secret_text.h"

#include <cstring>

void wipe_memory(void *memory, std::size_t size)
{
    std::memset(memory, 0, size);
    // The memory counts as read afterwards, so the stores cannot be dropped
    // as dead (both of our compilers, g++ and MinGW's, take this form).
    __asm__ __volatile__("" : : "r"(memory) : "memory");
}
