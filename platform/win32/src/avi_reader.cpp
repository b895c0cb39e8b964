// The RIFF form of an AVI file: "RIFF" size "AVI " { LIST "hdrl" { "avih", LIST "strl" { "strh", "strf" }
// ... }, LIST "movi" { "00db" frames, or LIST "rec " groups of them }, "idx1" }. Every chunk is read within
// the bounds of its parent; the index is not needed.
#include <algorithm>
#include <cstring>
#include <map>

#include "win32/avi.h"

namespace tavrin::avi {
namespace {

constexpr uint32_t FourCc(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) | (static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24);
}

uint32_t U32(std::span<const uint8_t> d, size_t at) {
  return static_cast<uint32_t>(d[at]) | (static_cast<uint32_t>(d[at + 1]) << 8) | (static_cast<uint32_t>(d[at + 2]) << 16) |
         (static_cast<uint32_t>(d[at + 3]) << 24);
}
uint16_t U16(std::span<const uint8_t> d, size_t at) { return static_cast<uint16_t>(d[at] | (d[at + 1] << 8)); }

struct Chunk {
  uint32_t id;
  size_t body;  // offset of the body
  size_t size;
};

// The chunks in [begin, end): false when one's header or size does not fit.
bool Chunks(std::span<const uint8_t> d, size_t begin, size_t end, std::vector<Chunk>& out, std::string& why) {
  size_t at = begin;
  while (at < end) {
    if (end - at < 8) {
      why = "chunk header cut short";
      return false;
    }
    Chunk c{U32(d, at), at + 8, U32(d, at + 4)};
    if (c.size > end - c.body) {
      why = "chunk size reaches past its parent";
      return false;
    }
    out.push_back(c);
    at = c.body + c.size;
    if ((c.size & 1) && at < end) ++at;  // bodies are padded to even sizes
  }
  return true;
}

bool Fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

struct Stream {
  bool video = false;
  uint32_t compression = 0;
  bool haveFormat = false;
};

bool ReadFormat(std::span<const uint8_t> d, const Chunk& strf, Clip& clip, std::string& why) {
  if (strf.size < 40) return why = "format too short", false;
  const size_t b = strf.body;
  const uint32_t headerSize = U32(d, b);
  const int32_t width = static_cast<int32_t>(U32(d, b + 4));
  const int32_t height = static_cast<int32_t>(U32(d, b + 8));
  const uint16_t bits = U16(d, b + 14);
  const uint32_t compression = U32(d, b + 16);
  uint32_t used = U32(d, b + 32);
  if (headerSize < 40 || headerSize > strf.size) return why = "format header size", false;
  if (compression != 0) return why = "compressed frames", false;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return why = "bit count", false;
  if (width <= 0 || width > kMaxSide || height == 0 || height < -kMaxSide || height > kMaxSide) {
    return why = "frame size", false;
  }
  clip.width = width;
  clip.height = height < 0 ? -height : height;
  clip.bottomUp = height > 0;
  clip.bitCount = bits;
  clip.stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  if (bits == 8) {
    if (used == 0) used = 256;
    if (used > 256) return why = "palette size", false;
    const size_t at = b + headerSize;
    if (static_cast<size_t>(used) * 4 > strf.size - headerSize) return why = "palette cut short", false;
    clip.palette.resize(used);
    for (uint32_t i = 0; i < used; ++i) clip.palette[i] = U32(d, at + 4 * i) & 0x00FFFFFF;
  }
  return true;
}

}  // namespace

