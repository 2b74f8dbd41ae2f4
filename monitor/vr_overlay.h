// The VR mirror of the monitor's picture: an OpenVR overlay "OVERLAY_KELP" placed in front of
// the seated driver from the VR settings, fed with the picture as an OpenGL texture after every
// drawing, made transparent after the time-out and restarted every 100 ms while the runtime is
// not up. The runtime library is loaded at run time; without it (no VR installed) every start
// fails quietly and is tried again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QImage>

#include "monitor/monitor_settings.h"
#include "monitor/openvr_api.h"

namespace tkb::monitor {

class GlContext;

inline constexpr const char* kOverlayKey = "OVERLAY_KELP";
// Environment variable naming the runtime library to load instead of libopenvr_api.so.
inline constexpr const char* kOpenVrLibraryVariable = "TKB_OPENVR_LIBRARY";

// The overlay's absolute transform in seated space, from the placement settings.
vr::HmdMatrix34 placementMatrix(const VrSettings& settings);

// The dlopen'ed runtime library and its entry points.
class VrRuntimeLibrary {
 public:
  explicit VrRuntimeLibrary(std::string path);
  ~VrRuntimeLibrary();
  VrRuntimeLibrary(const VrRuntimeLibrary&) = delete;
  VrRuntimeLibrary& operator=(const VrRuntimeLibrary&) = delete;

  // Loads the library once; false (with error() set) while it cannot be loaded.
  bool load();
  const std::string& error() const { return error_; }

  vr::InitInternal2Fn initInternal2 = nullptr;
  vr::ShutdownInternalFn shutdownInternal = nullptr;
  vr::GetGenericInterfaceFn getGenericInterface = nullptr;
  vr::IsInterfaceVersionValidFn isInterfaceVersionValid = nullptr;
  vr::GetInitErrorDescriptionFn describeInitError = nullptr;

 private:
  std::string path_;
  std::string error_;
  void* handle_ = nullptr;
};

// The overlay's copy of the picture (152 x 102 RGB888): texture row i is picture row 101 - i,
// RGBA with opaque alpha. Pictures of another size or format leave rgba unchanged.
void pictureToRgba(const QImage& picture, std::vector<std::uint8_t>& rgba);

// The library named by TKB_OPENVR_LIBRARY, else libopenvr_api.so.
std::string defaultOpenVrLibrary();

class VrOverlay {
 public:
  // Enabled with a ready OpenGL context; without one (gl null: VR is off, or the OpenGL start
  // failed) it does nothing, since the overlay could not be fed. The library is loaded at the
  // first start and unloaded with the object.
  VrOverlay(const VrSettings& settings, GlContext* gl, std::string libraryPath);
  ~VrOverlay();
  VrOverlay(const VrOverlay&) = delete;
  VrOverlay& operator=(const VrOverlay&) = delete;

  bool enabled() const { return enabled_; }
  bool runtimeUp() const { return up_; }
  vr::VROverlayHandle overlay() const { return overlay_; }
  bool needsStart() const { return enabled_ && !up_; }

  // Starts the runtime if it is not up and creates, places and shows the overlay if there is
  // none. shown selects the opacity given at placement (vr_opacity or 0).
  void startVrOverlay(bool shown);
  // Mirrors the picture (152 x 102 RGB888) into the overlay; on a texture error the overlay
  // is destroyed and the runtime shut down, for the next start to bring it back.
  void pushVrPicture(const QImage& picture);
  void setVrOpacity(float opacity);
  void shutdown();

  // The RGBA copy of the picture, bottom row first.
  const std::vector<std::uint8_t>& rgba() const { return rgba_; }

 private:
  void place(bool shown);
  void reportInitFailure(const std::string& description);

  VrSettings settings_;
  GlContext* gl_;
  bool enabled_;
  std::unique_ptr<VrRuntimeLibrary> library_;
  bool up_ = false;
  vr::VROverlayHandle overlay_ = 0;
  vr::IVROverlayTable* overlayTable_ = nullptr;
  void* systemTable_ = nullptr;
  void* compositorTable_ = nullptr;
  std::vector<std::uint8_t> rgba_;
  std::string lastReported_;
};

}  // namespace tkb::monitor
