#include "framework/graphics/svg.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace iplug::igraphics {
namespace {

class Reader {
public:
    explicit Reader(std::string_view s) : mText(s) {}

    void SkipSeparators() {
        while (mPos < mText.size() &&
               (std::isspace(static_cast<unsigned char>(mText[mPos])) || mText[mPos] == ','))
            ++mPos;
    }
    bool AtEnd() {
        SkipSeparators();
        return mPos >= mText.size();
    }
    std::size_t Pos() const { return mPos; }
    char Peek() const { return mPos < mText.size() ? mText[mPos] : '\0'; }
    char Take() { return mText[mPos++]; }

    // A number starts here (so a command's arguments repeat).
    bool NumberAhead() {
        SkipSeparators();
        const char c = Peek();
        return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.';
    }

    // SVG's number grammar: sign, digits, at most one dot, exponent. A second dot or a sign ends the
    // number, so "1-15.29" is 1 and -15.29 and ".5.5" is .5 and .5.
    bool Number(float& out) {
        SkipSeparators();
        const std::size_t start = mPos;
        std::size_t p = mPos;
        auto digits = [&] {
            const std::size_t s = p;
            while (p < mText.size() && std::isdigit(static_cast<unsigned char>(mText[p])))
                ++p;
            return p > s;
        };
        if (p < mText.size() && (mText[p] == '+' || mText[p] == '-'))
            ++p;
        bool any = digits();
        if (p < mText.size() && mText[p] == '.') {
            ++p;
            any = digits() || any;
        }
        if (!any)
            return false;
        if (p < mText.size() && (mText[p] == 'e' || mText[p] == 'E')) {
            std::size_t q = p + 1;
            if (q < mText.size() && (mText[q] == '+' || mText[q] == '-'))
                ++q;
            if (q < mText.size() && std::isdigit(static_cast<unsigned char>(mText[q]))) {
                p = q;
                digits();
            }
        }
        const std::string token(mText.substr(start, p - start));
        out = std::strtof(token.c_str(), nullptr);
        if (!std::isfinite(out))
            return false; // "1e99" would poison every later point
        mPos = p;
        return true;
    }

    // An arc flag is one character, 0 or 1, and needs no separator after it.
    bool Flag(bool& out) {
        SkipSeparators();
        const char c = Peek();
        if (c != '0' && c != '1')
            return false;
        out = c == '1';
        ++mPos;
        return true;
    }

private:
    std::string_view mText;
    std::size_t mPos = 0;
};

int ArgumentCount(char cmd) {
    switch (std::tolower(static_cast<unsigned char>(cmd))) {
    case 'm':
    case 'l':
    case 't':
        return 2;
    case 'h':
    case 'v':
        return 1;
    case 'c':
        return 6;
    case 's':
    case 'q':
        return 4;
    case 'a':
        return 7;
    case 'z':
        return 0;
    default:
        return -1;
    }
}

} // namespace

bool ParseSvgPathData(std::string_view d, Path& path, std::string* error) {
    path.Clear();
    Reader in(d);
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + " at character " + std::to_string(in.Pos());
        return false;
    };
    char cmd = 0;
    // The previous command's second control point, for the reflection of S and T.
    PathPoint lastCubicCtrl, lastQuadCtrl;
    char prev = 0;
    while (!in.AtEnd()) {
        if (std::isalpha(static_cast<unsigned char>(in.Peek()))) {
            cmd = in.Take();
            if (ArgumentCount(cmd) < 0)
                return fail("unknown path command");
            if (prev == 0 && cmd != 'M' && cmd != 'm')
                return fail("path data must start with a move");
        } else if (cmd == 0) {
            return fail("path data must start with a command");
        } else if (ArgumentCount(cmd) == 0) {
            return fail("number after a close command");
        }
        // Implicit repeats of a move are lines.
        const bool rel = std::islower(static_cast<unsigned char>(cmd)) != 0;
        const char op = static_cast<char>(std::tolower(static_cast<unsigned char>(cmd)));
        const PathPoint cur = path.CurrentPoint();
        const float ox = rel ? cur.x : 0.f, oy = rel ? cur.y : 0.f;
        float a[7] = {};
        if (op == 'a') {
            bool large = false, sweep = false;
            if (!in.Number(a[0]) || !in.Number(a[1]) || !in.Number(a[2]) || !in.Flag(large) ||
                !in.Flag(sweep) || !in.Number(a[5]) || !in.Number(a[6]))
                return fail("malformed arc");
            path.SvgArcTo(a[0], a[1], a[2], large, sweep, a[5] + ox, a[6] + oy);
        } else {
            for (int i = 0; i < ArgumentCount(op); ++i) {
                if (!in.Number(a[i]))
                    return fail("missing number");
            }
        }
        switch (op) {
        case 'm':
            path.MoveTo(a[0] + ox, a[1] + oy);
            cmd = rel ? 'l' : 'L';
            break;
        case 'l':
            path.LineTo(a[0] + ox, a[1] + oy);
            break;
        case 'h':
            path.LineTo(a[0] + ox, cur.y);
            break;
        case 'v':
            path.LineTo(cur.x, a[0] + oy);
            break;
        case 'c':
            path.CubicTo(a[0] + ox, a[1] + oy, a[2] + ox, a[3] + oy, a[4] + ox, a[5] + oy);
            lastCubicCtrl = {a[2] + ox, a[3] + oy};
            break;
        case 's': {
            const PathPoint c1 = (prev == 'c' || prev == 's')
                                     ? PathPoint{2.f * cur.x - lastCubicCtrl.x, 2.f * cur.y - lastCubicCtrl.y}
                                     : cur;
            path.CubicTo(c1.x, c1.y, a[0] + ox, a[1] + oy, a[2] + ox, a[3] + oy);
            lastCubicCtrl = {a[0] + ox, a[1] + oy};
            break;
        }
        case 'q':
            path.QuadTo(a[0] + ox, a[1] + oy, a[2] + ox, a[3] + oy);
            lastQuadCtrl = {a[0] + ox, a[1] + oy};
            break;
        case 't': {
            const PathPoint c = (prev == 'q' || prev == 't')
                                    ? PathPoint{2.f * cur.x - lastQuadCtrl.x, 2.f * cur.y - lastQuadCtrl.y}
                                    : cur;
            path.QuadTo(c.x, c.y, a[0] + ox, a[1] + oy);
            lastQuadCtrl = c;
            break;
        }
        case 'z':
            path.Close();
            break;
        default:
            break;
        }
        prev = op;
    }
    return true;
}

} // namespace iplug::igraphics
