#include "monitor/vr_overlay.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/install_layout.h"
#include "monitor/gl_context.h"
#include "monitor/monitor_picture.h"

namespace tkb::monitor {
namespace {

constexpr double kRadiansPerDegree = 0.017453294;
constexpr int kBytesPerPixel = 4;

std::string fnTableName(const char* interfaceVersion) {
  return std::string(vr::kFnTablePrefix) + interfaceVersion;
}

}  // namespace

vr::HmdMatrix34 placementMatrix(const VrSettings& settings) {
  const double s = settings.size / 100.0;
  // The tilt faces the driver whether the overlay is above or below the eyes, and the turn
  // faces the driver on either side.
  double ax = settings.posY > 0 ? -settings.angleX : settings.angleX;
  double ay = settings.posX < 0 ? -settings.angleY : settings.angleY;
  double r = std::fabs(ax) < std::fabs(ay) ? std::fabs(ax) : std::fabs(ay);
  if ((ax < 0) != (ay < 0)) r = -r;
  ax *= kRadiansPerDegree;
  ay *= kRadiansPerDegree;
  r *= kRadiansPerDegree;

  double m[3][3] = {{s, 0, 0},
                    {0, s * std::cos(ax), s * std::sin(ax)},
                    {0, -s * std::sin(ax), s * std::cos(ax)}};
  for (auto& row : m) {  // turn: mix columns 0 and 2
    const double c0 = row[0], c2 = row[2];
    row[0] = c0 * std::cos(ay) + c2 * std::sin(ay);
    row[2] = c2 * std::cos(ay) - c0 * std::sin(ay);
  }
  for (auto& row : m) {  // roll: mix columns 0 and 1
    const double c0 = row[0], c1 = row[1];
    row[0] = c0 * std::cos(r) - c1 * std::sin(r);
    row[1] = c0 * std::sin(r) + c1 * std::cos(r);
  }

  vr::HmdMatrix34 matrix{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) matrix.m[i][j] = static_cast<float>(m[i][j]);
  }
  matrix.m[0][3] = static_cast<float>(settings.posX / 100.0);
  matrix.m[1][3] = static_cast<float>(settings.posY / 100.0);
  matrix.m[2][3] = static_cast<float>(settings.posZ / -100.0);
  return matrix;
}

void pictureToRgba(const QImage& picture, std::vector<std::uint8_t>& rgba) {
  if (picture.width() != kPictureWidth || picture.height() != kPictureHeight ||
      picture.format() != QImage::Format_RGB888) {
    return;
  }
  rgba.resize(static_cast<std::size_t>(kPictureWidth) * kPictureHeight * kBytesPerPixel);
  for (int i = 0; i < kPictureHeight; ++i) {
    const std::uint8_t* source = picture.constScanLine(kPictureHeight - 1 - i);
    std::uint8_t* target =
        rgba.data() + static_cast<std::size_t>(i) * kPictureWidth * kBytesPerPixel;
    for (int x = 0; x < kPictureWidth; ++x) {
      target[4 * x] = source[3 * x];
      target[4 * x + 1] = source[3 * x + 1];
      target[4 * x + 2] = source[3 * x + 2];
      target[4 * x + 3] = 255;
    }
  }
}

std::string defaultOpenVrLibrary() { return openVrLibrary(); }

VrRuntimeLibrary::VrRuntimeLibrary(std::string path) : path_(std::move(path)) {}

VrRuntimeLibrary::~VrRuntimeLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

bool VrRuntimeLibrary::load() {
  if (handle_ != nullptr) return true;
  void* handle = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    error_ = why != nullptr ? why : "cannot load " + path_;
    return false;
  }
  auto symbol = [handle](const char* name) { return ::dlsym(handle, name); };
  initInternal2 = reinterpret_cast<vr::InitInternal2Fn>(symbol("VR_InitInternal2"));
  shutdownInternal = reinterpret_cast<vr::ShutdownInternalFn>(symbol("VR_ShutdownInternal"));
  getGenericInterface =
      reinterpret_cast<vr::GetGenericInterfaceFn>(symbol("VR_GetGenericInterface"));
  isInterfaceVersionValid =
      reinterpret_cast<vr::IsInterfaceVersionValidFn>(symbol("VR_IsInterfaceVersionValid"));
  describeInitError = reinterpret_cast<vr::GetInitErrorDescriptionFn>(
      symbol("VR_GetVRInitErrorAsEnglishDescription"));
  if (initInternal2 == nullptr || shutdownInternal == nullptr || getGenericInterface == nullptr ||
      isInterfaceVersionValid == nullptr) {
    error_ = path_ + " lacks the OpenVR entry points";
    ::dlclose(handle);
    initInternal2 = nullptr;
    return false;
  }
  handle_ = handle;
  return true;
}

