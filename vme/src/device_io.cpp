// System form of the device-node access: plain POSIX calls.
#include "device_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace koruvme {
namespace {

class SystemDeviceIo final : public DeviceIo {
public:
    int open(const char *path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    ssize_t read(int fd, void *buf, size_t n) override { return ::read(fd, buf, n); }
    ssize_t write(int fd, const void *buf, size_t n) override { return ::write(fd, buf, n); }
    ssize_t pread(int fd, void *buf, size_t n, off_t o) override { return ::pread(fd, buf, n, o); }
    ssize_t pwrite(int fd, const void *buf, size_t n, off_t o) override { return ::pwrite(fd, buf, n, o); }
    off_t lseek(int fd, off_t o, int whence) override { return ::lseek(fd, o, whence); }
    int ioctl(int fd, unsigned long request, void *arg) override { return ::ioctl(fd, request, arg); }
    int stat(const char *path, struct stat *st) override { return ::stat(path, st); }
    bool listDir(const char *path, std::vector<DirEntry> &out) override
    {
        DIR *d = ::opendir(path);
        if (!d)
            return false;
        std::string base = path;
        while (dirent *e = ::readdir(d)) {
            DirEntry de;
            de.name = e->d_name;
            struct stat st {};
            std::string full = base + "/" + e->d_name;
            de.charDevice = ::lstat(full.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
            out.push_back(de);
        }
        ::closedir(d);
        return true;
    }
};

SystemDeviceIo g_system;
DeviceIo *g_current = &g_system;

} // namespace

DeviceIo &deviceIo()
{
    return *g_current;
}
void setDeviceIo(DeviceIo *io)
{
    g_current = io ? io : &g_system;
}

} // namespace koruvme
