// What the fake OpenVR runtime (fake_openvr.cpp) records and how a test steers it. The test
// dlopens the same library file as the monitor and reaches this state through fakeVrState().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FakeVrCall {
  std::string name;
  std::uint64_t handle = 0;
  float alpha = -1.0f;
  float matrix[3][4] = {};
  std::int32_t origin = -1;
  std::int32_t textureType = -1;
  std::int32_t colorSpace = -1;
  std::uint32_t width = 0, height = 0, bytesPerPixel = 0;
  std::vector<std::uint8_t> pixels;  // raw buffer, or the texture read back from OpenGL
  std::int32_t wrapS = 0, wrapT = 0, minFilter = 0, magFilter = 0, unpackAlignment = 0;
  std::int32_t unpackLsbFirst = -1;
};

struct FakeVrState {
  int initFailures = 0;         // the next n starts fail with "no headset"
  bool refuseOverlay = false;   // CreateOverlay gives no handle
  int textureErrors = 0;        // the next n textures are refused
  std::uint64_t nextHandle = 0x1000;
  std::vector<FakeVrCall> calls;

  void reset() { *this = FakeVrState(); }
  int count(const std::string& name) const {
    int n = 0;
    for (const auto& c : calls) n += c.name == name;
    return n;
  }
  const FakeVrCall* last(const std::string& name) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->name == name) return &*it;
    }
    return nullptr;
  }
};

using FakeVrStateFn = FakeVrState* (*)();
