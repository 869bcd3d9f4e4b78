#include "tools/drec/play_views.hpp"

#include <imgui.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdint>

namespace drec {
namespace {

constexpr float kMargin = 8.0f;
constexpr float kThumbnail = 40.0f;

constexpr ImGuiWindowFlags kViewPanelFlags = ImGuiWindowFlags_NoSavedSettings |
                                             ImGuiWindowFlags_NoFocusOnAppearing | ImGuiWindowFlags_NoNav |
                                             ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoMove;
constexpr ImGuiWindowFlags kLegendFlags = kViewPanelFlags | ImGuiWindowFlags_AlwaysAutoResize |
                                          ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoInputs;

ImTextureID textureId(GLuint name) { return reinterpret_cast<ImTextureID>(static_cast<intptr_t>(name)); }

ImVec2 toImVec(PicturePoint point) { return ImVec2(point.x, point.y); }

void colourSquare(uint32_t colour) {
  const float side = ImGui::GetTextLineHeight();
  const ImVec2 corner = ImGui::GetCursorScreenPos();
  ImGui::GetWindowDrawList()->AddRectFilled(corner, ImVec2(corner.x + side, corner.y + side), colour);
  ImGui::Dummy(ImVec2(side, side));
  ImGui::SameLine();
}

constexpr ImU32 kHighlight = IM_COL32(255, 255, 0, 255);

// A dashed line: 4 pixels drawn, 3 left out.
void dashedLine(ImDrawList* draw, ImVec2 from, ImVec2 to, ImU32 colour) {
  const float dx = to.x - from.x, dy = to.y - from.y;
  const float length = std::sqrt(dx * dx + dy * dy);
  if (length <= 0.0f) return;
  for (float at = 0.0f; at < length; at += 7.0f) {
    const float end = std::min(at + 4.0f, length);
    draw->AddLine(ImVec2(from.x + dx * at / length, from.y + dy * at / length),
                  ImVec2(from.x + dx * end / length, from.y + dy * end / length), colour);
  }
}

// ImGui's indices are 16 bits: a list stops taking outlines before it
// would wrap around.
bool roomFor(const ImDrawList* draw, int vertices) { return draw->_VtxCurrentIdx + vertices < 60000; }

// One triangle's outline; false when the list has no room left.
bool outline(ImDrawList* draw, const FrameViewsShown& shown, const FrameTriangle& triangle, ImU32 colour,
             float thickness) {
  if (!roomFor(draw, 100)) return false;
  ImVec2 points[3];
  for (int i = 0; i < 3; ++i)
    points[i] = toImVec(windowPointOf(shown, triangle.landingX[i], triangle.landingY[i]));
  if (triangle.fate == TriangleFate::clipped) {
    for (int i = 0; i < 3; ++i) dashedLine(draw, points[i], points[(i + 1) % 3], colour);
  } else {
    draw->AddPolyline(points, 3, colour, ImDrawFlags_Closed, thickness);
  }
  return true;
}

// The legends stack down the left edge from `top`, which moves below each.
void wireframe(const FrameViewsShown& shown, FrameViewsInput& input, float& top) {
  ImDrawList* draw = ImGui::GetBackgroundDrawList();
  int64_t notDrawn = 0, clipped = 0, left = 0;
  bool used[kTextureSlotCount + 1] = {};
  for (const FrameTriangle& triangle : *shown.triangles) {
    if (triangle.fate == TriangleFate::notDrawn) {
      ++notDrawn;
      continue;
    }
    clipped += triangle.fate == TriangleFate::clipped;
    used[triangle.slot] = true;
    if (!outline(draw, shown, triangle, slotColour(triangle.slot), 1.0f)) ++left;
  }
  const ImGuiViewport* screen = ImGui::GetMainViewport();
  ImGui::SetNextWindowPos(ImVec2(screen->Pos.x + kMargin, top), ImGuiCond_Always);
  ImGui::SetNextWindowBgAlpha(0.75f);
  if (ImGui::Begin("wireframe", nullptr, kLegendFlags)) {
    if (ImGui::IsWindowAppearing()) input.appearing = true;
    ImGui::Text("frame %" PRId64 ": %zu triangles, coloured by slot", shown.frame, shown.triangles->size());
    bool first = true;
    for (int slot = 0; slot <= kTextureSlotCount; ++slot) {
      if (!used[slot]) continue;
      if (!first) ImGui::SameLine();
      first = false;
      colourSquare(slotColour(slot));
      ImGui::Text("%d", slot);
    }
    ImGui::Text("dashed, clipped by the GL: %" PRId64, clipped);
    ImGui::Text("not drawn (a vertex of depth 0): %" PRId64, notDrawn);
    if (left > 0) ImGui::Text("%" PRId64 " more not outlined: too many", left);
    top += ImGui::GetWindowHeight() + kMargin;
  }
  ImGui::End();
}

void overdrawLegend(const FrameViewsShown& shown, FrameViewsInput& input, float& top) {
  const OverdrawMap& map = *shown.overdrawMap;
  const ImGuiViewport* screen = ImGui::GetMainViewport();
  ImGui::SetNextWindowPos(ImVec2(screen->Pos.x + kMargin, top), ImGuiCond_Always);
  ImGui::SetNextWindowBgAlpha(0.75f);
  if (ImGui::Begin("overdraw", nullptr, kLegendFlags)) {
    if (ImGui::IsWindowAppearing()) input.appearing = true;
    ImGui::Text("frame %" PRId64 ": triangles per pixel", shown.frame);
    for (const HeatStep& step : kHeatScale) {
      if (step.first > std::max(map.most, 1)) break;
      colourSquare(IM_COL32(step.rgba[0], step.rgba[1], step.rgba[2], 255));
      if (step.first == step.last)
        ImGui::Text("%d", step.first);
      else if (step.last == UINT16_MAX)
        ImGui::Text("%d or more", step.first);
      else
        ImGui::Text("%d to %d", step.first, step.last);
    }
    ImGui::Text("most: %d", map.most);
    if (!shown.overdrawExact) ImGui::TextUnformatted("edges approximate: the GL's rounding is unknown");
    if (map.clipped > 0)
      ImGui::Text("%" PRId64 " clipped by the GL, counted whole", map.clipped);
    top += ImGui::GetWindowHeight() + kMargin;
  }
  ImGui::End();
}

// A thumbnail of the slot's texture, its aspect kept, over a dark square
// (colour-keyed texels are transparent).
void thumbnail(const TextureSlotRow& row) {
  const ImVec2 corner = ImGui::GetCursorScreenPos();
  ImDrawList* draw = ImGui::GetWindowDrawList();
  draw->AddRectFilled(corner, ImVec2(corner.x + kThumbnail, corner.y + kThumbnail), IM_COL32(30, 30, 30, 255));
  if (row.texture != 0 && row.width > 0 && row.height > 0) {
    const float longer = static_cast<float>(std::max(row.width, row.height));
    const float width = kThumbnail * static_cast<float>(row.width) / longer;
    const float height = kThumbnail * static_cast<float>(row.height) / longer;
    const ImVec2 from(corner.x + (kThumbnail - width) * 0.5f, corner.y + (kThumbnail - height) * 0.5f);
    draw->AddImage(textureId(row.texture), from, ImVec2(from.x + width, from.y + height));
  } else {
    draw->AddLine(corner, ImVec2(corner.x + kThumbnail, corner.y + kThumbnail), IM_COL32(200, 60, 60, 255));
  }
  ImGui::Dummy(ImVec2(kThumbnail, kThumbnail));
}

void texturePanel(const FrameViewsShown& shown, FrameViewsInput& input) {
  const std::vector<TextureSlotRow>& rows = *shown.slotRows;
  const ImGuiViewport* screen = ImGui::GetMainViewport();
  const ImGuiStyle& style = ImGui::GetStyle();
  const float rowHeight = kThumbnail + style.ItemSpacing.y;
  const float wanted = static_cast<float>(rows.size() + 1) * rowHeight + 2.0f * style.WindowPadding.y +
                       ImGui::GetFrameHeight();
  const float height = std::min(wanted, screen->Size.y - 2.0f * kMargin);
  ImGui::SetNextWindowPos(ImVec2(screen->Pos.x + screen->Size.x - kMargin, screen->Pos.y + kMargin),
                          ImGuiCond_Always, ImVec2(1.0f, 0.0f));
  ImGui::SetNextWindowSize(ImVec2(300.0f, height), ImGuiCond_Always);
  ImGui::SetNextWindowBgAlpha(0.8f);
  if (ImGui::Begin("texture slots", nullptr, kViewPanelFlags)) {
    if (ImGui::IsWindowAppearing()) input.appearing = true;
    if (rows.empty()) ImGui::TextUnformatted("no keyed slots");
    else ImGui::TextWrapped("files in %s", shown.texturesFolder);
    for (const TextureSlotRow& row : rows) {
      ImGui::PushID(row.slot);
      ImGui::BeginGroup();
      thumbnail(row);
      ImGui::SameLine();
      ImGui::BeginGroup();
      colourSquare(slotColour(row.slot));
      ImGui::Text("slot %d  %s.bmp", row.slot, row.key);
      ImGui::Text("%s, %s", row.size.c_str(), row.decoded.c_str());
      ImGui::Text("%" PRId64 " triangles in frame %" PRId64, shown.slotTriangles[row.slot], shown.frame);
      ImGui::EndGroup();
      ImGui::EndGroup();
      if (ImGui::IsItemHovered()) input.hoveredSlot = row.slot;
      ImGui::PopID();
    }
  }
  ImGui::End();
}

void swatch(PixelColor colour) {
  colourSquare(IM_COL32(colour.red, colour.green, colour.blue, 255));
  ImGui::Text("%02X%02X%02X", colour.red, colour.green, colour.blue);
}

// The picked pixel, framed on the picture.
void markPixel(const FrameViewsShown& shown, const PixelHistory& history) {
  const ImVec2 from = toImVec(windowPointOf(shown, static_cast<float>(history.x), static_cast<float>(history.y)));
  const ImVec2 to =
      toImVec(windowPointOf(shown, static_cast<float>(history.x + 1), static_cast<float>(history.y + 1)));
  ImDrawList* draw = ImGui::GetBackgroundDrawList();
  draw->AddRect(ImVec2(from.x - 3.0f, from.y - 3.0f), ImVec2(to.x + 3.0f, to.y + 3.0f), IM_COL32(0, 0, 0, 255));
  draw->AddRect(ImVec2(from.x - 2.0f, from.y - 2.0f), ImVec2(to.x + 2.0f, to.y + 2.0f), kHighlight);
}

// One row per triangle the GL rasterised at the pixel, in drawing order,
// after the colour the earlier frames left. On the side of the window away
// from the pixel.
void historyPanel(const FrameViewsShown& shown, FrameViewsInput& input) {
  const PixelHistory& history = *shown.history;
  const ImGuiViewport* screen = ImGui::GetMainViewport();
  const bool pixelOnLeft = history.x * 2 < shown.pictureWidth;
  const float width = std::min(360.0f, screen->Size.x - 2.0f * kMargin);
  float top = screen->Pos.y + kMargin, height = screen->Size.y - 2.0f * kMargin;
  // Beside the texture slots' panel, the history takes the lower half.
  if (shown.textureSlots && !pixelOnLeft) {
    top += height * 0.5f;
    height *= 0.5f;
  }
  ImGui::SetNextWindowPos(ImVec2(pixelOnLeft ? screen->Pos.x + screen->Size.x - kMargin - width
                                             : screen->Pos.x + kMargin,
                                 top),
                          ImGuiCond_Always);
  ImGui::SetNextWindowSize(ImVec2(width, height), ImGuiCond_Always);
  ImGui::SetNextWindowBgAlpha(0.85f);
  char title[96];
  std::snprintf(title, sizeof title, "pixel %d, %d of frame %" PRId64 "###pixel history", history.x, history.y,
                history.frame);
  if (ImGui::Begin(title, nullptr, kViewPanelFlags)) {
    if (ImGui::IsWindowAppearing()) input.appearing = true;
    swatch(history.start);
    ImGui::SameLine();
    ImGui::TextUnformatted(" from the frames before");
    ImGui::Text("%zu triangles drawn here:", history.touches.size());
    for (size_t i = 0; i < history.touches.size(); ++i) {
      const PixelTouch& touch = history.touches[i];
      const FrameTriangle& triangle = touch.triangle;
      ImGui::PushID(static_cast<int>(i));
      ImGui::Separator();
      ImGui::BeginGroup();
      swatch(touch.before);
      ImGui::SameLine();
      ImGui::TextUnformatted("->");
      ImGui::SameLine();
      swatch(touch.after);
      ImGui::SameLine();
      ImGui::Text(" triangle %u", triangle.index);
      char key[17] = "none";
      if (triangle.slot > 0) textureKeyHex(shown.keys[triangle.slot], key);
      ImGui::Text("slot %d %s, blend %d (in force %d)", triangle.slot, key, triangle.blendMode,
                  triangle.after.blendInForce);
      ImGui::Text("segment %d chunk %" PRId64 " record %u", triangle.location.segment,
                  triangle.location.chunkOffset, triangle.location.recordOffset);
      // Each vertex as recorded, then its colour as drawn (glColor4f's).
      for (int v = 0; v < 3; ++v) {
        const TriangleVertex& vertex = triangle.record.vertices[v];
        const VertexColor& drawn = touch.drawnColors[v];
        ImGui::Text("%3u,%3u depth %5u st %3u,%3u %04X", vertex.x, vertex.y, vertex.depth, vertex.s, vertex.t,
                    vertex.color);
        ImGui::SameLine();
        colourSquare(IM_COL32(static_cast<int>(drawn.red * 255.0f + 0.5f),
                              static_cast<int>(drawn.green * 255.0f + 0.5f),
                              static_cast<int>(drawn.blue * 255.0f + 0.5f), 255));
        ImGui::Text("a %.1f", static_cast<double>(drawn.alpha));
      }
      ImGui::EndGroup();
      if (ImGui::IsItemHovered()) input.hoveredTouch = static_cast<int>(i);
      ImGui::PopID();
    }
    ImGui::Separator();
    swatch(history.final);
    ImGui::SameLine();
    ImGui::TextUnformatted(" in the frame's picture");
  }
  ImGui::End();
}

}  // namespace

PicturePoint windowPointOf(const FrameViewsShown& shown, float pictureX, float pictureY) {
  const PicturePlacement& placement = shown.placement;
  const ImVec2 scale = ImGui::GetIO().DisplayFramebufferScale;
  const float x = static_cast<float>(placement.left) +
                  pictureX * static_cast<float>(placement.width) / static_cast<float>(shown.pictureWidth);
  const float y = static_cast<float>(placement.top) +
                  pictureY * static_cast<float>(placement.height) / static_cast<float>(shown.pictureHeight);
  return PicturePoint{x / std::max(scale.x, 1e-3f), y / std::max(scale.y, 1e-3f)};
}

FrameViewsInput buildFrameViews(const FrameViewsShown& shown) {
  FrameViewsInput input{-1, -1, false};
  if (shown.pictureWidth <= 0 || shown.pictureHeight <= 0) return input;
  // Layers go on the background list: under every panel, over the picture.
  ImDrawList* background = ImGui::GetBackgroundDrawList();
  float top = ImGui::GetMainViewport()->Pos.y + kMargin;
  if (shown.overdraw && shown.overdrawMap && shown.overdrawTexture != 0) {
    const float width = static_cast<float>(shown.pictureWidth);
    const float height = static_cast<float>(shown.pictureHeight);
    background->AddImage(textureId(shown.overdrawTexture), toImVec(windowPointOf(shown, 0, 0)),
                         toImVec(windowPointOf(shown, width, height)));
    overdrawLegend(shown, input, top);
  }
  if (shown.wireframe && shown.triangles) wireframe(shown, input, top);
  if (shown.textureSlots && shown.slotRows && shown.slotTriangles) texturePanel(shown, input);
  if (shown.inspector && !shown.history) {
    const ImGuiViewport* screen = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(ImVec2(screen->Pos.x + kMargin, top), ImGuiCond_Always);
    ImGui::SetNextWindowBgAlpha(0.75f);
    if (ImGui::Begin("inspector", nullptr, kLegendFlags)) {
      if (ImGui::IsWindowAppearing()) input.appearing = true;
      ImGui::TextUnformatted("inspector: click a pixel of the picture");
    }
    ImGui::End();
  }
  if (shown.inspector && shown.history) {
    historyPanel(shown, input);
    markPixel(shown, *shown.history);
    if (input.hoveredTouch >= 0)
      outline(background, shown, shown.history->touches[static_cast<size_t>(input.hoveredTouch)].triangle,
              kHighlight, 2.0f);
  }
  // The slot under the pointer: its triangles outlined over the rest.
  if (input.hoveredSlot >= 0 && shown.triangles) {
    for (const FrameTriangle& triangle : *shown.triangles)
      if (triangle.slot == input.hoveredSlot && triangle.fate != TriangleFate::notDrawn &&
          !outline(background, shown, triangle, kHighlight, 2.0f))
        break;
  }
  return input;
}

}  // namespace drec
