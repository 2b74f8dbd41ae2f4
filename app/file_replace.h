// Replacing a whole settings or profile file so that nobody ever sees it torn: the new text goes
// to a temporary file beside the real one, is flushed to the disk and renamed over it. A path
// that is a symbolic link is followed, so the link stays a link and its target is updated; a
// file without write permission is left alone. Used by AppConfig (config.ini and profiles).
#pragma once

#include <cstddef>
#include <string>

namespace tkb {

enum class ReplaceResult {
  Replaced,
  ReadOnly,  // the file exists and its permissions forbid writing: it was not touched
  Failed,    // the folder could not take the new file (full, missing, not writable, ...)
};

// The file a write to path lands in: path itself, or the end of its chain of symbolic links
// (which may not exist yet). Empty when the chain loops or is absurdly long.
std::string writeTarget(const std::string& path);

// True when target exists and the current user may not write it. Root may write anything, but
// a file whose owner took every write permission away (chmod 0444) is honoured as read-only.
bool isReadOnlyFile(const std::string& target);

// Replaces target (already resolved by writeTarget) with text. The new file keeps the old one's
// permissions (mode for a new file). The temporary file is ".<name>.tkb-partial-XXXXXX" and is
// locked while it is written, so that removeUnfinishedWrites can tell a killed write's
// leftover from a write in progress.
ReplaceResult replaceFileContents(const std::string& target, const std::string& text,
                                  unsigned mode = 0644);

// The same replacement written piece by piece, for a file that grows for minutes (a pedal
// recording): the pieces go into the locked temporary file, and the target appears, whole,
// only with commit(). Until then (and after abandon(), or when the writer dies) the old file
// stays as it was. Not copyable; abandons what was not committed when destroyed.
class StreamedReplacement {
 public:
  StreamedReplacement() = default;
  ~StreamedReplacement() { abandon(); }
  StreamedReplacement(const StreamedReplacement&) = delete;
  StreamedReplacement& operator=(const StreamedReplacement&) = delete;

  // Starts the replacement of path (followed through symbolic links as writeTarget does).
  ReplaceResult begin(const std::string& path, unsigned mode = 0644);
  // Appends bytes; false once a write failed (the disk is full): commit then fails too.
  bool write(const char* bytes, std::size_t count);
  // Flushes the file to the disk and renames it over the target.
  ReplaceResult commit();
  // Removes the temporary file; the target is left as it was.
  void abandon();
  bool active() const { return fd_ >= 0; }

 private:
  std::string target_;
  std::string partial_;
  int fd_ = -1;
  bool failed_ = false;
};

// Removes the temporary files of writes in folder that were killed before their rename (a
// crash, a power cut, SIGKILL). Writes still running are left alone. Run at start-up for the
// folders the programs write, and before each write for the written file's folder.
void removeUnfinishedWrites(const std::string& folder);

}  // namespace tkb
