// Uncompressed AVI clips: a bounded reader of the RIFF form (the first video stream's header, format
// and frames; any chunk whose size reaches past its parent, or a frame shorter than its rows, refuses the
// whole clip) and a writer of the same form, which the build and the tests use to make clips.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tavrin::avi {

// Bounds of what the reader takes.
constexpr int kMaxSide = 4096;
constexpr size_t kMaxFrames = 100000;

struct Clip {
  int width = 0;
  int height = 0;
  bool bottomUp = true;
  int bitCount = 0;  // 8 (with palette), 16 (5-5-5), 24 or 32
  size_t stride = 0;  // bytes per row (a multiple of 4)
  uint32_t microSecPerFrame = 0;
  std::vector<uint32_t> palette;  // 0x00RRGGBB
  struct Frame {
    size_t offset;  // into the clip's bytes
    size_t size;
  };
  std::vector<Frame> frames;
};

// False (and a reason) when `data` is not a clip of uncompressed frames within its bounds.
bool Parse(std::span<const uint8_t> data, Clip& clip, std::string* why = nullptr);

// One frame as rows of 0x00RRGGBB pixels from the top; false for an index out of range.
bool DecodeFrame(std::span<const uint8_t> data, const Clip& clip, size_t index, std::vector<uint32_t>& pixels);

// A clip of the given frames (each width * height pixels 0x00RRGGBB from the top) at 24 or 32 bits, or at
// 8 bits with a palette of the colours the frames use (empty when they use more than 256).
std::vector<uint8_t> Build(int width, int height, uint32_t microSecPerFrame,
                           const std::vector<std::vector<uint32_t>>& frames, int bitCount = 24);

}  // namespace tavrin::avi
