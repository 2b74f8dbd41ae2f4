// The monitor's picture, pixel for pixel: frames, scales, panels, bars, numbers, and what a
// drawing leaves alone.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "monitor/monitor_picture.h"
#include "monitor/pedal_trace.h"

using namespace tkb::monitor;

namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kOrange = qRgb(221, 102, 40);
const QRgb kMarker = qRgb(12, 34, 56);

QGuiApplication& application() {
  static int argc = 1;
  static char name[] = "test_monitor_picture";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Never destroyed: Qt objects must not outlive it at exit.
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  return *app;
}

struct Rect {
  int left, top, right, bottom;  // right and bottom exclusive
};

// Pixels of r that are not colour, as "x,y" strings (at most a few, for the message).
std::string mismatches(const QImage& image, Rect r, QRgb colour) {
  std::string out;
  int count = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      if (image.pixel(x, y) != qRgb(qRed(colour), qGreen(colour), qBlue(colour))) {
        if (++count <= 4) out += std::to_string(x) + "," + std::to_string(y) + " ";
      }
    }
  }
  return count == 0 ? std::string() : std::to_string(count) + " wrong: " + out;
}

struct Expect {
  Rect rect;
  QRgb colour;
  const char* what;
};

void expectAll(const QImage& image, const std::vector<Expect>& rows, const std::string& where) {
  for (const Expect& row : rows) {
    EXPECT_EQ(mismatches(image, row.rect, row.colour), "") << where << ": " << row.what;
  }
}

bool onlyBlackAndWhite(const QImage& image, Rect r, int* whites) {
  *whites = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      const QRgb p = image.pixel(x, y) & 0xFFFFFF;
      if (p == (kWhite & 0xFFFFFF)) {
        ++*whites;
      } else if (p != 0) {
        return false;
      }
    }
  }
  return true;
}

class PictureTest : public ::testing::Test {
 protected:
  bool applicationReady_ = (application(), true);  // fonts need the application first
  MonitorPicture picture;
};

}  // namespace

