// Reference counting, type identifiers and equality for the Core Foundation stand-in.
#include "cf_object.h"
#include "standin_testing.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

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

void CrashAsCoreFoundationWould(const char *call, const char *what) {
    std::fprintf(stderr, "%s: %s: Core Foundation would crash here\n", call, what);
    std::abort();
}

}  // namespace standin

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;  // as on macOS: NULL means the default allocator

CFTypeID CFGetTypeID(CFTypeRef cf) {
    standin::RequireArgument(cf, "CFGetTypeID");
    return standin::AsObject(cf)->type;
}

CFTypeRef CFRetain(CFTypeRef cf) {
    standin::RequireArgument(cf, "CFRetain");
    standin::CFObject *object = standin::AsMutableObject(cf);
    if (!object->immortal) object->refCount.fetch_add(1, std::memory_order_relaxed);
    return cf;
}

void CFRelease(CFTypeRef cf) {
    standin::RequireArgument(cf, "CFRelease");
    standin::CFObject *object = standin::AsMutableObject(cf);
    if (object->immortal) return;
    if (object->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete object;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    const standin::CFObject *object = standin::AsObject(cf);
    if (object == nullptr) return 0;
    return object->immortal ? LONG_MAX : object->refCount.load(std::memory_order_relaxed);
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
    standin::RequireArgument(cf1, "CFEqual");
    standin::RequireArgument(cf2, "CFEqual");
    if (cf1 == cf2) return true;
    const standin::CFObject *a = standin::AsObject(cf1);
    const standin::CFObject *b = standin::AsObject(cf2);
    if (a->type != b->type) return false;
    return a->Equals(*b);
}

CFHashCode CFHash(CFTypeRef cf) {
    const standin::CFObject *object = standin::AsObject(cf);
    return object != nullptr ? object->Hash() : 0;
}

}  // extern "C"
