// Simulated device nodes and USB adapter behind the library's device and
// libusb access: USB-bridge character devices, J4280/J5280 card nodes, the
// XDMA node set and the USB optical-link adapter, each in front of a
// simulated bridge (korusim::VmeBridgeModel).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_io.h"
#include "usb_io.h"
#include "vme/vme_bridge_model.h"

namespace vmetest {

using korusim::VmeBridgeModel;

class SimDeviceIo : public koruvme::DeviceIo {
public:
    SimDeviceIo();
    ~SimDeviceIo() override;

    // Nodes: "/dev/usb/w2860_N", "/dev/j4280_M", "/dev/j5280_M", "/dev/xdmaN_*".
    void addNode(const std::string &path, std::shared_ptr<VmeBridgeModel> bridge = nullptr);
    void addXdmaCard(unsigned card, std::shared_ptr<VmeBridgeModel> bridge = nullptr);
    void setProcCount(const std::string &text); // "" removes /proc/j4280
    void setDevEntries(const std::vector<koruvme::DirEntry> &e) { devEntries_ = e; }

    // Driver answers
    int irqWaitResult = 0;
    int blockWaitResult = 0;
    std::string releaseText = "1.4.2";
    int releaseResult = 0;
    int resets = 0, slaveResets = 0;
    int xdmaIrqErrno = 0; // 0: the wait succeeds
    // Faults of the card transaction: cut the reply data, or claim more than was given.
    int replyLimit = -1;
    int claimExtra = 0;

    // Card registers (kinds 4 and 5) and XDMA user/control registers, by node path.
    std::map<uint32_t, uint32_t> &cardRegs(const std::string &path) { return nodes_[path].regs; }
    std::vector<std::pair<uint32_t, uint32_t>> &cardRegWrites(const std::string &path)
    {
        return nodes_[path].regWrites;
    }
    std::map<uint32_t, uint32_t> &xdmaUser(unsigned card) { return xdma(card).user; }
    std::vector<std::string> opened; // paths in open order
    int openCount() const;

    int open(const char *path, int flags) override;
    int close(int fd) override;
    ssize_t read(int fd, void *buf, size_t n) override;
    ssize_t write(int fd, const void *buf, size_t n) override;
    ssize_t pread(int fd, void *buf, size_t n, off_t offset) override;
    ssize_t pwrite(int fd, const void *buf, size_t n, off_t offset) override;
    off_t lseek(int fd, off_t offset, int whence) override;
    int ioctl(int fd, unsigned long request, void *arg) override;
    int stat(const char *path, struct stat *st) override;
    bool listDir(const char *path, std::vector<koruvme::DirEntry> &out) override;

private:
    struct Node {
        std::shared_ptr<VmeBridgeModel> bridge;
        std::map<uint32_t, uint32_t> regs;
        std::vector<std::pair<uint32_t, uint32_t>> regWrites;
        std::deque<uint8_t> pending; // USB character device reply bytes
    };
    struct Xdma {
        std::shared_ptr<VmeBridgeModel> bridge;
        std::map<uint32_t, uint32_t> user;
        std::deque<uint8_t> c2h;
    };
    struct Open {
        std::string path;
        std::string kind; // "usb", "card", "proc", "xctl", "xuser", "h2c", "c2h", "events"
        unsigned card = 0;
        size_t procPos = 0;
    };
    Xdma &xdma(unsigned card) { return xdma_[card]; }

    std::map<std::string, Node> nodes_;
    std::map<unsigned, Xdma> xdma_;
    std::map<int, Open> fds_;
    int nextFd_ = 1000;
    bool hasProc_ = false;
    std::string proc_;
    std::vector<koruvme::DirEntry> devEntries_;
};

// Reply records of the USB adapter and XDMA links for one bridge reply.
std::vector<uint32_t> replyRecords(const std::vector<uint8_t> &data, uint16_t status);

// USB optical-link adapter(s) reached through simulated bulk endpoints.
class SimUsbIo : public koruvme::UsbIo {
public:
    struct Adapter {
        uint32_t serial = 0;
        uint16_t vendor = 0x4B56, product = 0x0016, bcdUSB = 0x0200;
        uint32_t identification = 0x0C6280;
        std::shared_ptr<VmeBridgeModel> bridge = std::make_shared<VmeBridgeModel>();
        std::map<uint32_t, uint32_t> regs; // (area << 8) | register
        std::vector<std::pair<uint32_t, uint32_t>> writes;
        std::deque<uint32_t> replyStream; // words waiting in register 4
        bool mute = false;                // the bridge behind never answers
        bool claimed = false;
        int claims = 0, releases = 0;
        std::vector<uint8_t> spiTx; // SPI engine words (low bytes)
        std::map<uint32_t, uint8_t> flash;
        std::vector<uint32_t> spiRx;
    };
    std::vector<Adapter> adapters;
    bool initFails = false;
    size_t maxReplyWordsPerRead = 4094; // split replies across reads

    int init() override { return initFails ? -99 : 0; }
    void exit() override {}
    int list(std::vector<koruvme::UsbDeviceInfo> &out) override;
    void freeList() override {}
    int open(int index, void **device) override;
    void close(void *) override {}
    int detachKernelDriver(void *, int) override { return 0; }
    int attachKernelDriver(void *, int) override { return 0; }
    int claim(void *device, int) override;
    int release(void *device, int) override;
    int bulk(void *device, unsigned char endpoint, unsigned char *data, int length, int *transferred,
             unsigned timeoutMs) override;

private:
    void regWrite(Adapter &a, uint32_t area, uint32_t reg, const uint32_t *w, uint32_t n);
    std::deque<uint32_t> in_; // words waiting on endpoint 0x81
    Adapter *current_ = nullptr;
};

} // namespace vmetest
