// The shared library shows exactly its 36 C exports and nothing else of
// ours.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::set<std::string> definedDynamicSymbols()
{
    std::set<std::string> out;
    const std::string cmd = std::string("nm -D --defined-only '") + KORUHV_SO_PATH + "'";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char line[1024];
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        const size_t sp = s.rfind(' ');
        out.insert(sp == std::string::npos ? s : s.substr(sp + 1));
    }
    pclose(p);
    return out;
}

bool isToolchainSymbol(const std::string &s)
{
    static const std::set<std::string> linker = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    if (linker.count(s))
        return true;
    // Vague-linkage entities of the C++ standard library (instantiations,
    // their vtables, typeinfo and local statics), even over our own types.
    std::string m = s;
    if (m.rfind("_Z", 0) != 0)
        return false;
    m.erase(0, 2);
    for (const char *special : {"TV", "TI", "TS", "GV"})
        if (m.rfind(special, 0) == 0) {
            m.erase(0, 2);
            break;
        }
    if (!m.empty() && m[0] == 'Z')
        m.erase(0, 1);
    if (!m.empty() && m[0] == 'N')
        m.erase(0, 1);
    if (!m.empty() && m[0] == 'K')
        m.erase(0, 1);
    return m.rfind("St", 0) == 0 || m.rfind("9__gnu_cxx", 0) == 0;
}

} // namespace

TEST(ExportsTest, Exactly36KoruhvFunctions)
{
    const std::set<std::string> want = {
        "KORUHV_InitSystem",
        "KORUHV_DeinitSystem",
        "KORUHV_GetCrateMap",
        "KORUHV_GetSysPropList",
        "KORUHV_GetSysPropInfo",
        "KORUHV_GetSysProp",
        "KORUHV_SetSysProp",
        "KORUHV_GetBdParam",
        "KORUHV_SetBdParam",
        "KORUHV_GetBdParamProp",
        "KORUHV_GetBdParamInfo",
        "KORUHV_TestBdPresence",
        "KORUHV_GetChParamProp",
        "KORUHV_GetChParamInfo",
        "KORUHV_GetChName",
        "KORUHV_SetChName",
        "KORUHV_GetChParam",
        "KORUHV_SetChParam",
        "KORUHV_GetExecCommList",
        "KORUHV_ExecComm",
        "KORUHV_Subscribe",
        "KORUHV_UnSubscribe",
        "KORUHV_SubscribeSystemParams",
        "KORUHV_SubscribeBoardParams",
        "KORUHV_SubscribeChannelParams",
        "KORUHV_UnSubscribeSystemParams",
        "KORUHV_UnSubscribeBoardParams",
        "KORUHV_UnSubscribeChannelParams",
        "KORUHV_GetEventData",
        "KORUHV_FreeEventData",
        "KORUHVGetEventData",
        "KORUHVFreeEventData",
        "KORUHV_Free",
        "KORUHV_GetError",
        "KORUHVGetError",
        "KORUHVLibSwRel",
    };
    ASSERT_EQ(want.size(), 36u);
    const std::set<std::string> got = definedDynamicSymbols();
    ASSERT_FALSE(got.empty()) << "nm gave nothing for " << KORUHV_SO_PATH;
    std::set<std::string> ours;
    for (const std::string &s : got)
        if (!isToolchainSymbol(s))
            ours.insert(s);
    EXPECT_EQ(ours, want);
}
