#include "tools/drec/seek.hpp"

#include <zlib.h>

#include <algorithm>

namespace drec {
namespace {

// A seek's reading says nothing: what it meets was said when playback or
// the index met it first.
void ignoreText(void*, const char*, size_t) {}
const Console kSilentConsole{nullptr, ignoreText};

// Draws every triangle up to the mark of frame `last`, counting marks from
// `frame`.
struct SeekWalk : ReadHooks {
  FrameRenderer* renderer;
  int64_t frame;
  int64_t last;

  void triangle(const uint8_t* record) { drawTriangle(renderer->triangles, record, false); }
  RecordAction frameMark(float) { return frame++ == last ? RecordAction::Stop : RecordAction::Continue; }
};

constexpr int kZlibLevel = 1;  // about 5 ms for a 640 x 480 picture, a tenth of its size

}  // namespace

bool makePictureTarget(const GlApi& gl, int width, int height, PictureTarget& target) {
  target = PictureTarget{0, 0, 0, width, height};
  gl.GenTextures(1, &target.colour);
  gl.BindTexture(GL_TEXTURE_2D, target.colour);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  gl.BindTexture(GL_TEXTURE_2D, 0);
  gl.GenRenderbuffers(1, &target.depth);
  gl.BindRenderbuffer(GL_RENDERBUFFER, target.depth);
  gl.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
  gl.BindRenderbuffer(GL_RENDERBUFFER, 0);
  gl.GenFramebuffers(1, &target.framebuffer);
  gl.BindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
  gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.colour, 0);
  gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, target.depth);
  return gl.CheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

void startKeyFrameStore(KeyFrameStore& store, size_t budgetBytes, int64_t frames) {
  store.budgetBytes = budgetBytes;
  store.usedBytes = 0;
  store.keys.clear();
  // Start dense; the first thinning halves it. A picture a frame at most.
  store.spacing = 1;
  (void)frames;
}

const KeyFrame* keyFrameAtOrBefore(const KeyFrameStore& store, int64_t frame) {
  auto after = std::upper_bound(store.keys.begin(), store.keys.end(), frame,
                                [](int64_t value, const KeyFrame& key) { return value < key.frame; });
  return after == store.keys.begin() ? nullptr : &*(after - 1);
}

bool wantsKeyFrame(const KeyFrameStore& store, int64_t frame) {
  if (store.budgetBytes == 0 || frame % store.spacing != 0) return false;
  const KeyFrame* key = keyFrameAtOrBefore(store, frame);
  return !key || key->frame != frame;
}

ReaderPosition positionAfterFrame(const FrameIndex& index, int64_t frame) {
  const size_t next = static_cast<size_t>(frame) + 1;
  return next < index.frames.size() ? index.frames[next].start : index.frameStart;
}

FrameDrawState stateAfterFrame(const FrameIndex& index, int64_t frame) {
  const size_t next = static_cast<size_t>(frame) + 1;
  return next < index.frames.size() ? index.frames[next].state : index.frameState;
}

void restoreDrawState(FrameRenderer& renderer, const FrameDrawState& state) {
  const GlApi& gl = renderer.gl;
  renderer.triangles.cache.currentSlot = state.slot;
  renderer.triangles.cache.currentBlend = state.blendMode;
  gl.BindTexture(GL_TEXTURE_2D, state.slot >= 0 ? renderer.slots.names[state.slot] : 0);
  if (state.blendInForce == 0) {
    gl.Disable(GL_BLEND);
  } else {
    gl.Enable(GL_BLEND);
    if (state.blendInForce == 1)
      gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    else
      gl.BlendFunc(GL_ZERO, GL_ONE);
  }
}

void startSeeker(Seeker& seeker, FrameRenderer& renderer, const PictureTarget& target,
                 SegmentedStream& stream, const FrameIndex& index, size_t keyFrameBudget) {
  seeker.renderer = &renderer;
  seeker.target = target;
  seeker.reader = startReader(stream);
  seeker.index = &index;
  startKeyFrameStore(seeker.keys, keyFrameBudget, 0);
  const size_t pictureBytes = static_cast<size_t>(target.width) * target.height * 4;
  seeker.rgba.assign(pictureBytes, 0);
  seeker.compressed.assign(compressBound(static_cast<uLong>(pictureBytes)), 0);
  seeker.lastSeekFrames = 0;
  seeker.lastSeekFromKeyFrame = false;
}

