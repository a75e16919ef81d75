#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant aborts, so libFuzzer keeps the input as a finding.
inline void invariant(bool holds, const char *what) {
    if (holds)
        return;
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
}
