// The libFuzzer entry point of one target; ORV_FUZZ_TARGET names it.
#include "fuzzentries.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const auto entry = [] {
        for (const FuzzTarget &target : kFuzzTargets)
            if (std::strcmp(target.name, ORV_FUZZ_TARGET) == 0)
                return target.entry;
        return static_cast<int (*)(const uint8_t *, size_t)>(nullptr);
    }();
    return entry(data, size);
}