VrOverlay::VrOverlay(const VrSettings& settings, GlContext* gl, std::string libraryPath)
    : settings_(settings),
      gl_(gl),
      enabled_(gl != nullptr && gl->ready()),
      library_(std::make_unique<VrRuntimeLibrary>(std::move(libraryPath))),
      rgba_(static_cast<std::size_t>(kPictureWidth) * kPictureHeight * kBytesPerPixel) {
  // Until the first picture arrives the overlay shows plain red.
  for (std::size_t i = 0; i < rgba_.size(); i += kBytesPerPixel) {
    rgba_[i] = 255;
    rgba_[i + 1] = 0;
    rgba_[i + 2] = 0;
    rgba_[i + 3] = 255;
  }
}

VrOverlay::~VrOverlay() { shutdown(); }

void VrOverlay::reportInitFailure(const std::string& description) {
  // Retried every 100 ms: say it once, and again only when the reason changes.
  if (description == lastReported_) return;
  lastReported_ = description;
  std::fprintf(stderr, "Unable to init VR runtime: %s\n", description.c_str());
  std::fflush(stderr);
}

void VrOverlay::startVrOverlay(bool shown) {
  if (!enabled_) return;
  if (!up_) {
    if (!library_->load()) {
      reportInitFailure(library_->error());
      return;
    }
    vr::EVRInitError error = vr::kVRInitErrorNone;
    library_->initInternal2(&error, vr::kApplicationOverlay, nullptr);
    if (error == vr::kVRInitErrorNone &&
        !library_->isInterfaceVersionValid(vr::kSystemInterface)) {
      library_->shutdownInternal();
      error = vr::kVRInitErrorInterfaceNotFound;
    }
    if (error != vr::kVRInitErrorNone) {
      const char* text =
          library_->describeInitError != nullptr ? library_->describeInitError(error) : nullptr;
      reportInitFailure(text != nullptr ? text : "error " + std::to_string(error));
      return;
    }
    vr::EVRInitError ignored = vr::kVRInitErrorNone;
    systemTable_ = library_->getGenericInterface(fnTableName(vr::kSystemInterface).c_str(), &ignored);
    compositorTable_ =
        library_->getGenericInterface(fnTableName(vr::kCompositorInterface).c_str(), &ignored);
    overlayTable_ = static_cast<vr::IVROverlayTable*>(
        library_->getGenericInterface(fnTableName(vr::kOverlayInterface).c_str(), &ignored));
    if (overlayTable_ == nullptr) {
      // A runtime without this overlay interface cannot show anything; start again later.
      library_->shutdownInternal();
      reportInitFailure(std::string("no ") + vr::kOverlayInterface + " interface");
      return;
    }
    up_ = true;
    lastReported_.clear();
  }
  if (overlay_ == 0) {
    vr::VROverlayHandle handle = 0;
    overlayTable_->createOverlay(kOverlayKey, kOverlayKey, &handle);
    overlay_ = handle;
    if (overlay_ != 0) {
      place(shown);
      overlayTable_->setOverlayRaw(overlay_, rgba_.data(), kPictureWidth, kPictureHeight,
                                   kBytesPerPixel);
      overlayTable_->showOverlay(overlay_);
    }
  }
}

void VrOverlay::place(bool shown) {
  const vr::HmdMatrix34 matrix = placementMatrix(settings_);
  if (!up_ || overlay_ == 0) return;
  overlayTable_->setOverlayTransformAbsolute(overlay_, vr::kTrackingUniverseSeated, &matrix);
  overlayTable_->setOverlayAlpha(overlay_, shown ? settings_.opacity / 100.0f : 0.0f);
}

void VrOverlay::pushVrPicture(const QImage& picture) {
  if (!enabled_ || !up_) return;
  pictureToRgba(picture, rgba_);
  const unsigned texture = gl_->createTexture(rgba_.data(), kPictureWidth, kPictureHeight);
  if (overlay_ != 0) {
    vr::Texture described{reinterpret_cast<void*>(static_cast<std::uintptr_t>(texture)),
                          vr::kTextureTypeOpenGL, vr::kColorSpaceAuto};
    if (overlayTable_->setOverlayTexture(overlay_, &described) != vr::kVROverlayErrorNone) {
      up_ = false;
    }
  }
  gl_->deleteTexture(texture);
  if (!up_) shutdown();
}

void VrOverlay::setVrOpacity(float opacity) {
  if (up_ && overlay_ != 0) overlayTable_->setOverlayAlpha(overlay_, opacity);
}

void VrOverlay::shutdown() {
  if (overlayTable_ != nullptr && overlay_ != 0) overlayTable_->destroyOverlay(overlay_);
  overlay_ = 0;
  if (overlayTable_ != nullptr || up_) library_->shutdownInternal();
  up_ = false;
  overlayTable_ = nullptr;
  systemTable_ = nullptr;
  compositorTable_ = nullptr;
}

}  // namespace tkb::monitor
