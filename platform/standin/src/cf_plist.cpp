// Property lists for the stand-in, as Core Foundation reads and writes them: XML (strictly: one value,
// a value for every key, whole numbers), the older text format ("a string", { key = value; },
// ( items ), <hex data>, and a strings file's key = value; lines), and binary lists through libplist.
// Written out in Apple's XML form, dictionary keys in UTF-16 order, strings whole.
#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cf_object.h"

namespace {

const int kMaxDepth = 512;                          // deeper nesting is refused rather than recursed into
const double kUnixTimeOfReferenceDate = 978307200;  // 2001-01-01T00:00:00Z, Core Foundation's epoch

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A new CF string of UTF-8 bytes (NUL characters included), or null for bytes that are not UTF-8.
CFStringRef StringFromUtf8(const std::string &text) {
    std::u16string units;
    if (!standin::DecodeUtf8(text.data(), text.size(), /* lossy */ false, &units)) return nullptr;
    return standin::NewString(std::move(units));
}

bool DecodeBase64(const std::string &text, std::vector<UInt8> *out) {
    uint32_t bits = 0;
    int count = 0, padding = 0;
    for (char c : text) {
        if (IsSpace(c)) continue;
        int value;
        if (c >= 'A' && c <= 'Z') {
            value = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            value = c - 'a' + 26;
        } else if (IsDigit(c)) {
            value = c - '0' + 52;
        } else if (c == '+') {
            value = 62;
        } else if (c == '/') {
            value = 63;
        } else if (c == '=') {
            ++padding;
            continue;
        } else {
            return false;
        }
        if (padding > 0) return false;  // nothing after the padding
        bits = bits << 6 | static_cast<uint32_t>(value);
        if (++count == 4) {
            out->push_back(static_cast<UInt8>(bits >> 16));
            out->push_back(static_cast<UInt8>(bits >> 8));
            out->push_back(static_cast<UInt8>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1 || padding > 2) return false;
    if (count == 2) out->push_back(static_cast<UInt8>(bits >> 4));
    if (count == 3) {
        out->push_back(static_cast<UInt8>(bits >> 10));
        out->push_back(static_cast<UInt8>(bits >> 2));
    }
    return true;
}

CFTypeRef IntegerFromText(const std::string &text) {
    // Whole text only: an optional sign, then decimal digits or 0x and hexadecimal ones.
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++i;
    const bool hex = text.size() > i + 1 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X');
    if (hex) i += 2;
    if (i == text.size()) return nullptr;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = hex ? HexValue(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
        if (digit < 0) return nullptr;
        const uint64_t base = hex ? 16 : 10;
        if (value > (UINT64_MAX - static_cast<uint64_t>(digit)) / base) return nullptr;
        value = value * base + static_cast<uint64_t>(digit);
    }
    if (negative && value > static_cast<uint64_t>(INT64_MAX) + 1) return nullptr;
    const int64_t signedValue = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
    return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &signedValue);
}

CFTypeRef RealFromText(const std::string &text) {
    if (text.empty() || IsSpace(text[0])) return nullptr;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return nullptr;
    return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &value);
}

CFTypeRef DateFromText(const std::string &text) {
    int year, month, day, hour, minute, second;
    char zone = 0;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &year, &month, &day, &hour, &minute, &second, &zone,
                    &consumed) != 7 ||
        zone != 'Z' || static_cast<size_t>(consumed) != text.size()) {
        return nullptr;
    }
    struct tm parts = {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return CFDateCreate(kCFAllocatorDefault, static_cast<double>(timegm(&parts)) - kUnixTimeOfReferenceDate);
}

// ---- XML ----------------------------------------------------------------------------------------

class XmlReader {
  public:
    XmlReader(const char *bytes, size_t length) : at_(bytes), end_(bytes + length) {}

