// Root reads every file whatever its mode, so a test that needs "permission denied" drops the
// capabilities that let it (from the calling thread's effective set; threads it starts later
// inherit that) and takes them back at the end. The kernel's own check then refuses.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tkb::test {

// Capabilities below 32, as a mask (1u << CAP_SYS_ADMIN: a port another program holds with
// TIOCEXCL refuses everyone but root).
class WithoutCapability {
 public:
  explicit WithoutCapability(unsigned mask) {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    if (::syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct data[2] = {saved_[0], saved_[1]};
    data[0].effective &= ~mask;
    dropped_ = ::syscall(SYS_capset, &header_, data) == 0;
  }
  ~WithoutCapability() {
    if (dropped_) ::syscall(SYS_capset, &header_, saved_);
  }
  WithoutCapability(const WithoutCapability&) = delete;
  WithoutCapability& operator=(const WithoutCapability&) = delete;
  bool dropped() const { return dropped_; }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool dropped_ = false;
};

class WithoutDacOverride : public WithoutCapability {
 public:
  WithoutDacOverride() : WithoutCapability((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH)) {}
};

}  // namespace tkb::test
