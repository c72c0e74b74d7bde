#include "Inflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace qf::preview {

namespace {

struct InflateStream {
    z_stream zs{};
    bool open = false;
    ~InflateStream()
    {
        if (open)
            inflateEnd(&zs);
    }
};

uint32_t BigEndian32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

} // namespace

bool InflateChecked(DecodeContext &ctx, const CompressedBlock &blk, std::vector<uint8_t> &out)
{
    out.clear();
    if (!ctx.Has(blk.offset, blk.length))
        return ctx.Fail(ctx.size(), "the whole compressed block");
    const uint8_t *block = ctx.data() + blk.offset;
    const std::string sizeText = "compressed data inflating to exactly " + std::to_string(blk.expectedSize) + " bytes";

    size_t header = 0;
    int windowBits = blk.rawWindowBits;
    if (blk.zlibHeader) {
        // CMF: method in the low nibble (8 = deflate), log2(window) - 8 in
        // the high one; FLG: check bits making CMF*256+FLG a multiple of 31,
        // bit 5 a preset dictionary, which these streams never use.
        if (blk.length < 2)
            return ctx.Fail(blk.offset + blk.length, "2-byte zlib header");
        uint8_t cmf = block[0], flg = block[1];
        if ((cmf & 0x0F) != 8)
            return ctx.Fail(blk.offset, "zlib CMF with method 8 (deflate), found " + HexByte(cmf));
        if ((cmf >> 4) > 7)
            return ctx.Fail(blk.offset, "zlib CMF with a window of at most 32 KiB, found " + HexByte(cmf));
        if (((cmf << 8) | flg) % 31 != 0)
            return ctx.Fail(blk.offset + 1,
                            "zlib FLG whose check bits make CMF FLG a multiple of 31, found " + HexByte(flg));
        if (flg & 0x20)
            return ctx.Fail(blk.offset + 1, "zlib FLG without a preset dictionary, found " + HexByte(flg));
        windowBits = (cmf >> 4) + 8;
        header = 2;
    }
    const size_t dataOffset = blk.offset + header;
    const uint8_t *in = block + header;
    const size_t inLength = blk.length - header;

    InflateStream s;
    if (inflateInit2(&s.zs, -windowBits) != Z_OK)
        return ctx.Fail(dataOffset, "memory to inflate");
    s.open = true;

    // zlib checks a match distance against its window only when the match
    // reaches before the output of the current call, so a window smaller
    // than 32 KiB is enforced by handing out one output byte per call.
    const bool strictWindow = windowBits < 15;

    // One byte beyond the expected size shows a block that inflates to more.
    const uint64_t cap = blk.expectedSize + 1;
    out.resize(static_cast<size_t>(std::min<uint64_t>(cap, 64 * 1024)));
    size_t fed = 0;
    for (;;) {
        if (s.zs.avail_in == 0 && fed < inLength) {
            size_t chunk = std::min<size_t>(inLength - fed, 1u << 30);
            s.zs.next_in = const_cast<Bytef *>(in + fed);
            s.zs.avail_in = static_cast<uInt>(chunk);
            fed += chunk;
        }
        const size_t produced = s.zs.total_out;
        if (produced == out.size()) {
            if (produced >= cap) {
                out.clear();
                return ctx.Fail(blk.offset, sizeText + ", it inflates to more");
            }
            out.resize(static_cast<size_t>(std::min<uint64_t>(cap, uint64_t(produced) * 2)));
        }
        s.zs.next_out = out.data() + produced;
        s.zs.avail_out = strictWindow ? 1u : static_cast<uInt>(std::min<size_t>(out.size() - produced, 1u << 30));
        const uInt before = s.zs.avail_in;
        int ret = inflate(&s.zs, Z_NO_FLUSH);
        if (ret == Z_STREAM_END)
            break;
        if (ret == Z_OK)
            continue;
        if (ret == Z_BUF_ERROR && s.zs.avail_in == 0 && fed == inLength)
            return ctx.Fail(blk.offset + blk.length, "more deflate data: the " + std::to_string(blk.length) +
                                                         "-byte block from byte " + std::to_string(blk.offset) +
                                                         " ends inside the deflate stream");
        if (ret == Z_BUF_ERROR && s.zs.avail_in != before)
            continue;
        std::string why = s.zs.msg ? s.zs.msg : "zlib error " + std::to_string(ret);
        return ctx.Fail(dataOffset + std::min<size_t>(s.zs.total_in, inLength), "valid deflate data (" + why + ")");
    }
    const size_t produced = s.zs.total_out;
    out.resize(produced);

    // Adler-32 trailer, big-endian, right after the deflate data.
    const size_t used = header + s.zs.total_in;
    const size_t trailer = blk.offset + used;
    const size_t left = blk.length - used;
    if (left < 4)
        return ctx.Fail(blk.offset + blk.length, "a 4-byte Adler-32 after the deflate data, the block has " +
                                                     std::to_string(left) + " bytes left");
    uint32_t want = static_cast<uint32_t>(adler32(0L, Z_NULL, 0));
    for (size_t done = 0; done < produced;) {
        size_t chunk = std::min<size_t>(produced - done, 1u << 30);
        want = static_cast<uint32_t>(adler32(want, out.data() + done, static_cast<uInt>(chunk)));
        done += chunk;
    }
    uint32_t found = BigEndian32(ctx.data() + trailer);
    if (found != want)
        return ctx.Fail(trailer, "Adler-32 " + HexWord(want) + " of the inflated data, found " + HexWord(found));
    if (left > 4)
        return ctx.Fail(trailer + 4, "the compressed block to end after its Adler-32, " + std::to_string(left - 4) +
                                         " more bytes are counted in its length");
    if (produced != blk.expectedSize)
        return ctx.Fail(blk.offset, sizeText + ", it inflates to " + std::to_string(produced));
    return true;
}

} // namespace qf::preview
