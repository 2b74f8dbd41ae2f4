// The monitor window driven for real (offscreen Qt platform, real GLFW/GLEW on the X server,
// a fake OpenVR runtime library): settings, datagrams, position and mode written back, and the
// VR overlay's start, placement, retries, texture path and fading.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fake_openvr.h"
#include "x11_display.h"
#include "monitor/message_box.h"
#include "link/monitor_datagram.h"
#include "monitor/monitor_window.h"
#include "monitor/vr_overlay.h"

using namespace tkb::monitor;

namespace {

QApplication& application() {
  static int argc = 1;
  static char name[] = "test_monitor_window";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Never destroyed: Qt objects must not outlive it at exit.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

FakeVrState& fakeVr() {
  static FakeVrState* state = [] {
    void* library = ::dlopen(FAKE_OPENVR_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) std::abort();
    auto get = reinterpret_cast<FakeVrStateFn>(::dlsym(library, "fakeVrState"));
    return get();
  }();
  return *state;
}

// Runs the event loop until done() holds; generous, for a loaded machine.
bool waitFor(const std::function<bool()>& done, int milliseconds = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
  return true;
}

void runEventsFor(int milliseconds) {
  waitFor([] { return false; }, milliseconds);
}

class RecordingMessages : public MessageSink {
 public:
  void show(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

QRgb rgb(int r, int g, int b) { return qRgb(r, g, b); }

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    application();
    fakeVr().reset();
    static int counter = 0;
    channel_ = "tkb-monitor-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  }

  std::string configPath() const { return dir_.filePath("config.ini").toStdString(); }

  void writeConfig(const std::string& monitorKeys) {
    std::ofstream(configPath()) << "[MONITOR]\n" << monitorKeys;
  }

  std::unique_ptr<MonitorWindow> makeWindow() {
    MonitorOptions options;
    options.configPath = configPath();
    options.channelName = channel_;
    options.openVrLibrary = FAKE_OPENVR_PATH;
    options.messages = &messages_;
    return std::make_unique<MonitorWindow>(options);
  }

  bool send(const PedalUpdate& update) {
    MonitorSender sender(channel_);
    return sender.send(pedalUpdateDatagram(update));
  }

  QTemporaryDir dir_;
  std::string channel_;
  RecordingMessages messages_;
};

}  // namespace

TEST_F(MonitorTest, SettingsDefaultWithoutConfigFile) {
  auto window = makeWindow();
  const VrSettings s = window->vrSettings();
  const int actual[] = {s.enableVr, s.size, s.posX, s.posY, s.posZ,
                        s.angleX, s.angleY, s.opacity, s.timeoutMs};
  const int expected[] = {0, 10, 0, 20, 30, 45, 0, 80, 3000};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(actual[i], expected[i]) << "setting " << i;
  EXPECT_EQ(window->mode(), 0u);
  EXPECT_FALSE(window->vr().enabled());
  EXPECT_EQ(fakeVr().calls.size(), 0u) << "VR off: the runtime is never touched";
  EXPECT_EQ(window->picture().pixel(26, 50), rgb(0, 0, 0));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(configPath()))) << "reading creates nothing";
}

TEST(MonitorSettings, VrSettingsAreHeldToTheRangesTheConfigurationProgramWrites) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("config.ini").toStdString();
  std::ofstream(path) << "[MONITOR]\nvr_size=-5\nvr_posx=-91\nvr_posy=90\nvr_posz=500\nvr_anglex=abc\n"
                         "vr_angley=46\nvr_opacity=-20\nvr_timeout=-1\n";
  testing::internal::CaptureStdout();
  const VrSettings s = readVrSettings(tkb::AppConfig(path));
  const std::string trace = testing::internal::GetCapturedStdout();
  const int actual[] = {s.size, s.posX, s.posY, s.posZ, s.angleX, s.angleY, s.opacity, s.timeoutMs};
  const int expected[] = {10, -90, 90, 90, 0, 45, 20, -1};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(actual[i], expected[i]) << "setting " << i;
  EXPECT_NE(trace.find("\nVR setting vr_opacity = -20 out of range, 20 used"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("vr_posy"), std::string::npos) << "a value in range is not reported";
}

