#include "MyBuffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace NS_QV_CLASS {

CMyBuffer::CMyBuffer()
    : m_nBufferLength(0), m_pBuffer(nullptr), m_nBufferSize(0), m_nMaxBufferSize(kDefaultMaxSize), m_bOverflowed(false)
{
    SetBufferSize(1024);
    InitBuffer(0);
}

CMyBuffer::~CMyBuffer()
{
    free(m_pBuffer);
    m_pBuffer = nullptr;
    m_nBufferLength = 0;
    m_nBufferSize = 0;
    m_nMaxBufferSize = 0;
}

void CMyBuffer::SetBufferSize(int size)
{
    if (size < 0)
        return;
    if (!m_pBuffer) {
        // malloc(0) may return null; keep one byte so the storage always exists.
        m_pBuffer = static_cast<unsigned char *>(malloc(size > 0 ? size : 1));
        if (!m_pBuffer)
            throw std::bad_alloc();
        m_nBufferSize = size;
        return;
    }
    if (m_nBufferSize < size) {
        auto *p = static_cast<unsigned char *>(realloc(m_pBuffer, size));
        if (!p)
            throw std::bad_alloc();
        m_pBuffer = p;
        m_nBufferSize = size;
        ++m_nGrowths;
    }
}

void CMyBuffer::Reserve(long long size)
{
    if (m_nMaxBufferSize > 0 && size > m_nMaxBufferSize)
        size = m_nMaxBufferSize;
    if (size > 0x7fffffffLL)
        size = 0x7fffffffLL;
    SetBufferSize(static_cast<int>(size));
}

void CMyBuffer::Clear()
{
    if (m_pBuffer && m_nBufferSize > 0)
        memset(m_pBuffer, 0, m_nBufferSize);
    m_nBufferLength = 0;
}

void CMyBuffer::InitBuffer(int n)
{
    m_bOverflowed = false;
    if (n > 0) {
        SetBufferSize(n);
        Clear();
        m_nBufferLength = n;
    } else {
        Clear();
    }
}

void CMyBuffer::AddBuffer(const void *src, int n)
{
    if (n <= 0 || !src)
        return;
    // 64-bit so that a huge append can't wrap the sum.
    long long needed = static_cast<long long>(m_nBufferLength) + n;
    if (m_nBufferSize < needed) {
        if (m_nMaxBufferSize > 0 && needed > m_nMaxBufferSize) {
            // Over the limit: the earlier content is dropped and the new bytes
            // start a fresh content. The mark lets the writer refuse the page
            // instead of sending it cut short.
            Clear();
            m_bOverflowed = true;
            needed = n;
            if (m_nBufferSize < needed)
                SetBufferSize(n); // the cleared storage may still be too small
        } else {
            if (needed > 0x7fffffffLL) {
                m_bOverflowed = true;
                return;
            }
            SetBufferSize(static_cast<int>(needed));
        }
    }
    memcpy(m_pBuffer + m_nBufferLength, src, n);
    m_nBufferLength += n;
}

void CMyBuffer::AddByte(unsigned char b)
{
    AddBuffer(&b, 1);
}

void CMyBuffer::AddStringA(const char *s)
{
    if (s)
        AddBuffer(s, static_cast<int>(strlen(s)));
}

void CMyBuffer::AddInt(int v)
{
    char text[16];
    int n = snprintf(text, sizeof text, "%d", v);
    AddBuffer(text, n);
}

} // namespace NS_QV_CLASS
