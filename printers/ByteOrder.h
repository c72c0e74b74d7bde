// Multi-byte numbers in printer commands, with the byte order in the name.
#pragma once

#include <cstdint>

#include "MyBuffer.h"

namespace byteorder {

// Low byte first.
inline void AppendLe16(NS_QV_CLASS::CMyBuffer &buf, uint32_t v)
{
    buf.AddByte(static_cast<unsigned char>(v & 0xFF));
    buf.AddByte(static_cast<unsigned char>((v >> 8) & 0xFF));
}

inline void AppendLe32(NS_QV_CLASS::CMyBuffer &buf, uint32_t v)
{
    AppendLe16(buf, v & 0xFFFF);
    AppendLe16(buf, v >> 16);
}

// High byte first.
inline void AppendBe16(NS_QV_CLASS::CMyBuffer &buf, uint32_t v)
{
    buf.AddByte(static_cast<unsigned char>((v >> 8) & 0xFF));
    buf.AddByte(static_cast<unsigned char>(v & 0xFF));
}

inline void AppendBe32(NS_QV_CLASS::CMyBuffer &buf, uint32_t v)
{
    AppendBe16(buf, v >> 16);
    AppendBe16(buf, v & 0xFFFF);
}

// Overwrites two bytes already in a buffer (a length field filled in late).
inline void PutLe16(unsigned char *p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

} // namespace byteorder