TEST_F(MonitorTest, StoredPositionIsAppliedOnlyWhenBothAreAboveZero) {
  struct Row {
    int x, y;
    bool applied;
  };
  const Row rows[] = {{30, 40, true}, {1, 1, true}, {0, 40, false},
                      {30, 0, false}, {-1, -1, false}, {-5, 200, false}};
  for (const Row& row : rows) {
    writeConfig("x=" + std::to_string(row.x) + "\ny=" + std::to_string(row.y) + "\n");
    auto window = makeWindow();
    if (row.applied) {
      EXPECT_EQ(window->pos(), QPoint(row.x, row.y));
    } else {
      EXPECT_EQ(window->pos(), QPoint(0, 0)) << row.x << "," << row.y;
    }
    EXPECT_EQ(window->size(), QSize(152, 102));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("TKB Monitor Window"));
  }
}

TEST_F(MonitorTest, MovesAreWrittenOnlyWhileThePictureIsShown) {
  writeConfig("vr_timeout=1500\n");
  auto window = makeWindow();
  window->show();
  runEventsFor(50);
  EXPECT_EQ(readFile(configPath()).find("x="), std::string::npos)
      << "appearing is not a move by the user";

  window->move(210, 160);
  ASSERT_TRUE(waitFor([&] { return readFile(configPath()).find("y=160") != std::string::npos; }));
  EXPECT_NE(readFile(configPath()).find("x=210"), std::string::npos);

  // After the time-out without updates the picture counts as not shown: moves are not kept.
  ASSERT_TRUE(waitFor([&] { return !window->shown(); }));
  window->move(320, 330);
  runEventsFor(100);
  EXPECT_EQ(readFile(configPath()).find("x=320"), std::string::npos);
  EXPECT_NE(readFile(configPath()).find("x=210"), std::string::npos);
}

TEST_F(MonitorTest, DatagramsChangeThePictureAndANewModeIsRemembered) {
  writeConfig("last_mode=2\n");
  auto window = makeWindow();
  ASSERT_TRUE(window->channelBound());
  EXPECT_EQ(window->mode(), 2u);

  ASSERT_TRUE(send({2, 80, 95, 10, 50, 30}));
  ASSERT_TRUE(waitFor([&] { return window->picture().pixel(26, 70) == rgb(255, 0, 0); }));
  EXPECT_EQ(window->picture().pixel(26, 65), rgb(255, 0, 0)) << "brake 50 %: level y = 65";
  EXPECT_EQ(window->picture().pixel(26, 64), rgb(0, 0, 0));
  EXPECT_EQ(window->picture().pixel(11, 80), rgb(0, 0, 255)) << "clutch 30 %";
  EXPECT_EQ(window->picture().pixel(41, 86), rgb(0, 255, 0)) << "throttle 10 %";

  // Same mode: only bars and numbers are redrawn, so a mark in the header survives.
  QImage& picture = const_cast<QImage&>(window->picture());
  picture.setPixel(5, 5, rgb(1, 2, 3));
  const std::string before = readFile(configPath());
  ASSERT_TRUE(send({2, 80, 95, 10, 100, 30}));
  ASSERT_TRUE(waitFor([&] { return window->picture().pixel(26, 41) == rgb(255, 0, 0); }));
  EXPECT_EQ(window->picture().pixel(5, 5), rgb(1, 2, 3));
  EXPECT_EQ(readFile(configPath()), before) << "an unchanged mode is not written";

  // A new mode redraws everything and is written as last_mode.
  ASSERT_TRUE(send({3, 80, 95, 10, 100, 30}));
  ASSERT_TRUE(waitFor([&] { return window->mode() == 3u; }));
  EXPECT_NE(window->picture().pixel(5, 5), rgb(1, 2, 3));
  EXPECT_EQ(window->picture().pixel(105, 39), rgb(221, 102, 40)) << "CUT panel";
  EXPECT_NE(readFile(configPath()).find("last_mode=3"), std::string::npos);
}

TEST_F(MonitorTest, MalformedDatagramsAreIgnored) {
  auto window = makeWindow();
  MonitorSender sender(channel_);
  const auto full = pedalUpdateDatagram({0, 0, 0, 0, 100, 0});
  auto bytes = encodeDatagram(full);
  ASSERT_TRUE(sender.sendBytes(bytes.data(), 19));
  std::vector<std::uint8_t> longer(bytes.begin(), bytes.end());
  longer.push_back(0);
  ASSERT_TRUE(sender.sendBytes(longer.data(), longer.size()));
  ASSERT_TRUE(sender.send(MonitorDatagram{0x400, full.wParam, full.lParam}));
  ASSERT_TRUE(sender.send(MonitorDatagram{0x10401, full.wParam, full.lParam}));
  runEventsFor(200);
  EXPECT_EQ(window->picture().pixel(19, 50), rgb(0, 0, 0)) << "nothing of those was drawn";

  ASSERT_TRUE(sender.send(full));
  EXPECT_TRUE(waitFor([&] { return window->picture().pixel(19, 50) == rgb(255, 0, 0); }));
}

