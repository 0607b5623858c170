// Internal object model of the Core Foundation stand-in: every CF object is a reference-counted
// CFObject with a type identifier; the live count backs the tests' leak checks.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace standin {

enum TypeId : CFTypeID {
    kTypeAllocator = 2,
    kTypeString = 7,
    kTypeDictionary = 18,
    kTypeArray = 19,
    kTypeData = 20,
    kTypeBoolean = 21,
    kTypeNumber = 22,
    kTypeURL = 29,
    kTypeBundle = 31,
    kTypeDate = 42,
};

struct CFObject {
    explicit CFObject(CFTypeID type);
    virtual ~CFObject();
    CFObject(const CFObject &) = delete;
    CFObject &operator=(const CFObject &) = delete;

    virtual bool Equals(const CFObject &other) const { return this == &other; }
    virtual CFHashCode Hash() const { return reinterpret_cast<CFHashCode>(this); }

    const CFTypeID type;
    std::atomic<long> refCount{1};
    bool immortal = false;  // constants: retain and release do nothing, never counted as live
};

// Marks an object as a process-lifetime constant and takes it out of the live count.
void MakeImmortal(CFObject *object);

// Where Core Foundation crashes (a null argument it never checks, a range past the end), the stand-in
// stops the process with a message naming the call, so that no test passes over such a call.
[[noreturn]] void CrashAsCoreFoundationWould(const char *call, const char *what);
inline void RequireArgument(const void *argument, const char *call) {
    if (argument == nullptr) CrashAsCoreFoundationWould(call, "NULL argument");
}

inline const CFObject *AsObject(CFTypeRef ref) { return static_cast<const CFObject *>(ref); }
inline CFObject *AsMutableObject(CFTypeRef ref) { return const_cast<CFObject *>(AsObject(ref)); }

// The object behind ref when it is of the given type, else null.
template <typename T>
const T *As(CFTypeRef ref, CFTypeID type) {
    const CFObject *object = AsObject(ref);
    return (object != nullptr && object->type == type) ? static_cast<const T *>(object) : nullptr;
}

}  // namespace standin

struct __CFString : standin::CFObject {
    __CFString() : CFObject(standin::kTypeString) {}
    bool Equals(const CFObject &other) const override;
    CFHashCode Hash() const override;
    std::u16string units;
};

struct __CFData : standin::CFObject {
    __CFData() : CFObject(standin::kTypeData) {}
    bool Equals(const CFObject &other) const override;
    std::vector<UInt8> bytes;
};

struct __CFDictionary : standin::CFObject {
    __CFDictionary() : CFObject(standin::kTypeDictionary) {}
    ~__CFDictionary() override;
    bool Equals(const CFObject &other) const override;
    bool retainsEntries = true;  // false only for dictionaries made without CF type callbacks
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
};

struct __CFArray : standin::CFObject {
    __CFArray() : CFObject(standin::kTypeArray) {}
    ~__CFArray() override;
    bool Equals(const CFObject &other) const override;
    bool retainsValues = true;  // false only for arrays made without CF type callbacks
    std::vector<CFTypeRef> values;
};

struct __CFNumber : standin::CFObject {
    __CFNumber() : CFObject(standin::kTypeNumber) {}
    bool Equals(const CFObject &other) const override;
    bool isFloat = false;
    int64_t integer = 0;
    double real = 0;
};

struct __CFBoolean : standin::CFObject {
    explicit __CFBoolean(bool v) : CFObject(standin::kTypeBoolean), value(v) {}
    const bool value;
};

struct __CFDate : standin::CFObject {
    __CFDate() : CFObject(standin::kTypeDate) {}
    bool Equals(const CFObject &other) const override;
    double at = 0;
};

struct __CFURL : standin::CFObject {
    __CFURL() : CFObject(standin::kTypeURL) {}
    bool Equals(const CFObject &other) const override;
    std::string path;  // absolute, in file-system representation
    bool isDirectory = false;
};

struct __CFBundle : standin::CFObject {
    __CFBundle() : CFObject(standin::kTypeBundle) {}
    ~__CFBundle() override;
    std::string path;                  // the bundle folder
    CFDictionaryRef info = nullptr;    // owned
    CFStringRef identifier = nullptr;  // borrowed from info
};

namespace standin {

// UTF-8 text of a CF string, with unpaired surrogates as U+FFFD.
std::string Utf8Of(CFStringRef string);
// Appends the UTF-8 form of a code point (below U+110000) to out.
void AppendUtf8(char32_t cp, std::string *out);
// New CF string (refcount 1) from UTF-16 units.
CFStringRef NewString(std::u16string units);
// New CF string (refcount 1) from bytes taken as UTF-8; each byte that is not becomes U+FFFD.
CFStringRef NewStringLossy(const std::string &bytes);

// New file URL for path bytes (a relative path is taken against the working folder), or null.
CFURLRef NewFileURL(std::string path, bool isDirectory);
// The path of a file URL, borrowed from it; null for anything else.
const std::string *PathOf(CFURLRef url);
// Decodes bytes as UTF-8 into UTF-16. Strict: false for any invalid sequence. Lossy: each bad byte
// becomes U+FFFD and the result is always true.
bool DecodeUtf8(const char *bytes, size_t length, bool lossy, std::u16string *out);

}  // namespace standin
