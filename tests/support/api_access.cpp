#include "api_access.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "KORUHVWrapper.h"

namespace korutest {

int initSystem(int systemType, int link, const std::string &address, int *handle)
{
    std::vector<char> text(address.begin(), address.end());
    text.push_back('\0');
    return KORUHV_InitSystem(systemType, link, text.data(), "", "", handle);
}

namespace {

template <typename T> T getCh(int h, const char *name, unsigned short ch, int *rc)
{
    T v = static_cast<T>(-12345);
    const int r = KORUHV_GetChParam(h, 0, name, 1, &ch, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

template <typename T> T getBd(int h, const char *name, int *rc)
{
    unsigned short slot = 0;
    T v = static_cast<T>(-12345);
    const int r = KORUHV_GetBdParam(h, 1, &slot, name, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

// Takes the list over and frees it.
std::vector<std::string> slots10(char *list)
{
    std::vector<std::string> out;
    for (const char *p = list; p && *p; p += 10)
        out.emplace_back(p, strnlen(p, 10));
    KORUHV_Free(list);
    return out;
}

} // namespace

float getChFloat(int h, const char *name, unsigned short ch, int *rc)
{
    return getCh<float>(h, name, ch, rc);
}

int getChInt(int h, const char *name, unsigned short ch, int *rc)
{
    return getCh<int32_t>(h, name, ch, rc);
}

int setChFloat(int h, const char *name, unsigned short ch, float v)
{
    return KORUHV_SetChParam(h, 0, name, 1, &ch, &v);
}

int setChInt(int h, const char *name, unsigned short ch, int v)
{
    int32_t x = v;
    return KORUHV_SetChParam(h, 0, name, 1, &ch, &x);
}

float getBdFloat(int h, const char *name, int *rc)
{
    return getBd<float>(h, name, rc);
}

int getBdInt(int h, const char *name, int *rc)
{
    return getBd<int32_t>(h, name, rc);
}

int setBdFloat(int h, const char *name, float v)
{
    unsigned short slot = 0;
    return KORUHV_SetBdParam(h, 1, &slot, name, &v);
}

int setBdInt(int h, const char *name, int v)
{
    unsigned short slot = 0;
    int32_t x = v;
    return KORUHV_SetBdParam(h, 1, &slot, name, &x);
}

std::vector<std::string> boardParams(int h)
{
    char *list = nullptr;
    EXPECT_EQ(KORUHV_GetBdParamInfo(h, 0, &list), 0);
    return slots10(list);
}

std::vector<std::string> channelParams(int h, unsigned short ch, int *rc)
{
    char *list = nullptr;
    int count = -1;
    const int r = KORUHV_GetChParamInfo(h, 0, ch, &list, &count);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0);
    std::vector<std::string> names = slots10(list);
    if (r == 0) {
        EXPECT_EQ(static_cast<size_t>(count), names.size());
    }
    return names;
}

int unsubscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n)
{
    char results[32] = {};
    return KORUHV_UnSubscribeChannelParams(h, port, 0, ch, names, n, results);
}

} // namespace korutest
