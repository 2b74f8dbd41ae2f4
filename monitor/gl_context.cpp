#include "monitor/gl_context.h"

// GLEW must come before any other OpenGL header.
#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include "monitor/message_box.h"

namespace tkb::monitor {

GlContext::GlContext(MessageSink& messages) {
  if (glfwInit() != GLFW_TRUE) {
    messages.show("Failed to initialize GLFW");
    return;
  }
  glfwStarted_ = true;
  glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
  GLFWwindow* window = glfwCreateWindow(1, 1, "VQ Pedals Monitor", nullptr, nullptr);
  if (window == nullptr) {
    messages.show("Failed to start opengl");
    return;
  }
  window_ = window;
  glfwHideWindow(window);
  glfwMakeContextCurrent(window);
  glewExperimental = GL_TRUE;
  if (glewInit() != GLEW_OK) {
    messages.show("Failed to initialize GLEW");
    return;
  }
  ready_ = true;
}

GlContext::~GlContext() {
  if (window_ != nullptr) {
    glfwMakeContextCurrent(nullptr);
    glfwDestroyWindow(static_cast<GLFWwindow*>(window_));
  }
  if (glfwStarted_) glfwTerminate();
}

unsigned GlContext::createTexture(const std::uint8_t* rgba, int width, int height) {
  if (!ready_) return 0;
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_LSB_FIRST, GL_TRUE);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
  glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  return texture;
}

void GlContext::deleteTexture(unsigned texture) {
  if (!ready_ || texture == 0) return;
  const GLuint name = texture;
  glDeleteTextures(1, &name);
}

}  // namespace tkb::monitor