TEST_F(PictureTest, FullBackgroundPlacesFramesScalesPanelsAndHeader) {
  struct Layout {
    unsigned mode;
    std::vector<Expect> rows;
  };
  const std::vector<Expect> clutchFrames = {
      {{10, 39, 20, 40}, kWhite, "clutch frame top"},   {{10, 90, 20, 91}, kWhite, "clutch frame bottom"},
      {{10, 39, 11, 91}, kWhite, "clutch frame left"},  {{19, 39, 20, 91}, kWhite, "clutch frame right"},
      {{25, 39, 35, 40}, kWhite, "brake frame top"},    {{34, 39, 35, 91}, kWhite, "brake frame right"},
      {{40, 90, 50, 91}, kWhite, "throttle frame bottom"}, {{40, 39, 41, 91}, kWhite, "throttle frame left"},
      {{11, 40, 19, 90}, kBlack, "clutch bar empty"},   {{41, 40, 49, 90}, kBlack, "throttle bar empty"},
      {{8, 39, 10, 40}, kWhite, "long mark 100 %"},     {{8, 64, 10, 65}, kWhite, "long mark 50 %"},
      {{8, 90, 10, 91}, kWhite, "long mark 0 %"},       {{9, 44, 10, 45}, kWhite, "short mark 90 %"},
      {{8, 44, 9, 45}, kBlack, "short mark is short"},  {{24, 84, 25, 85}, kWhite, "brake short mark 10 %"},
      {{38, 60, 40, 64}, kBlack, "no mark between 50 and 60 %"}, {{38, 64, 40, 65}, kWhite, "throttle long mark"},
      {{0, 39, 8, 91}, kBlack, "left of the scales"},
  };
  const std::vector<Expect> twoPanels = {
      {{60, 39, 100, 40}, kOrange, "MAX panel top"},  {{60, 90, 100, 91}, kOrange, "MAX panel bottom"},
      {{60, 39, 61, 91}, kOrange, "MAX panel left"},  {{99, 39, 100, 91}, kOrange, "MAX panel right"},
      {{105, 39, 145, 40}, kOrange, "CUT panel top"}, {{144, 39, 145, 91}, kOrange, "CUT panel right"},
      {{100, 39, 105, 91}, kBlack, "gap between panels"}, {{145, 39, 150, 91}, kBlack, "right of CUT"},
  };
  const std::vector<Expect> onePanel = {
      {{77, 39, 127, 40}, kOrange, "panel top"},   {{77, 90, 127, 91}, kOrange, "panel bottom"},
      {{77, 39, 78, 91}, kOrange, "panel left"},   {{126, 39, 127, 91}, kOrange, "panel right"},
      {{55, 39, 77, 101}, kBlack, "left of the panel"}, {{127, 39, 150, 101}, kBlack, "right of the panel"},
  };
  const std::vector<Expect> noClutchFrames = {
      {{18, 39, 28, 40}, kWhite, "brake frame top"},  {{27, 39, 28, 91}, kWhite, "brake frame right"},
      {{33, 90, 43, 91}, kWhite, "throttle frame bottom"}, {{19, 40, 27, 90}, kBlack, "brake bar empty"},
      {{16, 39, 18, 40}, kWhite, "long mark 100 %"},  {{17, 84, 18, 85}, kWhite, "short mark 10 %"},
      {{31, 64, 33, 65}, kWhite, "throttle long mark"}, {{0, 39, 16, 101}, kBlack, "no clutch column"},
      {{43, 39, 55, 101}, kBlack, "right of the throttle"},
  };
  auto join = [](std::vector<Expect> a, const std::vector<Expect>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const Layout layouts[] = {
      {0, join(noClutchFrames, onePanel)},
      {1, join(noClutchFrames, twoPanels)},
      {2, join(clutchFrames, onePanel)},
      {3, join(clutchFrames, twoPanels)},
  };
  const QImage header = headerPicture();
  ASSERT_EQ(header.size(), QSize(150, 18));
  for (const Layout& layout : layouts) {
    MonitorPicture fresh;
    fresh.image().fill(QColor(kMarker));
    fresh.draw(PictureValues{0, 0, 0, 0, 0, layout.mode}, true);
    const std::string where = "mode " + std::to_string(layout.mode);
    expectAll(fresh.image(), layout.rows, where);
    EXPECT_EQ(fresh.image().copy(0, 0, 150, 18), header.convertToFormat(QImage::Format_RGB888))
        << where << ": header";
    EXPECT_EQ(mismatches(fresh.image(), {150, 0, 152, 102}, kMarker), "")
        << where << ": the two right columns are outside the background";
    EXPECT_EQ(mismatches(fresh.image(), {0, 101, 150, 102}, kBlack), "") << where << ": last row";
  }
}

TEST_F(PictureTest, BarLevelsFollowThePercentage) {
  struct Row {
    unsigned mode;
    int clutch, brake, throttle;
    std::vector<Expect> rows;
  };
  const Row rows[] = {
      {2, 0, 0, 0, {{{26, 40, 34, 90}, kBlack, "brake 0 %: all cleared"}}},
      {2, 0, 100, 0, {{{26, 40, 34, 90}, kRed, "brake 100 %: exactly the frame inside"},
                      {{25, 39, 35, 40}, kMarker, "the frame top row is left alone"}}},
      {2, 0, 99, 0, {{{26, 40, 34, 41}, kBlack, "brake 99 %: one row cleared"},
                     {{26, 41, 34, 90}, kRed, "brake 99 %: level y = 41"}}},
      {2, 0, 1, 0, {{{26, 40, 34, 90}, kBlack, "brake 1 %: half a pixel is none"}}},
      {2, 0, 101, 0, {{{26, 40, 34, 90}, kRed, "brake above 100 % fills the frame"},
                      {{25, 0, 35, 40}, kMarker, "and stops below the frame top"}}},
      {2, 0, 255, 0, {{{26, 40, 34, 90}, kRed, "brake 255 % fills the frame"},
                      {{25, 0, 35, 39}, kMarker, "nothing above the frame is painted"}}},
      {2, 30, 60, 90, {{{11, 40, 19, 75}, kBlack, "clutch 30 %: cleared above"},
                       {{11, 75, 19, 90}, kBlue, "clutch 30 %: blue from y = 75"},
                       {{26, 60, 34, 90}, kRed, "brake 60 %"},
                       {{41, 40, 49, 45}, kBlack, "throttle 90 %: cleared above"},
                       {{41, 45, 49, 90}, kGreen, "throttle 90 %: green from y = 45"}}},
      {0, 77, 50, 25, {{{19, 40, 27, 65}, kBlack, "no clutch: brake cleared above"},
                       {{19, 65, 27, 90}, kRed, "no clutch: brake bar in the first frame"},
                       {{34, 78, 42, 90}, kGreen, "no clutch: throttle 25 % from y = 78"},
                       {{34, 40, 42, 78}, kBlack, "no clutch: throttle cleared above"},
                       {{11, 40, 19, 90}, kMarker, "no clutch: the clutch value is not drawn"}}},
  };
  for (const Row& row : rows) {
    MonitorPicture fresh;
    fresh.draw(PictureValues{0, 0, 0, 0, 0, row.mode}, true);
    // Everything the bar drawing does not cover shows up as marker colour.
    fresh.image().fill(QColor(kMarker));
    fresh.draw(PictureValues{row.throttle, row.brake, row.clutch, 0, 0, row.mode}, false);
    expectAll(fresh.image(), row.rows,
              "brake " + std::to_string(row.brake) + " mode " + std::to_string(row.mode));
  }
}

TEST_F(PictureTest, BarsAndNumbersAloneAreRedrawnWithoutFullBackground) {
  for (unsigned mode = 0; mode < 4; ++mode) {
    MonitorPicture fresh;
    fresh.draw(PictureValues{0, 0, 0, 0, 0, mode}, true);
    fresh.image().fill(QColor(kMarker));
    fresh.draw(PictureValues{40, 50, 60, 7, 8, mode}, false);
    // What a drawing may touch: the bar insides and the number rectangles.
    std::vector<Rect> touched;
    if (mode & 2) {
      touched = {{11, 40, 19, 90}, {26, 40, 34, 90}, {41, 40, 49, 90}};
    } else {
      touched = {{19, 40, 27, 90}, {34, 40, 42, 90}};
    }
    if (mode & 1) {
      touched.push_back({61, 40, 99, 90});
      touched.push_back({106, 40, 144, 90});
    } else {
      touched.push_back({78, 40, 126, 90});
    }
    int changedOutside = 0;
    for (int y = 0; y < 102; ++y) {
      for (int x = 0; x < 152; ++x) {
        bool inside = false;
        for (const Rect& r : touched) {
          inside |= x >= r.left && x < r.right && y >= r.top && y < r.bottom;
        }
        if (inside) {
          EXPECT_NE(fresh.image().pixel(x, y), kMarker | 0xFF000000u)
              << "mode " << mode << ": " << x << "," << y << " inside was not redrawn";
          if (fresh.image().pixel(x, y) == (kMarker | 0xFF000000u)) return;
        } else if (fresh.image().pixel(x, y) != (kMarker | 0xFF000000u)) {
          ++changedOutside;
        }
      }
    }
    EXPECT_EQ(changedOutside, 0) << "mode " << mode;
  }
}

TEST_F(PictureTest, NumbersAndLabelsAreCentredPlainWhiteOnBlack) {
  picture.draw(PictureValues{0, 0, 0, 100, 88, 3}, true);
  const QImage& image = picture.image();
  struct TextBox {
    Rect rect;
    const char* what;
  };
  const TextBox boxes[] = {
      {{61, 40, 99, 90}, "MAX number"}, {{106, 40, 144, 90}, "CUT number"},
      {{60, 92, 100, 100}, "MAX label"}, {{105, 92, 145, 100}, "CUT label"},
      {{55, 20, 150, 30}, "title"},
  };
  for (const TextBox& box : boxes) {
    int whites = 0;
    EXPECT_TRUE(onlyBlackAndWhite(image, box.rect, &whites)) << box.what << " is antialiased";
    EXPECT_GT(whites, 5) << box.what << " has no text";
  }
  // The black number box leaves a one-pixel orange border of the panel.
  EXPECT_EQ(mismatches(image, {60, 39, 61, 91}, kOrange), "");
  EXPECT_EQ(mismatches(image, {99, 39, 100, 91}, kOrange), "");
  EXPECT_EQ(mismatches(image, {61, 90, 99, 91}, kOrange), "");

  // Centred: the white ink of "100" is balanced left and right within its box.
  int leftmost = 999, rightmost = -1, top = 999, bottom = -1;
  for (int y = 40; y < 90; ++y) {
    for (int x = 61; x < 99; ++x) {
      if ((image.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF) {
        leftmost = std::min(leftmost, x);
        rightmost = std::max(rightmost, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
  }
  EXPECT_LE(std::abs((leftmost - 61) - (98 - rightmost)), 3) << leftmost << ".." << rightmost;
  EXPECT_LE(std::abs((top - 40) - (89 - bottom)), 6) << top << ".." << bottom;
}

TEST_F(PictureTest, ModeChangeRedrawsTheWholeLayout) {
  picture.draw(PictureValues{0, 0, 0, 5, 0, 2}, true);
  EXPECT_EQ(mismatches(picture.image(), {77, 39, 127, 40}, kOrange), "");

  picture.draw(PictureValues{0, 0, 0, 5, 9, 3}, true);
  EXPECT_EQ(mismatches(picture.image(), {105, 39, 145, 40}, kOrange), "") << "CUT panel added";
  EXPECT_EQ(mismatches(picture.image(), {100, 39, 105, 91}, kBlack), "") << "old panel gone";
  int whites = 0;
  EXPECT_TRUE(onlyBlackAndWhite(picture.image(), {105, 92, 145, 100}, &whites));
  EXPECT_GT(whites, 5) << "CUT label";

  picture.draw(PictureValues{0, 0, 0, 5, 9, 2}, true);
  EXPECT_EQ(mismatches(picture.image(), {127, 39, 150, 102}, kBlack), "") << "CUT panel removed";
  EXPECT_EQ(mismatches(picture.image(), {77, 39, 127, 40}, kOrange), "");
}

TEST_F(PictureTest, TraceViewDrawsTheLinesOverTheHeldBrakeApplication) {
  const QRgb grey = qRgb(128, 128, 128);
  const QRgb grid = qRgb(48, 48, 48);
  PedalTrace trace;
  for (int i = 0; i < 10; ++i) trace.add(0, 0, 0);
  for (int brake : {20, 50, 80, 80, 80, 80, 50, 20, 0, 0, 0, 0}) trace.add(0, brake, 0);
  for (int i = 0; i < 8; ++i) trace.add(50, 20, 30);  // 30 updates: 8 columns, x = 131..138
  ASSERT_EQ(trace.heldBrake().size(), 3u);              // 0, 20, 50, 80 | 80, 80, 80, 50 | 20, 0

  for (unsigned mode : {0u, 2u}) {
    MonitorPicture fresh;
    fresh.image().fill(QColor(kMarker));
    fresh.drawTrace(trace, mode, true);
    const std::string where = "mode " + std::to_string(mode);
    expectAll(fresh.image(),
              {{{13, 21, 140, 22}, kWhite, "frame top"}, {{13, 100, 140, 101}, kWhite, "frame bottom"},
               {{13, 21, 14, 101}, kWhite, "frame left"}, {{139, 21, 140, 101}, kWhite, "frame right"},
               {{10, 23, 13, 24}, kWhite, "long mark 100 %"}, {{10, 98, 13, 99}, kWhite, "long mark 0 %"},
               {{14, 38, 16, 39}, grey, "held peak 80 % at y = 38, from the left edge"},
               {{14, 39, 15, 99}, grey, "held rise from 0 %"},
               {{16, 61, 17, 99}, grey, "held release joined from 50 % down to 0 %"},
               {{16, 43, 17, 61}, kBlack, "above the release"},
               {{30, 80, 131, 81}, grid, "25 % line"}, {{30, 50, 131, 60}, kBlack, "empty plot"},
               {{137, 83, 139, 84}, kRed, "live brake 20 % at y = 83, newest on the right"},
               {{137, 61, 139, 62}, kGreen, "live throttle 50 % on the 50 % line"},
               {{131, 98, 133, 99}, kRed, "the brake at rest 5 s ago, on top of the throttle"},
               {{140, 18, 150, 102}, kBlack, "right of the frame"}},
              where);
    EXPECT_EQ(fresh.image().copy(0, 0, 150, 18), headerPicture().convertToFormat(QImage::Format_RGB888))
        << where << ": header";
    EXPECT_EQ(fresh.image().pixel(138, 76), mode == 2 ? kBlue : kBlack) << where << ": clutch 30 %";
  }
}