TEST(VrPlacement, MatrixFollowsTheSettings) {
  // Independent formulation: scale, tilt about x, then turn and roll as matrix products.
  auto expected = [](const VrSettings& s) {
    const double k = 0.017453294;
    double ax = s.posY > 0 ? -s.angleX : s.angleX;
    double ay = s.posX < 0 ? -s.angleY : s.angleY;
    double r = std::min(std::fabs(ax), std::fabs(ay));
    if ((ax < 0) != (ay < 0)) r = -r;
    ax *= k, ay *= k, r *= k;
    const double a[3][3] = {{1, 0, 0}, {0, cos(ax), sin(ax)}, {0, -sin(ax), cos(ax)}};
    const double b[3][3] = {{cos(ay), 0, -sin(ay)}, {0, 1, 0}, {sin(ay), 0, cos(ay)}};
    const double c[3][3] = {{cos(r), sin(r), 0}, {-sin(r), cos(r), 0}, {0, 0, 1}};
    double ab[3][3] = {}, abc[3][3] = {};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int n = 0; n < 3; ++n) ab[i][j] += a[i][n] * b[n][j];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int n = 0; n < 3; ++n) abc[i][j] += ab[i][n] * c[n][j] * s.size / 100.0;
    tkb::vr::HmdMatrix34 m{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m.m[i][j] = static_cast<float>(abc[i][j]);
    m.m[0][3] = s.posX / 100.0f;
    m.m[1][3] = s.posY / 100.0f;
    m.m[2][3] = s.posZ / -100.0f;
    return m;
  };
  auto settings = [](int size, int x, int y, int z, int ax, int ay) {
    VrSettings s;
    s.size = size, s.posX = x, s.posY = y, s.posZ = z, s.angleX = ax, s.angleY = ay;
    return s;
  };
  const VrSettings rows[] = {
      settings(10, 0, 20, 30, 45, 0),     settings(20, -30, -10, 50, 30, 20),
      settings(35, 40, 35, 69, -45, 45),  settings(80, -90, 90, 90, 45, -45),
      settings(10, 0, 0, 30, 0, 0),       settings(50, 10, -20, 40, 20, 20),
  };
  for (const VrSettings& s : rows) {
    const auto actual = placementMatrix(s);
    const auto wanted = expected(s);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 4; ++j)
        EXPECT_NEAR(actual.m[i][j], wanted.m[i][j], 1e-6)
            << "size " << s.size << " x " << s.posX << " y " << s.posY << " [" << i << "][" << j << "]";
  }

  // The defaults by hand: s = 0.1, translation (0, 0.2, -0.3), ax = -45, ay = 0, r = 0.
  const auto m = placementMatrix(VrSettings{});
  const float h = 0.1f * std::sqrt(0.5f);
  const float defaults[3][4] = {{0.1f, 0, 0, 0}, {0, h, -h, 0.2f}, {0, h, h, -0.3f}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(m.m[i][j], defaults[i][j], 1e-6) << i << "," << j;

  // A negative horizontal position turns the other way: same as mirroring the yaw.
  const auto left = placementMatrix(settings(10, -10, -5, 30, 20, 30));
  const auto right = placementMatrix(settings(10, 10, -5, 30, 20, -30));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(left.m[i][j], right.m[i][j], 1e-6);
}

