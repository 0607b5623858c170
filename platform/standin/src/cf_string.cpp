// CFString for the stand-in: UTF-16 storage so that lengths and ranges count UTF-16 units as on
// macOS, strict UTF-8 decoding on creation, and the byte conversions the tool relies on.
#include "cf_object.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace standin {

bool DecodeUtf8(const char *bytes, size_t length, bool lossy, std::u16string *out) {
    const auto *s = reinterpret_cast<const unsigned char *>(bytes);
    out->reserve(out->size() + length);  // never more units than bytes
    size_t i = 0;
    while (i < length) {
        unsigned char lead = s[i];
        char32_t cp = 0;
        size_t need = 0;
        char32_t min = 0;
        if (lead < 0x80) {
            out->push_back(lead);
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            cp = lead & 0x1F, need = 1, min = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            cp = lead & 0x0F, need = 2, min = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            cp = lead & 0x07, need = 3, min = 0x10000;
        } else {
            need = SIZE_MAX;
        }
        bool ok = need != SIZE_MAX;
        if (ok) {
            for (size_t k = 1; k <= need; ++k) {
                if (i + k >= length || (s[i + k] & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                cp = (cp << 6) | (s[i + k] & 0x3F);
            }
        }
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (!ok) {
            if (!lossy) return false;
            out->push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(cp));
        }
        i += need + 1;
    }
    return true;
}

CFStringRef NewStringLossy(const std::string &bytes) {
    std::u16string units;
    DecodeUtf8(bytes.data(), bytes.size(), /* lossy */ true, &units);
    return NewString(std::move(units));
}

CFStringRef NewString(std::u16string units) {
    auto *string = new __CFString();
    string->units = std::move(units);
    return string;
}

namespace {

// One character of the string starting at unit i (limited to end): its code point, how many units it
// takes, and whether it is representable (false for an unpaired surrogate).
struct Char {
    char32_t cp;
    CFIndex units;
    bool valid;
};

Char CharAt(const std::u16string &u, CFIndex i, CFIndex end) {
    char16_t c = u[static_cast<size_t>(i)];
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (i + 1 < end) {
            char16_t d = u[static_cast<size_t>(i + 1)];
            if (d >= 0xDC00 && d <= 0xDFFF) return {0x10000 + ((char32_t(c) - 0xD800) << 10) + (d - 0xDC00), 2, true};
        }
        return {c, 1, false};
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return {c, 1, false};
    return {c, 1, true};
}

size_t EncodeUtf8(char32_t cp, UInt8 *out) {
    if (cp < 0x80) {
        out[0] = static_cast<UInt8>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<UInt8>(0xC0 | (cp >> 6));
        out[1] = static_cast<UInt8>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<UInt8>(0xE0 | (cp >> 12));
        out[1] = static_cast<UInt8>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<UInt8>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<UInt8>(0xF0 | (cp >> 18));
    out[1] = static_cast<UInt8>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<UInt8>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<UInt8>(0x80 | (cp & 0x3F));
    return 4;
}

// Encodes one character in the given encoding; 0 when the encoding cannot represent it.
size_t EncodeChar(const Char &ch, CFStringEncoding encoding, UInt8 *out) {
    if (!ch.valid) return 0;
    switch (encoding) {
        case kCFStringEncodingUTF8: return EncodeUtf8(ch.cp, out);
        case kCFStringEncodingASCII:
            if (ch.cp >= 0x80) return 0;
            out[0] = static_cast<UInt8>(ch.cp);
            return 1;
        case kCFStringEncodingISOLatin1:
            if (ch.cp >= 0x100) return 0;
            out[0] = static_cast<UInt8>(ch.cp);
            return 1;
        default: return 0;
    }
}

bool SupportedEncoding(CFStringEncoding encoding) {
    return encoding == kCFStringEncodingUTF8 || encoding == kCFStringEncodingASCII ||
           encoding == kCFStringEncodingISOLatin1;
}

}  // namespace

void AppendUtf8(char32_t cp, std::string *out) {
    UInt8 bytes[4];
    out->append(reinterpret_cast<char *>(bytes), EncodeUtf8(cp, bytes));
}

std::string Utf8Of(CFStringRef string) {
    std::string out;
    const __CFString *s = As<__CFString>(string, kTypeString);
    if (s == nullptr) return out;
    const CFIndex end = static_cast<CFIndex>(s->units.size());
    out.reserve(s->units.size());
    for (CFIndex i = 0; i < end;) {
        if (s->units[i] < 0x80) {  // ASCII, the common case
            out.push_back(static_cast<char>(s->units[i++]));
            continue;
        }
        Char ch = CharAt(s->units, i, end);
        if (!ch.valid) ch = {0xFFFD, 1, true};
        UInt8 buf[4];
        out.append(reinterpret_cast<char *>(buf), EncodeUtf8(ch.cp, buf));
        i += ch.units;
    }
    return out;
}

}  // namespace standin

bool __CFString::Equals(const CFObject &other) const { return units == static_cast<const __CFString &>(other).units; }

CFHashCode __CFString::Hash() const { return std::hash<std::u16string>()(units); }

using standin::As;
using standin::kTypeString;

extern "C" {

CFTypeID CFStringGetTypeID(void) { return standin::kTypeString; }

CFStringRef __CFStringMakeConstantString(const char *cStr) {
    // Constants are interned by their text, as the compiler does on macOS, and live for the process.
    // The CFSTR macro keeps the result per use site, so this runs once for each.
    static std::mutex mutex;
    static auto *table = new std::unordered_map<std::string, CFStringRef>();
    if (cStr == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = table->find(cStr);
    if (found != table->end()) return found->second;
    std::u16string units;
    standin::DecodeUtf8(cStr, std::strlen(cStr), /* lossy */ true, &units);
    CFStringRef string = standin::NewString(std::move(units));
    standin::MakeImmortal(standin::AsMutableObject(string));
    table->emplace(cStr, string);
    return string;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8 *bytes, CFIndex numBytes, CFStringEncoding encoding,
                                    Boolean) {
    if ((bytes == nullptr && numBytes != 0) || numBytes < 0) return nullptr;
    std::u16string units;
    const char *text = reinterpret_cast<const char *>(bytes);
    switch (encoding) {
        case kCFStringEncodingUTF8:
            if (numBytes >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
                text += 3;  // a byte-order mark is no character of the string
                numBytes -= 3;
            }
            if (!standin::DecodeUtf8(text, static_cast<size_t>(numBytes), /* lossy */ false, &units)) return nullptr;
            break;
        case kCFStringEncodingASCII:
        case kCFStringEncodingISOLatin1:
            for (CFIndex i = 0; i < numBytes; ++i) {
                if (encoding == kCFStringEncodingASCII && bytes[i] >= 0x80) return nullptr;
                units.push_back(bytes[i]);
            }
            break;
        default: return nullptr;
    }
    return standin::NewString(std::move(units));
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char *cStr, CFStringEncoding encoding) {
    if (cStr == nullptr) return nullptr;
    return CFStringCreateWithBytes(alloc, reinterpret_cast<const UInt8 *>(cStr),
                                   static_cast<CFIndex>(std::strlen(cStr)), encoding,
                                   /* isExternalRepresentation */ false);
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar *chars, CFIndex numChars) {
    if ((chars == nullptr && numChars != 0) || numChars < 0) return nullptr;
    return standin::NewString(std::u16string(reinterpret_cast<const char16_t *>(chars), static_cast<size_t>(numChars)));
}

CFIndex CFStringGetLength(CFStringRef theString) {
    standin::RequireArgument(theString, "CFStringGetLength");
    const __CFString *s = As<__CFString>(theString, kTypeString);
    return s != nullptr ? static_cast<CFIndex>(s->units.size()) : 0;
}

UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx) {
    const __CFString *s = As<__CFString>(theString, kTypeString);
    if (s == nullptr || idx < 0 || static_cast<size_t>(idx) >= s->units.size()) return 0;
    return s->units[static_cast<size_t>(idx)];
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding, UInt8 lossByte, Boolean,
                         UInt8 *buffer, CFIndex maxBufLen, CFIndex *usedBufLen) {
    // No byte-order mark is ever written: UTF-8, ASCII and Latin-1 have none.
    CFIndex used = 0;
    CFIndex converted = 0;
    const __CFString *s = As<__CFString>(theString, kTypeString);
    const CFIndex length = s != nullptr ? static_cast<CFIndex>(s->units.size()) : 0;
    // Core Foundation copies a string it keeps in 8 bits (ASCII here) directly, as far as the room
    // goes; anything else goes through its converter, which takes a room of 0 bytes as a request to
    // measure and then writes nothing.
    if (buffer != nullptr && maxBufLen == 0 && s != nullptr) {
        for (char16_t unit : s->units) {
            if (unit >= 0x80) {
                buffer = nullptr;
                break;
            }
        }
    }
    if (s != nullptr && standin::SupportedEncoding(encoding) && range.location >= 0 && range.length >= 0 &&
        range.location <= length && range.length <= length - range.location) {
        const CFIndex end = range.location + range.length;
        for (CFIndex i = range.location; i < end;) {
            standin::Char ch = standin::CharAt(s->units, i, end);
            UInt8 bytes[4];
            size_t n = standin::EncodeChar(ch, encoding, bytes);
            if (n == 0) {
                // The UTF-8 converter stops at an unpaired surrogate and never uses the loss byte.
                if (lossByte == 0 || encoding == kCFStringEncodingUTF8) break;
                bytes[0] = lossByte;
                n = 1;
            }
            if (buffer != nullptr) {
                if (used + static_cast<CFIndex>(n) > maxBufLen) break;
                std::memcpy(buffer + used, bytes, n);
            }
            used += static_cast<CFIndex>(n);
            i += ch.units;
            converted += ch.units;
        }
    }
    if (usedBufLen != nullptr) *usedBufLen = used;
    return converted;
}

Boolean CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize, CFStringEncoding encoding) {
    if (buffer == nullptr || bufferSize < 1) return false;
    buffer[0] = '\0';
    if (theString == nullptr || As<__CFString>(theString, kTypeString) == nullptr) return false;
    const CFIndex length = CFStringGetLength(theString);
    CFIndex used = 0;
    CFIndex converted = CFStringGetBytes(theString, CFRangeMake(0, length), encoding, /* lossByte */ 0,
                                         /* isExternalRepresentation */ false, reinterpret_cast<UInt8 *>(buffer),
                                         bufferSize - 1, &used);
    if (converted < length) {
        buffer[0] = '\0';
        return false;
    }
    buffer[used] = '\0';
    return true;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
    if (length < 0) return CFIndex{kCFNotFound};
    if (encoding == kCFStringEncodingUTF8) return length > LONG_MAX / 3 ? CFIndex{kCFNotFound} : 3 * length;
    if (encoding == kCFStringEncodingUTF16) return length > LONG_MAX / 2 ? CFIndex{kCFNotFound} : 2 * length;
    return length;
}

}  // extern "C"
