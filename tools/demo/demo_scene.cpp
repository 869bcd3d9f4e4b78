#include "tools/demo/demo_scene.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/demo/demo_textures.hpp"

namespace drec {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFrameSeconds = 1.0 / kDemoFramesPerSecond;

double smoothstep(double edge0, double edge1, double x) {
  double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

double lerp(double a, double b, double t) { return a + (b - a) * t; }

// ---------------------------------------------------------------------------
// The recorded screen. The game projected with a focal length of 400 pixels,
// the horizon 45 % down the screen; positions are in the recording's 1/255
// units. Depth 32767 (w = 2) is the nearest the player draws, so the near
// plane at 0.5 m gets that depth and depth falls as 1 / distance beyond it,
// which keeps w proportional to the distance and the texturing perspective-
// correct.

constexpr double kFocalX = 400.0 * 255.0 / kDemoWidth;   // units per unit of x / z
constexpr double kFocalY = 400.0 * 255.0 / kDemoHeight;
constexpr double kCentreX = 127.5;
constexpr double kHorizon = 115.0;
constexpr double kNear = 0.5;
constexpr double kNearDepth = 32767.0;

// A colour in 1/15 steps. The player draws a colour whose red is 5 or less
// as plain white (it only modulates the texture), so every tinted colour
// keeps its red above 5.
struct Tint {
  double red;
  double green;
  double blue;
};
constexpr Tint kPlain{0, 0, 0};  // red 5 or less: drawn white

// A vertex in camera space: x right, y up, z forward, metres.
struct Vertex {
  double x;
  double y;
  double z;
  double s;  // texture coordinates, 0 to 255
  double t;
  Tint tint;
};

Vertex mixVertices(const Vertex& a, const Vertex& b, double f) {
  return Vertex{lerp(a.x, b.x, f), lerp(a.y, b.y, f), lerp(a.z, b.z, f),
                lerp(a.s, b.s, f), lerp(a.t, b.t, f),
                Tint{lerp(a.tint.red, b.tint.red, f), lerp(a.tint.green, b.tint.green, f),
                     lerp(a.tint.blue, b.tint.blue, f)}};
}

// The near plane and the four edges of the recorded screen, each as a
// function that is 0 or more inside.
constexpr int kClipPlanes = 5;
double insideOf(int plane, const Vertex& v) {
  switch (plane) {
    case 0: return v.z - kNear;
    case 1: return kFocalX * v.x + kCentreX * v.z;
    case 2: return (255.0 - kCentreX) * v.z - kFocalX * v.x;
    case 3: return kHorizon * v.z - kFocalY * v.y;
    default: return (255.0 - kHorizon) * v.z + kFocalY * v.y;
  }
}

constexpr int kMaxPolygon = 16;
struct Polygon {
  std::array<Vertex, kMaxPolygon> vertices;
  int count;
};

// One step of polygon clipping. A crossing is always interpolated from the
// inside end of the edge, so two polygons sharing an edge get the very same
// new vertex and no crack opens between them.
void clipPolygon(const Polygon& in, int plane, Polygon& out) {
  out.count = 0;
  for (int i = 0; i < in.count; ++i) {
    const Vertex& a = in.vertices[i];
    const Vertex& b = in.vertices[(i + 1) % in.count];
    double da = insideOf(plane, a);
    double db = insideOf(plane, b);
    if (da >= 0 && out.count < kMaxPolygon) out.vertices[out.count++] = a;
    if ((da >= 0) != (db >= 0) && out.count < kMaxPolygon) {
      bool aInside = da >= 0;
      const Vertex& inside = aInside ? a : b;
      const Vertex& outside = aInside ? b : a;
      double din = aInside ? da : db;
      double dout = aInside ? db : da;
      out.vertices[out.count++] = mixVertices(inside, outside, din / (din - dout));
    }
  }
}

uint8_t unitByte(double value) {
  return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

int nibble(double value) { return static_cast<int>(std::clamp(std::lround(value), 0L, 15L)); }

TriangleVertex projectVertex(const Vertex& v, bool halfTransparent) {
  TriangleVertex out;
  out.s = unitByte(v.s);
  out.t = unitByte(v.t);
  out.x = unitByte(kCentreX + kFocalX * v.x / v.z);
  out.y = unitByte(kHorizon - kFocalY * v.y / v.z);
  out.depth = static_cast<uint16_t>(std::clamp(std::lround(kNearDepth * kNear / v.z), 1L, 32767L));
  out.color = packColor(halfTransparent ? 0 : 15, nibble(v.tint.red), nibble(v.tint.green),
                        nibble(v.tint.blue));
  return out;
}

// How a polygon is drawn. `keepRuns`: once the blend state is in force,
// further triangles say "keep the blend state" (modes 3 to 7), as the game
// does inside a batch.
struct Material {
  int slot;
  int mode;  // 0 opaque, 1 alpha blended, 2 leaves the colour buffer as it was
  bool halfTransparent;  // alpha nibble 0: the player draws it at alpha 0.5
  bool keepRuns;
};

struct Painter {
  RecordingWriter* writer;
  int blendState;  // the last mode 0, 1 or 2 sent this frame; -1 at its start
  int keepCount;
};

void emitTriangle(Painter& painter, const Material& material, const TriangleVertex (&tri)[3]) {
  int mode = material.mode;
  if (material.keepRuns && painter.blendState == material.mode) mode = 3 + painter.keepCount++ % 5;
  painter.blendState = material.mode;
  writeTriangle(*painter.writer, triangleState(material.slot, mode), tri);
}

void drawPolygon(Painter& painter, const Material& material, std::initializer_list<Vertex> vertices) {
  Polygon polygons[2];
  Polygon* in = &polygons[0];
  Polygon* out = &polygons[1];
  in->count = 0;
  for (const Vertex& v : vertices) in->vertices[in->count++] = v;
  for (int plane = 0; plane < kClipPlanes; ++plane) {
    clipPolygon(*in, plane, *out);
    std::swap(in, out);
    if (in->count < 3) return;
  }
  std::array<TriangleVertex, kMaxPolygon> projected;
  for (int i = 0; i < in->count; ++i)
    projected[i] = projectVertex(in->vertices[i], material.halfTransparent);
  for (int i = 1; i + 1 < in->count; ++i) {
    TriangleVertex tri[3] = {projected[0], projected[i], projected[i + 1]};
    int area = (tri[1].x - tri[0].x) * (tri[2].y - tri[0].y) - (tri[2].x - tri[0].x) * (tri[1].y - tri[0].y);
    if (area == 0) continue;  // nothing left to see after rounding
    emitTriangle(painter, material, tri);
  }
}

// A point given on the recorded screen, at the near plane.
Vertex screenVertex(double x, double y, double s, double t, Tint tint) {
  return Vertex{(x - kCentreX) * kNear / kFocalX, (kHorizon - y) * kNear / kFocalY, kNear, s, t, tint};
}

void drawScreenRectangle(Painter& painter, const Material& material, double x0, double y0, double x1,
                         double y1, Tint top, Tint bottom, double s0 = 0, double t0 = 0,
                         double s1 = 255, double t1 = 255) {
  drawPolygon(painter, material,
              {screenVertex(x0, y0, s0, t0, top), screenVertex(x1, y0, s1, t0, top),
               screenVertex(x1, y1, s1, t1, bottom), screenVertex(x0, y1, s0, t1, bottom)});
}

// ---------------------------------------------------------------------------
// The road: its centre line as a curve of given curvature, sampled every
// metre. Heading 0 looks along +z; a positive curvature turns right.

struct Curve {
  double start;
  double end;
  double curvature;
};
constexpr Curve kCurves[] = {
    {170, 400, 1.0 / 320}, {640, 830, -1.0 / 210}, {900, 1040, 1.0 / 250}, {1240, 1500, -1.0 / 300}};
constexpr double kCurveEasing = 40;
constexpr int kTrackMetres = 1900;
constexpr double kGantryAt = 520;   // start and finish line
constexpr double kBridgeAt = 1150;  // a road crossing over
constexpr double kRoadHalfWidth = 5.0;
constexpr double kKerbWidth = 0.9;
constexpr double kGrassHalfWidth = 90.0;
constexpr double kSegmentLength = 6.0;  // one repeat of the road texture
constexpr int kSegmentsDrawn = 28;

double curvatureAt(double s) {
  double curvature = 0;
  for (const Curve& curve : kCurves) {
    double easeIn = smoothstep(curve.start, curve.start + kCurveEasing, s);
    double easeOut = 1 - smoothstep(curve.end - kCurveEasing, curve.end, s);
    curvature += curve.curvature * std::min(easeIn, easeOut);
  }
  return curvature;
}

struct Track {
  std::vector<double> x;
  std::vector<double> z;
  std::vector<double> heading;
};

Track buildTrack() {
  Track track;
  track.x.assign(kTrackMetres + 1, 0.0);
  track.z.assign(kTrackMetres + 1, 0.0);
  track.heading.assign(kTrackMetres + 1, 0.0);
  for (int i = 0; i < kTrackMetres; ++i) {
    track.heading[i + 1] = track.heading[i] + curvatureAt(i + 0.5);
    double middle = 0.5 * (track.heading[i] + track.heading[i + 1]);
    track.x[i + 1] = track.x[i] + std::sin(middle);
    track.z[i + 1] = track.z[i] + std::cos(middle);
  }
  return track;
}

struct RoadPoint {
  double x;
  double z;
  double heading;
};

RoadPoint roadAt(const Track& track, double s) {
  s = std::clamp(s, 0.0, kTrackMetres - 1e-6);
  int i = static_cast<int>(s);
  double f = s - i;
  return RoadPoint{lerp(track.x[i], track.x[i + 1], f), lerp(track.z[i], track.z[i + 1], f),
                   lerp(track.heading[i], track.heading[i + 1], f)};
}

// The world point `lateral` metres to the right of the centre line.
void besideRoad(const RoadPoint& point, double lateral, double& x, double& z) {
  x = point.x + std::cos(point.heading) * lateral;
  z = point.z - std::sin(point.heading) * lateral;
}

// ---------------------------------------------------------------------------
// What stands beside the road.


enum class PropKind { Pine, RoundTree, Chevron, Bridge, Gantry };

struct Prop {
  PropKind kind;
  double s;
  double lateral;
  double width;
  double height;
  bool mirrored;
};

std::vector<Prop> placeProps() {
  std::vector<Prop> props;
  props.push_back(Prop{PropKind::Gantry, kGantryAt, 0, 18, 6.5, false});
  props.push_back(Prop{PropKind::Bridge, kBridgeAt, 0, 23, 8.0, false});
  for (const Curve& curve : kCurves) {
    double outside = curve.curvature > 0 ? -1 : 1;
    for (double s = curve.start + 25; s < curve.end - 15; s += 24)
      props.push_back(Prop{PropKind::Chevron, s, outside * 8.4, 1.7, 2.4, curve.curvature < 0});
  }
  for (int k = 0; k * 11 < kTrackMetres - 30; ++k) {
    for (int side = 0; side < 2; ++side) {
      if (hashedFraction(k, side, 1) > 0.72) continue;
      double s = 11.0 * k + 8.0 * hashedFraction(k, side, 2);
      if (std::fabs(s - kGantryAt) < 16 || std::fabs(s - kBridgeAt) < 18) continue;
      double away = 11 + 30 * hashedFraction(k, side, 3) * hashedFraction(k, side, 3);
      double lateral = side == 0 ? -away : away;
      bool pine = hashedFraction(k, side, 4) < 0.6;
      double height = pine ? 8 + 6 * hashedFraction(k, side, 5) : 5.5 + 3.5 * hashedFraction(k, side, 5);
      double width = pine ? height * 0.5 : height;
      props.push_back(Prop{pine ? PropKind::Pine : PropKind::RoundTree, s, lateral, width, height,
                           hashedFraction(k, side, 6) < 0.5});
    }
  }
  return props;
}

// ---------------------------------------------------------------------------
// The drive: the car follows the road at the speed its curves allow,
// braking ahead of them, and drifts to the inside through them.

constexpr double kTopSpeed = 56;  // m/s
constexpr double kGrip = 8;       // sideways m/s^2 the car holds in a curve
constexpr double kBraking = 7;    // m/s^2
constexpr double kAcceleration = 3.2;
constexpr double kChaseDistance = 5.0;
constexpr double kChaseHeight = 1.7;
constexpr int kLaps = 3;

struct Drive {
  double s;
  double speed;
  double lateral;
  double time;
  double lapTime;
  double lastLap;  // negative until a lap is complete
  double lapShownUntil;  // the "LAP n" message shows until this time
  int lap;
  bool braking;
};

double speedLimitAt(double s) {
  double limit = kTopSpeed;
  for (double ahead = 0; ahead <= 160; ahead += 8) {
    double curvature = std::fabs(curvatureAt(s + ahead));
    if (curvature < 1e-6) continue;
    double corner = std::sqrt(kGrip / curvature);
    limit = std::min(limit, std::sqrt(corner * corner + 2 * kBraking * ahead));
  }
  return limit;
}

Drive startDrive() {
  Drive drive{};
  drive.s = 40;
  drive.speed = 50;
  drive.lapTime = 47.18;
  drive.lastLap = -1;
  drive.lapShownUntil = -1;
  drive.lap = 1;
  return drive;
}

void stepDrive(Drive& drive) {
  double limit = speedLimitAt(drive.s);
  drive.braking = limit < drive.speed - 0.2;
  if (drive.speed < limit) drive.speed = std::min(limit, drive.speed + kAcceleration * kFrameSeconds);
  else drive.speed = std::max(limit, drive.speed - kBraking * kFrameSeconds);
  double before = drive.s;
  drive.s += drive.speed * kFrameSeconds;
  drive.time += kFrameSeconds;
  drive.lapTime += kFrameSeconds;
  if (before < kGantryAt && drive.s >= kGantryAt) {
    double since = (drive.s - kGantryAt) / drive.speed;
    drive.lastLap = drive.lapTime - since;
    drive.lapTime = since;
    drive.lap = std::min(drive.lap + 1, kLaps);
    drive.lapShownUntil = drive.time + 2.0;
  }
  double inside = std::clamp(curvatureAt(drive.s + 25) * 700, -2.4, 2.4);
  double target = inside + 0.35 * std::sin(0.45 * drive.time);
  drive.lateral += (target - drive.lateral) * 0.025;
}

struct Camera {
  double x;
  double z;
  double height;
  double yaw;
};

Camera chaseCamera(const Track& track, const Drive& drive) {
  Camera camera{};
  besideRoad(roadAt(track, drive.s - kChaseDistance), drive.lateral * 0.8, camera.x, camera.z);
  camera.height = kChaseHeight + 0.012 * std::sin(drive.time * 13.0);
  double aimX;
  double aimZ;
  besideRoad(roadAt(track, drive.s + 14), drive.lateral * 0.6, aimX, aimZ);
  camera.yaw = std::atan2(aimX - camera.x, aimZ - camera.z);
  return camera;
}

Vertex toCamera(const Camera& camera, double x, double y, double z, double s, double t, Tint tint) {
  double dx = x - camera.x;
  double dz = z - camera.z;
  double c = std::cos(camera.yaw);
  double n = std::sin(camera.yaw);
  return Vertex{dx * c - dz * n, y - camera.height, dx * n + dz * c, s, t, tint};
}

Vertex roadVertex(const Camera& camera, const RoadPoint& point, double lateral, double height,
                  double s, double t, Tint tint) {
  double x;
  double z;
  besideRoad(point, lateral, x, z);
  return toCamera(camera, x, height, z, s, t, tint);
}

// ---------------------------------------------------------------------------
// One frame, back to front: the player never clears the screen, so the sky
// and the ground cover all of it first.

const Tint kSkyTop{6, 8, 14};
const Tint kSkyMiddle{8, 11, 15};
const Tint kSkyLow{12, 13.5, 15};
const Tint kHaze{9, 11, 9};
const Tint kGroundNear{6, 10, 3.5};
const Tint kGrassLight{7.5, 11.5, 4};
const Tint kGrassDark{6, 9.5, 3};
const Tint kShadow{1, 1, 2};
const Tint kPanel{1, 1, 3};
const Tint kSpeedColour{15, 13, 3};
const Tint kLabelColour{9, 13, 15};
const Tint kWhite{15, 15, 15};

Tint fogged(Tint tint, double distance) {
  double f = smoothstep(25, 165, distance);
  return Tint{lerp(tint.red, kHaze.red, f), lerp(tint.green, kHaze.green, f),
              lerp(tint.blue, kHaze.blue, f)};
}

double wrapAngle(double angle) {
  while (angle > kPi) angle -= 2 * kPi;
  while (angle < -kPi) angle += 2 * kPi;
  return angle;
}

void drawSky(Painter& painter) {
  const Material sky{kSlotNone, 0, false, true};
  drawScreenRectangle(painter, sky, 0, 0, 255, 64, kSkyTop, kSkyMiddle);
  drawScreenRectangle(painter, sky, 0, 64, 255, kHorizon + 2, kSkyMiddle, kSkyLow);
}

void drawClouds(Painter& painter, const Camera& camera, double time) {
  const Material cloud{kSlotCloud, 1, true, true};
  const double clouds[][4] = {{-0.55, 14, 70, 26}, {0.30, 30, 52, 20}, {1.05, 8, 80, 30},
                              {2.4, 20, 64, 24}};
  for (const auto& c : clouds) {
    double angle = wrapAngle(c[0] + 0.004 * time - camera.yaw);
    if (std::fabs(angle) > 1.2) continue;
    double x = kCentreX + kFocalX * std::tan(angle);
    drawScreenRectangle(painter, cloud, x - c[2] / 2, c[1], x + c[2] / 2, c[1] + c[3], kWhite, kWhite);
  }
}

void drawHills(Painter& painter, const Camera& camera) {
  const Material hills{kSlotHills, 1, false, true};
  const double tileAngle = kPi / 2;
  int first = static_cast<int>(std::floor((camera.yaw - 1.0) / tileAngle));
  int last = static_cast<int>(std::floor((camera.yaw + 1.0) / tileAngle));
  for (int tile = first; tile <= last; ++tile) {
    double x0 = kCentreX + kFocalX * (tile * tileAngle - camera.yaw);
    double x1 = x0 + kFocalX * tileAngle;
    drawScreenRectangle(painter, hills, x0, kHorizon - 30, x1, kHorizon + 1, kPlain, kPlain);
  }
}

void drawGround(Painter& painter) {
  const Material ground{kSlotNone, 0, false, true};
  drawScreenRectangle(painter, ground, 0, kHorizon, 255, 255, kHaze, kGroundNear);
}

// The grass first, all of it: its edges, rounded to whole units apart from
// the road's, would otherwise show as green seams across the road. Then the
// road and its kerbs, far to near.
void drawRoad(Painter& painter, const Track& track, const Camera& camera, double cameraS) {
  const Material grass{kSlotNone, 0, false, true};
  const Material road{kSlotRoad, 0, false, true};
  const Material kerb{kSlotKerb, 0, false, true};
  int firstSegment = static_cast<int>(std::floor(cameraS / kSegmentLength));
  for (int k = kSegmentsDrawn - 1; k >= 0; --k) {
    int segment = firstSegment + k;
    RoadPoint p0 = roadAt(track, segment * kSegmentLength);
    RoadPoint p1 = roadAt(track, (segment + 1) * kSegmentLength);
    Tint stripe = (segment / 2) % 2 == 0 ? kGrassLight : kGrassDark;
    Vertex field[4] = {roadVertex(camera, p0, -kGrassHalfWidth, 0, 0, 0, stripe),
                       roadVertex(camera, p0, kGrassHalfWidth, 0, 0, 0, stripe),
                       roadVertex(camera, p1, kGrassHalfWidth, 0, 0, 0, stripe),
                       roadVertex(camera, p1, -kGrassHalfWidth, 0, 0, 0, stripe)};
    for (Vertex& v : field) v.tint = fogged(stripe, std::hypot(v.x, v.z));
    drawPolygon(painter, grass, {field[0], field[1], field[2], field[3]});
  }
  for (int k = kSegmentsDrawn - 1; k >= 0; --k) {
    int segment = firstSegment + k;
    RoadPoint p0 = roadAt(track, segment * kSegmentLength);
    RoadPoint p1 = roadAt(track, (segment + 1) * kSegmentLength);
    drawPolygon(painter, road,
                {roadVertex(camera, p0, -kRoadHalfWidth, 0, 0, 255, kPlain),
                 roadVertex(camera, p0, kRoadHalfWidth, 0, 255, 255, kPlain),
                 roadVertex(camera, p1, kRoadHalfWidth, 0, 255, 0, kPlain),
                 roadVertex(camera, p1, -kRoadHalfWidth, 0, 0, 0, kPlain)});
    for (double side : {-1.0, 1.0}) {
      double inner = side * kRoadHalfWidth;
      double outer = side * (kRoadHalfWidth + kKerbWidth);
      drawPolygon(painter, kerb,
                  {roadVertex(camera, p0, outer, 0, 0, 255, kPlain),
                   roadVertex(camera, p0, inner, 0, 255, 255, kPlain),
                   roadVertex(camera, p1, inner, 0, 255, 0, kPlain),
                   roadVertex(camera, p1, outer, 0, 0, 0, kPlain)});
    }
  }
}

void drawShadow(Painter& painter, const Track& track, const Camera& camera, const Drive& drive) {
  const Material shadow{kSlotNone, 1, true, false};
  RoadPoint rear = roadAt(track, drive.s - 0.3);
  RoadPoint front = roadAt(track, drive.s + 3.9);
  drawPolygon(painter, shadow,
              {roadVertex(camera, rear, drive.lateral - 1.1, 0.03, 0, 0, kShadow),
               roadVertex(camera, rear, drive.lateral + 1.1, 0.03, 0, 0, kShadow),
               roadVertex(camera, front, drive.lateral + 1.0, 0.03, 0, 0, kShadow),
               roadVertex(camera, front, drive.lateral - 1.0, 0.03, 0, 0, kShadow)});
}

// A quad standing across the road at the prop's place, facing the traffic.
void drawAcrossRoad(Painter& painter, const Material& material, const Track& track,
                    const Camera& camera, double s, double left, double right, double bottom,
                    double top, bool mirrored) {
  RoadPoint at = roadAt(track, s);
  double sLeft = mirrored ? 255 : 0;
  double sRight = 255 - sLeft;
  drawPolygon(painter, material,
              {roadVertex(camera, at, left, top, sLeft, 0, kPlain),
               roadVertex(camera, at, right, top, sRight, 0, kPlain),
               roadVertex(camera, at, right, bottom, sRight, 255, kPlain),
               roadVertex(camera, at, left, bottom, sLeft, 255, kPlain)});
}

// A quad facing the camera, standing on the ground at camera-space (x, z).
void drawFacingCamera(Painter& painter, const Material& material, const Camera& camera, double x,
                      double z, double width, double bottom, double top, bool mirrored) {
  double sLeft = mirrored ? 255 : 0;
  double sRight = 255 - sLeft;
  double y0 = bottom - camera.height;
  double y1 = top - camera.height;
  drawPolygon(painter, material,
              {Vertex{x - width / 2, y1, z, sLeft, 0, kPlain}, Vertex{x + width / 2, y1, z, sRight, 0, kPlain},
               Vertex{x + width / 2, y0, z, sRight, 255, kPlain},
               Vertex{x - width / 2, y0, z, sLeft, 255, kPlain}});
}

void drawProp(Painter& painter, const Track& track, const Camera& camera, const Prop& prop,
              const Vertex& centre) {
  switch (prop.kind) {
    case PropKind::Pine:
    case PropKind::RoundTree: {
      const Material tree{prop.kind == PropKind::Pine ? kSlotPine : kSlotRoundTree, 1, false, true};
      drawFacingCamera(painter, tree, camera, centre.x, centre.z, prop.width, 0, prop.height,
                       prop.mirrored);
      break;
    }
    case PropKind::Chevron: {
      const Material sign{kSlotChevron, 1, false, true};
      drawAcrossRoad(painter, sign, track, camera, prop.s, prop.lateral - prop.width / 2,
                     prop.lateral + prop.width / 2, 0, prop.height, prop.mirrored);
      break;
    }
    case PropKind::Bridge:
    case PropKind::Gantry: {
      const Material bridge{kSlotBridge, 1, false, true};
      double half = prop.width / 2;
      drawAcrossRoad(painter, bridge, track, camera, prop.s, -half, half, 0, prop.height, false);
      if (prop.kind == PropKind::Gantry) {
        // The banner hangs on the deck's face, in front of it.
        const Material banner{kSlotBanner, 1, false, true};
        drawAcrossRoad(painter, banner, track, camera, prop.s - 0.05, -half + 2.2, half - 2.2,
                       prop.height * (1 - 17.0 / 64), prop.height * (1 - 5.0 / 64), false);
      }
      break;
    }
  }
}

void drawCar(Painter& painter, const Track& track, const Camera& camera, const Drive& drive) {
  double x;
  double z;
  besideRoad(roadAt(track, drive.s), drive.lateral, x, z);
  Vertex at = toCamera(camera, x, 0, z, 0, 0, kPlain);
  double bob = 0.015 * std::sin(drive.time * 17.0);
  const Material car{drive.braking ? kSlotCarBraking : kSlotCar, 1, false, false};
  drawFacingCamera(painter, car, camera, at.x, at.z, 1.9, 0.04 + bob, 1.23 + bob, false);
  // The game drew the rear window once more in a mode that leaves the
  // picture unchanged.
  const Material unseen{kSlotNone, 2, false, false};
  double y = 0.95 + bob - camera.height;
  drawPolygon(painter, unseen,
              {Vertex{at.x - 0.5, y, at.z, 0, 0, kWhite}, Vertex{at.x + 0.5, y, at.z, 0, 0, kWhite},
               Vertex{at.x, y + 0.25, at.z, 0, 0, kWhite}});
}

struct Placed {
  double z;
  int index;  // into the props, or -1 for the car
  Vertex centre;
};

void drawPropsAndCar(Painter& painter, const Track& track, const Camera& camera,
                     const std::vector<Prop>& props, const Drive& drive, double cameraS,
                     std::vector<Placed>& placed) {
  placed.clear();
  for (size_t i = 0; i < props.size(); ++i) {
    const Prop& prop = props[i];
    if (prop.s < cameraS - 3 || prop.s > cameraS + kSegmentsDrawn * kSegmentLength) continue;
    double x;
    double z;
    besideRoad(roadAt(track, prop.s), prop.lateral, x, z);
    Vertex centre = toCamera(camera, x, 0, z, 0, 0, kPlain);
    bool across = prop.kind != PropKind::Pine && prop.kind != PropKind::RoundTree;
    if (!across && centre.z < kNear) continue;
    placed.push_back(Placed{centre.z, static_cast<int>(i), centre});
  }
  double carX;
  double carZ;
  besideRoad(roadAt(track, drive.s), drive.lateral, carX, carZ);
  Vertex car = toCamera(camera, carX, 0, carZ, 0, 0, kPlain);
  placed.push_back(Placed{car.z, -1, car});
  std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
    return a.z != b.z ? a.z > b.z : a.index < b.index;
  });
  for (const Placed& p : placed) {
    if (p.index < 0) drawCar(painter, track, camera, drive);
    else drawProp(painter, track, camera, props[static_cast<size_t>(p.index)], p.centre);
  }
}

// Text from the HUD font; `height` in screen units, glyph cells 4:5.
void drawText(Painter& painter, const char* text, double x, double y, double width, double height,
              Tint tint) {
  const Material font{kSlotFont, 1, false, false};
  for (const char* c = text; *c; ++c, x += width) {
    if (*c == ' ') continue;
    const char* found = std::strchr(kFontGlyphs, *c);
    if (!found) continue;
    int glyph = static_cast<int>(found - kFontGlyphs);
    double s0 = 255.0 / kFontColumns * (glyph % kFontColumns);
    double t0 = 255.0 / kFontRows * (glyph / kFontColumns);
    drawScreenRectangle(painter, font, x, y, x + width, y + height, tint, tint, s0, t0,
                        s0 + 255.0 / kFontColumns, t0 + 255.0 / kFontRows);
  }
}

void formatLapTime(double seconds, char* text, size_t size) {
  if (seconds < 0) {
    std::snprintf(text, size, "-:--.--");
    return;
  }
  int hundredths = static_cast<int>(std::clamp(std::lround(seconds * 100), 0L, 599999L));
  std::snprintf(text, size, "%d:%02d.%02d", hundredths / 6000, hundredths / 100 % 60,
                hundredths % 100);
}

void drawHud(Painter& painter, const Drive& drive) {
  const Material panel{kSlotNone, 1, true, false};
  char line[48];
  char time[16];

  drawScreenRectangle(painter, panel, 3, 3, 72, 34, kPanel, kPanel);
  std::snprintf(line, sizeof line, "LAP %d/%d", drive.lap, kLaps);
  drawText(painter, line, 6, 5, 5, 8, kPlain);
  formatLapTime(drive.lapTime, time, sizeof time);
  std::snprintf(line, sizeof line, "TIME %s", time);
  drawText(painter, line, 6, 14, 5, 8, kPlain);
  formatLapTime(drive.lastLap, time, sizeof time);
  std::snprintf(line, sizeof line, "LAST %s", time);
  drawText(painter, line, 6, 23, 5, 8, kLabelColour);

  drawScreenRectangle(painter, panel, 178, 214, 252, 252, kPanel, kPanel);
  std::snprintf(line, sizeof line, "%3ld", std::lround(drive.speed * 3.6));
  drawText(painter, line, 182, 217, 10, 16, kSpeedColour);
  drawText(painter, "KM/H", 214, 225, 5, 8, kLabelColour);
  double fraction = std::clamp(drive.speed / kTopSpeed, 0.0, 1.0);
  const Material bar{kSlotNone, 1, false, false};
  Tint end{lerp(6, 15, fraction), lerp(15, 5, fraction), lerp(4, 2, fraction)};
  drawPolygon(painter, bar,
              {screenVertex(182, 238, 0, 0, Tint{6, 15, 4}), screenVertex(182 + 66 * fraction, 238, 0, 0, end),
               screenVertex(182 + 66 * fraction, 246, 0, 0, end),
               screenVertex(182, 246, 0, 0, Tint{6, 15, 4})});

  if (drive.time < drive.lapShownUntil) {
    std::snprintf(line, sizeof line, drive.lap == kLaps ? "FINAL LAP" : "LAP %d", drive.lap);
    double width = 12.0 * static_cast<double>(std::strlen(line));
    drawText(painter, line, kCentreX - width / 2 + 0.25, 44, 12, 19, kSpeedColour);
  }
}

struct Scene {
  Track track;
  std::vector<Prop> props;
  std::vector<Placed> placed;
};

void drawFrame(Painter& painter, Scene& scene, const Drive& drive) {
  painter.blendState = -1;
  Camera camera = chaseCamera(scene.track, drive);
  double cameraS = drive.s - kChaseDistance;
  drawSky(painter);
  drawClouds(painter, camera, drive.time);
  drawHills(painter, camera);
  drawGround(painter);
  drawRoad(painter, scene.track, camera, cameraS);
  drawShadow(painter, scene.track, camera, drive);
  drawPropsAndCar(painter, scene.track, camera, scene.props, drive, cameraS, scene.placed);
  drawHud(painter, drive);
}

}  // namespace

