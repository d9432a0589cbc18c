// System form of the libusb access.
#include "usb_io.h"

#include <libusb.h>

namespace koruvme {
namespace {

class SystemUsbIo final : public UsbIo {
public:
    int init() override { return libusb_init(nullptr); }
    void exit() override { libusb_exit(nullptr); }
    int list(std::vector<UsbDeviceInfo> &out) override
    {
        freeList();
        ssize_t n = libusb_get_device_list(nullptr, &list_);
        if (n < 0) {
            list_ = nullptr;
            return static_cast<int>(n);
        }
        count_ = n;
        for (ssize_t i = 0; i < n; ++i) {
            UsbDeviceInfo info;
            libusb_device_descriptor d{};
            if (libusb_get_device_descriptor(list_[i], &d) == 0) {
                info.descriptorOk = true;
                info.vendor = d.idVendor;
                info.product = d.idProduct;
                info.bcdUSB = d.bcdUSB;
            }
            libusb_config_descriptor *c = nullptr;
            if (libusb_get_active_config_descriptor(list_[i], &c) == 0 && c) {
                info.configOk = true;
                info.interfaces = c->bNumInterfaces;
                if (c->bNumInterfaces >= 1 && c->interface[0].num_altsetting >= 1)
                    info.interfaceNumber = c->interface[0].altsetting[0].bInterfaceNumber;
                libusb_free_config_descriptor(c);
            }
            out.push_back(info);
        }
        return 0;
    }
    void freeList() override
    {
        if (list_)
            libusb_free_device_list(list_, 1);
        list_ = nullptr;
        count_ = 0;
    }
    int open(int index, void **device) override
    {
        if (!list_ || index < 0 || index >= count_)
            return LIBUSB_ERROR_NOT_FOUND;
        libusb_device_handle *h = nullptr;
        int r = libusb_open(list_[index], &h);
        *device = h;
        return r;
    }
    void close(void *device) override { libusb_close(static_cast<libusb_device_handle *>(device)); }
    int detachKernelDriver(void *device, int iface) override
    {
        return libusb_detach_kernel_driver(static_cast<libusb_device_handle *>(device), iface);
    }
    int attachKernelDriver(void *device, int iface) override
    {
        return libusb_attach_kernel_driver(static_cast<libusb_device_handle *>(device), iface);
    }
    int claim(void *device, int iface) override
    {
        return libusb_claim_interface(static_cast<libusb_device_handle *>(device), iface);
    }
    int release(void *device, int iface) override
    {
        return libusb_release_interface(static_cast<libusb_device_handle *>(device), iface);
    }
    int bulk(void *device, unsigned char endpoint, unsigned char *data, int length, int *transferred,
             unsigned timeoutMs) override
    {
        return libusb_bulk_transfer(static_cast<libusb_device_handle *>(device), endpoint, data, length,
                                    transferred, timeoutMs);
    }

private:
    libusb_device **list_ = nullptr;
    ssize_t count_ = 0;
};

SystemUsbIo g_system;
UsbIo *g_current = &g_system;

} // namespace

UsbIo &usbIo()
{
    return *g_current;
}
void setUsbIo(UsbIo *io)
{
    g_current = io ? io : &g_system;
}

} // namespace koruvme