TEST_F(MonitorTest, VrOverlayIsCreatedPlacedShownAndFed) {
  writeConfig("enable_vr=1\n");
  auto window = makeWindow();
  ASSERT_TRUE(window->glReady()) << "needs an X server for the OpenGL context";
  ASSERT_TRUE(window->vr().runtimeUp());
  const FakeVrState& vr = fakeVr();

  std::vector<std::string> names;
  for (const auto& call : vr.calls) names.push_back(call.name);
  const std::vector<std::string> expectedOrder = {
      "VR_Init", "interface FnTable:IVRSystem_022", "interface FnTable:IVRCompositor_027",
      "interface FnTable:IVROverlay_025", "CreateOverlay", "SetOverlayTransformAbsolute",
      "SetOverlayAlpha", "SetOverlayRaw", "ShowOverlay", "SetOverlayTexture", "SetOverlayAlpha"};
  EXPECT_EQ(names, expectedOrder);
  EXPECT_EQ(vr.calls[0].origin, 2) << "started as an overlay application";
  const FakeVrCall* create = vr.last("CreateOverlay");
  ASSERT_TRUE(create);
  EXPECT_EQ(std::string(create->pixels.begin(), create->pixels.end()), "OVERLAY_KELP|OVERLAY_KELP");

  const FakeVrCall* placed = vr.last("SetOverlayTransformAbsolute");
  ASSERT_TRUE(placed);
  EXPECT_EQ(placed->origin, 0) << "seated space";
  const auto wanted = placementMatrix(VrSettings{});
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_FLOAT_EQ(placed->matrix[i][j], wanted.m[i][j]);
  EXPECT_FLOAT_EQ(vr.calls[6].alpha, 0.0f) << "placed before the first picture: transparent";

  const FakeVrCall* raw = vr.last("SetOverlayRaw");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->width, 152u);
  EXPECT_EQ(raw->height, 102u);
  EXPECT_EQ(raw->bytesPerPixel, 4u);
  ASSERT_EQ(raw->pixels.size(), 152u * 102u * 4u);
  EXPECT_EQ(raw->pixels[0], 255);
  EXPECT_EQ(raw->pixels[1], 0);
  EXPECT_EQ(raw->pixels[2], 0);
  EXPECT_EQ(raw->pixels[3], 255);

  const FakeVrCall* texture = vr.last("SetOverlayTexture");
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->textureType, 1) << "OpenGL";
  EXPECT_EQ(texture->colorSpace, 0) << "automatic colour space";
  EXPECT_EQ(texture->width, 152u);
  EXPECT_EQ(texture->height, 102u);
  EXPECT_EQ(texture->wrapS, 0x812F);  // GL_CLAMP_TO_EDGE
  EXPECT_EQ(texture->wrapT, 0x812F);
  EXPECT_EQ(texture->minFilter, 0x2601);  // GL_LINEAR
  EXPECT_EQ(texture->magFilter, 0x2601);
  EXPECT_EQ(texture->unpackAlignment, 1);
  EXPECT_EQ(texture->unpackLsbFirst, 1);
  // Texture row i is picture row 101 - i, RGBA with opaque alpha.
  const QImage& picture = window->picture();
  int wrong = 0;
  for (int i = 0; i < 102; ++i) {
    for (int x = 0; x < 152; ++x) {
      const QRgb p = picture.pixel(x, 101 - i);
      const std::uint8_t* t = &texture->pixels[(static_cast<std::size_t>(i) * 152 + x) * 4];
      wrong += t[0] != qRed(p) || t[1] != qGreen(p) || t[2] != qBlue(p) || t[3] != 255;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_FLOAT_EQ(vr.calls.back().alpha, 0.8f) << "vr_opacity after the drawing";
  EXPECT_EQ(vr.count("unexpected slot"), 0);

  window.reset();
  EXPECT_EQ(vr.calls[vr.calls.size() - 2].name, "DestroyOverlay");
  EXPECT_EQ(vr.calls.back().name, "VR_Shutdown");
}

TEST_F(MonitorTest, VrStartIsRetriedWhileTheRuntimeFails) {
  writeConfig("enable_vr=1\nvr_posx=-20\nvr_angley=30\n");
  fakeVr().initFailures = 3;
  auto window = makeWindow();
  EXPECT_FALSE(window->vr().runtimeUp());
  ASSERT_TRUE(waitFor([&] { return window->vr().runtimeUp(); }));
  EXPECT_EQ(fakeVr().count("VR_Init failed"), 3);
  EXPECT_EQ(fakeVr().count("VR_Init"), 1);
  EXPECT_EQ(fakeVr().count("CreateOverlay"), 1);
  const FakeVrCall* placed = fakeVr().last("SetOverlayTransformAbsolute");
  ASSERT_TRUE(placed);
  VrSettings s;
  s.posX = -20, s.angleY = 30;
  const auto wanted = placementMatrix(s);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_FLOAT_EQ(placed->matrix[i][j], wanted.m[i][j]);
  EXPECT_FLOAT_EQ(fakeVr().last("SetOverlayAlpha")->alpha, 0.8f)
      << "started after the first picture: placed visible";
  runEventsFor(300);
  EXPECT_EQ(fakeVr().count("VR_Init"), 1) << "no restarts once up";
}

TEST_F(MonitorTest, RefusedOverlayIsNeitherPlacedNorShown) {
  writeConfig("enable_vr=1\n");
  fakeVr().refuseOverlay = true;
  auto window = makeWindow();
  ASSERT_TRUE(window->vr().runtimeUp());
  runEventsFor(300);
  EXPECT_EQ(fakeVr().count("CreateOverlay"), 1) << "retried only after a runtime restart";
  EXPECT_EQ(fakeVr().count("SetOverlayTransformAbsolute"), 0);
  EXPECT_EQ(fakeVr().count("ShowOverlay"), 0);
  EXPECT_EQ(fakeVr().count("SetOverlayTexture"), 0);
  EXPECT_EQ(fakeVr().count("SetOverlayAlpha"), 0);
}

TEST_F(MonitorTest, TextureErrorDestroysTheOverlayAndRestartsTheRuntime) {
  writeConfig("enable_vr=1\n");
  fakeVr().textureErrors = 1;
  auto window = makeWindow();
  const FakeVrState& vr = fakeVr();
  ASSERT_EQ(vr.count("SetOverlayTexture"), 1);
  const FakeVrCall* destroyed = vr.last("DestroyOverlay");
  ASSERT_TRUE(destroyed);
  EXPECT_EQ(destroyed->handle, 0x1000u);
  EXPECT_EQ(vr.count("VR_Shutdown"), 1);
  EXPECT_FALSE(window->vr().runtimeUp());
  EXPECT_EQ(window->vr().overlay(), 0u);

  ASSERT_TRUE(waitFor([&] { return window->vr().runtimeUp(); }));
  EXPECT_EQ(vr.count("VR_Init"), 2);
  EXPECT_EQ(window->vr().overlay(), 0x1001u);
  ASSERT_TRUE(send({0, 10, 0, 0, 40, 0}));
  ASSERT_TRUE(waitFor([&] { return vr.count("SetOverlayTexture") == 2; }));
  EXPECT_EQ(vr.last("SetOverlayTexture")->handle, 0x1001u);
  EXPECT_TRUE(window->vr().runtimeUp());
}

TEST_F(MonitorTest, OverlayFadesAfterTheTimeoutAndReturnsWithTheNextUpdate) {
  writeConfig("enable_vr=1\nvr_timeout=200\nvr_opacity=60\n");
  auto window = makeWindow();
  ASSERT_TRUE(window->vr().runtimeUp());
  EXPECT_FLOAT_EQ(fakeVr().calls.back().alpha, 0.6f);
  ASSERT_TRUE(waitFor([&] { return !window->shown(); }));
  EXPECT_FLOAT_EQ(fakeVr().calls.back().alpha, 0.0f);
  EXPECT_EQ(fakeVr().calls.back().name, "SetOverlayAlpha");

  ASSERT_TRUE(send({0, 10, 0, 0, 40, 0}));
  ASSERT_TRUE(waitFor([&] { return window->shown(); }));
  EXPECT_FLOAT_EQ(fakeVr().calls.back().alpha, 0.6f);
}

TEST_F(MonitorTest, ZeroTimeoutNeverFades) {
  writeConfig("enable_vr=1\nvr_timeout=0\n");
  auto window = makeWindow();
  ASSERT_TRUE(window->vr().runtimeUp());
  const std::size_t afterFirstPicture = fakeVr().calls.size();
  runEventsFor(700);
  EXPECT_TRUE(window->shown());
  EXPECT_EQ(fakeVr().calls.size(), afterFirstPicture) << "nothing changes while no update comes";
}

TEST_F(MonitorTest, OpenGlFailureShowsItsMessageAndKeepsVrOff) {
  writeConfig("enable_vr=1\n");
  const QByteArray display = qgetenv("DISPLAY");
  const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
  ::setenv("DISPLAY", ":31999", 1);
  ::unsetenv("WAYLAND_DISPLAY");
  auto window = makeWindow();
  ::setenv("DISPLAY", display.constData(), 1);
  if (!wayland.isEmpty()) ::setenv("WAYLAND_DISPLAY", wayland.constData(), 1);

  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0], "Failed to initialize GLFW");
  EXPECT_FALSE(window->glReady());
  EXPECT_FALSE(window->vr().enabled());
  runEventsFor(300);
  EXPECT_EQ(fakeVr().calls.size(), 0u) << "the overlay is never fed without OpenGL";
  // The window itself works on.
  ASSERT_TRUE(send({0, 10, 0, 0, 40, 0}));
  EXPECT_TRUE(waitFor([&] { return window->picture().pixel(19, 85) == rgb(255, 0, 0); }));
}

