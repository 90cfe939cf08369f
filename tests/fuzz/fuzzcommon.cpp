#include "fuzzentries.h"

#include <cstdio>
#include <cstdlib>

const char *g_fuzzInput = nullptr;

void FuzzFailed(const char *check, const char *file, int line)
{
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)%s%s\n", check, file, line,
                 g_fuzzInput ? " on input " : "", g_fuzzInput ? g_fuzzInput : "");
    std::abort();
}
