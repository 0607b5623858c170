// Reference counting, type identifiers and equality for the Core Foundation stand-in.
#include "cf_object.h"
#include "standin_testing.h"

#include <climits>

namespace standin {
namespace {
std::atomic<long> gLiveObjects{0};
}

CFObject::CFObject(CFTypeID t) : type(t) { gLiveObjects.fetch_add(1, std::memory_order_relaxed); }

CFObject::~CFObject() {
    if (!immortal) gLiveObjects.fetch_sub(1, std::memory_order_relaxed);
}

void MakeImmortal(CFObject *object) {
    if (object == nullptr || object->immortal) return;
    object->immortal = true;
    gLiveObjects.fetch_sub(1, std::memory_order_relaxed);
}

long LiveObjectCount() { return gLiveObjects.load(std::memory_order_relaxed); }

}  // namespace standin

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;  // as on macOS: NULL means the default allocator

CFTypeID CFGetTypeID(CFTypeRef cf) {
    const standin::CFObject *object = standin::AsObject(cf);
    return object != nullptr ? object->type : 0;
}

CFTypeRef CFRetain(CFTypeRef cf) {
    standin::CFObject *object = standin::AsMutableObject(cf);
    if (object != nullptr && !object->immortal) object->refCount.fetch_add(1, std::memory_order_relaxed);
    return cf;
}

void CFRelease(CFTypeRef cf) {
    standin::CFObject *object = standin::AsMutableObject(cf);
    if (object == nullptr || object->immortal) return;
    if (object->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete object;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    const standin::CFObject *object = standin::AsObject(cf);
    if (object == nullptr) return 0;
    return object->immortal ? LONG_MAX : object->refCount.load(std::memory_order_relaxed);
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
    if (cf1 == cf2) return cf1 != nullptr;
    const standin::CFObject *a = standin::AsObject(cf1);
    const standin::CFObject *b = standin::AsObject(cf2);
    if (a == nullptr || b == nullptr || a->type != b->type) return false;
    return a->Equals(*b);
}

CFHashCode CFHash(CFTypeRef cf) {
    const standin::CFObject *object = standin::AsObject(cf);
    return object != nullptr ? object->Hash() : 0;
}

}  // extern "C"
