#include "TestPage.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace {

// Code 128 symbols 0..106 as bar and space widths in modules; 103 to 105
// start code sets A, B, C and 106 is the stop symbol (with its final bar).
const char *const kCode128[107] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312",  "132212", "221213", "221312",
    "231212", "112232", "122132", "122231", "113222", "123122", "123221", "223211",  "221132", "221231", "213212",
    "223112", "312131", "311222", "321122", "321221", "312212", "322112", "322211",  "212123", "212321", "232121",
    "111323", "131123", "131321", "112313", "132113", "132311", "211313", "231113",  "231311", "112133", "112331",
    "132131", "113123", "113321", "133121", "313121", "211331", "231131", "213113",  "213311", "213131", "311123",
    "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111",  "111224", "111422", "121124",
    "121421", "141122", "141221", "112214", "112412", "122114", "122411", "142112",  "142211", "241211", "221114",
    "413111", "241112", "134111", "111242", "121142", "121241", "114212", "124112",  "124211", "411212", "421112",
    "421211", "212141", "214121", "412121", "111143", "111341", "131141", "114113",  "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232", "2331112",
};
constexpr int kStartB = 104, kStop = 106;

// A 5 x 7 dot font for the page's words: each glyph is seven rows of five
// columns, '#' a dot. Small letters print as capitals.
struct Glyph {
    char c;
    const char *rows[7];
};
const Glyph kFont[] = {
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
    {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {':', {".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."}},
    {'/', {"....#", "...#.", "...#.", "..#..", ".#...", ".#...", "#...."}},
    {'%', {"##..#", "##..#", "...#.", "..#..", ".#...", "#..##", "#..##"}},
    {'(', {"...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#."}},
    {')', {".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#..."}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
};

const Glyph *FindGlyph(char c)
{
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph &g : kFont)
        if (g.c == c)
            return &g;
    return &kFont[0];
}

class Canvas {
public:
    explicit Canvas(Picture &p) : m_p(p) {}
    void Set(long x, long y, unsigned char v)
    {
        if (x >= 0 && y >= 0 && x < static_cast<long>(m_p.width) && y < static_cast<long>(m_p.height))
            m_p.pixels[static_cast<size_t>(y) * m_p.width + static_cast<size_t>(x)] = v;
    }
    void Fill(long x, long y, long w, long h, unsigned char v)
    {
        for (long j = y; j < y + h; ++j)
            for (long i = x; i < x + w; ++i)
                Set(i, j, v);
    }
    // Text at (x, y) in glyphs `scale` dots a font dot; returns its width.
    long Text(long x, long y, const std::string &text, int scale)
    {
        long cx = x;
        for (char c : text) {
            const Glyph *g = FindGlyph(c);
            for (int r = 0; r < 7; ++r)
                for (int col = 0; col < 5; ++col)
                    if (g->rows[r][col] == '#')
                        Fill(cx + col * scale, y + r * scale, scale, scale, 0);
            cx += 6 * scale;
        }
        return cx - x;
    }

private:
    Picture &m_p;
};

long TextWidth(const std::string &text, int scale)
{
    return static_cast<long>(text.size()) * 6 * scale;
}

// The longest beginning of `text` that fits `width` dots at `scale`.
std::string Clip(const std::string &text, long width, int scale)
{
    const long fit = std::max(0L, width / (6 * scale));
    return text.substr(0, static_cast<size_t>(std::min<long>(fit, static_cast<long>(text.size()))));
}

} // namespace

std::vector<int> Code128Modules(const std::string &text)
{
    std::vector<int> symbols{kStartB};
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 32 && u < 127)
            symbols.push_back(u - 32);
    }
    long check = kStartB;
    for (size_t i = 1; i < symbols.size(); ++i)
        check += static_cast<long>(i) * symbols[i];
    symbols.push_back(static_cast<int>(check % 103));
    symbols.push_back(kStop);
    std::vector<int> modules;
    for (int s : symbols)
        for (const char *p = kCode128[s]; *p; ++p)
            modules.push_back(*p - '0');
    return modules;
}

