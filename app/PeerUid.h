// Who is at the other end of a loopback TCP connection: the kernel's socket
// table (/proc/net/tcp, /proc/net/tcp6) lists the client's own socket, with
// its owner, as the one whose local end is the server's peer and whose
// remote end is the server's local end.
#pragma once

#include <string>

// An address as the socket table writes it: the address bytes in hex as
// they lie in memory, read as 32-bit words in host order ("0100007F" is
// 127.0.0.1 on a little-endian machine; 32 digits for IPv6), then ":" and
// the port in hex ("0050").
struct TableAddress {
    std::string hexAddress;
    unsigned port = 0;
};

// The owner's uid of the socket in TABLE (the text of /proc/net/tcp or
// tcp6) whose local address is LOCAL and remote address REMOTE; -1 when
// there is none.
long SocketOwner(const std::string &table, const TableAddress &local, const TableAddress &remote);

// ADDRESS (sizeof bytes of an in_addr or in6_addr) and PORT in the table's
// form.
TableAddress ToTableAddress(const unsigned char *address, size_t bytes, unsigned port);
