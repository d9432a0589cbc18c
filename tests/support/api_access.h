// Small typed calls of the public API the backend tests share. Reads that
// are given no rc expect success; a failed read returns -12345.
#pragma once

#include <string>
#include <vector>

namespace korutest {

// KORUHV_InitSystem with a writable, NUL-terminated copy of the address.
int initSystem(int systemType, int link, const std::string &address, int *handle);

float getChFloat(int h, const char *name, unsigned short ch, int *rc = nullptr);
int getChInt(int h, const char *name, unsigned short ch, int *rc = nullptr);
int setChFloat(int h, const char *name, unsigned short ch, float v);
int setChInt(int h, const char *name, unsigned short ch, int v);
// The board is slot 0.
float getBdFloat(int h, const char *name, int *rc = nullptr);
int getBdInt(int h, const char *name, int *rc = nullptr);
int setBdFloat(int h, const char *name, float v);
int setBdInt(int h, const char *name, int v);

// Names of the board's or a channel's parameters (10-byte-slot lists).
std::vector<std::string> boardParams(int h);
std::vector<std::string> channelParams(int h, unsigned short ch, int *rc = nullptr);

int unsubscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n);

// The same calls under the names the test fixtures use, for fixtures to
// derive from next to ::testing::Test.
class FixtureAccess {
protected:
    static float getFloat(int h, const char *name, unsigned short ch, int *rc = nullptr)
    {
        return getChFloat(h, name, ch, rc);
    }
    static int getInt(int h, const char *name, unsigned short ch, int *rc = nullptr)
    {
        return getChInt(h, name, ch, rc);
    }
    static int setFloat(int h, const char *name, unsigned short ch, float v)
    {
        return setChFloat(h, name, ch, v);
    }
    static int setInt(int h, const char *name, unsigned short ch, int v) { return setChInt(h, name, ch, v); }
    static int getBoardInt(int h, const char *name, int *rc = nullptr) { return getBdInt(h, name, rc); }
    static float getBoardFloat(int h, const char *name, int *rc = nullptr) { return getBdFloat(h, name, rc); }
    static int setBoardInt(int h, const char *name, int v) { return setBdInt(h, name, v); }
    static int setBoardFloat(int h, const char *name, float v) { return setBdFloat(h, name, v); }
};

} // namespace korutest