Picture MakeTestPage(const PpdModel &model, unsigned width, unsigned height)
{
    Picture page;
    page.width = width;
    page.height = height;
    page.channels = 1;
    page.pixels.assign(static_cast<size_t>(width) * height, 255);
    if (width < 16 || height < 16)
        return page;
    Canvas canvas(page);
    const long w = width, h = height;
    const double dotsPerMm = model.xDpi / 25.4;

    // The grid: a one-dot frame on the outermost dots, a dotted frame two
    // dots inside it, and ticks every millimetre (longer every 5 and 10).
    canvas.Fill(0, 0, w, 1, 0);
    canvas.Fill(0, h - 1, w, 1, 0);
    canvas.Fill(0, 0, 1, h, 0);
    canvas.Fill(w - 1, 0, 1, h, 0);
    for (long x = 2; x < w - 2; x += 2) {
        canvas.Set(x, 2, 0);
        canvas.Set(x, h - 3, 0);
    }
    for (long y = 2; y < h - 2; y += 2) {
        canvas.Set(2, y, 0);
        canvas.Set(w - 3, y, 0);
    }
    for (int mm = 1;; ++mm) {
        const long d = std::lround(mm * dotsPerMm);
        if (d >= std::max(w, h) - 1)
            break;
        const long len = mm % 10 == 0 ? 10 : mm % 5 == 0 ? 7 : 4;
        if (d < w - 1) {
            canvas.Fill(d, 4, 1, len, 0);
            canvas.Fill(d, h - 4 - len, 1, len, 0);
        }
        if (d < h - 1) {
            canvas.Fill(4, d, len, 1, 0);
            canvas.Fill(w - 4 - len, d, len, 1, 0);
        }
    }

    // Inside the grid: the words, the ramp and the barcode, top to bottom.
    const long margin = 16;
    const long inner = w - 2 * margin;
    long y = margin;
    const int big = inner >= TextWidth(model.nickName, 2) && h >= 200 ? 2 : 1;
    const int scale = h >= 200 ? 2 : 1;
    canvas.Text(margin, y, Clip(model.nickName, inner, big), big);
    y += 7 * big + 4 * scale;
    char line[160];
    unsigned mmW = static_cast<unsigned>(std::lround(w / dotsPerMm));
    unsigned mmH = static_cast<unsigned>(std::lround(h * 25.4 / model.yDpi));
    snprintf(line, sizeof line, "%s  %d DPI  %u X %u MM  %ld X %ld DOTS", model.driverName, model.xDpi, mmW, mmH, w, h);
    canvas.Text(margin, y, Clip(line, inner, 1), 1);
    y += 7 + 4 * scale;

    // Darkness ramp: eight steps from white to black, left to right.
    const long rampHeight = std::max(8L, std::min(40L, h / 10));
    for (int step = 0; step < 8; ++step) {
        const long x0 = margin + inner * step / 8, x1 = margin + inner * (step + 1) / 8;
        canvas.Fill(x0, y, x1 - x0, rampHeight, static_cast<unsigned char>(255 - 255 * step / 7));
    }
    canvas.Text(margin, y + rampHeight + 2, "0%", 1);
    canvas.Text(margin + inner - TextWidth("100%", 1), y + rampHeight + 2, "100%", 1);
    y += rampHeight + 7 + 4 * scale;

    // The barcode: as wide a module as fits, with quiet zones of ten
    // modules, as tall as the rest of the page allows.
    // The driver name, or on media too narrow for it "QF" and the model
    // number; no barcode where neither fits.
    std::vector<int> modules;
    long total = 0;
    for (const std::string &text : {std::string(model.driverName), "QF" + std::to_string(model.modelNumber)}) {
        modules = Code128Modules(text);
        total = 0;
        for (int m : modules)
            total += m;
        if (total + 20 <= inner)
            break;
    }
    const long module = std::max(1L, std::min(4L, inner / (total + 20)));
    const long barHeight = std::min(h - margin - y - 10, 40 * module);
    if (barHeight >= 8 && total + 20 <= inner) {
        long x = margin + (inner - total * module) / 2;
        bool bar = true;
        for (int m : modules) {
            if (bar)
                canvas.Fill(x, y, m * module, barHeight, 0);
            x += m * module;
            bar = !bar;
        }
    }
    return page;
}
