// The hidden 1 x 1 OpenGL window that the VR overlay's textures live in: GLFW for the window
// and context, GLEW for the entry points. Made current once, used on the GUI thread only.
#pragma once

#include <cstdint>

namespace tkb::monitor {

class MessageSink;

class GlContext {
 public:
  // Runs the whole start; a failing step shows its message and leaves the context not ready.
  explicit GlContext(MessageSink& messages);
  ~GlContext();
  GlContext(const GlContext&) = delete;
  GlContext& operator=(const GlContext&) = delete;

  bool ready() const { return ready_; }

  // A 2-D RGBA texture of width x height from tightly packed rows; 0 when not ready.
  unsigned createTexture(const std::uint8_t* rgba, int width, int height);
  void deleteTexture(unsigned texture);

 private:
  bool ready_ = false;
  bool glfwStarted_ = false;
  void* window_ = nullptr;  // GLFWwindow
};

}  // namespace tkb::monitor
