#include "UsbAddress.h"

#include <cups/cups.h>

#include <initializer_list>

namespace {

// The value of the first of KEYS in a device ID ("KEY:value;"), or FALLBACK.
std::string Field(const std::string &deviceId, std::initializer_list<const char *> keys, const std::string &fallback)
{
    for (const char *key : keys) {
        const size_t at = deviceId.find(key);
        if (at == std::string::npos)
            continue;
        const size_t from = at + std::char_traits<char>::length(key);
        return deviceId.substr(from, deviceId.find(';', from) - from);
    }
    return fallback;
}

} // namespace

std::string DeviceIdOfReply(const unsigned char *reply, size_t bytes)
{
    if (bytes < 2)
        return std::string();
    size_t length = (size_t{reply[0]} << 8) | reply[1];
    if (length < 14 || length > bytes)
        length = (size_t{reply[1]} << 8) | reply[0];
    if (length > bytes)
        length = bytes;
    if (length < 2)
        return std::string();
    std::string id(reinterpret_cast<const char *>(reply) + 2, length - 2);
    return id.substr(0, id.find('\0'));
}

UsbName UsbNameOf(const std::string &deviceId, const std::string &maker, const std::string &product,
                  const std::string &serial, const std::string &fallbackSerial)
{
    const std::string mfg = maker.empty() ? "Unknown" : maker, mdl = product.empty() ? "Product" : product,
                      sn = serial.empty() ? fallbackSerial : serial;
    const std::string id = deviceId.empty() ? "MFG:" + mfg + ";MDL:" + mdl + ";SN:" + sn + ";" : deviceId;
    const std::string make = Field(id, {"MANUFACTURER:", "MFG:"}, mfg);
    const std::string model = Field(id, {"MODEL:", "MDL:"}, mdl);
    std::string number = Field(id, {"SERIALNUMBER:", "SERN:", "SN:"}, sn);
    // PAPPL 1.3's own USB device kept the colon of a SERIALNUMBER: key in
    // the serial number; a printer it added keeps the URI it was given.
    if (id.find("SERIALNUMBER:") != std::string::npos)
        number = ":" + number;
    char uri[1024];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "usb", nullptr, make.c_str(), 0, "/%s?serial=%s",
                     model.c_str(), number.c_str());
    UsbName name;
    name.uri = uri;
    name.info = (make == "HP" && model.compare(0, 3, "HP ") == 0 ? model : make + " " + model) + " (USB)";
    return name;
}
