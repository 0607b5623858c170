// CFData and CFDictionary for the stand-in.
#include "cf_object.h"

#include <cstring>

using standin::As;
using standin::kTypeData;
using standin::kTypeDictionary;

bool __CFData::Equals(const CFObject &other) const { return bytes == static_cast<const __CFData &>(other).bytes; }

__CFDictionary::~__CFDictionary() {
    if (!retainsEntries) return;
    for (auto &entry : entries) {
        CFRelease(entry.first);
        CFRelease(entry.second);
    }
}

bool __CFDictionary::Equals(const CFObject &other) const {
    const auto &that = static_cast<const __CFDictionary &>(other);
    if (entries.size() != that.entries.size()) return false;
    for (const auto &entry : entries) {
        const void *value = CFDictionaryGetValue(&that, entry.first);
        if (value == nullptr || !CFEqual(value, entry.second)) return false;
    }
    return true;
}

namespace {
bool KeysEqual(const __CFDictionary *dict, CFTypeRef a, CFTypeRef b) {
    return dict->retainsEntries ? (a == b || CFEqual(a, b)) : a == b;
}
}  // namespace

extern "C" {

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0, nullptr, nullptr, nullptr, nullptr, nullptr};
const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks = {0, nullptr, nullptr, nullptr, nullptr, nullptr};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, nullptr, nullptr, nullptr, nullptr};

CFTypeID CFDataGetTypeID(void) { return standin::kTypeData; }

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8 *bytes, CFIndex length) {
    if (length < 0 || (bytes == nullptr && length != 0)) return nullptr;
    auto *data = new __CFData();
    if (length > 0) data->bytes.assign(bytes, bytes + length);
    return data;
}

CFIndex CFDataGetLength(CFDataRef theData) {
    standin::RequireArgument(theData, "CFDataGetLength");
    const __CFData *d = As<__CFData>(theData, kTypeData);
    return d != nullptr ? static_cast<CFIndex>(d->bytes.size()) : 0;
}

const UInt8 *CFDataGetBytePtr(CFDataRef theData) {
    const __CFData *d = As<__CFData>(theData, kTypeData);
    if (d == nullptr || d->bytes.empty()) return nullptr;  // as Core Foundation gives for empty data
    return d->bytes.data();
}

void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8 *buffer) {
    const __CFData *d = As<__CFData>(theData, kTypeData);
    if (d == nullptr || buffer == nullptr || range.location < 0 || range.length <= 0) return;
    const CFIndex size = static_cast<CFIndex>(d->bytes.size());
    if (range.location > size || range.length > size - range.location) {
        standin::CrashAsCoreFoundationWould("CFDataGetBytes", "range past the end of the data");
    }
    std::memcpy(buffer, d->bytes.data() + range.location, static_cast<size_t>(range.length));
}

CFTypeID CFDictionaryGetTypeID(void) { return standin::kTypeDictionary; }

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks *keyCallBacks,
                                                 const CFDictionaryValueCallBacks *) {
    auto *dict = new __CFDictionary();
    // Without key callbacks the entries are plain pointers: neither retained nor compared by value.
    dict->retainsEntries = keyCallBacks != nullptr;
    return dict;
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void **keys, const void **values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks *keyCallBacks,
                                   const CFDictionaryValueCallBacks *valueCallBacks) {
    if (numValues < 0 || (numValues > 0 && (keys == nullptr || values == nullptr))) return nullptr;
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(allocator, numValues, keyCallBacks, valueCallBacks);
    for (CFIndex i = 0; i < numValues; ++i) CFDictionarySetValue(dict, keys[i], values[i]);
    return dict;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
    const __CFDictionary *d = As<__CFDictionary>(theDict, kTypeDictionary);
    return d != nullptr ? static_cast<CFIndex>(d->entries.size()) : 0;
}

const void *CFDictionaryGetValue(CFDictionaryRef theDict, const void *key) {
    standin::RequireArgument(theDict, "CFDictionaryGetValue");
    const __CFDictionary *d = As<__CFDictionary>(theDict, kTypeDictionary);
    if (d == nullptr || key == nullptr) return nullptr;
    for (const auto &entry : d->entries) {
        if (KeysEqual(d, entry.first, key)) return entry.second;
    }
    return nullptr;
}

void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void *key, const void *value) {
    auto *d = const_cast<__CFDictionary *>(As<__CFDictionary>(theDict, kTypeDictionary));
    if (d == nullptr || key == nullptr || value == nullptr) return;
    if (d->retainsEntries) CFRetain(value);
    for (auto &entry : d->entries) {
        if (KeysEqual(d, entry.first, key)) {
            if (d->retainsEntries) CFRelease(entry.second);
            entry.second = value;
            return;
        }
    }
    if (d->retainsEntries) CFRetain(key);
    d->entries.emplace_back(key, value);
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void *key) {
    auto *d = const_cast<__CFDictionary *>(As<__CFDictionary>(theDict, kTypeDictionary));
    if (d == nullptr || key == nullptr) return;
    for (auto it = d->entries.begin(); it != d->entries.end(); ++it) {
        if (KeysEqual(d, it->first, key)) {
            if (d->retainsEntries) {
                CFRelease(it->first);
                CFRelease(it->second);
            }
            d->entries.erase(it);
            return;
        }
    }
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void **keys, const void **values) {
    const __CFDictionary *d = As<__CFDictionary>(theDict, kTypeDictionary);
    if (d == nullptr) return;
    size_t i = 0;
    for (const auto &entry : d->entries) {
        if (keys != nullptr) keys[i] = entry.first;
        if (values != nullptr) values[i] = entry.second;
        ++i;
    }
}

}  // extern "C"
