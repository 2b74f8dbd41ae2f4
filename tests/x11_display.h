// Tests that need OpenGL need an X server. Included once per test program: when the test run
// gives none (no DISPLAY), the program starts itself again under a private xvfb-run.
#pragma once

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tkb::testing {

inline bool ensureX11Display() {
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') return true;
  if (std::getenv("TKB_TEST_UNDER_XVFB") != nullptr) return false;  // xvfb-run failed us
  ::setenv("TKB_TEST_UNDER_XVFB", "1", 1);

  char self[PATH_MAX] = {};
  if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return false;
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments = {"xvfb-run", "-a", "-s",
                                        "-screen 0 1024x768x24 -nolisten tcp", self};
  std::size_t start = all.find('\0');  // skip argv[0]
  while (start != std::string::npos && start + 1 < all.size()) {
    const std::size_t end = all.find('\0', start + 1);
    arguments.push_back(all.substr(start + 1, end - start - 1));
    start = end;
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ::execvp("xvfb-run", argv.data());
  return false;
}

[[maybe_unused]] inline const bool kX11DisplayReady = ensureX11Display();

}  // namespace tkb::testing