    // The document's one value (a new object), or null when the document is not a property list.
    CFTypeRef Document() {
        if (!SkipMisc()) return nullptr;
        Tag tag;
        if (!ReadTag(&tag) || tag.closing) return nullptr;
        CFTypeRef value = nullptr;
        if (tag.name == "plist") {
            if (tag.empty || !SkipMisc()) return nullptr;
            Tag inner;
            if (!ReadTag(&inner) || inner.closing) return nullptr;  // an empty <plist> holds no value
            value = Value(inner, 0);
            Tag close;
            if (value == nullptr || !SkipMisc() || !ReadTag(&close) || !close.closing || close.name != "plist") {
                return Fail(value);  // a second value, or no end
            }
        } else {
            value = Value(tag, 0);
        }
        if (value == nullptr || !SkipMisc() || at_ != end_) return Fail(value);
        return value;
    }

  private:
    struct Tag {
        std::string name;
        bool closing = false, empty = false;
    };

    static CFTypeRef Fail(CFTypeRef value) {
        if (value != nullptr) CFRelease(value);
        return nullptr;
    }

    bool StartsWith(const char *text) const {
        const size_t n = std::strlen(text);
        return static_cast<size_t>(end_ - at_) >= n && std::memcmp(at_, text, n) == 0;
    }
    bool SkipPast(const char *text) {
        const size_t n = std::strlen(text);
        for (; static_cast<size_t>(end_ - at_) >= n; ++at_) {
            if (std::memcmp(at_, text, n) == 0) {
                at_ += n;
                return true;
            }
        }
        return false;
    }

    // Skips blanks, comments, processing instructions and the document type; false at a broken one.
    bool SkipMisc() {
        for (;;) {
            while (at_ != end_ && IsSpace(*at_)) ++at_;
            if (StartsWith("<!--")) {
                if (!SkipPast("-->")) return false;
            } else if (StartsWith("<?")) {
                if (!SkipPast("?>")) return false;
            } else if (StartsWith("<!DOCTYPE")) {
                int depth = 0;  // an internal subset in [ ] may hold '>'
                for (; at_ != end_ && !(*at_ == '>' && depth == 0); ++at_) {
                    if (*at_ == '[') ++depth;
                    if (*at_ == ']') --depth;
                }
                if (at_ == end_) return false;
                ++at_;
            } else {
                return true;
            }
        }
    }

    // At '<': an element tag, its attributes passed over.
    bool ReadTag(Tag *tag) {
        if (at_ == end_ || *at_ != '<') return false;
        ++at_;
        tag->closing = at_ != end_ && *at_ == '/';
        if (tag->closing) ++at_;
        const char *name = at_;
        while (at_ != end_ && (std::isalnum(static_cast<unsigned char>(*at_)) || *at_ == '_' || *at_ == '-')) ++at_;
        tag->name.assign(name, at_);
        if (tag->name.empty()) return false;
        char quote = 0;
        for (; at_ != end_; ++at_) {
            if (quote != 0) {
                if (*at_ == quote) quote = 0;
            } else if (*at_ == '"' || *at_ == '\'') {
                quote = *at_;
            } else if (*at_ == '>') {
                tag->empty = at_[-1] == '/' && !tag->closing;
                ++at_;
                return true;
            }
        }
        return false;
    }

    // The text of an element up to its end tag: entities and CDATA decoded, no element inside.
    bool Text(const std::string &element, std::string *out) {
        out->clear();
        while (at_ != end_) {
            const char c = *at_;
            if (c == '<') {
                if (StartsWith("<![CDATA[")) {
                    const char *start = at_ + 9;
                    at_ = start;
                    if (!SkipPast("]]>")) return false;
                    out->append(start, at_ - 3);
                    continue;
                }
                if (StartsWith("<!--")) {
                    if (!SkipPast("-->")) return false;
                    continue;
                }
                Tag close;
                return ReadTag(&close) && close.closing && close.name == element;
            }
            if (c == '&') {
                if (!Entity(out)) return false;
                continue;
            }
            out->push_back(c);
            ++at_;
        }
        return false;
    }

