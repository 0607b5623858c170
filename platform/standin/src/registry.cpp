// I/O Kit registry calls of the stand-in: master port, matching, iteration, property reads and
// handle release, over services from the live machine or a test's installed registry.
#include "registry.h"

#include <IOKit/IOKitLib.h>
#include <mach/mach.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "standin_testing.h"

namespace standin {

RegistryService::~RegistryService() {
    for (auto &property : properties) {
        CFRelease(property.first);
        CFRelease(property.second);
    }
}

void RegistryService::Add(CFStringRef key, CFTypeRef value) {
    if (key == nullptr || value == nullptr) {
        if (key != nullptr) CFRelease(key);
        if (value != nullptr) CFRelease(value);
        return;
    }
    properties.emplace_back(key, value);
}

bool RegistryService::IsKindOf(const std::string &name) const {
    return className == name || std::find(superclasses.begin(), superclasses.end(), name) != superclasses.end();
}

namespace {

constexpr mach_port_t kMasterPort = 0x0B03;

struct Handle {
    std::shared_ptr<RegistryService> service;  // a service handle
    ServiceList items;                         // an iterator's services, in an installed registry
    std::shared_ptr<LiveClass> live;           // an iterator's services, on the live machine
    size_t next = 0;
    bool isIterator = false;
    long refs = 1;
};

struct State {
    std::mutex mutex;
    bool installed = false;
    std::string root = "/";
    LiveClasses liveClasses;
    ServiceList services;  // the installed registry
    std::map<io_object_t, Handle> handles;
    io_object_t nextHandle = 0x2003;
    kern_return_t masterPortResult = KERN_SUCCESS;
    long masterPorts = 0;  // rights handed out by IOMasterPort and not yet deallocated
};

State &GetState() {
    static auto *state = new State();  // lives for the process; nothing to tear down at exit
    return *state;
}

io_object_t NewHandle(State &state, Handle handle) {
    io_object_t id = state.nextHandle;
    state.nextHandle += 4;
    if (state.nextHandle < 0x2003) state.nextHandle = 0x2003;
    state.handles.emplace(id, std::move(handle));
    return id;
}

// The installed registry's services of one class or its subclasses, in registry order.
ServiceList Match(const State &state, const std::string &className) {
    ServiceList matches;
    for (const auto &service : state.services) {
        if (service->IsKindOf(className)) matches.push_back(service);
    }
    return matches;
}

// The live machine's class, opened on first use.
std::shared_ptr<LiveClass> LiveClassOf(State &state, const std::string &className) {
    if (state.liveClasses.count(className) == 0) OpenLiveClasses(state.root, className, &state.liveClasses);
    std::shared_ptr<LiveClass> &live = state.liveClasses[className];
    if (!live) live = std::make_shared<LiveClass>();
    return live;
}

// The live class's service at position, reading services from its source up to there; null past the end.
std::shared_ptr<RegistryService> LiveServiceAt(LiveClass &live, size_t position) {
    while (live.services.size() <= position && live.source) {
        std::shared_ptr<RegistryService> service = live.source->Next();
        if (service) {
            live.services.push_back(std::move(service));
        } else {
            live.source.reset();
        }
    }
    return position < live.services.size() ? live.services[position] : nullptr;
}

// The class a matching dictionary asks for, and one reference to the dictionary consumed.
std::string ConsumeMatching(CFDictionaryRef matching) {
    std::string className;
    if (matching == nullptr) return className;
    const void *value = CFDictionaryGetValue(matching, CFSTR("IOProviderClass"));
    if (value != nullptr && CFGetTypeID(value) == CFStringGetTypeID()) {
        className = Utf8Of(static_cast<CFStringRef>(value));
    }
    CFRelease(matching);
    return className;
}

CFTypeRef MakeProperty(const Property &property) {
    switch (property.kind) {
        case Property::Kind::kString: return NewStringLossy(property.bytes);
        case Property::Kind::kUtf16String: return NewString(property.units);
        case Property::Kind::kData:
            return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(property.bytes.data()),
                                static_cast<CFIndex>(property.bytes.size()));
        case Property::Kind::kDictionary: {
            CFMutableDictionaryRef dictionary = CFDictionaryCreateMutable(
                kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
            for (const auto &entry : property.entries) {
                CFStringRef key = CFStringCreateWithCString(kCFAllocatorDefault, entry.first.c_str(),
                                                            kCFStringEncodingUTF8);  // owned: released below
                CFTypeRef value = MakeProperty(entry.second);                        // owned: released below
                if (key != nullptr && value != nullptr) CFDictionarySetValue(dictionary, key, value);
                if (key != nullptr) CFRelease(key);
                if (value != nullptr) CFRelease(value);
            }
            return dictionary;
        }
        case Property::Kind::kBoolean: return CFRetain(property.flag ? kCFBooleanTrue : kCFBooleanFalse);
    }
    return nullptr;
}

}  // namespace

long LiveHandleCount() {
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return static_cast<long>(state.handles.size());
}

void InstallRegistry(const std::vector<Service> &services) {
    ServiceList list;
    for (const auto &described : services) {
        auto service = std::make_shared<RegistryService>();
        service->className = described.className;
        service->superclasses = described.superclasses;
        for (const auto &property : described.properties) {
            service->Add(CFStringCreateWithCString(kCFAllocatorDefault, property.first.c_str(), kCFStringEncodingUTF8),
                         MakeProperty(property.second));
        }
        list.push_back(std::move(service));
    }
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.installed = true;
    state.services = std::move(list);
}

std::string LiveRegistryRoot() {
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.root;
}

void UseLiveRegistry(const std::string &root) {
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.installed = false;
    std::string(root).swap(state.root);  // no capacity kept from a longer root before
    state.liveClasses.clear();
    standin::ServiceList().swap(state.services);  // its memory too: a test ends as it began
}

long LiveMasterPortCount() {
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.masterPorts;
}

void SetMasterPortResult(kern_return_t result) {
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.masterPortResult = result;
}

}  // namespace standin

