// A stand-in for the OpenVR runtime library: the same C entry points, an IVROverlay_025
// function table whose slots are laid out by index, and a record of every call. Textures are
// read back from OpenGL so that tests see what the runtime would have received. When
// TKB_FAKE_VR_LOG names a file, each call's name is appended to it (for tests of the whole
// monitor process).
#include <GL/gl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fake_openvr.h"

namespace {

FakeVrState state;

struct HmdMatrix34 {
  float m[3][4];
};
struct Texture {
  void* handle;
  std::int32_t type;
  std::int32_t colorSpace;
};

FakeVrCall& record(const char* name, std::uint64_t handle = 0) {
  if (const char* path = std::getenv("TKB_FAKE_VR_LOG")) {
    if (std::FILE* log = std::fopen(path, "a")) {
      std::fprintf(log, "%s\n", name);
      std::fclose(log);
    }
  }
  state.calls.push_back(FakeVrCall{});
  state.calls.back().name = name;
  state.calls.back().handle = handle;
  return state.calls.back();
}

std::int32_t createOverlay(const char* key, const char* name, std::uint64_t* handle) {
  FakeVrCall& call = record("CreateOverlay");
  call.pixels.assign(key, key + std::strlen(key));
  call.pixels.push_back('|');
  call.pixels.insert(call.pixels.end(), name, name + std::strlen(name));
  *handle = state.refuseOverlay ? 0 : state.nextHandle++;
  call.handle = *handle;
  return state.refuseOverlay ? 20 : 0;
}

std::int32_t destroyOverlay(std::uint64_t handle) {
  record("DestroyOverlay", handle);
  return 0;
}

std::int32_t setOverlayAlpha(std::uint64_t handle, float alpha) {
  record("SetOverlayAlpha", handle).alpha = alpha;
  return 0;
}

std::int32_t setOverlayTransformAbsolute(std::uint64_t handle, std::int32_t origin,
                                         const HmdMatrix34* matrix) {
  FakeVrCall& call = record("SetOverlayTransformAbsolute", handle);
  call.origin = origin;
  std::memcpy(call.matrix, matrix->m, sizeof call.matrix);
  return 0;
}

std::int32_t showOverlay(std::uint64_t handle) {
  record("ShowOverlay", handle);
  return 0;
}

std::int32_t setOverlayTexture(std::uint64_t handle, const Texture* texture) {
  FakeVrCall& call = record("SetOverlayTexture", handle);
  call.textureType = texture->type;
  call.colorSpace = texture->colorSpace;
  const GLuint name = static_cast<GLuint>(reinterpret_cast<std::uintptr_t>(texture->handle));
  glBindTexture(GL_TEXTURE_2D, name);
  GLint width = 0, height = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
  call.width = static_cast<std::uint32_t>(width);
  call.height = static_cast<std::uint32_t>(height);
  call.pixels.resize(static_cast<std::size_t>(width) * height * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (!call.pixels.empty()) {
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, call.pixels.data());
  }
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &call.wrapS);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &call.wrapT);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &call.minFilter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &call.magFilter);
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &call.unpackAlignment);
  GLboolean lsbFirst = GL_FALSE;
  glGetBooleanv(GL_UNPACK_LSB_FIRST, &lsbFirst);
  call.unpackLsbFirst = lsbFirst;
  if (state.textureErrors > 0) {
    --state.textureErrors;
    return 3;  // an invalid-handle style refusal
  }
  return 0;
}

std::int32_t setOverlayRaw(std::uint64_t handle, void* buffer, std::uint32_t width,
                           std::uint32_t height, std::uint32_t bytesPerPixel) {
  FakeVrCall& call = record("SetOverlayRaw", handle);
  call.width = width;
  call.height = height;
  call.bytesPerPixel = bytesPerPixel;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  call.pixels.assign(bytes, bytes + static_cast<std::size_t>(width) * height * bytesPerPixel);
  return 0;
}

// Any slot the monitor should never call lands here.
std::int32_t unexpectedSlot() {
  record("unexpected slot");
  return 0;
}

struct OverlayTable {
  void* slots[60];
  OverlayTable() {
    for (void*& slot : slots) slot = reinterpret_cast<void*>(&unexpectedSlot);
    slots[1] = reinterpret_cast<void*>(&createOverlay);
    slots[2] = reinterpret_cast<void*>(&destroyOverlay);
    slots[15] = reinterpret_cast<void*>(&setOverlayAlpha);
    slots[30] = reinterpret_cast<void*>(&setOverlayTransformAbsolute);
    slots[41] = reinterpret_cast<void*>(&showOverlay);
    slots[57] = reinterpret_cast<void*>(&setOverlayTexture);
    slots[59] = reinterpret_cast<void*>(&setOverlayRaw);
  }
} overlayTable;

void* otherTable[64];  // IVRSystem and IVRCompositor: obtained, never called

bool knownInterface(const std::string& name) {
  return name == "IVRSystem_022" || name == "IVRCompositor_027" || name == "IVROverlay_025";
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) FakeVrState* fakeVrState() { return &state; }

__attribute__((visibility("default"))) std::uint32_t VR_InitInternal2(std::int32_t* error,
                                                                      std::int32_t type,
                                                                      const char*) {
  FakeVrCall& call = record(state.initFailures > 0 ? "VR_Init failed" : "VR_Init");
  call.origin = type;
  if (state.initFailures > 0) {
    --state.initFailures;
    *error = 108;  // no headset
    return 0;
  }
  *error = 0;
  return 1;
}

__attribute__((visibility("default"))) void VR_ShutdownInternal() { record("VR_Shutdown"); }

__attribute__((visibility("default"))) bool VR_IsInterfaceVersionValid(const char* name) {
  return knownInterface(name);
}

__attribute__((visibility("default"))) void* VR_GetGenericInterface(const char* name,
                                                                    std::int32_t* error) {
  const std::string wanted(name);
  record(("interface " + wanted).c_str());
  *error = 0;
  if (wanted == "FnTable:IVROverlay_025") return &overlayTable;
  if (wanted.rfind("FnTable:", 0) == 0 && knownInterface(wanted.substr(8))) return otherTable;
  *error = 105;
  return nullptr;
}

__attribute__((visibility("default"))) const char* VR_GetVRInitErrorAsEnglishDescription(
    std::int32_t error) {
  return error == 108 ? "Hmd Not Found (108)" : "Unknown error";
}

}  // extern "C"
