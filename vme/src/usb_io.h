// The library's only way to libusb: the few calls the USB adapter link makes.
// The system form calls libusb-1.0; tests install a simulated adapter.
#pragma once

#include <cstdint>
#include <vector>

namespace koruvme {

struct UsbDeviceInfo {
    bool descriptorOk = false;
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t bcdUSB = 0; // USB release number (major in the high byte)
    bool configOk = false;
    int interfaces = 0;      // interfaces of the active configuration
    int interfaceNumber = 0; // bInterfaceNumber of the first alternate setting
};

class UsbIo {
public:
    virtual ~UsbIo() = default;
    // Codes are libusb's: 0 or more success, negative failure.
    virtual int init() = 0;
    virtual void exit() = 0;
    // Lists the devices; the list stays valid until freeList or the next list.
    virtual int list(std::vector<UsbDeviceInfo> &out) = 0;
    virtual void freeList() = 0;
    virtual int open(int index, void **device) = 0;
    virtual void close(void *device) = 0;
    virtual int detachKernelDriver(void *device, int iface) = 0;
    virtual int attachKernelDriver(void *device, int iface) = 0;
    virtual int claim(void *device, int iface) = 0;
    virtual int release(void *device, int iface) = 0;
    virtual int bulk(void *device, unsigned char endpoint, unsigned char *data, int length, int *transferred,
                     unsigned timeoutMs) = 0;
};

UsbIo &usbIo();
void setUsbIo(UsbIo *io); // nullptr restores the system form

// libusb's codes that the link looks at
constexpr int kUsbErrorTimeout = -7;

} // namespace koruvme
