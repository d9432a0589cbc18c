// The shared library shows exactly the functions of its public header.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

TEST(VmeExportsTest, ExactlyTheHeaderFunctions)
{
    std::ifstream in(KORUVME_HEADER_PATH);
    std::stringstream text;
    text << in.rdbuf();
    std::set<std::string> want;
    const std::string header = text.str();
    // Every "KORUVME_API ... NAME(" declaration names one function.
    for (size_t at = header.find("KORUVME_API "); at != std::string::npos;
         at = header.find("KORUVME_API ", at + 1)) {
        const size_t paren = header.find('(', at);
        if (paren == std::string::npos || header.find(';', at) < paren)
            continue;
        size_t b = paren;
        while (b > at && (std::isalnum(static_cast<unsigned char>(header[b - 1])) || header[b - 1] == '_'))
            --b;
        const std::string name = header.substr(b, paren - b);
        if (name.rfind("KORUVME_", 0) == 0 || name.rfind("_KORUVME_", 0) == 0)
            want.insert(name);
    }
    ASSERT_GT(want.size(), 80u);

    const std::string cmd = std::string("nm -D --defined-only '") + KORUVME_SO_PATH + "'";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[1024];
    std::set<std::string> got;
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        const std::string name = s.substr(s.rfind(' ') + 1);
        if (name != "_init" && name != "_fini" && name != "_edata" && name != "_end" && name != "__bss_start")
            got.insert(name);
    }
    pclose(p);
    EXPECT_EQ(got, want);
}