    bool Entity(std::string *out) {
        static const struct {
            const char *name;
            char value;
        } kNamed[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
        for (const auto &e : kNamed) {
            if (StartsWith(e.name)) {
                out->push_back(e.value);
                at_ += std::strlen(e.name);
                return true;
            }
        }
        if (!StartsWith("&#")) return false;
        at_ += 2;
        const bool hex = at_ != end_ && *at_ == 'x';
        if (hex) ++at_;
        char32_t cp = 0;
        int digits = 0;
        for (; at_ != end_ && *at_ != ';'; ++at_, ++digits) {
            const int d = hex ? HexValue(*at_) : (IsDigit(*at_) ? *at_ - '0' : -1);
            if (d < 0 || cp > 0x10FFFF) return false;
            cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(d);
        }
        if (at_ == end_ || digits == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        ++at_;
        standin::AppendUtf8(cp, out);
        return true;
    }

    CFTypeRef Value(const Tag &tag, int depth) {
        if (tag.closing || depth > kMaxDepth) return nullptr;
        const std::string &name = tag.name;
        if (name == "true" || name == "false") {
            if (!tag.empty) {
                std::string text;
                if (!Text(name, &text) || !text.empty()) return nullptr;
            }
            return name == "true" ? kCFBooleanTrue : kCFBooleanFalse;
        }
        if (name == "array")
            return tag.empty ? CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks) : Array(depth);
        if (name == "dict") {
            return tag.empty ? CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks)
                             : Dictionary(depth);
        }
        std::string text;
        if (!tag.empty && !Text(name, &text)) return nullptr;
        if (name == "string") return StringFromUtf8(text);
        if (name == "integer") return IntegerFromText(text);
        if (name == "real") return RealFromText(text);
        if (name == "date") return DateFromText(text);
        if (name == "data") {
            std::vector<UInt8> bytes;
            if (!DecodeBase64(text, &bytes)) return nullptr;
            return CFDataCreate(kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size()));
        }
        return nullptr;  // <key> outside a dictionary, or no property-list element at all
    }

    CFTypeRef Array(int depth) {
        CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
        for (;;) {
            Tag tag;
            if (!SkipMisc() || !ReadTag(&tag)) return Fail(array);
            if (tag.closing) return tag.name == "array" ? array : Fail(array);
            CFTypeRef item = Value(tag, depth + 1);  // owned: the array keeps its own reference
            if (item == nullptr) return Fail(array);
            CFArrayAppendValue(array, item);
            CFRelease(item);
        }
    }

    CFTypeRef Dictionary(int depth) {
        CFMutableDictionaryRef dict = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                                &kCFTypeDictionaryValueCallBacks);
        for (;;) {
            Tag tag;
            if (!SkipMisc() || !ReadTag(&tag)) return Fail(dict);
            if (tag.closing) return tag.name == "dict" ? dict : Fail(dict);
            if (tag.name != "key") return Fail(dict);
            std::string keyText;
            if (!tag.empty && !Text("key", &keyText)) return Fail(dict);
            Tag valueTag;
            if (!SkipMisc() || !ReadTag(&valueTag) || valueTag.closing) return Fail(dict);  // a key needs a value
            CFStringRef key = StringFromUtf8(keyText);  // owned, as is value: the dictionary keeps its own
            CFTypeRef value = key != nullptr ? Value(valueTag, depth + 1) : nullptr;
            if (value != nullptr) CFDictionarySetValue(dict, key, value);
            if (key != nullptr) CFRelease(key);
            if (value == nullptr) return Fail(dict);
            CFRelease(value);
        }
    }

    const char *at_;
    const char *end_;
};

// ---- The older text format ------------------------------------------------------------------------

