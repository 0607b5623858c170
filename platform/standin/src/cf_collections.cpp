// CFArray, CFNumber, CFBoolean and CFDate for the stand-in.
#include <cmath>
#include <cstring>

#include "cf_object.h"

using standin::As;

__CFArray::~__CFArray() {
    if (!retainsValues) return;
    for (CFTypeRef value : values) CFRelease(value);
}

bool __CFArray::Equals(const CFObject &other) const {
    const auto &that = static_cast<const __CFArray &>(other);
    if (values.size() != that.values.size()) return false;
    for (size_t i = 0; i < values.size(); ++i) {
        if (!CFEqual(values[i], that.values[i])) return false;
    }
    return true;
}

bool __CFNumber::Equals(const CFObject &other) const {
    const auto &that = static_cast<const __CFNumber &>(other);
    const double a = isFloat ? real : static_cast<double>(integer);
    const double b = that.isFloat ? that.real : static_cast<double>(that.integer);
    if (!isFloat && !that.isFloat) return integer == that.integer;
    return a == b;
}

bool __CFDate::Equals(const CFObject &other) const { return at == static_cast<const __CFDate &>(other).at; }

namespace {

__CFBoolean *MakeConstantBoolean(bool value) {
    auto *boolean = new __CFBoolean(value);
    standin::MakeImmortal(boolean);
    return boolean;
}

template <typename T>
bool Load(const void *p, T *out) {
    std::memcpy(out, p, sizeof *out);
    return true;
}

// Stores value as type theType at valuePtr; false when the value does not fit exactly.
template <typename T>
bool StoreInteger(int64_t value, void *valuePtr) {
    const T narrowed = static_cast<T>(value);
    std::memcpy(valuePtr, &narrowed, sizeof narrowed);
    return static_cast<int64_t>(narrowed) == value;
}

}  // namespace

extern "C" {

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, nullptr, nullptr, nullptr, nullptr};
const CFBooleanRef kCFBooleanTrue = MakeConstantBoolean(true);
const CFBooleanRef kCFBooleanFalse = MakeConstantBoolean(false);

CFTypeID CFArrayGetTypeID(void) { return standin::kTypeArray; }

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex, const CFArrayCallBacks *callBacks) {
    auto *array = new __CFArray();
    array->retainsValues = callBacks != nullptr;
    return array;
}

CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const void **values, CFIndex numValues,
                         const CFArrayCallBacks *callBacks) {
    if (numValues < 0 || (numValues > 0 && values == nullptr)) return nullptr;
    CFMutableArrayRef array = CFArrayCreateMutable(allocator, numValues, callBacks);
    for (CFIndex i = 0; i < numValues; ++i) CFArrayAppendValue(array, values[i]);
    return array;
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
    const __CFArray *a = As<__CFArray>(theArray, standin::kTypeArray);
    return a != nullptr ? static_cast<CFIndex>(a->values.size()) : 0;
}

const void *CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
    const __CFArray *a = As<__CFArray>(theArray, standin::kTypeArray);
    if (a == nullptr || idx < 0 || static_cast<size_t>(idx) >= a->values.size()) return nullptr;
    return a->values[static_cast<size_t>(idx)];
}

void CFArrayAppendValue(CFMutableArrayRef theArray, const void *value) {
    auto *a = const_cast<__CFArray *>(As<__CFArray>(theArray, standin::kTypeArray));
    if (a == nullptr) return;
    if (a->retainsValues && value != nullptr) CFRetain(value);
    a->values.push_back(value);
}

CFTypeID CFBooleanGetTypeID(void) { return standin::kTypeBoolean; }

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    const __CFBoolean *b = As<__CFBoolean>(boolean, standin::kTypeBoolean);
    return b != nullptr && b->value;
}

CFTypeID CFNumberGetTypeID(void) { return standin::kTypeNumber; }

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void *valuePtr) {
    if (valuePtr == nullptr) return nullptr;
    auto *number = new __CFNumber();
    switch (theType) {
        case kCFNumberSInt8Type:
        case kCFNumberCharType: {
            int8_t v;
            Load(valuePtr, &v);
            number->integer = v;
            break;
        }
        case kCFNumberSInt16Type:
        case kCFNumberShortType: {
            int16_t v;
            Load(valuePtr, &v);
            number->integer = v;
            break;
        }
        case kCFNumberSInt32Type:
        case kCFNumberIntType: {
            int32_t v;
            Load(valuePtr, &v);
            number->integer = v;
            break;
        }
        case kCFNumberSInt64Type:
        case kCFNumberLongType:
        case kCFNumberLongLongType:
        case kCFNumberCFIndexType:
        case kCFNumberNSIntegerType: {
            int64_t v;
            Load(valuePtr, &v);
            number->integer = v;
            break;
        }
        case kCFNumberFloat32Type:
        case kCFNumberFloatType: {
            float v;
            Load(valuePtr, &v);
            number->isFloat = true;
            number->real = v;
            break;
        }
        case kCFNumberFloat64Type:
        case kCFNumberDoubleType:
        case kCFNumberCGFloatType: {
            double v;
            Load(valuePtr, &v);
            number->isFloat = true;
            number->real = v;
            break;
        }
        default: delete number; return nullptr;
    }
    return number;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr) {
    const __CFNumber *n = As<__CFNumber>(number, standin::kTypeNumber);
    if (n == nullptr || valuePtr == nullptr) return false;
    const bool isFloatTarget = theType == kCFNumberFloat32Type || theType == kCFNumberFloatType ||
                               theType == kCFNumberFloat64Type || theType == kCFNumberDoubleType ||
                               theType == kCFNumberCGFloatType;
    if (isFloatTarget) {
        const double v = n->isFloat ? n->real : static_cast<double>(n->integer);
        if (theType == kCFNumberFloat32Type || theType == kCFNumberFloatType) {
            const float f = static_cast<float>(v);
            std::memcpy(valuePtr, &f, sizeof f);
            return static_cast<double>(f) == v;
        }
        std::memcpy(valuePtr, &v, sizeof v);
        return true;
    }
    int64_t v = n->integer;
    bool exact = true;
    if (n->isFloat) {
        exact = std::isfinite(n->real) && std::trunc(n->real) == n->real && std::fabs(n->real) < 9.2e18;
        v = std::isfinite(n->real) && std::fabs(n->real) < 9.2e18 ? static_cast<int64_t>(n->real) : 0;
    }
    switch (theType) {
        case kCFNumberSInt8Type:
        case kCFNumberCharType: return StoreInteger<int8_t>(v, valuePtr) && exact;
        case kCFNumberSInt16Type:
        case kCFNumberShortType: return StoreInteger<int16_t>(v, valuePtr) && exact;
        case kCFNumberSInt32Type:
        case kCFNumberIntType: return StoreInteger<int32_t>(v, valuePtr) && exact;
        case kCFNumberSInt64Type:
        case kCFNumberLongType:
        case kCFNumberLongLongType:
        case kCFNumberCFIndexType:
        case kCFNumberNSIntegerType: return StoreInteger<int64_t>(v, valuePtr) && exact;
        default: return false;
    }
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
    const __CFNumber *n = As<__CFNumber>(number, standin::kTypeNumber);
    return n != nullptr && n->isFloat;
}

CFTypeID CFDateGetTypeID(void) { return standin::kTypeDate; }

CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime at) {
    auto *date = new __CFDate();
    date->at = at;
    return date;
}

CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate) {
    const __CFDate *d = As<__CFDate>(theDate, standin::kTypeDate);
    return d != nullptr ? d->at : 0;
}

}  // extern "C"