bool Parse(std::span<const uint8_t> d, Clip& clip, std::string* why) {
  clip = Clip{};
  std::string reason;
  if (d.size() < 12 || U32(d, 0) != FourCc("RIFF") || U32(d, 8) != FourCc("AVI ")) return Fail(why, "not an AVI file");
  const size_t riffSize = U32(d, 4);
  if (riffSize < 4 || riffSize > d.size() - 8) return Fail(why, "RIFF size reaches past the file");
  std::vector<Chunk> top;
  if (!Chunks(d, 12, 8 + riffSize, top, reason)) return Fail(why, reason);

  bool haveMain = false;
  int videoStream = -1;
  const Chunk* movi = nullptr;
  for (const Chunk& c : top) {
    if (c.id != FourCc("LIST") || c.size < 4) continue;
    const uint32_t kind = U32(d, c.body);
    if (kind == FourCc("movi")) {
      movi = &c;
      continue;
    }
    if (kind != FourCc("hdrl")) continue;
    std::vector<Chunk> header;
    if (!Chunks(d, c.body + 4, c.body + c.size, header, reason)) return Fail(why, reason);
    int streamIndex = 0;
    for (const Chunk& h : header) {
      if (h.id == FourCc("avih")) {
        if (h.size < 56) return Fail(why, "main header too short");
        clip.microSecPerFrame = U32(d, h.body);
        haveMain = true;
      } else if (h.id == FourCc("LIST") && h.size >= 4 && U32(d, h.body) == FourCc("strl")) {
        std::vector<Chunk> stream;
        if (!Chunks(d, h.body + 4, h.body + h.size, stream, reason)) return Fail(why, reason);
        bool video = false;
        for (const Chunk& s : stream) {
          if (s.id == FourCc("strh")) {
            if (s.size < 56) return Fail(why, "stream header too short");
            video = U32(d, s.body) == FourCc("vids");
          } else if (s.id == FourCc("strf") && video && videoStream < 0) {
            if (!ReadFormat(d, s, clip, reason)) return Fail(why, reason);
            videoStream = streamIndex;
          }
        }
        ++streamIndex;
      }
    }
  }
  if (!haveMain) return Fail(why, "no main header");
  if (videoStream < 0 || videoStream > 99) return Fail(why, "no video stream");
  if (!movi) return Fail(why, "no frames");

  const char tens = static_cast<char>('0' + videoStream / 10), ones = static_cast<char>('0' + videoStream % 10);
  const size_t frameBytes = clip.stride * static_cast<size_t>(clip.height);
  std::vector<Chunk> frames;
  if (!Chunks(d, movi->body + 4, movi->body + movi->size, frames, reason)) return Fail(why, reason);
  // Frames may sit in "rec " groups: one level of them.
  std::vector<Chunk> flat;
  for (const Chunk& f : frames) {
    if (f.id == FourCc("LIST") && f.size >= 4 && U32(d, f.body) == FourCc("rec ")) {
      if (!Chunks(d, f.body + 4, f.body + f.size, flat, reason)) return Fail(why, reason);
    } else {
      flat.push_back(f);
    }
  }
  for (const Chunk& f : flat) {
    const char a = static_cast<char>(f.id & 0xFF), b = static_cast<char>((f.id >> 8) & 0xFF);
    const char c = static_cast<char>((f.id >> 16) & 0xFF), e = static_cast<char>((f.id >> 24) & 0xFF);
    if (a != tens || b != ones || !((c == 'd' && e == 'b') || (c == 'd' && e == 'c'))) continue;
    if (f.size < frameBytes) return Fail(why, "frame shorter than its rows");
    if (clip.frames.size() >= kMaxFrames) return Fail(why, "too many frames");
    clip.frames.push_back(Clip::Frame{f.body, frameBytes});
  }
  if (clip.frames.empty()) return Fail(why, "no frames");
  return true;
}

bool DecodeFrame(std::span<const uint8_t> d, const Clip& clip, size_t index, std::vector<uint32_t>& pixels) {
  if (index >= clip.frames.size()) return false;
  const Clip::Frame& f = clip.frames[index];
  if (f.offset > d.size() || d.size() - f.offset < clip.stride * static_cast<size_t>(clip.height)) return false;
  pixels.assign(static_cast<size_t>(clip.width) * static_cast<size_t>(clip.height), 0);
  for (int y = 0; y < clip.height; ++y) {
    const int row = clip.bottomUp ? clip.height - 1 - y : y;
    const uint8_t* src = d.data() + f.offset + static_cast<size_t>(row) * clip.stride;
    uint32_t* out = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(clip.width);
    for (int x = 0; x < clip.width; ++x) {
      switch (clip.bitCount) {
        case 8: {
          const uint8_t i = src[x];
          out[x] = i < clip.palette.size() ? clip.palette[i] : 0;
          break;
        }
        case 16: {
          const uint16_t v = static_cast<uint16_t>(src[2 * x] | (src[2 * x + 1] << 8));
          const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
          out[x] = (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | ((b << 3) | (b >> 2));
          break;
        }
        case 24:
          out[x] = (static_cast<uint32_t>(src[3 * x + 2]) << 16) | (static_cast<uint32_t>(src[3 * x + 1]) << 8) | src[3 * x];
          break;
        default:
          out[x] = (static_cast<uint32_t>(src[4 * x + 2]) << 16) | (static_cast<uint32_t>(src[4 * x + 1]) << 8) | src[4 * x];
          break;
      }
    }
  }
  return true;
}

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutId(std::vector<uint8_t>& out, const char (&id)[5]) { Put32(out, FourCc(id)); }

// Starts a chunk; Close writes its size once the body is in.
size_t Open(std::vector<uint8_t>& out, const char (&id)[5]) {
  PutId(out, id);
  Put32(out, 0);
  return out.size();
}
void Close(std::vector<uint8_t>& out, size_t body) {
  const uint32_t size = static_cast<uint32_t>(out.size() - body);
  std::memcpy(out.data() + body - 4, &size, 4);  // the build machine is little-endian, as the form
  if (size & 1) out.push_back(0);
}

}  // namespace

