#pragma once
// Owned handles of the macOS backend: a Core Foundation reference released
// exactly once, an IOKit object released exactly once, and the host port's
// send right.

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <mach/mach.h>

#include <utility>

namespace calorim::darwin {

// Holds a reference from a Copy or Create call (or a retained one) and
// releases it when it goes away; moves hand the reference over.
template <class Ref>
class CfRef {
 public:
  CfRef() = default;
  explicit CfRef(Ref ref) : ref_(ref) {}
  CfRef(CfRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  CfRef& operator=(CfRef&& other) noexcept {
    if (this != &other) {
      reset();
      ref_ = std::exchange(other.ref_, nullptr);
    }
    return *this;
  }
  CfRef(const CfRef&) = delete;
  CfRef& operator=(const CfRef&) = delete;
  ~CfRef() { reset(); }

  [[nodiscard]] Ref get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }
  void reset() {
    if (ref_ != nullptr) CFRelease(ref_);
    ref_ = nullptr;
  }

 private:
  Ref ref_ = nullptr;
};

// Holds a service, iterator or other IOKit object and releases it.
class IoObject {
 public:
  IoObject() = default;
  explicit IoObject(io_object_t object) : object_(object) {}
  IoObject(IoObject&& other) noexcept : object_(std::exchange(other.object_, IO_OBJECT_NULL)) {}
  IoObject& operator=(IoObject&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, IO_OBJECT_NULL);
    }
    return *this;
  }
  IoObject(const IoObject&) = delete;
  IoObject& operator=(const IoObject&) = delete;
  ~IoObject() { reset(); }

  [[nodiscard]] io_object_t get() const { return object_; }
  explicit operator bool() const { return object_ != IO_OBJECT_NULL; }
  void reset() {
    if (object_ != IO_OBJECT_NULL) IOObjectRelease(object_);
    object_ = IO_OBJECT_NULL;
  }

 private:
  io_object_t object_ = IO_OBJECT_NULL;
};

// The host port. Every call of mach_host_self gives the task one more send
// right to it: an owner takes it once and gives it back at the end.
class HostSendRight {
 public:
  HostSendRight() : port_(mach_host_self()) {}
  ~HostSendRight() {
    if (port_ != MACH_PORT_NULL) mach_port_deallocate(mach_task_self(), port_);
  }
  HostSendRight(const HostSendRight&) = delete;
  HostSendRight& operator=(const HostSendRight&) = delete;

  [[nodiscard]] host_t get() const { return port_; }

 private:
  host_t port_;
};

}  // namespace calorim::darwin
