#include "tools/drec/play_overlay.hpp"

#include <imgui.h>

#include <cinttypes>

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
    "f, F11        full screen (also Alt+Enter, double click)\n"
    "?, F1         this list\n"
    "Escape, q     quit\n";

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

}  // namespace

void buildPlayOverlay(const OverlayView& view) {
  const ImGuiViewport* screen = ImGui::GetMainViewport();
  const float margin = 8.0f;
  if (view.showState) {
    ImGui::SetNextWindowPos(ImVec2(screen->Pos.x + margin, screen->Pos.y + screen->Size.y - margin),
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
}

}  // namespace drec