TEST_F(MonitorTest, ViewFollowsTheConfigFileWhileRunning) {
  writeConfig("view=trace\n");
  auto window = makeWindow();
  EXPECT_EQ(window->view(), MonitorView::Trace);
  EXPECT_EQ(window->picture().pixel(139, 100), rgb(255, 255, 255)) << "trace frame corner";
  ASSERT_TRUE(send({0, 10, 0, 0, 50, 0}));
  ASSERT_TRUE(waitFor([&] { return window->picture().pixel(138, 61) == rgb(255, 0, 0); }))
      << "brake 50 % in the newest column";

  const tkb::AppConfig config(configPath());
  const std::pair<const char*, MonitorView> changes[] = {
      {"bars", MonitorView::Bars}, {"trace", MonitorView::Trace}, {"sideways", MonitorView::Bars}};
  for (const auto& [value, view] : changes) {
    ASSERT_TRUE(config.write("MONITOR", "view", value));
    ASSERT_TRUE(waitFor([&] { return window->view() == view; })) << value;
    const bool bars = view == MonitorView::Bars;
    EXPECT_TRUE(waitFor([&] {
      return (window->picture().pixel(77, 39) == rgb(221, 102, 40)) == bars &&
             (window->picture().pixel(139, 100) == rgb(255, 255, 255)) == !bars;
    })) << value << ": the picture follows";
  }
}