class TextReader {
  public:
    TextReader(const char *bytes, size_t length) : start_(bytes), at_(bytes), end_(bytes + length) {}

    CFTypeRef Document() {
        CFTypeRef value = Value(0);
        if (value == nullptr) return nullptr;
        if (!Skip()) return Fail(value);
        if (at_ == end_) return value;
        // "key = value;" lines without braces: a strings file, read as one dictionary.
        const bool stringsFile = *at_ == '=' || *at_ == ';';
        CFRelease(value);
        if (!stringsFile) return nullptr;
        at_ = start_;
        CFTypeRef dict = Entries(0, /* closer */ 0);
        if (dict != nullptr && (!Skip() || at_ != end_)) return Fail(dict);
        return dict;
    }

  private:
    static CFTypeRef Fail(CFTypeRef value) {
        if (value != nullptr) CFRelease(value);
        return nullptr;
    }

    // Skips blanks and comments; false in an unfinished comment.
    bool Skip() {
        for (;;) {
            while (at_ != end_ && IsSpace(*at_)) ++at_;
            if (end_ - at_ >= 2 && at_[0] == '/' && at_[1] == '/') {
                while (at_ != end_ && *at_ != '\n') ++at_;
            } else if (end_ - at_ >= 2 && at_[0] == '/' && at_[1] == '*') {
                at_ += 2;
                while (end_ - at_ >= 2 && !(at_[0] == '*' && at_[1] == '/')) ++at_;
                if (end_ - at_ < 2) return false;
                at_ += 2;
            } else {
                return true;
            }
        }
    }

    static bool IsBare(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '+' || c == '/' ||
               c == ':' || c == '.' || c == '-';
    }

    CFTypeRef Value(int depth) {
        if (depth > kMaxDepth || !Skip() || at_ == end_) return nullptr;
        const char c = *at_;
        if (c == '{') {
            ++at_;
            return Entries(depth, '}');
        }
        if (c == '(') {
            ++at_;
            return Items(depth);
        }
        if (c == '<') {
            ++at_;
            return HexData();
        }
        if (c == '"' || c == '\'') return Quoted();
        if (IsBare(c)) {
            const char *start = at_;
            while (at_ != end_ && IsBare(*at_)) ++at_;
            return StringFromUtf8(std::string(start, at_));
        }
        return nullptr;
    }

    CFTypeRef Quoted() {
        const char quote = *at_++;
        std::string text;
        while (at_ != end_ && *at_ != quote) {
            if (*at_ != '\\') {
                text.push_back(*at_++);
                continue;
            }
            if (++at_ == end_) return nullptr;
            const char e = *at_++;
            switch (e) {
                case 'n': text.push_back('\n'); break;
                case 't': text.push_back('\t'); break;
                case 'r': text.push_back('\r'); break;
                case 'a': text.push_back('\a'); break;
                case 'b': text.push_back('\b'); break;
                case 'f': text.push_back('\f'); break;
                case 'v': text.push_back('\v'); break;
                case 'U':
                case 'u': {
                    char32_t cp = 0;
                    for (int k = 0; k < 4; ++k) {
                        if (at_ == end_ || HexValue(*at_) < 0) return nullptr;
                        cp = cp * 16 + static_cast<char32_t>(HexValue(*at_++));
                    }
                    if (cp >= 0xD800 && cp <= 0xDFFF) return nullptr;
                    standin::AppendUtf8(cp, &text);
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {  // up to three octal digits
                        unsigned value = static_cast<unsigned>(e - '0');
                        for (int k = 0; k < 2 && at_ != end_ && *at_ >= '0' && *at_ <= '7'; ++k) {
                            value = value * 8 + static_cast<unsigned>(*at_++ - '0');
                        }
                        standin::AppendUtf8(value, &text);
                    } else {
                        text.push_back(e);  // \" \\ \' and any other character stand for themselves
                    }
            }
        }
        if (at_ == end_) return nullptr;
        ++at_;
        return StringFromUtf8(text);
    }

    CFTypeRef HexData() {
        std::vector<UInt8> bytes;
        int high = -1;
        for (; at_ != end_ && *at_ != '>'; ++at_) {
            if (IsSpace(*at_)) continue;
            const int digit = HexValue(*at_);
            if (digit < 0) return nullptr;
            if (high < 0) {
                high = digit;
            } else {
                bytes.push_back(static_cast<UInt8>(high << 4 | digit));
                high = -1;
            }
        }
        if (at_ == end_ || high >= 0) return nullptr;
        ++at_;
        return CFDataCreate(kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size()));
    }

