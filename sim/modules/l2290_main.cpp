#include <cstdio>

#include "sim_modes.h"

int runL2290Sim(int, char **)
{
    std::fprintf(stderr, "l2290 mode is not available yet\n");
    return 1;
}
