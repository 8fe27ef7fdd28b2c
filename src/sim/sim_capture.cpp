#include "sim/sim_capture.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

const uint64_t kChunkSamples = 4u << 20;
const uint8_t kHigh = 0x01;  // channel 0 is bit 0 of each one-byte sample
const uint8_t kLow = 0x00;
const uint64_t kNsPerSample = 1000000000u / CAPTURE_SAMPLE_RATE_HZ;

const char kMetadata[] =
    "[global]\n"
    "sigrok version=0.5.2\n"
    "\n"
    "[device 1]\n"
    "capturefile=logic-1\n"
    "total probes=1\n"
    "samplerate=1 MHz\n"
    "total analog=0\n"
    "probe1=0\n"
    "unitsize=1\n";

typedef std::pair<uint64_t, uint64_t> Stretch;  // [from, to)

// The stretches in samples during which anything pulls the line low, sorted
// and merged: where drivers overlap, a low one wins.
std::vector<Stretch> lowStretches(const std::vector<SimWireEvent>& wire, uint64_t firstUs) {
  std::vector<Stretch> ns;
  for (const SimWireEvent& e : wire) wire_lowStretchesNs(e, ns);
  const uint64_t originNs = firstUs * 1000u;
  std::vector<Stretch> s;
  for (const Stretch& x : ns) {
    const uint64_t from = (x.first - originNs + kNsPerSample / 2) / kNsPerSample;
    const uint64_t to = (x.second - originNs + kNsPerSample / 2) / kNsPerSample;
    if (to > from) s.emplace_back(from, to);
  }
  std::sort(s.begin(), s.end());
  std::vector<Stretch> merged;
  for (const Stretch& x : s) {
    if (!merged.empty() && x.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, x.second);
    else
      merged.push_back(x);
  }
  return merged;
}

bool deflateRaw(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  z_stream z{};
  // Runs of one value: run-length matching finds them as fast as it gets.
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_RLE) != Z_OK) return false;
  out.resize(deflateBound(&z, (uLong)in.size()));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = (uInt)in.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  const int r = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return r == Z_STREAM_END;
}

uint32_t crcOf(const std::vector<uint8_t>& data) {
  return (uint32_t)crc32(crc32(0L, Z_NULL, 0), data.data(), (uInt)data.size());
}

// A zip archive written front to back: each entry's local header and data,
// then the central directory. Sizes and offsets must stay below 4 GiB.
class ZipWriter {
 public:
  explicit ZipWriter(FILE* f) : file(f) {}

  // `data` is stored as given: deflated (of `rawSize` bytes with `crc`) or not.
  bool add(const std::string& name, const std::vector<uint8_t>& data, bool deflated, uint32_t crc,
           uint64_t rawSize) {
    if (offset + 30 + name.size() + data.size() > 0xFFFFFFFFull || rawSize > 0xFFFFFFFFull ||
        entries.size() >= 0xFFFF)
      return ok = false;
    Entry e{name,
            (uint16_t)(deflated ? 8 : 0),
            crc,
            (uint32_t)data.size(),
            (uint32_t)rawSize,
            (uint32_t)offset};
    std::vector<uint8_t> h;
    u32(h, 0x04034b50);
    u16(h, 20);  // version needed: deflate
    u16(h, 0);   // flags
    fields(h, e);
    u16(h, 0);  // extra field length
    put(h);
    put(std::vector<uint8_t>(name.begin(), name.end()));
    put(data);
    entries.push_back(e);
    return ok;
  }

  bool finish() {
    const uint64_t dirStart = offset;
    for (const Entry& e : entries) {
      std::vector<uint8_t> h;
      u32(h, 0x02014b50);
      u16(h, 0x0314);  // made by: Unix, 2.0
      u16(h, 20);
      u16(h, 0);
      fields(h, e);
      u16(h, 0);  // extra
      u16(h, 0);  // comment
      u16(h, 0);  // disk
      u16(h, 0);  // internal attributes
      u32(h, 0644u << 16);
      u32(h, e.offset);
      put(h);
      put(std::vector<uint8_t>(e.name.begin(), e.name.end()));
    }
    if (offset > 0xFFFFFFFFull) return false;
    std::vector<uint8_t> end;
    u32(end, 0x06054b50);
    u16(end, 0);
    u16(end, 0);
    u16(end, (uint16_t)entries.size());
    u16(end, (uint16_t)entries.size());
    u32(end, (uint32_t)(offset - dirStart));
    u32(end, (uint32_t)dirStart);
    u16(end, 0);
    put(end);
    return ok;
  }