    CFTypeRef Items(int depth) {
        CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
        for (;;) {
            if (!Skip() || at_ == end_) return Fail(array);
            if (*at_ == ')') {
                ++at_;
                return array;
            }
            CFTypeRef item = Value(depth + 1);  // owned: the array keeps its own reference
            if (item == nullptr) return Fail(array);
            CFArrayAppendValue(array, item);
            CFRelease(item);
            if (!Skip() || at_ == end_) return Fail(array);
            if (*at_ == ',') {
                ++at_;
            } else if (*at_ != ')') {
                return Fail(array);
            }
        }
    }

    // key = value; entries up to closer (0: the end of the text).
    CFTypeRef Entries(int depth, char closer) {
        CFMutableDictionaryRef dict = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                                &kCFTypeDictionaryValueCallBacks);
        for (;;) {
            if (!Skip()) return Fail(dict);
            if (at_ == end_) return closer == 0 ? dict : Fail(dict);
            if (*at_ == closer) {
                ++at_;
                return dict;
            }
            CFTypeRef key = Value(depth + 1);  // owned, as is value: the dictionary keeps its own
            if (key == nullptr || CFGetTypeID(key) != CFStringGetTypeID() || !Skip() || at_ == end_) {
                Fail(key);
                return Fail(dict);
            }
            CFTypeRef value = nullptr;
            if (*at_ == ';') {
                value = CFRetain(key);  // a strings file's "key"; stands for "key" = "key";
            } else if (*at_ == '=') {
                ++at_;
                value = Value(depth + 1);
                if (value != nullptr && (!Skip() || at_ == end_ || *at_ != ';')) value = Fail(value);
            }
            if (value == nullptr) {
                CFRelease(key);
                return Fail(dict);
            }
            ++at_;  // the ';'
            CFDictionarySetValue(dict, key, value);
            CFRelease(key);
            CFRelease(value);
        }
    }

    const char *start_;
    const char *at_;
    const char *end_;
};

// ---- Binary, through libplist ----------------------------------------------------------------------

// Owned plist_t, freed when it goes.
struct PlistHolder {
    plist_t node = nullptr;
    ~PlistHolder() {
        if (node != nullptr) plist_free(node);
    }
};

// libplist 2.2 aborts on an assertion when code reads a dictionary key that holds a NUL character,
// which a binary property list can carry; its XML writer handles such keys, so a binary list is read
// through its XML form.
CFTypeRef ParseBinary(const char *bytes, uint32_t length) {
    PlistHolder binary;
    plist_from_bin(bytes, length, &binary.node);
    if (binary.node == nullptr) return nullptr;
    char *xml = nullptr;
    uint32_t xmlLength = 0;
    plist_to_xml(binary.node, &xml, &xmlLength);
    if (xml == nullptr) return nullptr;
    CFTypeRef value = XmlReader(xml, xmlLength).Document();
    plist_to_xml_free(xml);
    return value;
}

