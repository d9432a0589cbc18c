// Entry points of the simulator program's modes, one per device family.
#pragma once

int runCrateSim(int argc, char **argv);
int runHx1100Sim(int argc, char **argv);
int runP8080Sim(int argc, char **argv);
int runL2290Sim(int argc, char **argv);
int runW9300Sim(int argc, char **argv);
int runL317ESim(int argc, char **argv);
int runZJVSim(int argc, char **argv);
int runBQ71XXESim(int argc, char **argv);
int runL5026Sim(int argc, char **argv);
int runL5126Sim(int argc, char **argv);
int runTrixhvSim(int argc, char **argv);
int runZornSim(int argc, char **argv);
int runVmeSim(int argc, char **argv);
int runDiscoverySim(int argc, char **argv);
