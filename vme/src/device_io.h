// The library's only way to the device nodes of the card, USB-bridge and
// XDMA drivers (and to "/proc" and "/dev" for discovery). The system form
// calls the kernel; tests install a model of the devices in its place.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace koruvme {

struct DirEntry {
    std::string name;
    bool charDevice = false;
};

// Every call answers like its POSIX namesake: -1 with errno on failure.
class DeviceIo {
public:
    virtual ~DeviceIo() = default;
    virtual int open(const char *path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t read(int fd, void *buf, size_t n) = 0;
    virtual ssize_t write(int fd, const void *buf, size_t n) = 0;
    virtual ssize_t pread(int fd, void *buf, size_t n, off_t offset) = 0;
    virtual ssize_t pwrite(int fd, const void *buf, size_t n, off_t offset) = 0;
    virtual off_t lseek(int fd, off_t offset, int whence) = 0;
    virtual int ioctl(int fd, unsigned long request, void *arg) = 0;
    virtual int stat(const char *path, struct stat *st) = 0;
    // false when the folder cannot be opened
    virtual bool listDir(const char *path, std::vector<DirEntry> &out) = 0;
};

DeviceIo &deviceIo();
// Installs a replacement (tests); nullptr restores the system form.
void setDeviceIo(DeviceIo *io);

} // namespace koruvme
