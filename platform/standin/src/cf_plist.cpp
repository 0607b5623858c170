// Property lists for the stand-in through libplist: XML and binary forms read into CF objects, CF
// objects written out in Apple's XML form.
#include <plist/plist.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "cf_object.h"

namespace {

// Owned plist_t, freed when it goes.
struct PlistHolder {
    plist_t node = nullptr;
    ~PlistHolder() {
        if (node != nullptr) plist_free(node);
    }
};

const int kMaxDepth = 512;  // deeper nesting is refused rather than recursed into

CFStringRef StringFromUtf8(const char *text, size_t length) {
    std::u16string units;
    if (!standin::DecodeUtf8(text, length, /* lossy */ false, &units)) return nullptr;
    return standin::NewString(std::move(units));
}

// A new CF object for node (the caller releases it), or null when node holds something CF cannot.
CFTypeRef ToCF(plist_t node, int depth) {
    if (node == nullptr || depth > kMaxDepth) return nullptr;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t value = 0;
            plist_get_bool_val(node, &value);
            return value ? kCFBooleanTrue : kCFBooleanFalse;
        }
        case PLIST_UINT: {
            uint64_t value = 0;
            plist_get_uint_val(node, &value);
            const int64_t signedValue = static_cast<int64_t>(value);  // negative integers come back wrapped
            return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &signedValue);
        }
        case PLIST_REAL: {
            double value = 0;
            plist_get_real_val(node, &value);
            return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &value);
        }
        case PLIST_STRING: {
            uint64_t length = 0;
            const char *text = plist_get_string_ptr(node, &length);
            return text != nullptr ? StringFromUtf8(text, static_cast<size_t>(length)) : nullptr;
        }
        case PLIST_DATA: {
            uint64_t length = 0;
            const char *bytes = plist_get_data_ptr(node, &length);
            if (length > static_cast<uint64_t>(LONG_MAX)) return nullptr;
            return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(bytes),
                                bytes != nullptr ? static_cast<CFIndex>(length) : 0);
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            return CFDateCreate(kCFAllocatorDefault, sec + usec / 1e6);
        }
        case PLIST_ARRAY: {
            CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
            const uint32_t count = plist_array_get_size(node);
            for (uint32_t i = 0; i < count; ++i) {
                CFTypeRef item = ToCF(plist_array_get_item(node, i), depth + 1);  // owned: the array retains it
                if (item == nullptr) {
                    CFRelease(array);
                    return nullptr;
                }
                CFArrayAppendValue(array, item);
                CFRelease(item);
            }
            return array;
        }
        case PLIST_DICT: {
            CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
                kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            bool ok = true;
            while (ok) {
                char *key = nullptr;
                plist_t value = nullptr;
                plist_dict_next_item(node, it, &key, &value);
                if (key == nullptr) break;
                CFStringRef cfKey = StringFromUtf8(key, std::char_traits<char>::length(key));
                CFTypeRef cfValue = ToCF(value, depth + 1);
                free(key);
                ok = cfKey != nullptr && cfValue != nullptr;
                if (ok) CFDictionarySetValue(dict, cfKey, cfValue);
                if (cfKey != nullptr) CFRelease(cfKey);
                if (cfValue != nullptr) CFRelease(cfValue);
            }
            free(it);
            if (!ok) {
                CFRelease(dict);
                return nullptr;
            }
            return dict;
        }
        default: return nullptr;  // keys, UIDs and anything else are no CF property-list objects
    }
}

