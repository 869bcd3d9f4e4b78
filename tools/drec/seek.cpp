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
  target = PictureTarget{0, 0, 0, width, height, false};
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
  if (gl.ClipControl) {
    gl.ClipControl(GL_UPPER_LEFT, GL_NEGATIVE_ONE_TO_ONE);
    target.rowsTopFirst = true;
  }
  return gl.CheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

void startKeyFrameStore(KeyFrameStore& store, size_t budgetBytes, size_t diskBudgetBytes,
                        const std::string& diskFolder) {
  closeKeyFrameStore(store);
  store.budgetBytes = budgetBytes;
  store.usedBytes = 0;
  store.diskBudgetBytes = diskFolder.empty() ? 0 : diskBudgetBytes;
  store.diskUsedBytes = 0;
  store.diskEnd = 0;
  store.holes.clear();
  store.diskProblem.clear();
  store.keys.clear();
  // Start dense, a picture a frame; each thinning halves it.
  store.spacing = 1;
}

void closeKeyFrameStore(KeyFrameStore& store) {
  closeSpillFile(store.disk);
  store.keys.clear();
  store.usedBytes = 0;
  store.diskUsedBytes = 0;
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

bool prepareHorizonTracker(HorizonTracker& tracker, FrameRenderer& renderer) {
  CoverageRules rules{};
  const bool exact = findCoverageRules(renderer.triangles, renderer.gl, rules);
  startHorizonTracker(tracker, renderer.triangles, exact, rules);
  restoreDrawState(renderer, FrameDrawState{-1, -1, kBlendInForceAtStart});
  return exact;
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
                 SegmentedStream& stream, const FrameIndex& index, size_t keyFrameBudget,
                 size_t diskBudget, const std::string& diskFolder) {
  seeker.renderer = &renderer;
  seeker.target = target;
  seeker.reader = startReader(stream);
  seeker.index = &index;
  seeker.diskFolder = diskFolder;
  startKeyFrameStore(seeker.keys, keyFrameBudget, diskBudget, diskFolder);
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
    const uint8_t* packed = key->pixels.data();
    if (key->diskOffset >= 0) {
      if (!readSpill(seeker.keys.disk, key->diskOffset, seeker.compressed.data(), key->size))
        return false;
      packed = seeker.compressed.data();
    }
    uLongf length = static_cast<uLongf>(seeker.rgba.size());
    if (uncompress(seeker.rgba.data(), &length, packed, key->size) != Z_OK ||
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

namespace {

void freeKeyFrame(KeyFrameStore& store, const KeyFrame& key) {
  if (key.diskOffset < 0) {
    store.usedBytes -= key.size;
    return;
  }
  store.diskUsedBytes -= key.size;
  store.holes.push_back(DiskSpan{key.diskOffset, key.size});
}

// Every other key frame goes, evenly: the spacing doubles.
void thinOut(KeyFrameStore& store) {
  store.spacing *= 2;
  size_t kept = 0;
  for (KeyFrame& key : store.keys) {
    if (key.frame % store.spacing != 0) {
      freeKeyFrame(store, key);
      continue;
    }
    if (&store.keys[kept] != &key) store.keys[kept] = std::move(key);
    ++kept;
  }
  store.keys.resize(kept);
}

// A place in the disk file for `size` bytes: a freed span first, then the
// end while the budget allows. -1 when there is none.
int64_t diskPlace(KeyFrameStore& store, uint32_t size) {
  for (size_t i = 0; i < store.holes.size(); ++i) {
    DiskSpan& hole = store.holes[i];
    if (hole.size < size) continue;
    const int64_t offset = hole.offset;
    hole.offset += size;
    hole.size -= size;
    if (hole.size == 0) store.holes.erase(store.holes.begin() + static_cast<long>(i));
    return offset;
  }
  if (static_cast<size_t>(store.diskEnd) + size > store.diskBudgetBytes) return -1;
  const int64_t offset = store.diskEnd;
  store.diskEnd += size;
  return offset;
}

// Keeps the compressed picture in memory or on disk; false when neither has room.
bool placeKeyFrame(KeyFrameStore& store, KeyFrame& key, const uint8_t* bytes, const std::string& folder) {
  if (store.usedBytes + key.size <= store.budgetBytes) {
    key.pixels.assign(bytes, bytes + key.size);
    key.diskOffset = -1;
    store.usedBytes += key.size;
    return true;
  }
  if (store.diskBudgetBytes == 0 || !store.diskProblem.empty()) return false;
  if (store.disk.descriptor < 0) {
    std::string error;
    if (!openSpillFile(store.disk, folder, error)) {
      store.diskProblem = error;
      return false;
    }
  }
  const int64_t offset = diskPlace(store, key.size);
  if (offset < 0) return false;
  std::string error;
  if (!writeSpill(store.disk, offset, bytes, key.size, error)) {
    // A full disk: what is on it stays readable; nothing more goes there.
    store.diskProblem = error;
    store.holes.push_back(DiskSpan{offset, key.size});
    return false;
  }
  key.diskOffset = offset;
  store.diskUsedBytes += key.size;
  return true;
}

}  // namespace

bool offerKeyFrame(Seeker& seeker, int64_t frame, const FrameDrawState& stateAfter) {
  return offerKeyFrameOf(seeker, seeker.target.framebuffer, frame, stateAfter);
}

bool keyFramesFull(const KeyFrameStore& store) {
  if (store.keys.empty()) return store.budgetBytes == 0 && store.diskBudgetBytes == 0;
  const size_t average = (store.usedBytes + store.diskUsedBytes) / store.keys.size() + 1;
  const bool diskFull = store.diskBudgetBytes == 0 || !store.diskProblem.empty() ||
                        store.diskUsedBytes + average > store.diskBudgetBytes;
  return store.usedBytes + average > store.budgetBytes && diskFull;
}

void startDrawAhead(DrawAhead& ahead, const PictureTarget& target, SegmentedStream& stream) {
  ahead.target = target;
  ahead.reader = startReader(stream);
  ahead.next = -1;
  ahead.state = FrameDrawState{-1, -1, kBlendInForceAtStart};
}

void aimDrawAhead(DrawAhead& ahead, Seeker& seeker, int64_t frame) {
  const GlApi& gl = seeker.renderer->gl;
  // Same size, same format, nearest: a copy of the picture.
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, seeker.target.framebuffer);
  gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, ahead.target.framebuffer);
  gl.BlitFramebuffer(0, 0, ahead.target.width, ahead.target.height, 0, 0, ahead.target.width,
                     ahead.target.height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
  gl.BindFramebuffer(GL_FRAMEBUFFER, seeker.target.framebuffer);
  ahead.next = restoreReader(ahead.reader, positionAfterFrame(*seeker.index, frame)) ? frame + 1 : -1;
  ahead.state = stateAfterFrame(*seeker.index, frame);
}

bool drawAheadOne(DrawAhead& ahead, Seeker& seeker, const FrameDrawState& restore) {
  const FrameIndex& index = *seeker.index;
  if (ahead.next < 0 || ahead.next >= static_cast<int64_t>(index.frames.size()) ||
      (!index.complete && ahead.next + 1 >= static_cast<int64_t>(index.frames.size())) ||
      keyFramesFull(seeker.keys))
    return false;
  FrameRenderer& renderer = *seeker.renderer;
  renderer.gl.BindFramebuffer(GL_FRAMEBUFFER, ahead.target.framebuffer);
  restoreDrawState(renderer, ahead.state);
  SegmentedStream& stream = *ahead.reader.stream;
  const Console* console = stream.console;
  stream.console = &kSilentConsole;
  SeekWalk walk{};
  walk.renderer = &renderer;
  walk.frame = ahead.next;
  walk.last = ahead.next;
  readRecords(ahead.reader, walk);
  stream.console = console;
  ahead.state = stateAfterFrame(index, ahead.next);
  offerKeyFrameOf(seeker, ahead.target.framebuffer, ahead.next, ahead.state);
  ++ahead.next;
  renderer.gl.BindFramebuffer(GL_FRAMEBUFFER, seeker.target.framebuffer);
  restoreDrawState(renderer, restore);
  return true;
}

bool offerKeyFrameOf(Seeker& seeker, GLuint framebuffer, int64_t frame, const FrameDrawState& stateAfter) {
  KeyFrameStore& store = seeker.keys;
  if (!wantsKeyFrame(store, frame)) return false;
  const GlApi& gl = seeker.renderer->gl;
  gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  gl.PixelStorei(GL_PACK_ALIGNMENT, 4);
  gl.ReadPixels(0, 0, seeker.target.width, seeker.target.height, GL_RGBA, GL_UNSIGNED_BYTE,
                seeker.rgba.data());
  uLongf length = static_cast<uLongf>(seeker.compressed.size());
  if (compress2(seeker.compressed.data(), &length, seeker.rgba.data(),
                static_cast<uLong>(seeker.rgba.size()), kZlibLevel) != Z_OK)
    return false;
  KeyFrame key{};
  key.frame = frame;
  key.state = stateAfter;
  key.size = static_cast<uint32_t>(length);
  // Full: thin out until this one fits, or until it falls off the spacing.
  while (!placeKeyFrame(store, key, seeker.compressed.data(), seeker.diskFolder)) {
    if (store.keys.empty()) return false;
    thinOut(store);
    if (frame % store.spacing != 0) return false;
  }
  const auto place = std::upper_bound(store.keys.begin(), store.keys.end(), frame,
                                      [](int64_t value, const KeyFrame& k) { return value < k.frame; });
  store.keys.insert(place, std::move(key));
  return true;
}

}  // namespace drec
