#include "UsbDevice.h"

#include <libusb.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "SocketDevice.h"
#include "UsbAddress.h"

namespace {

// An open printer interface.
struct Usb {
    libusb_device_handle *handle = nullptr;
    int interface = -1, altSetting = 0, config = 0;
    unsigned char out = 0, in = 0; // bulk endpoints; in = 0: none (a printer that only takes data)
};

// A printer interface of a device: printer class, subclass 1, protocol 1
// (takes data) or 2 (answers too), with a bulk endpoint out.
struct PrinterInterface {
    int configIndex = -1, configValue = 0, interface = -1, altSetting = 0, protocol = 0;
    unsigned char out = 0, in = 0;
};

bool UsbReady(std::string &problem)
{
    static std::once_flag once;
    static int status = 0;
    std::call_once(once, [] { status = libusb_init(nullptr); });
    if (status != 0)
        problem = std::string("Unable to use USB: ") + libusb_strerror(static_cast<libusb_error>(status));
    return status == 0;
}

PrinterInterface FindPrinterInterface(libusb_device *device)
{
    PrinterInterface best;
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(device, &desc) < 0 || !desc.idVendor || !desc.idProduct)
        return best;
    for (int c = 0; c < desc.bNumConfigurations; ++c) {
        libusb_config_descriptor *config = nullptr;
        if (libusb_get_config_descriptor(device, static_cast<uint8_t>(c), &config) < 0)
            continue;
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            const libusb_interface &iface = config->interface[i];
            for (int a = 0; a < iface.num_altsetting; ++a) {
                const libusb_interface_descriptor &alt = iface.altsetting[a];
                if (alt.bInterfaceClass != LIBUSB_CLASS_PRINTER || alt.bInterfaceSubClass != 1 ||
                    (alt.bInterfaceProtocol != 1 && alt.bInterfaceProtocol != 2) ||
                    alt.bInterfaceProtocol <= best.protocol)
                    continue;
                unsigned char out = 0, in = 0;
                for (int e = 0; e < alt.bNumEndpoints; ++e) {
                    const libusb_endpoint_descriptor &ep = alt.endpoint[e];
                    if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                        continue;
                    (ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK ? in : out) = ep.bEndpointAddress;
                }
                if (!out)
                    continue;
                best = {c,
                        config->bConfigurationValue,
                        alt.bInterfaceNumber,
                        alt.bAlternateSetting,
                        alt.bInterfaceProtocol,
                        out,
                        alt.bInterfaceProtocol == 2 ? in : static_cast<unsigned char>(0)};
            }
        }
        libusb_free_config_descriptor(config);
    }
    return best;
}

// Takes the printer interface from the kernel's printer driver and claims
// it; false with the reason otherwise.
bool Claim(libusb_device_handle *handle, const PrinterInterface &p, std::string &problem)
{
    int current = 0;
    if (libusb_get_configuration(handle, &current) == 0 && current != p.configValue &&
        libusb_set_configuration(handle, p.configValue) < 0) {
        problem = "Unable to set the USB printer's configuration.";
        return false;
    }
    if (libusb_kernel_driver_active(handle, p.interface) == 1) {
        const int err = libusb_detach_kernel_driver(handle, p.interface);
        if (err < 0 && err != LIBUSB_ERROR_NOT_FOUND) {
            problem = std::string("Unable to take the USB printer from the kernel's printer driver: ") +
                      libusb_strerror(static_cast<libusb_error>(err));
            return false;
        }
    }
    int err = libusb_claim_interface(handle, p.interface);
    if (err == 0 && p.altSetting)
        err = libusb_set_interface_alt_setting(handle, p.interface, p.altSetting);
    if (err < 0) {
        problem = std::string("Unable to claim the USB printer: ") + libusb_strerror(static_cast<libusb_error>(err));
        return false;
    }
    return true;
}

std::string StringOf(libusb_device_handle *handle, uint8_t index)
{
    unsigned char text[256];
    const int n = index ? libusb_get_string_descriptor_ascii(handle, index, text, sizeof text) : 0;
    return n > 0 ? std::string(reinterpret_cast<char *>(text), static_cast<size_t>(n)) : std::string();
}

std::string DeviceIdOf(libusb_device_handle *handle, int config, int interface, int altSetting)
{
    unsigned char reply[1024];
    const int n = libusb_control_transfer(
        handle, LIBUSB_REQUEST_TYPE_CLASS | LIBUSB_ENDPOINT_IN | LIBUSB_RECIPIENT_INTERFACE, 0 /* GET_DEVICE_ID */,
        static_cast<uint16_t>(config), static_cast<uint16_t>((interface << 8) | altSetting), reply, sizeof reply, 5000);
    return n > 0 ? DeviceIdOfReply(reply, static_cast<size_t>(n)) : std::string();
}