bool seekToFrame(Seeker& seeker, int64_t frame) {
  const FrameIndex& index = *seeker.index;
  FrameRenderer& renderer = *seeker.renderer;
  const GlApi& gl = renderer.gl;
  const IndexedFrame& target = index.frames[static_cast<size_t>(frame)];
  int64_t from = std::min(target.horizon, frame);
  const KeyFrame* key = keyFrameAtOrBefore(seeker.keys, frame);
  gl.BindFramebuffer(GL_FRAMEBUFFER, seeker.target.framebuffer);
  seeker.lastSeekFromKeyFrame = key && key->frame + 1 > from;
  if (seeker.lastSeekFromKeyFrame) {
    uLongf length = static_cast<uLongf>(seeker.rgba.size());
    if (uncompress(seeker.rgba.data(), &length, key->pixels.data(),
                   static_cast<uLong>(key->pixels.size())) != Z_OK ||
        length != seeker.rgba.size())
      return false;
    gl.BindTexture(GL_TEXTURE_2D, seeker.target.colour);
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, seeker.target.width, seeker.target.height, GL_RGBA,
                     GL_UNSIGNED_BYTE, seeker.rgba.data());
    restoreDrawState(renderer, key->state);
    from = key->frame + 1;
  } else {
    gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    restoreDrawState(renderer, index.frames[static_cast<size_t>(from)].state);
  }
  seeker.lastSeekFrames = frame - from + 1;
  SegmentedStream& stream = *seeker.reader.stream;
  const Console* console = stream.console;
  stream.console = &kSilentConsole;
  bool read = true;
  if (from <= frame) {
    read = restoreReader(seeker.reader, index.frames[static_cast<size_t>(from)].start);
    SeekWalk walk{};
    walk.renderer = &renderer;
    walk.frame = from;
    walk.last = frame;
    if (read) readRecords(seeker.reader, walk);
  } else {
    read = restoreReader(seeker.reader, positionAfterFrame(index, frame));
  }
  stream.console = console;
  return read;
}

bool offerKeyFrame(Seeker& seeker, int64_t frame, const FrameDrawState& stateAfter) {
  KeyFrameStore& store = seeker.keys;
  if (!wantsKeyFrame(store, frame)) return false;
  const GlApi& gl = seeker.renderer->gl;
  gl.BindFramebuffer(GL_FRAMEBUFFER, seeker.target.framebuffer);
  gl.PixelStorei(GL_PACK_ALIGNMENT, 4);
  gl.ReadPixels(0, 0, seeker.target.width, seeker.target.height, GL_RGBA, GL_UNSIGNED_BYTE,
                seeker.rgba.data());
  uLongf length = static_cast<uLongf>(seeker.compressed.size());
  if (compress2(seeker.compressed.data(), &length, seeker.rgba.data(),
                static_cast<uLong>(seeker.rgba.size()), kZlibLevel) != Z_OK)
    return false;
  // Full: every other key frame goes, evenly, until this one fits.
  while (store.usedBytes + length > store.budgetBytes && !store.keys.empty()) {
    store.spacing *= 2;
    size_t kept = 0;
    for (KeyFrame& key : store.keys) {
      if (key.frame % store.spacing == 0) {
        if (&store.keys[kept] != &key) store.keys[kept] = std::move(key);
        ++kept;
      } else {
        store.usedBytes -= key.pixels.size();
      }
    }
    store.keys.resize(kept);
    if (frame % store.spacing != 0) return false;
  }
  if (store.usedBytes + length > store.budgetBytes) return false;
  KeyFrame key;
  key.frame = frame;
  key.state = stateAfter;
  key.pixels.assign(seeker.compressed.begin(), seeker.compressed.begin() + static_cast<long>(length));
  const auto place = std::upper_bound(store.keys.begin(), store.keys.end(), frame,
                                      [](int64_t value, const KeyFrame& k) { return value < k.frame; });
  store.keys.insert(place, std::move(key));
  store.usedBytes += length;
  return true;
}

}  // namespace drec
