// Sets LC_ALL for the life of the object and puts the old value back. The
// program reads the locale the environment selects when it needs the
// codeset (newlocale with ""), so a test can switch it between calls.
#ifndef KORU_TEST_LOCALE_SCOPE_H
#define KORU_TEST_LOCALE_SCOPE_H

#include <cstdlib>
#include <string>

namespace koru_test {

class LocaleScope {
public:
    explicit LocaleScope(const char *value)
    {
        if (const char *old = std::getenv("LC_ALL")) {
            had = true;
            saved = old;
        }
        setenv("LC_ALL", value, 1);
    }
    ~LocaleScope()
    {
        if (had)
            setenv("LC_ALL", saved.c_str(), 1);
        else
            unsetenv("LC_ALL");
    }
    LocaleScope(const LocaleScope &) = delete;
    LocaleScope &operator=(const LocaleScope &) = delete;

private:
    bool had = false;
    std::string saved;
};

} // namespace koru_test

#endif
