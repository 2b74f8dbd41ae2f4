// Stands in for avrdude in the firmware update tests: writes the descriptors it was started
// with (one number a line, from /proc/self/fd) to the file $TKB_STUB_FD_FILE, prints a line
// like avrdude does, and ends with status 1: an avrdude that failed.
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
  const char* out = std::getenv("TKB_STUB_FD_FILE");
  if (DIR* dir = opendir("/proc/self/fd")) {
    std::FILE* f = out != nullptr ? std::fopen(out, "w") : nullptr;
    // The listing itself and the file being written are ours, not inherited.
    const int own = dirfd(dir);
    const int written = f != nullptr ? fileno(f) : -1;
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const int fd = std::atoi(entry->d_name);
      if (fd != own && fd != written && f != nullptr) std::fprintf(f, "%d\n", fd);
    }
    closedir(dir);
    if (f != nullptr) std::fclose(f);
  }
  std::fprintf(stderr, "avrdude: ser_open(): can't open device: stub\n");
  return 1;
}