using standin::GetState;
using standin::State;

extern "C" {

const mach_port_t kIOMasterPortDefault = MACH_PORT_NULL;

kern_return_t IOMasterPort(mach_port_t, mach_port_t *masterPort) {
    if (masterPort == nullptr) return KERN_INVALID_ARGUMENT;
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    *masterPort = state.masterPortResult == KERN_SUCCESS ? standin::kMasterPort : MACH_PORT_NULL;
    if (state.masterPortResult == KERN_SUCCESS) ++state.masterPorts;
    return state.masterPortResult;
}

mach_port_t mach_task_self_ = 0x0103;

kern_return_t mach_port_deallocate(ipc_space_t task, mach_port_name_t name) {
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (task != mach_task_self_ || name != standin::kMasterPort || state.masterPorts == 0) return KERN_INVALID_ARGUMENT;
    --state.masterPorts;
    return KERN_SUCCESS;
}

CFMutableDictionaryRef IOServiceMatching(const char *name) {
    if (name == nullptr) return nullptr;
    CFStringRef className = CFStringCreateWithCString(kCFAllocatorDefault, name, kCFStringEncodingUTF8);
    if (className == nullptr) return nullptr;
    CFMutableDictionaryRef matching = CFDictionaryCreateMutable(kCFAllocatorDefault, 1, &kCFTypeDictionaryKeyCallBacks,
                                                                &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(matching, CFSTR("IOProviderClass"), className);
    CFRelease(className);  // owned: the dictionary keeps its own reference
    return matching;
}

io_service_t IOServiceGetMatchingService(mach_port_t, CFDictionaryRef matching) {
    std::string className = standin::ConsumeMatching(matching);
    if (className.empty()) return IO_OBJECT_NULL;
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    standin::Handle handle;
    if (state.installed) {
        standin::ServiceList matches = standin::Match(state, className);
        if (!matches.empty()) handle.service = matches.front();
    } else {
        handle.service = standin::LiveServiceAt(*standin::LiveClassOf(state, className), 0);
    }
    if (!handle.service) return IO_OBJECT_NULL;
    return standin::NewHandle(state, std::move(handle));
}

kern_return_t IOServiceGetMatchingServices(mach_port_t, CFDictionaryRef matching, io_iterator_t *existing) {
    std::string className = standin::ConsumeMatching(matching);
    if (existing == nullptr) return kIOReturnBadArgument;
    *existing = IO_OBJECT_NULL;
    if (className.empty()) return kIOReturnBadArgument;
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    standin::Handle handle;
    handle.isIterator = true;
    if (state.installed) {
        handle.items = standin::Match(state, className);
    } else {
        handle.live = standin::LiveClassOf(state, className);
    }
    *existing = standin::NewHandle(state, std::move(handle));
    return KERN_SUCCESS;
}

io_object_t IOIteratorNext(io_iterator_t iterator) {
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto found = state.handles.find(iterator);
    if (found == state.handles.end() || !found->second.isIterator) return IO_OBJECT_NULL;
    standin::Handle &it = found->second;
    standin::Handle handle;
    if (it.live) {
        handle.service = standin::LiveServiceAt(*it.live, it.next);
    } else if (it.next < it.items.size()) {
        handle.service = it.items[it.next];
    }
    if (!handle.service) return IO_OBJECT_NULL;
    ++it.next;
    return standin::NewHandle(state, std::move(handle));
}

kern_return_t IOObjectRetain(io_object_t object) {
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto found = state.handles.find(object);
    if (found == state.handles.end()) return KERN_INVALID_ARGUMENT;
    ++found->second.refs;
    return KERN_SUCCESS;
}

kern_return_t IOObjectRelease(io_object_t object) {
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto found = state.handles.find(object);
    if (found == state.handles.end()) return KERN_INVALID_ARGUMENT;
    if (--found->second.refs == 0) state.handles.erase(found);
    return KERN_SUCCESS;
}

CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef, IOOptionBits) {
    if (key == nullptr) return nullptr;
    State &state = GetState();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto found = state.handles.find(entry);
    if (found == state.handles.end() || found->second.isIterator) return nullptr;
    for (const auto &property : found->second.service->properties) {
        if (CFEqual(property.first, key)) return CFRetain(property.second);
    }
    return nullptr;
}

}  // extern "C"
