// Growable byte buffer for raster rows and printer command streams.
#pragma once

namespace NS_QV_CLASS {

class CMyBuffer {
public:
    // Default content limit: far above any page's command stream.
    static constexpr int kDefaultMaxSize = 104857600;

    CMyBuffer();
    virtual ~CMyBuffer();
    CMyBuffer(const CMyBuffer &) = delete;
    CMyBuffer &operator=(const CMyBuffer &) = delete;

    char *GetBuffer() const { return reinterpret_cast<char *>(m_pBuffer); }
    int GetBufferLength() const { return m_nBufferLength; }
    int GetBufferSize() const { return m_nBufferSize; }
    int GetMaxBufferSize() const { return m_nMaxBufferSize; }
    // How often the storage has been grown since the buffer was made: a page
    // reserved once before it is assembled grows it at most once.
    int GetGrowthCount() const { return m_nGrowths; }

    void SetMaxBufferSize(int max) { m_nMaxBufferSize = max; }
    // Grows the storage to exactly `size` bytes, keeping the content; never shrinks.
    void SetBufferSize(int size);
    // Grows the storage once for `size` bytes of content, as far as the
    // content limit allows, so that a page assembled from many appends is not
    // copied on each; the exact-growth rule of the appends is unchanged.
    void Reserve(long long size);
    // n > 0: n zero bytes of content; otherwise clears the buffer. Also clears
    // the overflow mark, so a buffer reused for the next page starts clean.
    void InitBuffer(int n);

    void AddBuffer(const void *src, int n);
    void AddByte(unsigned char b);
    void AddStringA(const char *s);
    // Appends the decimal text of v ("%d"), never its raw bytes.
    void AddInt(int v);

    // True when an append since the last InitBuffer hit the content limit and
    // discarded earlier content: the buffer no longer holds the whole stream.
    bool IsOverflowed() const { return m_bOverflowed; }

private:
    int m_nBufferLength;
    unsigned char *m_pBuffer;
    int m_nBufferSize;
    int m_nMaxBufferSize;
    bool m_bOverflowed;
    int m_nGrowths = 0;

    void Clear();
};

} // namespace NS_QV_CLASS