float demoFrameTime(int frame) {
  double seconds = static_cast<double>(frame) / kDemoFramesPerSecond;
  if (frame >= kDemoPauseFrame) seconds += kDemoPauseSeconds;
  return static_cast<float>(seconds);
}

std::string demoTexturePath(TextureKey key) {
  char hex[17];
  textureKeyHex(key, hex);
  return std::string(kDemoTextureFolder) + hex + ".bmp";
}

bool segmentCutsFollowable(const Bytes& stream, const std::vector<size_t>& cuts,
                           std::string& problem) {
  std::vector<ChunkSpan> spans = chunkSpans(stream);
  size_t previous = 0;
  size_t firstLength = cuts.empty() ? stream.size() : cuts[0];
  for (size_t i = 0; i < cuts.size(); ++i) {
    size_t cut = cuts[i];
    if (cut <= previous || cut >= stream.size()) {
      problem = "segment cuts out of order or outside the stream";
      return false;
    }
    if (i > 0 && cut - previous < firstLength) {
      problem = "segment " + std::to_string(i) + " is shorter than segment 0";
      return false;
    }
    bool inside = false;
    for (const ChunkSpan& span : spans) {
      size_t end = span.dataOffset + static_cast<size_t>(span.length);
      // A segment may end right after a length word: the compressed bytes
      // then all come from the next one.
      if (span.length > 0 && cut >= span.dataOffset && cut < end) {
        inside = true;
        if (i > 0 && cuts[i - 1] >= span.dataOffset) {
          problem = "a chunk runs over three segments";
          return false;
        }
      }
    }
    if (!inside) {
      problem = "segment " + std::to_string(i) + " does not end inside a chunk's compressed bytes";
      return false;
    }
    previous = cut;
  }
  return true;
}

