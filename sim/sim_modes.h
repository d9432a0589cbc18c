// Entry points of the simulator program's modes, one per device family.
#pragma once

int runCrateSim(int argc, char **argv);
int runL2290Sim(int argc, char **argv);
