// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

// The fuzz targets: each takes one input as the outside world could hand it to the program and runs it
// through the same code the program uses. They return 0 (libFuzzer's convention) and must never crash,
// hang or leak, whatever the bytes.
struct FuzzTarget {
    const char *name; // also the folder of its corpus: fuzz/corpus/NAME
    int (*run)(const uint8_t *data, size_t size);
};

// Every target, ended by {nullptr, nullptr}.
extern const FuzzTarget FuzzTargets[];
