#include "PeerUid.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sstream>

namespace {

bool SameAddress(const std::string &field, const TableAddress &a)
{
    const size_t colon = field.find(':');
    if (colon == std::string::npos)
        return false;
    unsigned port = 0;
    if (sscanf(field.c_str() + colon + 1, "%x", &port) != 1)
        return false;
    return port == a.port && strcasecmp(field.substr(0, colon).c_str(), a.hexAddress.c_str()) == 0;
}

} // namespace

long SocketOwner(const std::string &table, const TableAddress &local, const TableAddress &remote)
{
    std::istringstream in(table);
    std::string line;
    std::getline(in, line); // the heading
    while (std::getline(in, line)) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
        std::istringstream fields(line);
        std::string sl, localField, remoteField, state, queues, timer, retransmits;
        long uid = -1;
        if (!(fields >> sl >> localField >> remoteField >> state >> queues >> timer >> retransmits >> uid))
            continue;
        if (SameAddress(localField, local) && SameAddress(remoteField, remote))
            return uid;
    }
    return -1;
}

TableAddress ToTableAddress(const unsigned char *address, size_t bytes, unsigned port)
{
    TableAddress a;
    a.port = port;
    char hex[9];
    for (size_t word = 0; word + 4 <= bytes; word += 4) {
        uint32_t value;
        memcpy(&value, address + word, 4);
        snprintf(hex, sizeof hex, "%08X", value);
        a.hexAddress += hex;
    }
    return a;
}