// Calls FOUND for each USB printer, claimed, until it returns true; that
// printer stays open and is returned, every other one is closed again.
template <typename Found> Usb *EachPrinter(Found found, std::string &problem)
{
    if (!UsbReady(problem))
        return nullptr;
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(nullptr, &list);
    Usb *kept = nullptr;
    for (ssize_t i = 0; i < count && !kept; ++i) {
        const PrinterInterface p = FindPrinterInterface(list[i]);
        if (p.protocol == 0)
            continue;
        libusb_device_handle *handle = nullptr;
        if (libusb_open(list[i], &handle) < 0)
            continue;
        std::string why;
        if (!Claim(handle, p, why)) {
            problem = why;
            libusb_close(handle);
            continue;
        }
        libusb_device_descriptor desc{};
        libusb_get_device_descriptor(list[i], &desc);
        const std::string id = DeviceIdOf(handle, p.configIndex, p.interface, p.altSetting);
        const UsbName name = UsbNameOf(id, StringOf(handle, desc.iManufacturer), StringOf(handle, desc.iProduct),
                                       StringOf(handle, desc.iSerialNumber),
                                       std::to_string(p.configIndex) + "." + std::to_string(p.interface));
        if (found(name, id)) {
            kept = new Usb{handle, p.interface, p.altSetting, p.configIndex, p.out, p.in};
        } else {
            libusb_release_interface(handle, p.interface);
            libusb_close(handle);
        }
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    return kept;
}

bool ListUsb(pappl_device_cb_t cb, void *data, pappl_deverror_cb_t errCb, void *errData)
{
    std::string problem;
    bool stop = false;
    EachPrinter(
        [&](const UsbName &name, const std::string &id) {
            stop = cb(name.info.c_str(), name.uri.c_str(), id.c_str(), data);
            return false;
        },
        problem);
    if (!problem.empty() && errCb)
        errCb(problem.c_str(), errData);
    return stop;
}

bool OpenUsb(pappl_device_t *device, const char *uri, const char *)
{
    std::string problem;
    const std::string wanted = uri ? uri : "";
    Usb *usb = EachPrinter([&](const UsbName &name, const std::string &) { return name.uri == wanted; }, problem);
    if (!usb) {
        papplDeviceError(device, "The USB printer %s is not connected%s%s", wanted.c_str(),
                         problem.empty() ? "." : ": ", problem.c_str());
        return false;
    }
    papplDeviceSetData(device, usb);
    return true;
}

void CloseUsb(pappl_device_t *device)
{
    auto *usb = static_cast<Usb *>(papplDeviceGetData(device));
    if (!usb)
        return;
    libusb_release_interface(usb->handle, usb->interface);
    libusb_close(usb->handle);
    delete usb;
    papplDeviceSetData(device, nullptr);
}

ssize_t ReadUsb(pappl_device_t *device, void *buffer, size_t bytes)
{
    auto *usb = static_cast<Usb *>(papplDeviceGetData(device));
    if (!usb || !usb->in)
        return -1;
    int got = 0;
    const int err = libusb_bulk_transfer(usb->handle, usb->in, static_cast<unsigned char *>(buffer),
                                         static_cast<int>(std::min<size_t>(bytes, 65536)), &got, kDeviceReadMs);
    if (err == LIBUSB_ERROR_TIMEOUT && got == 0)
        return -1;
    if (err < 0 && err != LIBUSB_ERROR_TIMEOUT) {
        papplDeviceError(device, "Unable to read from the USB printer: %s",
                         libusb_strerror(static_cast<libusb_error>(err)));
        return -1;
    }
    return got;
}

ssize_t WriteUsb(pappl_device_t *device, const void *buffer, size_t bytes)
{
    auto *usb = static_cast<Usb *>(papplDeviceGetData(device));
    if (!usb)
        return -1;
    const auto *p = static_cast<const unsigned char *>(buffer);
    size_t done = 0;
    while (done < bytes) {
        int sent = 0;
        // A printer out of paper stops taking data; the write waits for it
        // as long as it takes, as on a socket.
        const int err = libusb_bulk_transfer(usb->handle, usb->out, const_cast<unsigned char *>(p + done),
                                             static_cast<int>(std::min<size_t>(bytes - done, 65536)), &sent, 0);
        done += static_cast<size_t>(sent);
        if (err < 0 && err != LIBUSB_ERROR_TIMEOUT) {
            papplDeviceError(device, "Unable to write to the USB printer: %s",
                             libusb_strerror(static_cast<libusb_error>(err)));
            return -1;
        }
    }
    return static_cast<ssize_t>(done);
}

// The printer port's status byte (GET_PORT_STATUS): not selected, paper out.
pappl_preason_t StatusUsb(pappl_device_t *device)
{
    auto *usb = static_cast<Usb *>(papplDeviceGetData(device));
    unsigned char port = 0x08;
    if (!usb || libusb_control_transfer(
                    usb->handle, LIBUSB_REQUEST_TYPE_CLASS | LIBUSB_ENDPOINT_IN | LIBUSB_RECIPIENT_INTERFACE,
                    1 /* GET_PORT_STATUS */, 0, static_cast<uint16_t>(usb->interface << 8), &port, 1, 5000) < 0)
        return PAPPL_PREASON_NONE;
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    if (!(port & 0x08))
        reasons |= PAPPL_PREASON_OTHER;
    if (port & 0x20)
        reasons |= PAPPL_PREASON_MEDIA_EMPTY;
    return reasons;
}

char *IdUsb(pappl_device_t *device, char *buffer, size_t size)
{
    auto *usb = static_cast<Usb *>(papplDeviceGetData(device));
    if (!usb || !size)
        return nullptr;
    const std::string id = DeviceIdOf(usb->handle, usb->config, usb->interface, usb->altSetting);
    snprintf(buffer, size, "%s", id.c_str());
    return id.empty() ? nullptr : buffer;
}

} // namespace

void AddUsbScheme()
{
    papplDeviceAddScheme("usb", PAPPL_DEVTYPE_USB, ListUsb, OpenUsb, CloseUsb, ReadUsb, WriteUsb, StatusUsb, IdUsb);
}
