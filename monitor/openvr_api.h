// Our own declarations of the few OpenVR runtime entry points and interface tables the monitor
// uses. The runtime library (libopenvr_api.so) is loaded with dlopen; the interfaces are taken
// as plain C tables of function pointers through the "FnTable:" interface prefix, so nothing
// here depends on C++ vtable layout. Table slots we never call are kept as placeholders: only
// their position matters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tkb::vr {

using VROverlayHandle = std::uint64_t;
using EVRInitError = std::int32_t;
using EVROverlayError = std::int32_t;

inline constexpr EVRInitError kVRInitErrorNone = 0;
inline constexpr EVRInitError kVRInitErrorInterfaceNotFound = 105;
inline constexpr EVROverlayError kVROverlayErrorNone = 0;
inline constexpr std::int32_t kApplicationOverlay = 2;    // EVRApplicationType
inline constexpr std::int32_t kTrackingUniverseSeated = 0;  // ETrackingUniverseOrigin
inline constexpr std::int32_t kTextureTypeOpenGL = 1;     // ETextureType
inline constexpr std::int32_t kColorSpaceAuto = 0;        // EColorSpace

inline constexpr const char* kSystemInterface = "IVRSystem_022";
inline constexpr const char* kCompositorInterface = "IVRCompositor_027";
inline constexpr const char* kOverlayInterface = "IVROverlay_025";
inline constexpr const char* kFnTablePrefix = "FnTable:";

struct HmdMatrix34 {
  float m[3][4];
};

struct Texture {
  void* handle;  // for OpenGL: the texture name
  std::int32_t type;
  std::int32_t colorSpace;
};

using Slot = void*;

// IVROverlay_025 as a function table, up to the last slot we call.
struct IVROverlayTable {
  Slot findOverlay;
  EVROverlayError (*createOverlay)(const char* key, const char* name, VROverlayHandle* handle);
  EVROverlayError (*destroyOverlay)(VROverlayHandle handle);
  Slot getOverlayKey, getOverlayName, setOverlayName, getOverlayImageData,
      getOverlayErrorNameFromEnum, setOverlayRenderingPid, getOverlayRenderingPid, setOverlayFlag,
      getOverlayFlag, getOverlayFlags, setOverlayColor, getOverlayColor;
  EVROverlayError (*setOverlayAlpha)(VROverlayHandle handle, float alpha);
  Slot getOverlayAlpha, setOverlayTexelAspect, getOverlayTexelAspect, setOverlaySortOrder,
      getOverlaySortOrder, setOverlayWidthInMeters, getOverlayWidthInMeters, setOverlayCurvature,
      getOverlayCurvature, setOverlayTextureColorSpace, getOverlayTextureColorSpace,
      setOverlayTextureBounds, getOverlayTextureBounds, getOverlayTransformType;
  EVROverlayError (*setOverlayTransformAbsolute)(VROverlayHandle handle, std::int32_t origin,
                                                 const HmdMatrix34* transform);
  Slot getOverlayTransformAbsolute, setOverlayTransformTrackedDeviceRelative,
      getOverlayTransformTrackedDeviceRelative, setOverlayTransformTrackedDeviceComponent,
      getOverlayTransformTrackedDeviceComponent, getOverlayTransformOverlayRelative,
      setOverlayTransformOverlayRelative, setOverlayTransformCursor, getOverlayTransformCursor,
      setOverlayTransformProjection;
  EVROverlayError (*showOverlay)(VROverlayHandle handle);
  Slot hideOverlay, isOverlayVisible, getTransformForOverlayCoordinates,
      pollNextOverlayEvent, getOverlayInputMethod, setOverlayInputMethod, getOverlayMouseScale,
      setOverlayMouseScale, computeOverlayIntersection, isHoverTargetOverlay,
      setOverlayIntersectionMask, triggerLaserMouseHapticVibration, setOverlayCursor,
      setOverlayCursorPositionOverride, clearOverlayCursorPositionOverride;
  EVROverlayError (*setOverlayTexture)(VROverlayHandle handle, const Texture* texture);
  Slot clearOverlayTexture;
  EVROverlayError (*setOverlayRaw)(VROverlayHandle handle, void* buffer, std::uint32_t width,
                                   std::uint32_t height, std::uint32_t bytesPerPixel);
};

// Positions of the called slots, checked at compile time against the table above.
inline constexpr int kCreateOverlaySlot = 1;
inline constexpr int kDestroyOverlaySlot = 2;
inline constexpr int kSetOverlayAlphaSlot = 15;
inline constexpr int kSetOverlayTransformAbsoluteSlot = 30;
inline constexpr int kShowOverlaySlot = 41;
inline constexpr int kSetOverlayTextureSlot = 57;
inline constexpr int kSetOverlayRawSlot = 59;
static_assert(offsetof(IVROverlayTable, createOverlay) == kCreateOverlaySlot * sizeof(Slot));
static_assert(offsetof(IVROverlayTable, destroyOverlay) == kDestroyOverlaySlot * sizeof(Slot));
static_assert(offsetof(IVROverlayTable, setOverlayAlpha) == kSetOverlayAlphaSlot * sizeof(Slot));
static_assert(offsetof(IVROverlayTable, setOverlayTransformAbsolute) ==
              kSetOverlayTransformAbsoluteSlot * sizeof(Slot));
static_assert(offsetof(IVROverlayTable, showOverlay) == kShowOverlaySlot * sizeof(Slot));
static_assert(offsetof(IVROverlayTable, setOverlayTexture) == kSetOverlayTextureSlot * sizeof(Slot));
static_assert(offsetof(IVROverlayTable, setOverlayRaw) == kSetOverlayRawSlot * sizeof(Slot));

// The runtime's C entry points.
using InitInternal2Fn = std::uint32_t (*)(EVRInitError* error, std::int32_t applicationType,
                                          const char* startupInfo);
using ShutdownInternalFn = void (*)();
using GetGenericInterfaceFn = void* (*)(const char* interfaceVersion, EVRInitError* error);
using IsInterfaceVersionValidFn = bool (*)(const char* interfaceVersion);
using GetInitErrorDescriptionFn = const char* (*)(EVRInitError error);

}  // namespace tkb::vr
