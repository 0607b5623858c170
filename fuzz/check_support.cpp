// Helpers of the property checks.
#include "check_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void FailCheck(const char *check, const char *property, const char *text) {
    fprintf(stderr, "%s: property failed: %s (text: \"%s\")\n", check, property, text != NULL ? text : "");
    abort();
}

bool IsCleanEscapedText(const char *text) {
    static const char *const kEntities[] = {"&quot;", "&amp;", "&apos;", "&lt;", "&gt;"};
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
    while (*s != 0) {
        const unsigned char c = *s;
        if (c < 0x20 || c == '<' || c == '>' || c == '"' || c == '\'') return false;
        if (c == '&') {
            bool entity = false;
            for (const char *e : kEntities) {
                if (strncmp(reinterpret_cast<const char *>(s), e, strlen(e)) == 0) {
                    s += strlen(e);
                    entity = true;
                    break;
                }
            }
            if (!entity) return false;
            continue;
        }
        if (c < 0x80) {
            ++s;
            continue;
        }
        size_t n;
        unsigned long cp;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 2, cp = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3, cp = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4, cp = c & 0x07u;
        } else {
            return false;
        }
        for (size_t k = 1; k < n; ++k) {
            if ((s[k] & 0xC0u) != 0x80u) return false;
            cp = (cp << 6) | (s[k] & 0x3Fu);
        }
        static const unsigned long kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) {
            return false;
        }
        s += n;
    }
    return true;
}
