#include <cstdio>

#include "sim_modes.h"

int runCrateSim(int, char **)
{
    std::fprintf(stderr, "crate mode is not available yet\n");
    return 1;
}