std::vector<uint8_t> Build(int width, int height, uint32_t microSecPerFrame,
                           const std::vector<std::vector<uint32_t>>& frames, int bitCount) {
  if (width <= 0 || height <= 0 || frames.empty() || (bitCount != 8 && bitCount != 24 && bitCount != 32)) return {};
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::map<uint32_t, uint8_t> index;
  std::vector<uint32_t> palette;
  for (const auto& frame : frames) {
    if (frame.size() != pixels) return {};
    if (bitCount != 8) continue;
    for (uint32_t p : frame) {
      if (index.count(p & 0xFFFFFF)) continue;
      if (palette.size() == 256) return {};
      index[p & 0xFFFFFF] = static_cast<uint8_t>(palette.size());
      palette.push_back(p & 0xFFFFFF);
    }
  }
  const size_t stride = ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4;
  const uint32_t frameBytes = static_cast<uint32_t>(stride * static_cast<size_t>(height));
  std::vector<uint8_t> out;
  const size_t riff = Open(out, "RIFF");
  PutId(out, "AVI ");
  const size_t hdrl = Open(out, "LIST");
  PutId(out, "hdrl");
  const size_t avih = Open(out, "avih");
  Put32(out, microSecPerFrame);
  Put32(out, microSecPerFrame ? static_cast<uint32_t>(uint64_t{frameBytes} * 1000000 / microSecPerFrame) : 0);
  Put32(out, 0);
  Put32(out, 0x10);  // has an index
  Put32(out, static_cast<uint32_t>(frames.size()));
  Put32(out, 0);
  Put32(out, 1);
  Put32(out, frameBytes);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  Close(out, avih);
  const size_t strl = Open(out, "LIST");
  PutId(out, "strl");
  const size_t strh = Open(out, "strh");
  PutId(out, "vids");
  PutId(out, "DIB ");
  Put32(out, 0);
  Put16(out, 0);
  Put16(out, 0);
  Put32(out, 0);
  Put32(out, microSecPerFrame ? microSecPerFrame : 1);  // scale / rate = seconds a frame
  Put32(out, 1000000);
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(frames.size()));
  Put32(out, frameBytes);
  Put32(out, 0xFFFFFFFF);
  Put32(out, 0);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint16_t>(width));
  Put16(out, static_cast<uint16_t>(height));
  Close(out, strh);
  const size_t strf = Open(out, "strf");
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));  // rows from the bottom
  Put16(out, 1);
  Put16(out, static_cast<uint16_t>(bitCount));
  Put32(out, 0);
  Put32(out, frameBytes);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(palette.size()));
  Put32(out, 0);
  for (uint32_t c : palette) Put32(out, c);
  Close(out, strf);
  Close(out, strl);
  Close(out, hdrl);
  const size_t movi = Open(out, "LIST");
  PutId(out, "movi");
  std::vector<size_t> offsets;
  for (const auto& frame : frames) {
    offsets.push_back(out.size() - movi);
    const size_t body = Open(out, "00db");
    for (int y = height - 1; y >= 0; --y) {
      const size_t rowStart = out.size();
      for (int x = 0; x < width; ++x) {
        const uint32_t p = frame[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
        if (bitCount == 8) {
          out.push_back(index[p & 0xFFFFFF]);
        } else {
          out.push_back(static_cast<uint8_t>(p));
          out.push_back(static_cast<uint8_t>(p >> 8));
          out.push_back(static_cast<uint8_t>(p >> 16));
          if (bitCount == 32) out.push_back(0);
        }
      }
      while (out.size() - rowStart < stride) out.push_back(0);
    }
    Close(out, body);
  }
  Close(out, movi);
  const size_t idx1 = Open(out, "idx1");
  for (size_t offset : offsets) {
    PutId(out, "00db");
    Put32(out, 0x10);  // key frame
    Put32(out, static_cast<uint32_t>(offset));
    Put32(out, frameBytes);
  }
  Close(out, idx1);
  Close(out, riff);
  return out;
}

}  // namespace tavrin::avi
