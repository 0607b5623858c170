// Escaping, trimming and cutting of the texts captured from the machine.
#include "inventory/captured_text.h"

#include <string.h>

namespace {

const char kQuot[] = "&quot;";
const char kAmp[] = "&amp;";
const char kApos[] = "&apos;";
const char kLt[] = "&lt;";
const char kGt[] = "&gt;";
const size_t kLongestEntity = 6;

// Length of the valid UTF-8 sequence that starts at s (lead byte 0x80 or above), or 0 when it is not
// one: bad lead byte, truncated, overlong, a surrogate or above U+10FFFF. *noncharacter is set for
// U+FFFE and U+FFFF, which XML does not allow.
size_t ValidSequenceLength(const unsigned char *s, bool *noncharacter) {
    *noncharacter = false;
    const unsigned char lead = s[0];
    size_t length;
    unsigned long cp;
    unsigned long min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1Fu, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0Fu, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((s[k] & 0xC0u) != 0x80u) return 0;  // a NUL ends the text here too
        cp = (cp << 6) | (s[k] & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    *noncharacter = cp == 0xFFFE || cp == 0xFFFF;
    return length;
}

// Length of the character or entity that starts escaped text t; 0 at its end.
size_t UnitLength(const char *t) {
    const unsigned char c = static_cast<unsigned char>(t[0]);
    if (c == 0) return 0;
    size_t n = 1;
    if (c == '&') {
        for (size_t k = 1; k < kLongestEntity && t[k] != '\0'; ++k) {
            if (t[k] == ';') return k + 1;
        }
        return 1;
    }
    if (c >= 0xF0) {
        n = 4;
    } else if (c >= 0xE0) {
        n = 3;
    } else if (c >= 0xC0) {
        n = 2;
    }
    for (size_t k = 1; k < n; ++k) {
        if (t[k] == '\0') return k;
    }
    return n;
}

}  // namespace

unsigned char ClassifyChar(unsigned char c, const char **entity_out) {
    if (entity_out == NULL) return 0;
    *entity_out = NULL;
    switch (c) {
        case '"': *entity_out = kQuot; return 0;
        case '&': *entity_out = kAmp; return 0;
        case '\'': *entity_out = kApos; return 0;
        case '<': *entity_out = kLt; return 0;
        case '>': *entity_out = kGt; return 0;
        default: return c > 0x20 ? c : 0x20;
    }
}

void EscapeCopy(char *dest, size_t capacity, const char *src) {
    if (dest == NULL || capacity == 0) return;
    dest[0] = '\0';
    if (src == NULL) return;
    const size_t limit = capacity - 1;
    size_t used = 0;
    const unsigned char *s = reinterpret_cast<const unsigned char *>(src);
    while (*s != 0) {
        const char *piece;
        size_t piece_length;
        size_t advance = 1;
        unsigned char single;
        if (*s < 0x80) {
            const char *entity;
            single = ClassifyChar(*s, &entity);
            if (single != 0) {
                piece = reinterpret_cast<const char *>(&single), piece_length = 1;
            } else if (entity != NULL) {
                piece = entity, piece_length = strlen(entity);
            } else {
                break;
            }
        } else {
            bool noncharacter;
            const size_t n = ValidSequenceLength(s, &noncharacter);
            if (n == 0) {
                piece = "?", piece_length = 1;
            } else if (noncharacter) {
                piece = "?", piece_length = 1, advance = n;
            } else {
                piece = reinterpret_cast<const char *>(s), piece_length = n, advance = n;
            }
        }
        if (piece_length > limit - used) break;
        memcpy(dest + used, piece, piece_length);
        used += piece_length;
        s += advance;
    }
    dest[used] = '\0';
}

char *TrimSpaces(char *text) {
    if (text == NULL || text[0] == '\0') return text;
    size_t lead = 0;
    while (text[lead] == ' ') ++lead;
    if (text[lead] == '\0') {
        text[0] = '\0';
        return text;
    }
    if (lead > 0) memmove(text, text + lead, strlen(text + lead) + 1);
    size_t end = strlen(text);
    while (end > 1 && text[end - 1] == ' ') text[--end] = '\0';
    return text;
}

bool IsBlank(const char *text) {
    if (text == NULL) return false;
    while (*text == ' ') ++text;
    return *text == '\0';
}

void CutEscaped(char *text, size_t max_bytes) {
    if (text == NULL) return;
    size_t at = 0;
    for (size_t n = UnitLength(text); n != 0; n = UnitLength(text + at)) {
        if (n > max_bytes - at) break;
        at += n;
    }
    text[at] = '\0';
}

void AppendEscaped(char *dest, size_t capacity, const char *escaped) {
    if (dest == NULL || capacity == 0 || escaped == NULL) return;
    size_t used = strnlen(dest, capacity);
    if (used >= capacity) return;  // no terminator inside dest: leave it alone
    const size_t limit = capacity - 1;
    for (size_t n = UnitLength(escaped); n != 0 && n <= limit - used; n = UnitLength(escaped)) {
        memcpy(dest + used, escaped, n);
        used += n;
        escaped += n;
    }
    dest[used] = '\0';
}
