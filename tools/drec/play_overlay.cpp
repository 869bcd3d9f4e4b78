#include "tools/drec/play_overlay.hpp"

#include <imgui.h>

#include <algorithm>
#include <cinttypes>

#include "tools/drec/frame_index.hpp"
#include "tools/drec/seek.hpp"

namespace drec {

const char kPlayKeysText[] =
    "Space, p      pause and resume\n"
    ".  ,          one frame forward, one frame back (pauses)\n"
    "Left, Right   5 s back, 5 s forward\n"
    "Down, Up      60 s back, 60 s forward\n"
    "End           the last frame, paused\n"
    "g             go to a frame (600) or a time (12.5s, 1:02.5)\n"
    "[  ]          half and double speed (1/16 to 16)\n"
    "Backspace     speed 1\n"
    "Home          back to frame 0\n"
    "l             loop at the end on and off\n"
    "s             write the picture as NAME-frame-NNNNNN.png\n"
    "o             on-screen display on and off\n"
    "w             wireframe of the paused frame's triangles\n"
    "d             overdraw: triangles per pixel\n"
    "t             texture slots, with their triangles\n"
    "i             inspector: click a pixel for its history\n"
    "f, F11        full screen (also Alt+Enter, double click)\n"
    "?, F1         this list\n"
    "Escape, q     quit (first closes this list, the history)\n";

namespace {

constexpr ImGuiWindowFlags kPanelFlags =
    ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_AlwaysAutoResize |
    ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoFocusOnAppearing |
    ImGuiWindowFlags_NoNav | ImGuiWindowFlags_NoInputs;

void stateLines(const OverlayView& view) {
  if (view.frame >= 0)
    ImGui::Text("frame %" PRId64 " of %" PRId64, view.frame, view.frames);
  else
    ImGui::Text("%" PRId64 " frames", view.frames);
  ImGui::Text("%.3f s of %.3f s", view.time, view.duration);
  ImGui::Text("speed %s%s%s%s", view.speed, view.paused ? "  paused" : "",
              view.looping ? "  loop" : "", view.ended ? "  end" : "");
  ImGui::Text("dropped %" PRId64 "  pauses cut %" PRId64, view.dropped, view.pausesCut);
}

constexpr float kTimelineHeight = 30.0f;

// The timeline: one column of pixels per span of frames, from frame 0 at
// the left to the last at the right; what the index has not reached yet is
// darker. A button held on it asks for the frame under the pointer.
int64_t timeline(const OverlayView& view, ImVec2 corner, float width) {
  const float height = kTimelineHeight;
  ImGui::SetCursorScreenPos(corner);
  ImGui::InvisibleButton("timeline", ImVec2(width, height));
  const bool held = ImGui::IsItemActive();
  const bool hovered = ImGui::IsItemHovered();
  ImDrawList* draw = ImGui::GetWindowDrawList();
  const ImVec2 end(corner.x + width, corner.y + height);
  draw->AddRectFilled(corner, end, IM_COL32(40, 40, 40, 220));
  const int64_t frames = std::max<int64_t>(view.frames, 1);
  auto xOf = [&](int64_t frame) {
    return corner.x + width * static_cast<float>(frame) / static_cast<float>(frames);
  };
  const FrameIndex* index = view.index;
  const int64_t indexed = index ? static_cast<int64_t>(index->frames.size()) : 0;
  if (indexed < frames)
    draw->AddRectFilled(ImVec2(xOf(indexed), corner.y), end, IM_COL32(15, 15, 15, 220));
  // Triangles per frame: the most in each column, as a thin graph.
  if (index && indexed > 0) {
    uint32_t most = 1;
    for (const IndexedFrame& row : index->frames) most = std::max(most, row.triangles);
    const int columns = std::max(1, static_cast<int>(width));
    int64_t frame = 0;
    for (int column = 0; column < columns && frame < indexed; ++column) {
      const int64_t last = std::min(indexed, (column + 1) * frames / columns);
      uint32_t count = 0;
      for (; frame < last; ++frame) count = std::max(count, index->frames[static_cast<size_t>(frame)].triangles);
      const float top = end.y - 2.0f - (height * 0.5f) * static_cast<float>(count) / static_cast<float>(most);
      draw->AddLine(ImVec2(corner.x + static_cast<float>(column) + 0.5f, end.y - 2.0f),
                    ImVec2(corner.x + static_cast<float>(column) + 0.5f, top), IM_COL32(90, 110, 130, 255));
    }
  }
  auto ticks = [&](const std::vector<int64_t>& at, float from, float to, ImU32 colour) {
    for (int64_t frame : at) {
      const float x = xOf(frame) + 0.5f;
      draw->AddLine(ImVec2(x, corner.y + from), ImVec2(x, corner.y + to), colour);
    }
  };
  if (index) {
    ticks(index->pausedFrames, 0.0f, height, IM_COL32(230, 200, 40, 255));
    ticks(index->damagedFrames, 0.0f, height, IM_COL32(230, 50, 40, 255));
  }
  if (view.droppedFrames) ticks(*view.droppedFrames, 0.0f, 5.0f, IM_COL32(240, 140, 30, 255));
  if (view.keys)
    for (const KeyFrame& key : view.keys->keys) {
      const float x = xOf(key.frame) + 0.5f;
      draw->AddLine(ImVec2(x, end.y - 4.0f), ImVec2(x, end.y), IM_COL32(60, 200, 220, 255));
    }
  if (view.frame >= 0) {
    const float x = xOf(view.frame) + 0.5f;
    draw->AddLine(ImVec2(x, corner.y), ImVec2(x, end.y), IM_COL32(255, 255, 255, 255), 2.0f);
  }
  const float pointer = ImGui::GetIO().MousePos.x;
  const int64_t under =
      std::clamp<int64_t>(static_cast<int64_t>((pointer - corner.x) / width * static_cast<float>(frames)), 0,
                          frames - 1);
  if (hovered && index && under < indexed) {
    ImGui::SetTooltip("frame %" PRId64 ", %.3f s", under,
                      static_cast<double>(index->frames[static_cast<size_t>(under)].recordedTime));
  }
  // Released: where the button came up, even when it went down and up
  // between two overlay frames.
  return held || ImGui::IsItemDeactivated() ? under : -1;
}

}  // namespace

OverlayInput buildPlayOverlay(const OverlayView& view) {
  OverlayInput input{-1};
  const ImGuiViewport* screen = ImGui::GetMainViewport();
  const float margin = 8.0f;
  float stateBottom = screen->Pos.y + screen->Size.y - margin;
  if (view.showState) {
    const ImGuiStyle& style = ImGui::GetStyle();
    const float width = screen->Size.x - 2.0f * margin;
    ImGui::SetNextWindowPos(ImVec2(screen->Pos.x + margin, stateBottom), ImGuiCond_Always,
                            ImVec2(0.0f, 1.0f));
    ImGui::SetNextWindowSize(ImVec2(width, kTimelineHeight + 2.0f * style.WindowPadding.y));
    ImGui::SetNextWindowBgAlpha(0.0f);
    constexpr ImGuiWindowFlags flags = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoSavedSettings |
                                       ImGuiWindowFlags_NoFocusOnAppearing | ImGuiWindowFlags_NoNav |
                                       ImGuiWindowFlags_NoMove;
    if (ImGui::Begin("timeline", nullptr, flags)) {
      const ImVec2 corner = ImGui::GetCursorScreenPos();
      input.seekFrame = timeline(view, corner, width - 2.0f * style.WindowPadding.x);
    }
    ImGui::End();
    stateBottom -= kTimelineHeight + 2.0f * style.WindowPadding.y + margin * 0.5f;
  }
  if (view.showState) {
    ImGui::SetNextWindowPos(ImVec2(screen->Pos.x + margin, stateBottom),
                            ImGuiCond_Always, ImVec2(0.0f, 1.0f));
    ImGui::SetNextWindowBgAlpha(0.6f);
    if (ImGui::Begin("state", nullptr, kPanelFlags)) stateLines(view);
    ImGui::End();
  }
  if (view.showKeys) {
    ImGui::SetNextWindowPos(
        ImVec2(screen->Pos.x + screen->Size.x * 0.5f, screen->Pos.y + screen->Size.y * 0.5f),
        ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowBgAlpha(0.8f);
    if (ImGui::Begin("keys", nullptr, kPanelFlags)) ImGui::TextUnformatted(kPlayKeysText);
    ImGui::End();
  }
  if (view.message && *view.message) {
    ImGui::SetNextWindowPos(ImVec2(screen->Pos.x + screen->Size.x * 0.5f, screen->Pos.y + margin),
                            ImGuiCond_Always, ImVec2(0.5f, 0.0f));
    ImGui::SetNextWindowBgAlpha(0.6f);
    if (ImGui::Begin("message", nullptr, kPanelFlags)) ImGui::TextUnformatted(view.message);
    ImGui::End();
  }
  return input;
}

}  // namespace drec
