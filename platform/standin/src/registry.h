// The stand-in's I/O Kit registry: services with a class name and CF properties, loaded from the live
// machine one class at a time when a lookup first asks for it, or installed whole by a test.
#pragma once

#include "cf_object.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace standin {

struct RegistryService {
    RegistryService() = default;
    RegistryService(const RegistryService &) = delete;
    RegistryService &operator=(const RegistryService &) = delete;
    ~RegistryService();

    // Takes ownership of key and value.
    void Add(CFStringRef key, CFTypeRef value);

    // True when name is this service's class or one of its superclasses, as I/O Kit matches.
    bool IsKindOf(const std::string &name) const;

    std::string className;
    std::vector<std::string> superclasses;                      // nearest first
    std::vector<std::pair<CFStringRef, CFTypeRef>> properties;  // owned
};

using ServiceList = std::vector<std::shared_ptr<RegistryService>>;

// The live machine's services of className, read below root, with those of the classes that come
// from the same source (the disk classes share one); every class loaded is added to loaded. Classes
// the machine has no source for give an empty list.
ServiceList LoadLiveServices(const std::string &root, const std::string &className, std::set<std::string> *loaded);

// The root folder the live registry reads below ("/" unless a test chose another).
std::string LiveRegistryRoot();

// The machine's maker read below root: the DMI system vendor without its trailing newline, or where
// there is no DMI, the text before the first comma of the device tree's first "compatible" entry.
// Empty when neither is there.
std::string ReadLiveComputerMake(const std::string &root);

}  // namespace standin