// The document's encoding from its XML declaration, transcoded to UTF-8 into *utf8 when it is
// Latin-1; false for an encoding this reader does not know.
bool ToUtf8(const char *bytes, size_t length, std::string *utf8) {
    utf8->assign(bytes, length);
    if (length < 5 || std::memcmp(bytes, "<?xml", 5) != 0) return true;
    const size_t close = utf8->find("?>");
    const size_t at = utf8->find("encoding", 0);
    if (close == std::string::npos || at == std::string::npos || at > close) return true;
    const size_t quote = utf8->find_first_of("\"'", at);
    if (quote == std::string::npos || quote > close) return false;
    const size_t endQuote = utf8->find((*utf8)[quote], quote + 1);
    if (endQuote == std::string::npos || endQuote > close) return false;
    std::string name = utf8->substr(quote + 1, endQuote - quote - 1);
    for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name == "UTF-8" || name == "US-ASCII" || name == "ASCII") return true;
    if (name != "ISO-8859-1" && name != "ISO_8859-1" && name != "LATIN1") return false;
    std::string converted;
    for (size_t i = 0; i < length; ++i) standin::AppendUtf8(static_cast<unsigned char>(bytes[i]), &converted);
    *utf8 = std::move(converted);
    return true;
}

CFTypeRef Parse(const char *bytes, size_t length) {
    if (length >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) {  // a UTF-8 byte-order mark
        bytes += 3;
        length -= 3;
    }
    if (length == 0) return nullptr;
    if (length <= UINT32_MAX && plist_is_binary(bytes, static_cast<uint32_t>(length))) {
        return ParseBinary(bytes, static_cast<uint32_t>(length));
    }
    size_t first = 0;
    while (first < length && IsSpace(bytes[first])) ++first;
    const bool xml = first + 1 < length && bytes[first] == '<' &&
                     (bytes[first + 1] == '?' || bytes[first + 1] == '!' ||
                      std::isalpha(static_cast<unsigned char>(bytes[first + 1])));
    if (!xml) return TextReader(bytes, length).Document();
    std::string utf8;
    if (!ToUtf8(bytes, length, &utf8)) return nullptr;
    return XmlReader(utf8.data(), utf8.size()).Document();
}

// ---- Writing XML -----------------------------------------------------------------------------------

void AppendEscaped(const std::string &text, std::string *out) {
    for (char c : text) {
        switch (c) {
            case '<': *out += "&lt;"; break;
            case '>': *out += "&gt;"; break;
            case '&': *out += "&amp;"; break;
            default: out->push_back(c);  // NUL and every other character as it is
        }
    }
}

void AppendBase64(const __CFData &data, const std::string &indent, std::string *out) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string line;
    const std::vector<UInt8> &b = data.bytes;
    for (size_t i = 0; i < b.size(); i += 3) {
        const uint32_t bits = static_cast<uint32_t>(b[i]) << 16 | (i + 1 < b.size() ? b[i + 1] << 8 : 0) |
                              (i + 2 < b.size() ? b[i + 2] : 0);
        line.push_back(kDigits[bits >> 18 & 63]);
        line.push_back(kDigits[bits >> 12 & 63]);
        line.push_back(i + 1 < b.size() ? kDigits[bits >> 6 & 63] : '=');
        line.push_back(i + 2 < b.size() ? kDigits[bits & 63] : '=');
        if (line.size() == 68) {
            *out += indent + line + "\n";
            line.clear();
        }
    }
    if (!line.empty()) *out += indent + line + "\n";
}

