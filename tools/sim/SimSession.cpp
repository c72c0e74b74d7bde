#include "SimSession.h"

#include <algorithm>
#include <cstdio>

#include "DecodeCat.h"
#include "DecodeNiimbot.h"

namespace qf::sim {

namespace {

constexpr uint8_t ESC = 0x1B, DLE = 0x10, EOT = 0x04;

std::string HexBytes(const uint8_t *p, size_t n)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

uint64_t Fnv(uint64_t h, const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

uint64_t FnvInt(uint64_t h, int v)
{
    const uint32_t u = static_cast<uint32_t>(v);
    const uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                          static_cast<uint8_t>(u >> 24)};
    return Fnv(h, b, 4);
}

uint64_t PlaneHash(uint64_t h, const preview::Plane &p)
{
    h = FnvInt(h, p.widthBytes);
    h = FnvInt(h, p.height);
    return Fnv(h, p.bits.data(), p.bits.size());
}

} // namespace

uint64_t PageHash(const preview::Page &page)
{
    uint64_t h = 14695981039346656037ull;
    h = PlaneHash(h, page.black);
    if (page.red)
        h = PlaneHash(h, *page.red);
    return h;
}

std::string PageLine(const preview::Page &page)
{
    char text[96];
    std::snprintf(text, sizeof text, "page %d %dx%d %016llx", page.number, page.width, page.height,
                  static_cast<unsigned long long>(PageHash(page)));
    return text;
}

std::vector<uint8_t> CatNotice(uint8_t cmd, uint8_t payload)
{
    return {0x51, 0x78, cmd, 0x00, 0x01, 0x00, payload, preview::CatCrc8(&payload, 1), 0xFF};
}

std::vector<uint8_t> NiimbotReply(uint8_t cmd, const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> p = {0x55, 0x55, cmd, static_cast<uint8_t>(data.size())};
    uint8_t x = static_cast<uint8_t>(cmd ^ data.size());
    for (uint8_t b : data) {
        p.push_back(b);
        x ^= b;
    }
    p.push_back(x);
    p.push_back(0xAA);
    p.push_back(0xAA);
    return p;
}

namespace {

void AddBe16(std::vector<uint8_t> &v, long n)
{
    const long c = n < 0 ? 0 : n > 0xFFFF ? 0xFFFF : n;
    v.push_back(static_cast<uint8_t>(c >> 8));
    v.push_back(static_cast<uint8_t>(c));
}

// The replies of a Niimbot printer: the 13-byte heartbeat (lid, charge,
// paper, tag read last), the print status (pages printed, both progresses
// done), the tag (none: one byte) and the label info from the tag's size
// at 8 dots a millimetre.
std::vector<uint8_t> NiimbotAnswer(uint8_t cmd, const SimState &s)
{
    switch (cmd) {
    case 0xDC: {
        std::vector<uint8_t> d(13, 0);
        d[9] = s.coverOpen ? 1 : 0;
        d[10] = s.batteryLow ? 1 : 4;
        d[11] = s.paperOut ? 1 : 0;
        d[12] = s.tag ? 1 : 0;
        return NiimbotReply(0xDD, d);
    }
    case 0xA3: {
        std::vector<uint8_t> d;
        AddBe16(d, s.pagesPrinted);
        d.push_back(100);
        d.push_back(100);
        return NiimbotReply(0xB3, d);
    }
    case 0x1A: {
        if (!s.tag)
            return NiimbotReply(0x1B, {0x00});
        std::vector<uint8_t> d = {0x88, 0x04, 0x51, 0x46, 0x00, 0x00, 0x00, 0x01};
        const std::string barcode = std::to_string(s.tagWidth) + "x" + std::to_string(s.tagLength);
        const std::string serial = "QF0001";
        for (const std::string *t : {&barcode, &serial}) {
            d.push_back(static_cast<uint8_t>(t->size()));
            d.insert(d.end(), t->begin(), t->end());
        }
        AddBe16(d, 230);
        AddBe16(d, s.pagesPrinted);
        d.push_back(1);
        return NiimbotReply(0x1B, d);
    }
    case 0x59: {
        if (!s.tag)
            return NiimbotReply(0x69, {0x00});
        std::vector<uint8_t> d;
        AddBe16(d, 24);
        AddBe16(d, s.tagLength * 8);
        d.push_back(1);
        AddBe16(d, 30);
        AddBe16(d, s.tagLength * 10);
        AddBe16(d, s.tagWidth * 8);
        AddBe16(d, s.tagWidth * 10);
        d.push_back(0);
        AddBe16(d, 0);
        AddBe16(d, 0);
        return NiimbotReply(0x69, d);
    }
    default:
        return {};
    }
}

} // namespace

std::vector<uint8_t> StatusBytes(preview::Lang lang, const uint8_t *query, size_t size, const SimState &s)
{
    auto bit = [](bool on, int n) { return static_cast<uint8_t>(on ? 1u << n : 0u); };
    switch (lang) {
    case preview::Lang::TSPL:
        // Bit 0 head open, 2 out of paper, 4 paused (what off line is on a
        // label printer).
        return {static_cast<uint8_t>(bit(s.coverOpen, 0) | bit(s.paperOut, 2) | bit(s.offline, 4))};
    case preview::Lang::CPCL:
        return {static_cast<uint8_t>(bit(s.paperOut, 1) | bit(s.coverOpen, 2) | bit(s.batteryLow, 3))};
    case preview::Lang::ESCPOS: {
        if (size < 3)
            return {};
        const bool stopped = s.offline || s.coverOpen || s.paperOut;
        switch (query[2]) {
        case 1:
            return {static_cast<uint8_t>(0x12 | bit(stopped, 3))};
        case 2:
            return {static_cast<uint8_t>(0x12 | bit(s.coverOpen, 2) | bit(s.paperOut, 5))};
        case 3:
            return {0x12};
        default:
            return {static_cast<uint8_t>(0x12 | (s.paperLow || s.paperOut ? 0x0C : 0) | (s.paperOut ? 0x60 : 0))};
        }
    }
    case preview::Lang::Niimbot:
        return size >= 3 ? NiimbotAnswer(query[2], s) : std::vector<uint8_t>();
    case preview::Lang::Cat:
        // The A3 state byte: bit 0 no paper, 1 cover open, 3 low power.
        return CatNotice(0xA3, static_cast<uint8_t>(bit(s.paperOut, 0) | bit(s.coverOpen, 1) | bit(s.batteryLow, 3)));
    case preview::Lang::Phomemo:
        // 1F 11 t: 11 paper (1A 06 88 none, 89 in), 12 cover (1A 05 99 open,
        // 98 closed), 08 battery (1A 04 percent).
        if (size < 3)
            return {};
        switch (query[2]) {
        case 0x11:
            return {0x1A, 0x06, static_cast<uint8_t>(s.paperOut ? 0x88 : 0x89)};
        case 0x12:
            return {0x1A, 0x05, static_cast<uint8_t>(s.coverOpen ? 0x99 : 0x98)};
        default:
            return {0x1A, 0x04, static_cast<uint8_t>(s.batteryLow ? 10 : 80)};
        }
    default:
        return {};
    }
}

SimSession::SimSession(preview::Lang lang, int job) : m_Lang(lang), m_Job(job) {}

int SimSession::QueryAt(const std::vector<uint8_t> &in, size_t p) const
{
    auto match = [&](std::initializer_list<uint8_t> q) -> int {
        size_t i = 0;
        for (uint8_t b : q) {
            if (p + i >= in.size())
                return -1;
            if (in[p + i] != b)
                return 0;
            ++i;
        }
        return static_cast<int>(q.size());
    };
    switch (m_Lang) {
    case preview::Lang::TSPL:
        return match({ESC, '!', '?'});
    case preview::Lang::CPCL:
        return match({ESC, 'h'});
    case preview::Lang::ESCPOS: {
        const int m = match({DLE, EOT});
        if (m <= 0)
            return m;
        if (p + 2 >= in.size())
            return -1;
        return in[p + 2] >= 1 && in[p + 2] <= 4 ? 3 : 0;
    }
    case preview::Lang::Cat:
        return match({0x51, 0x78, 0xA3, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF});
    case preview::Lang::Niimbot: {
        // The heartbeat, print status, tag and label info requests.
        int most = 0;
        for (uint8_t c : {0xDC, 0xA3, 0x1A, 0x59}) {
            const int m = match({0x55, 0x55, c, 0x01, 0x01, c, 0xAA, 0xAA});
            if (m > 0)
                return m;
            most = std::min(most, m);
        }
        return most;
    }
    case preview::Lang::Phomemo: {
        // 1F 11 with 08, 11 or 12; the other 1F 11 commands are the job's.
        const int m = match({0x1F, 0x11});
        if (m <= 0)
            return m;
        if (p + 2 >= in.size())
            return -1;
        const uint8_t t = in[p + 2];
        return t == 0x08 || t == 0x11 || t == 0x12 ? 3 : 0;
    }
    default:
        return 0;
    }
}

bool SimSession::AtBoundary() const
{
    // A cat printer reads frame by frame, and answers between any two.
    if (m_Lang == preview::Lang::Cat) {
        while (m_Framed < m_Data.size() && m_Data.size() - m_Framed >= 8) {
            const size_t end = 8 + static_cast<size_t>(m_Data[m_Framed + 4] | (m_Data[m_Framed + 5] << 8));
            if (m_Data.size() - m_Framed < end || !preview::CatWholeFrames(m_Data.data() + m_Framed, end))
                break;
            m_Framed += end;
        }
        return m_Framed == m_Data.size();
    }
    // A Niimbot printer reads packet by packet (the connect packet has a
    // byte before it).
    if (m_Lang == preview::Lang::Niimbot) {
        while (m_Framed < m_Data.size()) {
            const size_t lead = m_Data[m_Framed] == 0x03 ? 1 : 0;
            if (m_Data.size() - m_Framed < lead + 7)
                break;
            const size_t end = lead + 7 + m_Data[m_Framed + lead + 3];
            if (m_Data.size() - m_Framed < end || !preview::NiimbotWholePackets(m_Data.data() + m_Framed, end))
                break;
            m_Framed += end;
        }
        return m_Framed == m_Data.size();
    }
    return m_Data.empty() || preview::Decode(m_Data, m_Lang).ok;
}

std::vector<uint8_t> SimSession::FlowNotices(const SimState &state, std::vector<std::string> &events)
{
    std::vector<uint8_t> notices;
    while (m_Data.size() - m_Walked >= 8) {
        const uint8_t *f = m_Data.data() + m_Walked;
        const size_t end = 8 + static_cast<size_t>(f[4] | (f[5] << 8));
        if (m_Data.size() - m_Walked < end)
            break;
        m_Walked += end;
        const bool row = (f[0] == 0x51 && f[2] == 0xA2) || (f[0] == 0x22 && f[2] == 0xFE);
        if (!row)
            continue;
        const long rows = f[0] == 0x51 ? 1 : static_cast<long>((end - 8) / 48);
        for (long i = 0; i < rows; ++i) {
            if (state.pauseEvery > 0 && ++m_Rows % state.pauseEvery == 0) {
                for (uint8_t flow : {0x10, 0x00}) {
                    const std::vector<uint8_t> n = CatNotice(0xAE, flow);
                    notices.insert(notices.end(), n.begin(), n.end());
                }
                events.push_back("job " + std::to_string(m_Job) + " pause and resume after " + std::to_string(m_Rows) +
                                 " rows");
            }
        }
    }
    return notices;
}

std::vector<uint8_t> SimSession::Answer(const uint8_t *query, size_t size, const SimState &state) const
{
    if (state.silent)
        return {};
    return StatusBytes(m_Lang, query, size, state);
}

std::vector<uint8_t> SimSession::Feed(const uint8_t *data, size_t size, SimState &state,
                                      std::vector<std::string> &events)
{
    std::vector<uint8_t> reply;
    m_In.insert(m_In.end(), data, data + size);
    size_t i = 0;
    while (i < m_In.size()) {
        const uint8_t first = m_Lang == preview::Lang::ESCPOS    ? DLE
                              : m_Lang == preview::Lang::Cat     ? 0x51
                              : m_Lang == preview::Lang::Niimbot ? 0x55
                              : m_Lang == preview::Lang::Phomemo ? 0x1F
                                                                 : ESC;
        size_t j = i;
        while (j < m_In.size() && m_In[j] != first)
            ++j;
        m_Data.insert(m_Data.end(), m_In.begin() + static_cast<long>(i), m_In.begin() + static_cast<long>(j));
        i = j;
        if (i >= m_In.size())
            break;
        const int n = QueryAt(m_In, i);
        if (n < 0)
            break; // wait for the rest
        if (n > 0 && AtBoundary()) {
            // The state the answer gives includes every page before it.
            Settle(state, events);
            const std::vector<uint8_t> answer = Answer(&m_In[i], static_cast<size_t>(n), state);
            ++m_Queries;
            events.push_back("job " + std::to_string(m_Job) + " query " + HexBytes(&m_In[i], static_cast<size_t>(n)) +
                             " answer " +
                             (answer.empty() ? std::string("none") : HexBytes(answer.data(), answer.size())));
            reply.insert(reply.end(), answer.begin(), answer.end());
            i += static_cast<size_t>(n);
            continue;
        }
        m_Data.push_back(m_In[i]);
        ++i;
    }
    m_In.erase(m_In.begin(), m_In.begin() + static_cast<long>(i));
    if (m_Lang == preview::Lang::Cat) {
        const std::vector<uint8_t> flow = FlowNotices(state, events);
        reply.insert(reply.end(), flow.begin(), flow.end());
    }
    return reply;
}

void SimSession::Settle(SimState &state, std::vector<std::string> &events)
{
    if (m_Data.size() == m_Decoded && !m_Data.empty())
        return;
    m_Decoded = m_Data.size();
    if (m_Data.empty())
        return;
    m_Result = preview::Decode(m_Data, m_Lang);
    while (m_Fates.size() < m_Result.pages.size()) {
        PageFate fate;
        fate.number = static_cast<int>(m_Fates.size()) + 1;
        if (state.paperOut)
            fate.why = "out of paper";
        else if (state.coverOpen)
            fate.why = "cover open";
        else if (state.offline)
            fate.why = "off line";
        fate.printed = fate.why.empty();
        if (fate.printed)
            ++state.pagesPrinted;
        if (fate.printed && state.paperOutAfter > 0 && --state.paperOutAfter == 0) {
            state.paperOut = true;
            state.paperOutAfter = -1;
            events.push_back("paper ran out");
        }
        if (fate.printed && state.coverOpenAfter > 0 && --state.coverOpenAfter == 0) {
            state.coverOpen = true;
            state.coverOpenAfter = -1;
            events.push_back("cover opened");
        }
        events.push_back("job " + std::to_string(m_Job) + " page " + std::to_string(fate.number) +
                         (fate.printed ? " printed" : " lost (" + fate.why + ")"));
        m_Fates.push_back(fate);
    }
}

void SimSession::Finish(SimState &state, std::vector<std::string> &events)
{
    m_Data.insert(m_Data.end(), m_In.begin(), m_In.end());
    m_In.clear();
    m_Decoded = static_cast<size_t>(-1);
    Settle(state, events);
}

} // namespace qf::sim
