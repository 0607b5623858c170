// Escaping, trimming, blank test and unit-preserving cuts of captured text.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "inventory/captured_text.h"

namespace {

std::string Escape(const std::string &src, size_t capacity = 64) {
    std::string dest(capacity + 8, '#');
    EscapeCopy(&dest[0], capacity, src.c_str());
    EXPECT_EQ(dest[capacity], '#') << "wrote past capacity " << capacity;
    return std::string(dest.c_str());
}

// True when s is valid UTF-8 (no overlongs, surrogates or values above U+10FFFF).
bool IsValidUtf8(const std::string &s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        size_t n = c < 0x80                   ? 1
                   : (c >= 0xC2 && c <= 0xDF) ? 2
                   : (c >= 0xE0 && c <= 0xEF) ? 3
                   : (c >= 0xF0 && c <= 0xF4) ? 4
                                              : 0;
        if (n == 0 || i + n > s.size()) return false;
        unsigned long cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        static const unsigned long kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

struct ClassifyCase {
    unsigned char in;
    unsigned char result;
    const char *entity;
};

TEST(ClassifyChar, SpecialsControlsAndHighBytes) {
    const ClassifyCase cases[] = {
        {'"', 0, "&quot;"},    {'&', 0, "&amp;"},     {'\'', 0, "&apos;"},   {'<', 0, "&lt;"},
        {'>', 0, "&gt;"},      {'a', 'a', nullptr},   {0x00, ' ', nullptr},  {'\t', ' ', nullptr},
        {0x1F, ' ', nullptr},  {0x20, ' ', nullptr},  {0x21, 0x21, nullptr}, {0x7F, 0x7F, nullptr},
        {0xC3, 0xC3, nullptr}, {0xFF, 0xFF, nullptr},
    };
    for (const auto &c : cases) {
        const char *entity = "unset";
        EXPECT_EQ(ClassifyChar(c.in, &entity), c.result) << int(c.in);
        if (c.entity == nullptr) {
            EXPECT_EQ(entity, nullptr) << int(c.in);
        } else {
            EXPECT_STREQ(entity, c.entity) << int(c.in);
        }
    }
    EXPECT_EQ(ClassifyChar('a', nullptr), 0);
}

struct EscapeCase {
    const char *in;
    const char *out;
};

TEST(EscapeCopy, EntitiesControlsAndUtf8) {
    const EscapeCase cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"a&b<c>d", "a&amp;b&lt;c&gt;d"},
        {"say \"hi\" 'x'", "say &quot;hi&quot; &apos;x&apos;"},
        {"tab\there\r\nend", "tab here  end"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"\xE2\x82\xAC \xF0\x9F\x98\x80", "\xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"bad\xFFlead", "bad?lead"},
        {"trunc\xE2\x82", "trunc??"},
        {"trunc\xE2\x82z", "trunc??z"},
        {"overlong\xC0\xAF", "overlong??"},
        {"overlong3\xE0\x80\xAF", "overlong3???"},
        {"surrogate\xED\xA0\x80", "surrogate???"},
        {"toohigh\xF4\x90\x80\x80", "toohigh????"},
        {"nonchar\xEF\xBF\xBE|\xEF\xBF\xBF", "nonchar?|?"},
        {"lone\x80", "lone?"},
        {"x\x80\x90\x80\x80", "x????"},  // continuation bytes are no lead, whatever follows
        // The smallest code point of each length passes; the largest overlong form of each length
        // does not. Either side of the surrogates and the top of the range pass.
        {"\xC2\x80|\xE0\xA0\x80|\xF0\x90\x80\x80", "\xC2\x80|\xE0\xA0\x80|\xF0\x90\x80\x80"},
        {"\xC1\xBF|\xE0\x9F\xBF|\xF0\x8F\xBF\xBF", "??|???|????"},
        {"\xED\x9F\xBF|\xED\xBF\xBF|\xEE\x80\x80|\xF4\x8F\xBF\xBF", "\xED\x9F\xBF|???|\xEE\x80\x80|\xF4\x8F\xBF\xBF"},
    };
    for (const auto &c : cases) EXPECT_EQ(Escape(c.in), c.out) << c.in;
}

TEST(EscapeCopy, NullArgumentsAreSafe) {
    char dest[8] = "xyz";
    EscapeCopy(dest, sizeof dest, nullptr);
    EXPECT_STREQ(dest, "");
    EscapeCopy(nullptr, 8, "abc");
    strcpy(dest, "xyz");
    EscapeCopy(dest, 0, "abc");
    EXPECT_STREQ(dest, "xyz");
}

TEST(EscapeCopy, CutsNeverSplitAnEntityOrCharacter) {
    // Every capacity from 1 to 40 over a text mixing entities, multi-byte characters and bad bytes:
    // the result fits, is valid UTF-8, has no partial entity, and is a prefix of the full result.
    const std::string src = "A&B\xC3\xA9<\xE2\x82\xAC\"\xF0\x9F\x98\x80'x\xFFy>";
    const std::string full = Escape(src, 256);
    for (size_t capacity = 1; capacity <= 40; ++capacity) {
        const std::string cut = Escape(src, capacity);
        ASSERT_LE(cut.size(), capacity - 1);
        EXPECT_TRUE(IsValidUtf8(cut)) << capacity;
        EXPECT_EQ(full.compare(0, cut.size(), cut), 0) << capacity;
        size_t amp = cut.rfind('&');
        if (amp != std::string::npos) {
            EXPECT_NE(cut.find(';', amp), std::string::npos) << capacity << ": " << cut;
        }
        // The cut is maximal: the next unit of the full text would not have fitted.
        if (cut.size() < full.size()) {
            size_t next = 1;
            unsigned char c = full[cut.size()];
            if (c == '&')
                next = full.find(';', cut.size()) - cut.size() + 1;
            else if (c >= 0xF0)
                next = 4;
            else if (c >= 0xE0)
                next = 3;
            else if (c >= 0xC0)
                next = 2;
            EXPECT_GT(cut.size() + next, capacity - 1) << capacity;
        }
    }
}

// A 3- or 4-byte character whose last byte lands one before, on, or one past the last byte a cut
// keeps: kept whole in the first two, dropped whole in the third. The 63-byte text cut and the
// 15-byte interface name cut are EscapeCopy's capacities; the 9-byte asset cut is CutEscaped's.
TEST(EscapeCopy, MultiByteCharactersAtEveryCut) {
    for (const std::string ch : {"\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
        for (const size_t keep : {63, 15, 9}) {
            for (const size_t end : {keep - 1, keep, keep + 1}) {
                const std::string prefix(end - ch.size(), 'p');
                const std::string expected = end <= keep ? prefix + ch : prefix;
                if (keep == 9) {
                    char buf[32];
                    strcpy(buf, (prefix + ch).c_str());
                    CutEscaped(buf, keep);
                    EXPECT_EQ(std::string(buf), expected) << ch.size() << "-byte character ending at " << end;
                } else {
                    EXPECT_EQ(Escape(prefix + ch, keep + 1), expected)
                        << ch.size() << "-byte character ending at " << end << " of " << keep;
                }
            }
        }
    }
}

TEST(EscapeCopy, SixtyFourByteCeiling) {
    const std::string amps(40, '&');  // 200 bytes escaped
    const std::string out = Escape(amps, 64);
    EXPECT_EQ(out.size(), 60u);  // twelve whole "&amp;" entities
    const std::string letters(100, 'x');
    EXPECT_EQ(Escape(letters, 64).size(), 63u);
}

struct TrimCase {
    const char *in;
    const char *out;
};

TEST(TrimSpaces, LeadingAndTrailingBlanksOnly) {
    const TrimCase cases[] = {
        {"", ""},    {" ", ""},          {"    ", ""},     {"a", "a"},         {" a", "a"},
        {"a ", "a"}, {"  a b  ", "a b"}, {"a  b", "a  b"}, {"\ta\t", "\ta\t"},
    };
    for (const auto &c : cases) {
        char buf[32];
        strcpy(buf, c.in);
        EXPECT_EQ(TrimSpaces(buf), buf);
        EXPECT_STREQ(buf, c.out) << '"' << c.in << '"';
    }
    EXPECT_EQ(TrimSpaces(nullptr), nullptr);
}

TEST(TrimSpaces, ControlsBecomeBlanksThenTrim) {
    char buf[64];
    EscapeCopy(buf, sizeof buf, "\t SERIAL 1\r\n");
    EXPECT_STREQ(TrimSpaces(buf), "SERIAL 1");
}

TEST(IsBlank, EmptyBlankAndNull) {
    EXPECT_TRUE(IsBlank(""));
    EXPECT_TRUE(IsBlank("   "));
    EXPECT_FALSE(IsBlank(" x "));
    EXPECT_FALSE(IsBlank("x"));
    EXPECT_FALSE(IsBlank("\t"));
    EXPECT_FALSE(IsBlank(nullptr));
}

struct CutCase {
    const char *in;
    size_t max;
    const char *out;
};

TEST(CutEscaped, BacksUpToWholeUnits) {
    const CutCase cases[] = {
        {"ABCDEFGHIJKL", 9, "ABCDEFGHI"},
        {"ABCDEF&amp;X", 9, "ABCDEF"},
        {"ABCD&amp;X", 9, "ABCD&amp;"},
        {"ABCDEFGH\xC3\xA9", 9, "ABCDEFGH"},
        {"ABCDEFG\xC3\xA9", 9, "ABCDEFG\xC3\xA9"},
        {"ABCDEF\xE2\x82", 8, "ABCDEF\xE2\x82"},  // a character cut short ends at the NUL: nothing read past it
        {"short", 9, "short"},
        {"abc", 0, ""},
        {"ABCD&EFGHI;", 9, "ABCD&EFGH"},  // no entity is longer than six bytes: a bare ampersand is one
        {"ABCDEFG&", 9, "ABCDEFG&"},      // and at the very end
        {"ABCDEFG&;", 8, "ABCDEFG"},      // the shortest entity-like unit is two bytes
    };
    for (const auto &c : cases) {
        char buf[32];
        strcpy(buf, c.in);
        CutEscaped(buf, c.max);
        EXPECT_STREQ(buf, c.out) << c.in;
    }
    CutEscaped(nullptr, 3);
}

TEST(AppendEscaped, StopsAtCapacityOnWholeUnits) {
    const CutCase cases[] = {
        // appended to "1234567", capacity given as max
        {"ABC", 16, "1234567ABC"},  {"A&amp;", 16, "1234567A&amp;"},
        {"A&amp;", 12, "1234567A"}, {"\xC3\xA9\xC3\xA9", 11, "1234567\xC3\xA9"},
        {"xyz", 8, "1234567"},
    };
    for (const auto &c : cases) {
        char buf[32];
        strcpy(buf, "1234567");
        AppendEscaped(buf, c.max, c.in);
        EXPECT_STREQ(buf, c.out) << c.in << " cap " << c.max;
    }
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    AppendEscaped(unterminated, sizeof unterminated, "x");
    EXPECT_EQ(unterminated[3], 'd');
    char kept[8] = "keep";
    AppendEscaped(kept, 0, "x");
    AppendEscaped(kept, sizeof kept, nullptr);
    AppendEscaped(nullptr, sizeof kept, "x");
    EXPECT_STREQ(kept, "keep");
}

}  // namespace