// A new plist node for a CF object (the caller frees it), or null for an object that is none.
plist_t FromCF(CFTypeRef object, int depth) {
    if (object == nullptr || depth > kMaxDepth) return nullptr;
    const CFTypeID type = CFGetTypeID(object);
    if (type == CFStringGetTypeID()) {
        return plist_new_string(standin::Utf8Of(static_cast<CFStringRef>(object)).c_str());
    }
    if (type == CFBooleanGetTypeID()) return plist_new_bool(CFBooleanGetValue(static_cast<CFBooleanRef>(object)));
    if (type == CFNumberGetTypeID()) {
        CFNumberRef number = static_cast<CFNumberRef>(object);
        if (CFNumberIsFloatType(number)) {
            double value = 0;
            CFNumberGetValue(number, kCFNumberFloat64Type, &value);
            return plist_new_real(value);
        }
        int64_t value = 0;
        CFNumberGetValue(number, kCFNumberSInt64Type, &value);
        return plist_new_uint(static_cast<uint64_t>(value));
    }
    if (type == CFDataGetTypeID()) {
        CFDataRef data = static_cast<CFDataRef>(object);
        return plist_new_data(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
                              static_cast<uint64_t>(CFDataGetLength(data)));
    }
    if (type == CFDateGetTypeID()) {
        const double at = CFDateGetAbsoluteTime(static_cast<CFDateRef>(object));
        if (!(at > INT32_MIN && at < INT32_MAX)) return nullptr;
        const int32_t sec = static_cast<int32_t>(at);
        return plist_new_date(sec, static_cast<int32_t>((at - sec) * 1e6));
    }
    if (type == CFArrayGetTypeID()) {
        CFArrayRef array = static_cast<CFArrayRef>(object);
        plist_t node = plist_new_array();
        for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) {
            plist_t item = FromCF(CFArrayGetValueAtIndex(array, i), depth + 1);
            if (item == nullptr) {
                plist_free(node);
                return nullptr;
            }
            plist_array_append_item(node, item);
        }
        return node;
    }
    if (type == CFDictionaryGetTypeID()) {
        CFDictionaryRef dict = static_cast<CFDictionaryRef>(object);
        const CFIndex count = CFDictionaryGetCount(dict);
        std::vector<const void *> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
        CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
        plist_t node = plist_new_dict();
        for (CFIndex i = 0; i < count; ++i) {
            plist_t item = CFGetTypeID(keys[i]) == CFStringGetTypeID() ? FromCF(values[i], depth + 1) : nullptr;
            if (item == nullptr) {
                plist_free(node);
                return nullptr;
            }
            plist_dict_set_item(node, standin::Utf8Of(static_cast<CFStringRef>(keys[i])).c_str(), item);
        }
        return node;
    }
    return nullptr;
}

// Parses XML or binary property-list bytes into *out (null when they are none). libplist 2.2 aborts
// on an assertion when code reads a dictionary key that holds a NUL character, which a binary property
// list can carry; its XML writer and reader handle such keys, so binary input is read through its XML
// form.
void ParseBytes(const char *bytes, uint32_t length, plist_t *out) {
    *out = nullptr;
    if (!plist_is_binary(bytes, length)) {
        plist_from_xml(bytes, length, out);
        return;
    }
    PlistHolder binary;
    plist_from_bin(bytes, length, &binary.node);
    if (binary.node == nullptr) return;
    char *xml = nullptr;
    uint32_t xmlLength = 0;
    plist_to_xml(binary.node, &xml, &xmlLength);
    if (xml == nullptr) return;
    plist_from_xml(xml, xmlLength, out);
    plist_to_xml_free(xml);
}

}  // namespace

extern "C" {

CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef, CFDataRef xmlData, CFOptionFlags,
                                                  CFStringRef *errorString) {
    // The stand-in's containers are always mutable, which every mutability option allows.
    if (errorString != nullptr) *errorString = nullptr;
    CFTypeRef result = nullptr;
    const CFIndex length = xmlData != nullptr ? CFDataGetLength(xmlData) : 0;
    if (length > 0 && length <= static_cast<CFIndex>(UINT32_MAX)) {
        PlistHolder parsed;
        ParseBytes(reinterpret_cast<const char *>(CFDataGetBytePtr(xmlData)), static_cast<uint32_t>(length),
                   &parsed.node);
        result = ToCF(parsed.node, 0);
    }
    if (result == nullptr && errorString != nullptr) {
        *errorString =
            CFStringCreateWithCString(kCFAllocatorDefault, "The data is not a property list.", kCFStringEncodingUTF8);
    }
    return result;
}

CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef, CFPropertyListRef propertyList) {
    PlistHolder node;
    node.node = FromCF(propertyList, 0);
    if (node.node == nullptr) return nullptr;
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node.node, &xml, &length);
    if (xml == nullptr) return nullptr;
    CFDataRef data = CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(xml), length);
    plist_to_xml_free(xml);
    return data;
}

}  // extern "C"