TEST_F(MonitorTest, UpdatesAreAllTakenButDrawnAtMostOncePerDrawPeriod) {
  auto window = makeWindow();
  runEventsFor(50);
  const int drawingsBefore = window->drawings();
  const auto start = std::chrono::steady_clock::now();
  MonitorSender sender(channel_);
  // Bursts of 8 (the socket holds 10 while the window waits for its next drawing).
  for (int i = 1; i <= 40; ++i) {
    ASSERT_TRUE(sender.send(pedalUpdateDatagram({0, 10, 0, 0, static_cast<std::uint8_t>(i), 0})));
    if (i % 8 == 0) runEventsFor(MonitorWindow::kDrawPeriodMs + 5);
  }
  ASSERT_TRUE(waitFor([&] { return window->picture().pixel(19, 70) == rgb(255, 0, 0); }))
      << "the last update (brake 40 %) is drawn";
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(window->trace().columnCount(), 10) << "every update reached the trace";
  // One drawing now and then one per period at most (a timer may fire a millisecond early).
  EXPECT_LE(window->drawings() - drawingsBefore, 2 + elapsed.count() / (MonitorWindow::kDrawPeriodMs - 1));

  // The same values again: nothing new to draw, but the update still counts for the trace.
  const int drawingsAfter = window->drawings();
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(sender.send(pedalUpdateDatagram({0, 10, 0, 0, 40, 0})));
  ASSERT_TRUE(waitFor([&] { return window->trace().column(10)[TracePedal::Brake].last == 40; }));
  runEventsFor(50);
  EXPECT_EQ(window->drawings(), drawingsAfter);
}

TEST_F(MonitorTest, VrIsReleasedWhenSwitchedOffAndStartedAgainWhenSwitchedOn) {
  writeConfig("enable_vr=1\n");
  auto window = makeWindow();
  ASSERT_TRUE(window->vr().runtimeUp());
  ASSERT_TRUE(window->glReady());

  window->setVrEnabled(false);
  EXPECT_FALSE(window->glReady()) << "no OpenGL context while VR is off";
  EXPECT_FALSE(window->vr().enabled());
  const FakeVrState& vr = fakeVr();
  EXPECT_EQ(vr.calls[vr.calls.size() - 2].name, "DestroyOverlay");
  EXPECT_EQ(vr.calls.back().name, "VR_Shutdown");
  runEventsFor(250);
  EXPECT_EQ(vr.count("VR_Init"), 1) << "no restarts while off";

  window->setVrEnabled(true);
  ASSERT_TRUE(window->vr().runtimeUp());
  EXPECT_EQ(vr.count("VR_Init"), 2);
  EXPECT_EQ(vr.count("SetOverlayTexture"), 2) << "the picture shown goes to the new overlay at once";
  EXPECT_FLOAT_EQ(vr.calls.back().alpha, 0.8f);
}