bool buildDemo(Demo& demo, std::string& problem) {
  demo = Demo{};
  demo.textures = makeDemoTextures();
  TextureTable keys{};
  for (const DemoTexture& texture : demo.textures) keys[texture.slot] = texture.key;

  RecordingWriter writer;
  beginRecording(writer, kDemoWidth, kDemoHeight, keys);
  Scene scene{buildTrack(), placeProps(), {}};
  scene.placed.reserve(scene.props.size() + 1);
  Painter painter{&writer, -1, 0};
  Drive drive = startDrive();
  for (int frame = 0; frame < kDemoFrames; ++frame) {
    if (frame > 0) stepDrive(drive);
    drawFrame(painter, scene, drive);
    writeFrameMark(writer, demoFrameTime(frame));
  }
  finishRecording(writer);
  demo.frames = writer.frames;
  demo.triangles = writer.triangles;
  demo.chunks = writer.chunks;
  demo.stream = std::move(writer.stream);

  demo.cuts = planSegmentCuts(demo.stream, kDemoSegments);
  if (demo.cuts.size() != kDemoSegments - 1) {
    problem = "the recording cannot be split into " + std::to_string(kDemoSegments) + " segments";
    return false;
  }
  if (!segmentCutsFollowable(demo.stream, demo.cuts, problem)) return false;
  demo.segments = splitAt(demo.stream, demo.cuts);
  return true;
}

bool writeDemo(const Demo& demo, const std::string& directory, std::string& problem) {
  if (!writeSegmentFiles(directory, kDemoTemplate, demo.segments)) {
    problem = "cannot write the recording below " + directory;
    return false;
  }
  for (const DemoTexture& texture : demo.textures) {
    std::string path = directory + "/" + demoTexturePath(texture.key);
    if (!writeBytesToFile(path, texture.file)) {
      problem = "cannot write " + path;
      return false;
    }
  }
  return true;
}

}  // namespace drec