 private:
  struct Entry {
    std::string name;
    uint16_t method;
    uint32_t crc, compressed, raw, offset;
  };
  static void u16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back((uint8_t)x);
    v.push_back((uint8_t)(x >> 8));
  }
  static void u32(std::vector<uint8_t>& v, uint32_t x) {
    u16(v, (uint16_t)x);
    u16(v, (uint16_t)(x >> 16));
  }
  // Method, time and date (1980-01-01 00:00), CRC, sizes, name length.
  static void fields(std::vector<uint8_t>& h, const Entry& e) {
    u16(h, e.method);
    u16(h, 0);
    u16(h, 0x0021);
    u32(h, e.crc);
    u32(h, e.compressed);
    u32(h, e.raw);
    u16(h, (uint16_t)e.name.size());
  }
  void put(const std::vector<uint8_t>& v) {
    if (!v.empty() && fwrite(v.data(), 1, v.size(), file) != v.size()) ok = false;
    offset += v.size();
  }

  FILE* file;
  uint64_t offset = 0;
  bool ok = true;
  std::vector<Entry> entries;
};

bool addStored(ZipWriter& zip, const std::string& name, const std::string& text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  return zip.add(name, data, false, crcOf(data), data.size());
}

// Renders the samples [from, to) and adds them as chunk `index`; a chunk of
// idle line reuses `idle`, deflated once.
bool addChunk(ZipWriter& zip, int index, uint64_t from, uint64_t to,
              const std::vector<Stretch>& lows, size_t& next, const std::vector<uint8_t>& idle,
              uint32_t idleCrc) {
  while (next < lows.size() && lows[next].second <= from) next++;
  const std::string name = "logic-1-" + std::to_string(index);
  const bool quiet = next >= lows.size() || lows[next].first >= to;
  if (quiet && to - from == kChunkSamples) return zip.add(name, idle, true, idleCrc, kChunkSamples);
  std::vector<uint8_t> samples(to - from, kHigh);
  for (size_t j = next; j < lows.size() && lows[j].first < to; j++) {
    const uint64_t a = std::max(lows[j].first, from), b = std::min(lows[j].second, to);
    std::fill(samples.begin() + (a - from), samples.begin() + (b - from), kLow);
  }
  std::vector<uint8_t> packed;
  return deflateRaw(samples, packed) && zip.add(name, packed, true, crcOf(samples), samples.size());
}

}  // namespace

bool capture_writeSr(const std::string& path, const std::vector<SimWireEvent>& wire,
                     SimCaptureInfo* info) {
  uint64_t first = UINT64_MAX, last = 0;
  for (const SimWireEvent& e : wire) {
    first = std::min(first, e.startUs);
    last = std::max(last, wire_endUs(e));
  }
  if (wire.empty()) first = last = CAPTURE_MARGIN_US;
  first = first > CAPTURE_MARGIN_US ? first - CAPTURE_MARGIN_US : 0;
  const uint64_t total = (last + CAPTURE_MARGIN_US - first) * (CAPTURE_SAMPLE_RATE_HZ / 1000000u);
  if (info) {
    info->firstUs = first;
    info->samples = total;
  }
  const std::vector<Stretch> lows = lowStretches(wire, first);
  std::vector<uint8_t> idle;
  const std::vector<uint8_t> idleSamples(kChunkSamples, kHigh);
  if (!deflateRaw(idleSamples, idle)) return false;
  const uint32_t idleCrc = crcOf(idleSamples);

  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  ZipWriter zip(f);
  bool ok = addStored(zip, "version", "2") && addStored(zip, "metadata", kMetadata);
  size_t next = 0;
  int index = 1;
  for (uint64_t from = 0; ok && from < total; from += kChunkSamples, index++)
    ok = addChunk(zip, index, from, std::min(total, from + kChunkSamples), lows, next, idle,
                  idleCrc);
  ok = ok && zip.finish();
  ok = (fclose(f) == 0) && ok;
  if (!ok) remove(path.c_str());  // no half-written session for sigrok to choke on
  return ok;
}