bool Write(CFTypeRef object, int depth, std::string *out) {
    if (object == nullptr || depth > kMaxDepth) return false;
    const std::string indent(static_cast<size_t>(depth), '\t');
    const CFTypeID type = CFGetTypeID(object);
    if (type == CFStringGetTypeID()) {
        *out += indent + "<string>";
        AppendEscaped(standin::Utf8Of(static_cast<CFStringRef>(object)), out);
        *out += "</string>\n";
    } else if (type == CFBooleanGetTypeID()) {
        *out += indent + (CFBooleanGetValue(static_cast<CFBooleanRef>(object)) ? "<true/>\n" : "<false/>\n");
    } else if (type == CFNumberGetTypeID()) {
        CFNumberRef number = static_cast<CFNumberRef>(object);
        char text[64];
        if (CFNumberIsFloatType(number)) {
            double value = 0;
            CFNumberGetValue(number, kCFNumberFloat64Type, &value);
            std::snprintf(text, sizeof text, "%.17g", value);
            *out += indent + "<real>" + text + "</real>\n";
        } else {
            int64_t value = 0;
            CFNumberGetValue(number, kCFNumberSInt64Type, &value);
            std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
            *out += indent + "<integer>" + text + "</integer>\n";
        }
    } else if (type == CFDataGetTypeID()) {
        *out += indent + "<data>\n";
        AppendBase64(*static_cast<const __CFData *>(object), indent, out);
        *out += indent + "</data>\n";
    } else if (type == CFDateGetTypeID()) {
        const double at = CFDateGetAbsoluteTime(static_cast<CFDateRef>(object)) + kUnixTimeOfReferenceDate;
        if (!(at > -6.2e10 && at < 2.5e11)) return false;  // years 0 to 9999
        const time_t seconds = static_cast<time_t>(std::floor(at));
        struct tm parts = {};
        gmtime_r(&seconds, &parts);
        char text[80];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                      parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
        *out += indent + "<date>" + text + "</date>\n";
    } else if (type == CFArrayGetTypeID()) {
        CFArrayRef array = static_cast<CFArrayRef>(object);
        const CFIndex count = CFArrayGetCount(array);
        if (count == 0) {
            *out += indent + "<array/>\n";
            return true;
        }
        *out += indent + "<array>\n";
        for (CFIndex i = 0; i < count; ++i) {
            if (!Write(CFArrayGetValueAtIndex(array, i), depth + 1, out)) return false;
        }
        *out += indent + "</array>\n";
    } else if (type == CFDictionaryGetTypeID()) {
        const auto *dict = static_cast<const __CFDictionary *>(object);
        if (dict->entries.empty()) {
            *out += indent + "<dict/>\n";
            return true;
        }
        // Keys in the order of their UTF-16 code units, as Core Foundation writes them.
        std::vector<std::pair<const __CFString *, CFTypeRef>> entries;
        for (const auto &entry : dict->entries) {
            const __CFString *key = standin::As<__CFString>(entry.first, standin::kTypeString);
            if (key == nullptr) return false;  // only strings can be keys
            entries.emplace_back(key, entry.second);
        }
        std::sort(entries.begin(), entries.end(),
                  [](const auto &a, const auto &b) { return a.first->units < b.first->units; });
        *out += indent + "<dict>\n";
        for (const auto &entry : entries) {
            *out += indent + "\t<key>";
            AppendEscaped(standin::Utf8Of(entry.first), out);
            *out += "</key>\n";
            if (!Write(entry.second, depth + 1, out)) return false;
        }
        *out += indent + "</dict>\n";
    } else {
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef, CFDataRef xmlData, CFOptionFlags,
                                                  CFStringRef *errorString) {
    // The stand-in's containers are always mutable, which every mutability option allows.
    if (errorString != nullptr) *errorString = nullptr;
    const CFIndex length = xmlData != nullptr ? CFDataGetLength(xmlData) : 0;
    CFTypeRef result =
        length > 0 ? Parse(reinterpret_cast<const char *>(CFDataGetBytePtr(xmlData)), static_cast<size_t>(length))
                   : nullptr;
    if (result == nullptr && errorString != nullptr) {
        *errorString =
            CFStringCreateWithCString(kCFAllocatorDefault, "The data is not a property list.", kCFStringEncodingUTF8);
    }
    return result;
}

CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef, CFPropertyListRef propertyList) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n";
    if (!Write(propertyList, 0, &xml)) return nullptr;
    xml += "</plist>\n";
    return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(xml.data()),
                        static_cast<CFIndex>(xml.size()));
}

}  // extern "C"
