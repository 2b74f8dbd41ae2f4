// Input event nodes as the evdev key source finds them: a device tree under a test folder
// (sys/class/input/eventN/device with id/ and capabilities/key) and a FIFO as each
// dev/input/eventN, fed with struct input_event records. The FIFOs alone (FifoNodes) also
// stand for the pedals' hidraw nodes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace tkb::test {

// A capabilities/key bitmap as sysfs prints it: hexadecimal 64-bit words, highest first.
inline std::string keyBitmap(std::initializer_list<int> codes) {
  std::vector<unsigned long long> words(KEY_CNT / 64, 0);
  for (int code : codes) words[code / 64] |= 1ULL << (code % 64);
  std::string text;
  for (auto it = words.rbegin(); it != words.rend(); ++it) {
    char word[20];
    std::snprintf(word, sizeof word, "%llx", *it);
    text += (text.empty() ? "" : " ") + std::string(word);
  }
  return text + "\n";
}

inline const std::string kKeyboardKeys = keyBitmap(
    {KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_RIGHTCTRL, KEY_A, KEY_K, KEY_Z, KEY_F1, KEY_F11, KEY_F12});

inline input_event inputRecord(int type, int code, int value) {
  input_event e{};
  e.type = static_cast<uint16_t>(type);
  e.code = static_cast<uint16_t>(code);
  e.value = value;
  return e;
}

// FIFOs standing for device nodes, each kept open for writing by the test until it is
// closed again: a closed writer reads as an unplugged device.
class FifoNodes {
 public:
  FifoNodes() = default;
  FifoNodes(const FifoNodes&) = delete;
  FifoNodes& operator=(const FifoNodes&) = delete;
  ~FifoNodes() {
    for (auto& [node, fd] : writers_) ::close(fd);
  }

  void open(const std::string& node, const std::string& path) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    writers_.emplace_back(node, fd);
  }
  void close(const std::string& node) {
    for (auto it = writers_.begin(); it != writers_.end(); ++it) {
      if (it->first != node) continue;
      ::close(it->second);
      writers_.erase(it);
      return;
    }
  }
  int writer(const std::string& node) const {
    for (const auto& [name, fd] : writers_)
      if (name == node) return fd;
    return -1;
  }
  void write(const std::string& node, const void* bytes, size_t count) {
    ASSERT_EQ(::write(writer(node), bytes, count), ssize_t(count));
  }

 private:
  std::vector<std::pair<std::string, int>> writers_;
};

class FakeEventNodes {
 public:
  explicit FakeEventNodes(std::filesystem::path root) : root_(std::move(root)) {
    std::filesystem::create_directories(root_ / "sys/class/input");
    std::filesystem::create_directories(root_ / "dev/input");
  }

  std::string sysfs() const { return (root_ / "sys").string(); }
  std::string dev() const { return (root_ / "dev").string(); }
  std::string nodePath(const std::string& node) const { return (root_ / "dev/input" / node).string(); }
  int writer(const std::string& node) const { return fifos_.writer(node); }

  void plug(const std::string& node, const char* vendor = "16d0", const char* product = "0f53",
            const std::string& keys = kKeyboardKeys) {
    const std::filesystem::path device = root_ / "sys/class/input" / node / "device";
    std::filesystem::create_directories(device / "id");
    std::filesystem::create_directories(device / "capabilities");
    std::ofstream(device / "id/vendor") << vendor << "\n";
    std::ofstream(device / "id/product") << product << "\n";
    std::ofstream(device / "capabilities/key") << keys;
    fifos_.open(node, nodePath(node));
  }

  void unplug(const std::string& node) {
    fifos_.close(node);
    std::filesystem::remove_all(root_ / "sys/class/input" / node);
    std::filesystem::remove(nodePath(node));
  }

  // Key records as the kernel writes them, each followed by a report.
  void sendKeys(const std::string& node, std::initializer_list<std::pair<int, int>> keys) {
    std::vector<input_event> records;
    for (auto [code, value] : keys) {
      records.push_back(inputRecord(EV_KEY, code, value));
      records.push_back(inputRecord(EV_SYN, SYN_REPORT, 0));
    }
    sendRecords(node, records);
  }
  void sendRecords(const std::string& node, const std::vector<input_event>& records) {
    fifos_.write(node, records.data(), records.size() * sizeof(input_event));
  }

 private:
  std::filesystem::path root_;
  FifoNodes fifos_;
};

}  // namespace tkb::test
