// The stand-in's I/O Kit registry: services with a class name and CF properties, read from the live
// machine one class at a time, and one service at a time as lookups advance, or installed whole by
// a test.
#pragma once

#include "cf_object.h"

#include <map>
#include <memory>
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

// Gives a class's live services one at a time, in registry order, reading each only when asked.
class ServiceSource {
  public:
    virtual ~ServiceSource() = default;
    // The next service, or null once there are no more.
    virtual std::shared_ptr<RegistryService> Next() = 0;
};

// A live class: the services read so far, and the source of the rest (null once it is spent).
struct LiveClass {
    ServiceList services;
    std::unique_ptr<ServiceSource> source;
};
using LiveClasses = std::map<std::string, std::shared_ptr<LiveClass>>;

// Opens the live machine's class className, read below root, and the classes that come from the same
// source (the disk classes share one walk of /sys/block), adding each to classes. A class the machine
// has no source for is added with no services.
void OpenLiveClasses(const std::string &root, const std::string &className, LiveClasses *classes);

// The root folder the live registry reads below ("/" unless a test chose another).
std::string LiveRegistryRoot();

// The machine's maker read below root: the DMI system vendor without its trailing newline, else the
// board's vendor (a firmware filler such as "To Be Filled By O.E.M." names nothing), or where there is
// no DMI, the text before the first comma of the device tree's first "compatible" entry. Empty when
// none of them names a maker.
std::string ReadLiveComputerMake(const std::string &root);

}  // namespace standin
