// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer's entry point for one target, chosen when the program is built (FUZZ_TARGET_NAME).
#include "harnesses.h"

#include <cstring>

namespace {

int (*target())(const uint8_t *, size_t)
{
    static int (*const run)(const uint8_t *, size_t) = [] {
        for (const FuzzTarget *t = FuzzTargets; t->name; ++t) {
            if (std::strcmp(t->name, FUZZ_TARGET_NAME) == 0)
                return t->run;
        }
        return static_cast<int (*)(const uint8_t *, size_t)>(nullptr);
    }();
    return run;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return target()(data, size);
}
